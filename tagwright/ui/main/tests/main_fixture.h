// What the main window's tests share: a program folder of their own holding the
// program's pictures, and a printer of their own: a raw queue at 203 dpi whose device is
// a socket that keeps the job, made this test program's default printer.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "cups_test_support.h"
#include "platform/module.h"
#include "platform/tsclib.h"
#include "platform/ui.h"
#include "platform/fonts.h"
#include "tagwright/label_control.h"
#include "tagwright/my_zip.h"

namespace tagwright::testing {

namespace fs = std::filesystem;

// Folder of the test program, where the build put the pictures; read before any test
// gives itself a program folder of its own.
inline const fs::path& BuiltProgramFolder() {
  static const fs::path folder = platform::module::ProgramFolder();
  return folder;
}

inline std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The files of a template package by name, extracted into a folder of their own.
inline std::map<std::string, std::string> PackageFiles(const fs::path& package,
                                                       const fs::path& folder) {
  fs::remove_all(folder);
  EXPECT_TRUE(TMyZip().ExtractPackage(package, folder, kPackagePassword)) << package;
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadAll(entry.path());
  }
  return files;
}

// A palette item of that object name dropped on the page at a point, as a drag delivers
// it: entering the page, then the drop.
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

class PrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuiltProgramFolder();
    CUPS_TEST_REQUIRE_SERVER();
    std::random_device rd;
    root_ = fs::temp_directory_path() /
            ("tagwright_main_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
             "_" + std::to_string(rd()) + std::to_string(rd()));
    ASSERT_TRUE(fs::create_directory(root_));
    prog_ = root_ / "prog";
    fs::create_directory(prog_);
    for (const char* picture : {"code.jpg", "photo.jpg"}) {
      fs::copy_file(BuiltProgramFolder() / picture, prog_ / picture);
    }
    platform::module::OverrideProgramFolderForTesting(prog_);
    platform::fonts::SubstituteWindowsFonts();

    printer_ = std::make_unique<cups_test::OneJobListener>();
    queue_ = std::make_unique<cups_test::RawQueue>("TwTestPrint", printer_->Port());
    cups_test::SetOption(queue_->Name(), "printer-resolution-default=203dpi");
    // The default of this process only: the server's default stays as others left it.
    setenv("PRINTER", queue_->Name().c_str(), 1);
  }

  void TearDown() override {
    platform::ui::SetMessageBoxInterceptor({});
    TPicView::SetOpenPictureDialog({});
    platform::tsclib::SetCallRecorder(nullptr);
    platform::tsclib::closeport();
    queue_.reset();
    printer_.reset();
    if (!root_.empty()) {
      std::error_code ec;
      fs::current_path(fs::temp_directory_path(), ec);
      fs::remove_all(root_, ec);
    }
  }

  fs::path root_, prog_;
  std::unique_ptr<cups_test::OneJobListener> printer_;
  std::unique_ptr<cups_test::RawQueue> queue_;
};

}  // namespace tagwright::testing
