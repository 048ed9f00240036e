#include "tagwright/dialog_form.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFont>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include <memory>

#include "platform/ui.h"

namespace tagwright {

TDialogForm::TDialogForm(QWidget* owner, Qt::WindowFlags flags) : QDialog(owner, flags) {
  QFont f(QStringLiteral("宋体"));
  f.setPixelSize(13);
  setFont(f);
}

void TDialogForm::Refuse(std::string_view message) {
  platform::ui::MessageBox(this, "错误", message, platform::ui::Icon::Error,
                           platform::ui::Buttons::Ok);
}

void TDialogForm::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      // No cancel button: Esc does not close the form.
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // No default button: Enter clicks the focused button, and nothing else.
      if (auto* b = qobject_cast<QPushButton*>(focusWidget()); b && b->isEnabled()) b->click();
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void TDialogForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
      const QRect frame = frameGeometry();
      const QPoint topLeft = s->geometry().center() - QPoint(frame.width() / 2, frame.height() / 2);
      move(topLeft);
    }
  }
  QDialog::showEvent(event);
}

bool IsNumberKey(char16_t c) { return c == 8 || c == u'.' || (c >= u'0' && c <= u'9'); }

namespace {

QString NumberKeysOf(const QString& text) {
  QString kept;
  for (QChar c : text)
    if (IsNumberKey(c.unicode()) && c.unicode() != 8) kept.append(c);
  return kept;
}

void PasteNumberKeys(QLineEdit* edit) {
  if (edit->isReadOnly()) return;
  edit->insert(NumberKeysOf(QGuiApplication::clipboard()->text()));
}

// The paste item of an edit's standard menu: by name where Qt names it, otherwise by the
// edit's own (translated) caption without its shortcut.
QAction* PasteActionOf(const QMenu& menu) {
  const QString caption = QLineEdit::tr("&Paste");
  for (QAction* a : menu.actions())
    if (a->objectName() == QLatin1String("edit-paste") || a->text().section(u'\t', 0, 0) == caption)
      return a;
  return nullptr;
}

}  // namespace

TNumberKeyFilter::TNumberKeyFilter(QObject* parent) : QObject(parent) {}

void TNumberKeyFilter::Attach(QLineEdit* edit) {
  edit->setAcceptDrops(false);
  edit->installEventFilter(this);
}

bool TNumberKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (!edit) return false;
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* k = static_cast<QKeyEvent*>(event);
      if (k->matches(QKeySequence::Paste)) {
        PasteNumberKeys(edit);
        return true;
      }
      // Keys that type no character are the edit's and the form's own.
      if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab || k->key() == Qt::Key_Delete)
        return false;
      const QString text = k->text();
      if (text.isEmpty()) return false;
      for (QChar c : text)
        if (!IsNumberKey(c.unicode())) return true;
      return false;
    }
    case QEvent::InputMethod: {
      auto* im = static_cast<QInputMethodEvent*>(event);
      if (!im->commitString().isEmpty())
        im->setCommitString(NumberKeysOf(im->commitString()), im->replacementStart(),
                            im->replacementLength());
      return false;
    }
    case QEvent::ContextMenu: {
      // The edit's own menu, with its paste keeping only the number keys.
      auto* c = static_cast<QContextMenuEvent*>(event);
      std::unique_ptr<QMenu> menu(edit->createStandardContextMenu());
      if (QAction* paste = PasteActionOf(*menu)) {
        paste->disconnect();
        QObject::connect(paste, &QAction::triggered, edit, [edit] { PasteNumberKeys(edit); });
      }
      menu->exec(c->globalPos());
      return true;
    }
    default:
      return false;
  }
}

}  // namespace tagwright
