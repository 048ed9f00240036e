#include "ui_test_support.h"

#include <QTest>

namespace marrowind::test {

bool ShowActive(QWidget* w) {
  w->show();
  w->activateWindow();
  QApplication::setActiveWindow(w);
  return QTest::qWaitForWindowActive(w);
}

}  // namespace marrowind::test
