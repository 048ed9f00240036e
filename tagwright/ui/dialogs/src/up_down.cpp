#include "tagwright/up_down.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>

namespace tagwright {

TUpDown::TUpDown(QWidget* parent, QLineEdit* associate, int min, int max, int position)
    : QWidget(parent), associate_(associate), min_(min), max_(max) {
  const QRect e = associate->geometry();
  constexpr int kWidth = 17;
  setGeometry(e.right() + 1, e.top(), kWidth, e.height());
  up_ = new QToolButton(this);
  down_ = new QToolButton(this);
  const int half = e.height() / 2;
  up_->setGeometry(0, 0, kWidth, half);
  down_->setGeometry(0, half, kWidth, e.height() - half);
  for (QToolButton* b : {up_, down_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
  }
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  connect(up_, &QToolButton::clicked, this, [this] { Step(1); });
  connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
  associate->installEventFilter(this);
  SetPosition(position);
}

void TUpDown::SetPosition(std::int32_t position) {
  position_ = static_cast<std::int16_t>(position);
  Show();
}

void TUpDown::Step(int delta) {
  // The maximum may lie below the minimum; the minimum wins then.
  const int p = std::max(std::min(position_ + delta, max_), min_);
  position_ = static_cast<std::int16_t>(p);
  Show();
  emit clicked();
}

void TUpDown::Show() { associate_->setText(QString::number(position_)); }

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == associate_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      Step(key == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tagwright
