// The page setup dialog: roll width, labels per row, label size, gap, side blank, corner
// shape and mirror flag of a label page, with a two-row preview of the roll.
#pragma once

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <vector>

#include "tagwright/dialog_form.h"
#include "tagwright/label_print_rec.h"
#include "tagwright/up_down.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPaintEvent;
class QPushButton;
class QScrollArea;

namespace tagwright {

// One label of the preview in image pixels; Right and Bottom are exclusive edges.
struct PreviewCell {
  std::int64_t Left = 0;
  std::int64_t Top = 0;
  std::int64_t Right = 0;
  std::int64_t Bottom = 0;
  bool operator==(const PreviewCell&) const = default;
};

// Where the preview puts the labels of rec on an image imageWidth pixels wide: Scale is
// pixels per millimetre of roll width, ImageHeight the height of two rows and one gap,
// Cells row 0 then row 1, left to right. Every whole number is rounded half to even.
// No layout for a roll width of 0 or less.
struct PreviewLayout {
  double Scale = 0;
  std::int64_t ImageHeight = 0;
  std::vector<PreviewCell> Cells;
};
std::optional<PreviewLayout> LayOutPreview(const TLabelRec& rec, int imageWidth);

// An image control: a bitmap made at the first drawing with the control's size at that
// moment, shown unstretched at the top-left corner. Resizing the control later shows
// more or less of the bitmap; it does not resize the bitmap.
class TImage : public QWidget {
  Q_OBJECT
 public:
  explicit TImage(QWidget* parent);
  // The bitmap to draw on, made on first use.
  QImage& Canvas();
  // The bitmap; a null image until the first drawing.
  const QImage& Picture() const { return bitmap_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage bitmap_;
};

class TFmPageSet : public TDialogForm {
  Q_OBJECT
 public:
  // A new page's settings; owner is the label page.
  explicit TFmPageSet(QWidget* owner);

  // Takes a copy of rec into Rec and shows its settings; for the current page, before the
  // dialog is shown.
  void LoadRec(TLabelRec rec);

  QFrame* Panel2;
  QPushButton* Button1;
  QPushButton* Button2;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLineEdit* EWidth;
  TUpDown* UdWidth;
  QLineEdit* EHeight;
  TUpDown* UdHeight;
  QLineEdit* ELCount;
  TUpDown* UdLCount;
  QScrollArea* ScPage;
  QCheckBox* CbShape;
  QLabel* Label4;
  QLineEdit* Edit1;
  TUpDown* UdPage;
  QCheckBox* CbDirection;
  TImage* ImgPage;
  QLabel* Label5;
  QLineEdit* EGAP;
  TUpDown* UdGap;
  QLabel* Label6;
  QLineEdit* Edit2;
  TUpDown* UdLRSpace;

  // The user confirmed; the caller reads Rec only then.
  bool OK = false;
  // The page record edited. Its PDotMM, ControlCount and items are what LoadRec brought
  // (12, 0 and none for a new page).
  TLabelRec Rec;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void Button1Click();
  void Button2Click();
  void UdWidthClick();
  void UdPageClick();
  void CbShapeClick();
  void Panel2Click();
  void RefreshPreview();

  bool panelPressed_ = false;
};

}  // namespace tagwright
