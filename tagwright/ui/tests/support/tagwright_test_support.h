// What the tests of the page and of the main window share: a folder of each test's own,
// a program folder inside it holding the built pictures, and the events of a palette drop
// and a modal dialog driven from inside its loop.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>

#include "platform/module.h"

namespace tagwright::testing {

namespace fs = std::filesystem;

// Folder of the test program, where the build put the pictures; read before any test
// gives itself a program folder of its own.
inline const fs::path& BuiltProgramFolder() {
  static const fs::path folder = platform::module::ProgramFolder();
  return folder;
}

// A new folder for the running test under the temporary folder, named after the test
// and made unique, so tests run in parallel never share one.
inline fs::path MakeTestFolder(const std::string& stem) {
  std::random_device rd;
  const fs::path folder =
      fs::temp_directory_path() /
      (stem + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
       std::to_string(rd()) + std::to_string(rd()));
  EXPECT_TRUE(fs::create_directory(folder)) << folder;
  return folder;
}

// root/prog holding those pictures of the built program folder, made the program folder.
inline fs::path UseOwnProgramFolder(const fs::path& root,
                                    std::initializer_list<const char*> pictures) {
  const fs::path prog = root / "prog";
  fs::create_directory(prog);
  for (const char* picture : pictures) {
    fs::copy_file(BuiltProgramFolder() / picture, prog / picture);
  }
  platform::module::OverrideProgramFolderForTesting(prog);
  return prog;
}

// A palette item dropped on the page at a point, as a drag delivers it: entering the
// page, which makes it the drag's target, then the drop.
inline void DropOn(QWidget* page, const QMimeData& mime, QPoint at) {
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(page, &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(page, &drop);
}

// Acts on the modal dialog of that class once it is shown; a dialog still open
// afterwards is cancelled.
template <class Dialog>
void OnDialog(std::function<void(Dialog&)> act) {
  QTimer::singleShot(0, [act] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      ADD_FAILURE() << "the dialog is not shown";
      return;
    }
    act(*dialog);
    if (dialog->isVisible()) dialog->reject();
  });
}

}  // namespace tagwright::testing
