// An up-down control attached to an edit: two arrow buttons that step a 16-bit position
// within a range and show it in the edit.
#pragma once

#include <QWidget>

#include <cstdint>

class QEvent;
class QLineEdit;
class QToolButton;

namespace tagwright {

class TUpDown : public QWidget {
  Q_OBJECT
 public:
  // Shows position in associate at once. The control sits at the edit's right edge.
  TUpDown(QWidget* parent, QLineEdit* associate, int min, int max, int position);

  int Min() const { return min_; }
  int Max() const { return max_; }
  void SetMax(int max) { max_ = max; }

  std::int16_t Position() const { return position_; }
  // Sets the position from code, unchecked against the range (cut to 16 bits, as the
  // control holds it) and without a click.
  void SetPosition(std::int32_t position);

  QLineEdit* Associate() const { return associate_; }
  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }

 signals:
  // The user clicked an arrow (or pressed Up or Down in the edit); the position has
  // already moved by one step, no further than the range allows.
  void clicked();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Step(int delta);
  void Show();

  QLineEdit* associate_;
  QToolButton* up_;
  QToolButton* down_;
  int min_;
  int max_;
  std::int16_t position_ = 0;
};

}  // namespace tagwright
