// The label page on screen: the page itself, the item views placed on it and the free
// lines drawn on it.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QWidget>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tagwright/label_print_rec.h"

class QAction;
class QMenu;
class QPainter;

namespace tagwright {

// A colour as the label files and the drawing code keep it: 0x00BBGGRR.
using TColor = std::uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clWhite = 0xFFFFFF;

// MIME type of a palette drag: the data is the UTF-8 object name of the palette item
// ("ImgCode", "ImgText", "ImgPic"); the page decides by that name what it makes.
inline constexpr const char* kPaletteMimeType = "application/x-tagwright-palette-item";

// A straight segment drawn on the page. Not a window: the page paints it and asks it
// whether a mouse point lies on its body or on one of its ends.
class TLineImage {
 public:
  explicit TLineImage(QWidget* canvas);

  // Index 0 or 1; any other index is ignored (SetPoint changes nothing, GetPoint leaves
  // the out point as it was).
  void SetPoint(int index, QPoint point);
  void GetPoint(int index, QPoint& point) const;

  // Draws the segment of Points in white.
  void Erase(QPainter& canvas) const;
  // Wipes the segment where it was before its last change (OldPoints) in white, then
  // draws it at Points in PenColor. The painter keeps the pen and brush afterwards.
  void Draw(QPainter& canvas) const;

  // Whether the point lies in the hit band (the segment widened 3 pixels across);
  // the result is also kept in Hit.
  bool HitTest(QPoint point);
  // Whether q lies on one of the two end squares. When it lies on point 0's, the ends
  // change places, so the grabbed end is always point 1 afterwards.
  bool HitEnd(QPoint q);

  // The end square around p: p.x - 3 .. p.x + 2 and p.y - 3 .. p.y + 2.
  static QRect EndRect(QPoint p);
  // Corners of the hit band of the segment a-b.
  static std::array<QPoint, 4> HitPolygon(QPoint a, QPoint b);
  QRegion MakeHitRegion() const;
  QRegion HitRegion() const { return MakeHitRegion(); }

  QWidget* Canvas;  // the page; not owned
  TColor PenColor = clBlack;
  TColor BrushColor = clBlack;
  Qt::BrushStyle BrushStyle = Qt::SolidPattern;
  bool Hit = false;
  std::array<QPoint, 2> Points{};
  std::array<QPoint, 2> OldPoints{};
};

// Base of the item views: takes the focus when pressed and then shows a dotted frame,
// moves with the mouse from its inside and, when Sizable, sizes by dragging an edge
// strip; Delete removes it; its popup menu holds "命名".
class TViewBas : public QWidget {
  Q_OBJECT

 public:
  explicit TViewBas(QWidget* owner = nullptr);
  ~TViewBas() override;

  // Dotted rectangle through (1, 1), (W - 1, 1), (W - 1, H - 1), (1, H - 1) while the
  // view has the focus; nothing otherwise.
  void DrawFocusFrame(QPainter& canvas) const;
  // Runs the name dialog; a confirmed name is taken exactly as typed.
  void RenameView();

  // The interactive operation running now (a drag of an edge or of the whole view).
  enum class Drag { None, Top, Bottom, Left, Right, Move };
  Drag CurrentDrag() const { return drag_.op; }

  bool Sizable = false;
  QMenu* PopMenu;
  QAction* NameItem;
  std::int32_t ViewNo = 0;
  std::string ViewName;  // UTF-8

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

  // The view's double-click action; none in the base.
  virtual void DoubleClicked() {}

 private:
  // Key 46 (Delete) removes the view from the page; it is destroyed once the key event
  // has been handled.
  void ViewKeyUp(int key);

  // Starts the next operation of the press at drag_.press: the four edge tests in the
  // order top, bottom, left, right, each reading the current size, then the move test.
  // mouse is the mouse position in page coordinates, held whether the left button is
  // still down. Returns false when no test is left that holds.
  bool StartNextDrag(QPoint mouse, bool held);
  void BeginDrag(Drag op, QPoint mouse, bool held);
  void EndDrag();
  void FollowMouse(QPoint mouse);

  struct DragState {
    Drag op = Drag::None;
    int next_test = 0;   // the first of the five tests not yet run for this press
    QPoint press;        // press point, view coordinates
    QSize press_size;    // view size at the press
    QPoint start_mouse;  // mouse in page coordinates when the operation started
    QPoint last_mouse;   // mouse in page coordinates at the last event of the operation
    QRect start_geom;    // view geometry when the operation started
    bool grabbed = false;
  };
  DragState drag_;
};

// A barcode item. Shows the sample picture code.jpg from the program folder, whatever
// its settings; creation fails with the picture loader's error when it cannot be read.
class TCodeView : public TViewBas {
  Q_OBJECT

 public:
  explicit TCodeView(QWidget* owner = nullptr);

  // The barcode dialog; a confirmed dialog gives BarWidth, FontSize and HaveCode.
  void EditBarcodeSettings();

  QImage CodeBmp;
  std::int32_t BarWidth = 2;
  std::int32_t FontSize = 4;
  bool HaveCode = false;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void DoubleClicked() override { EditBarcodeSettings(); }
};

// A text item. It sizes itself at every paint so that it covers on the page what its
// text takes on the label at FontSize.
class TTextView : public TViewBas {
  Q_OBJECT

