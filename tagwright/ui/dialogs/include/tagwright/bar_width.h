// The barcode dialog of a barcode view: narrow bar width, readable-line size and flag.
#pragma once

#include <cstdint>

#include "tagwright/dialog_form.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tagwright {

class TFmBarWidth : public TDialogForm {
  Q_OBJECT
 public:
  // owner is the barcode view; the other three are its current values.
  TFmBarWidth(QWidget* owner, std::int32_t barWidth, std::int32_t fontSize, bool haveCode);

  QLineEdit* EWidth;
  QLabel* Label1;
  QPushButton* Button2;
  QPushButton* Button1;
  QLabel* Label2;       // hidden
  QLineEdit* EFontSize;  // hidden; still checked on confirmation
  QCheckBox* CbHaveCode;

  // Read by the caller only when OK is true.
  std::int32_t BarWidth = 0;  // printer dots
  std::int32_t FontSize = 0;
  bool OK = false;
  bool HaveCode = false;

 private:
  void CbHaveCodeClick();
  void Button1Click();
  void Button2Click();
};

}  // namespace tagwright
