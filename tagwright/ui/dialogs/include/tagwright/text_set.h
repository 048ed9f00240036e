// The text dialog of a text view: its text and character size.
#pragma once

#include <cstdint>
#include <string>

#include "tagwright/dialog_form.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tagwright {

class TFmTextSet : public TDialogForm {
  Q_OBJECT
 public:
  // owner is the text view; text (UTF-8) and fontSize are its current values.
  TFmTextSet(QWidget* owner, const std::string& text, std::int32_t fontSize);

  QLineEdit* EText;
  QLabel* Label2;
  QLineEdit* EFontSize;
  QLabel* Label1;
  QPushButton* Button1;
  QPushButton* Button2;

  // The user confirmed valid values; the caller reads Text and FontSize only then.
  bool OK = false;
  std::string Text;            // UTF-8, trimmed on confirmation
  std::int32_t FontSize = 0;   // points

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Button1Click();
  void Button2Click();
};

}  // namespace tagwright
