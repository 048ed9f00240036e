#include "marrowind/ui/dialog_keys.h"

#include <QAbstractButton>
#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>

#include <utility>

namespace marrowind {
namespace {

class DialogKeys : public QObject {
 public:
  DialogKeys(QObject* parent, std::function<void()> onEnter) : QObject(parent), onEnter_(std::move(onEnter)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    switch (key->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        if (auto* button = qobject_cast<QAbstractButton*>(watched)) {
          if (button->isEnabled()) button->click();
        } else if (onEnter_) {
          onEnter_();
        }
        return true;
      case Qt::Key_Escape:
        return true;
      default:
        return false;
    }
  }

 private:
  std::function<void()> onEnter_;
};

}  // namespace

void InstallDialogKeys(QDialog* dialog, std::function<void()> onEnter) {
  auto* keys = new DialogKeys(dialog, std::move(onEnter));
  dialog->installEventFilter(keys);
  for (QWidget* child : dialog->findChildren<QWidget*>()) child->installEventFilter(keys);
  for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
}

}  // namespace marrowind
