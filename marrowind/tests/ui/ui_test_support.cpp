#include "ui_test_support.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

namespace marrowind::test {

bool ShowActive(QWidget* w) {
  w->show();
  w->activateWindow();
  QApplication::setActiveWindow(w);
  return QTest::qWaitForWindowActive(w);
}

void Once(std::function<bool()> condition, std::function<void()> action) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, condition = std::move(condition),
                                                    action = std::move(action)] {
    if (!condition()) return;
    timer->stop();
    timer->deleteLater();
    action();
  });
  timer->start();
}

void ForgetTheEndOfTheLoops() {
  QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
}

}  // namespace marrowind::test
