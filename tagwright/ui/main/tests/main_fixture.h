// What the main window's tests share: a program folder of their own holding the
// program's pictures, and a printer of their own: a raw queue at 203 dpi whose device is
// a socket that keeps the job, made this test program's default printer.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "cups_test_support.h"
#include "platform/fonts.h"
#include "platform/tsclib.h"
#include "platform/ui.h"
#include "tagwright/label_control.h"
#include "tagwright/label_print_rec.h"
#include "tagwright/my_zip.h"
#include "tagwright_test_support.h"

namespace tagwright::testing {

inline std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An item record of that type and name at those edges in millimetres, the rest default.
inline TViewRec Item(const char* type, const std::string& name, double top, double left,
                     double right, double bottom) {
  TViewRec v;
  v.ViewType = type;
  v.Name = name;
  v.Topmm = top;
  v.Leftmm = left;
  v.Rightmm = right;
  v.Bottommm = bottom;
  return v;
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

class PrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuiltProgramFolder();
    CUPS_TEST_REQUIRE_SERVER();
    root_ = MakeTestFolder("tagwright_main");
    ASSERT_TRUE(fs::is_directory(root_));
    prog_ = UseOwnProgramFolder(root_, {"code.jpg", "photo.jpg"});
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