 public:
  explicit TTextView(QWidget* owner = nullptr);

  // The text (the caption), UTF-8.
  const std::string& Text() const { return text_; }
  void SetText(std::string text);

  // The size the text takes on the page: measured in "Arial" at FontSize points at the
  // printer's resolution, printer pixels taken as label dots (PDotMM per millimetre),
  // scaled by the page's pixels per millimetre. No size when the view is not on a page
  // or the page's record has PDotMM, LWidthmm or LHeightmm of 0 or less.
  std::optional<QSize> TextSize() const;
  // Resizes the view to TextSize(); without one the view keeps its size.
  void SizeToText();

  // The text dialog; a confirmed dialog gives the text and FontSize, and the view is
  // sized to the new text at once.
  void EditText();

  std::int32_t FontSize = 8;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void DoubleClicked() override { EditText(); }

 private:
  std::string text_;
};

// A picture item holding a bitmap, chosen when the item is dropped or loaded from a
// template.
class TPicView : public TViewBas {
  Q_OBJECT

 public:
  explicit TPicView(QWidget* owner = nullptr);

  // Qt filter of the open-picture dialog.
  static const char* const kPictureFilter;

  // The open-picture dialog: owner and filter in, the chosen file (UTF-8) out, nothing
  // when cancelled. Tests replace it; an empty function restores the real dialog.
  using OpenPictureDialog =
      std::function<std::optional<std::string>(QWidget* owner, const QString& filter)>;
  static void SetOpenPictureDialog(OpenPictureDialog dialog);

  // Runs the open-picture dialog; false when cancelled, else LoadPicture's result.
  bool ChoosePicture();
  // The extension decides: .jpg/.jpeg (any letter case) is decoded as JPEG, .bmp read as
  // a bitmap, any other loads nothing. False only for a JPEG that cannot be decoded
  // (PicBmp unchanged); a bitmap that cannot be read throws std::runtime_error.
  bool LoadPicture(const std::filesystem::path& path);

  QImage PicBmp;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The label being designed: sized to the label's proportions within its parent, cut to
// round or square corners, hosting the item views as children (in the order they were
// placed) and the free lines.
class TMyPage : public QWidget {
  Q_OBJECT

 public:
  // Reads the default printer's capabilities first; without a default printer the
  // error ends the creation.
  explicit TMyPage(QWidget* owner = nullptr);
  ~TMyPage() override;

  // Runs the page setup dialog: mode 'O' starts it from LabelRec, any other mode from
  // its defaults. True when confirmed: LabelRec takes the dialog's record and the page
  // is refitted.
  bool EditPageSetup(char mode);
  void PageDblClick();
  // Qt key code; Delete removes the current line.
  void PageKeyUp(int key);

  // Sizes the page to its parent with a margin of 100 pixels on the side that decides,
  // sets Scale, the window region and the white colour, and centres the page.
  void FitToParent();
  // Shape 0: round corners (20 x 20 ellipse); any other: square corners.
  void ApplyShapeRegion(std::int32_t shape);

  // The item views in child order.
  std::vector<TViewBas*> Views() const;
  // Number of a new view: the first position k (from 1) whose view does not carry k,
  // else the view count + 1.
  std::int32_t NextViewNo() const;

  // The region that TMyPage's window is cut to, for a page of the given size.
  static QRegion ShapeRegion(std::int32_t shape, int width, int height);

  // --- Templates (page_template.cpp) ---
  // Writes the page as the template package fileName: the item records (views in child
  // order, then the lines), the file Label and one bitmap per picture view, stretched to
  // the view's size, in program folder + "LabelTemp", packed by SavePackage. LabelRec
  // then holds the records saved. Refused before anything is written: a Scale of 0 or
  // less, and a picture view whose name cannot name its picture file on Windows and
  // Linux alike (empty, a leading blank, \ / : * ? " < > |, a control character, a
  // device name such as CON, a character code page 936 lacks). Any error leaves LabelRec
  // and an earlier file of that name as they were.
  void SaveTemplate(const std::filesystem::path& fileName);
  // Packs folder into fileName with the package password; an earlier file of that name
  // is replaced only by a complete package. Returns true; errors are raised.
  bool SavePackage(const std::filesystem::path& folder, const std::filesystem::path& fileName);
  // Takes rec as LabelRec, fits the page and adds a view or line per record, pictures
  // read from program folder + "printLabel". Each view's ViewNo is its position among the
  // page's views, from 1, so that the numbering of later drops goes on from them. Records
  // of another ViewType are skipped. An error (a picture that cannot be read, a
  // position that is no pixel position) ends the load; what was built stays.
  void LoadViews(const TLabelRec& rec);

  double Scale = 0;
  std::vector<std::unique_ptr<TLineImage>> Lines;
  TLineImage* CurLine = nullptr;
  QPoint DownPoint{0, 0};
  std::uint8_t LineMode = 0;  // 0 idle, 1 drawing, 2 moving the line, 5 moving its end 1
  bool DrawLine = false;
  TLabelRec LabelRec;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void CentreInParent();
  // Creates and places the view that the palette item of that name stands for.
  void DropItem(const std::string& source, QPoint at);
};

}  // namespace tagwright
