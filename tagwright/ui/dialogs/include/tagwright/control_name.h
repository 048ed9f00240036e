// The name dialog of a view: the name under which the template stores it.
#pragma once

#include "tagwright/dialog_form.h"

class QLabel;
class QLineEdit;

namespace tagwright {

// The caller puts the current name into EName before the modal run and, when OK is true,
// takes EName's text as it stands (blanks included).
class TFmName : public TDialogForm {
  Q_OBJECT
 public:
  explicit TFmName(QWidget* owner);

  QLineEdit* EName;
  QLabel* Label1;

  bool OK = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
};

}  // namespace tagwright
