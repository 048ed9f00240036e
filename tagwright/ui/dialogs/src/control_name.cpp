#include "tagwright/control_name.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include "platform/text.h"

namespace tagwright {

TFmName::TFmName(QWidget* owner)
    : TDialogForm(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("FmName"));
  setWindowTitle(QStringLiteral("组件名称"));
  // A sizeable tool window of 279 x 53 outside: its frame and small caption take the rest.
  resize(271, 27);

  Label1 = new QLabel(QStringLiteral("组件名称"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(6, 6, 56, 15);
  EName = new QLineEdit(this);
  EName->setObjectName(QStringLiteral("EName"));
  EName->setGeometry(64, 3, 200, 21);
  EName->installEventFilter(this);

  FormCreate();
}

void TFmName::FormCreate() { OK = false; }

bool TFmName::eventFilter(QObject* watched, QEvent* event) {
  if (watched == EName && event->type() == QEvent::KeyPress) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        if (platform::text::Trim(EName->text().toStdString()).empty()) {
          Refuse("名称不能为空");
        } else {
          OK = true;
          accept();
        }
        return true;
      case Qt::Key_Escape:
        reject();
        return true;
      default:
        break;
    }
  }
  return TDialogForm::eventFilter(watched, event);
}

}  // namespace tagwright
