// Entry of every test program that needs widgets: offscreen unless a display is asked
// for, and the programs' own application object, so uncaught errors behave as in use.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/ui.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  platform::ui::Application app(argc, argv);
  return RUN_ALL_TESTS();
}
