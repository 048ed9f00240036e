// What the designer's four dialogs share: the form's font and placement, the keyboard
// of a form without default and cancel buttons, and the key filter of numeric edits.
#pragma once

#include <QDialog>
#include <QObject>

#include <string_view>

class QEvent;
class QKeyEvent;
class QLineEdit;
class QShowEvent;

namespace tagwright {

// A modal form: font "宋体" 13 pixels high, centred on the screen when shown. No button
// is its default or cancel button: Enter clicks only a button that has the focus, Esc
// closes nothing by itself; the window's close box cancels.
class TDialogForm : public QDialog {
  Q_OBJECT
 public:
  TDialogForm(QWidget* owner, Qt::WindowFlags flags);

 protected:
  // Reports a refused input in a box owned by the form: title "错误", the error icon, one
  // OK button. The form stays open with its values as typed.
  void Refuse(std::string_view message);

  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
};

// True for the characters a numeric edit lets through: backspace (8), '.' and '0'..'9'.
bool IsNumberKey(char16_t c);

// The key filter shared by the numeric edits of a dialog: a typed character that is not a
// number key is discarded before the edit sees it; a paste or an input-method commit keeps
// only its number keys. Tab and the keys that type nothing (arrows, Delete, Home) pass.
class TNumberKeyFilter : public QObject {
  Q_OBJECT
 public:
  explicit TNumberKeyFilter(QObject* parent);
  // Installs the filter on edit and refuses text dropped on it.
  void Attach(QLineEdit* edit);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tagwright
