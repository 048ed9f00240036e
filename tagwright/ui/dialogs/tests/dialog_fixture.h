// Dialog tests: every message box is recorded and answered, and a dialog can be run
// modally with the test's actions inside its modal loop.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace tagwright::testing {

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs dlg with exec(); during runs inside its modal loop. Returns whether dlg was still
  // open when during had finished (it is closed then, as a cancel).
  static bool RunModal(QDialog& dlg, const std::function<void()>& during);

  // Exactly one box was shown since the last call, and it was the refusal with text,
  // owned by owner.
  void ExpectRefused(const QWidget* owner, const std::string& text);
  void ExpectNoBox();

  // Object names of the widgets that Tab visits, in order, starting from the window.
  static std::vector<std::string> TabOrder(const QWidget* window);

  std::vector<platform::ui::Box> boxes_;
};

}  // namespace tagwright::testing
