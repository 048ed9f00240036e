// What the tests of the label page share: a default printer, a program folder of their
// own holding code.jpg, the font aliases, and a shown window that hosts the page.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QMimeData>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "cups_test_support.h"
#include "platform/fonts.h"
#include "platform/ui.h"
#include "tagwright/label_control.h"
#include "tagwright_test_support.h"

namespace tagwright::testing {

// A raw queue of this test program made its default printer (PRINTER), so the server's
// default stays as other programs left it. Its device is never written to.
inline const std::string& DefaultPrinterQueue() {
  static const std::unique_ptr<cups_test::RawQueue> queue = [] {
    auto q = std::make_unique<cups_test::RawQueue>("TagwrightUi", 9);
    setenv("PRINTER", q->Name().c_str(), 1);
    return q;
  }();
  return queue->Name();
}

class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuiltProgramFolder();
    CUPS_TEST_REQUIRE_SERVER();
    DefaultPrinterQueue();
    platform::fonts::SubstituteWindowsFonts();

    root_ = MakeTestFolder("tagwright_ui");
    ASSERT_TRUE(fs::is_directory(root_));
    prog_ = UseOwnProgramFolder(root_, {"code.jpg"});

    host_ = std::make_unique<QWidget>();
    host_->resize(700, 500);
    host_->setWindowTitle(QStringLiteral("tagwright page test"));
    page_ = new TMyPage(host_.get());
    host_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(host_.get()));
    host_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(host_.get()));
  }

  void TearDown() override {
    TPicView::SetOpenPictureDialog({});
    platform::ui::SetMessageBoxInterceptor({});
    host_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // A label page fitted to the 700 x 500 host: 70 x 50 mm at 8 pixels per millimetre.
  void FitPage(std::int32_t widthMm = 70, std::int32_t heightMm = 50, std::int32_t shape = 0) {
    page_->LabelRec.LWidthmm = widthMm;
    page_->LabelRec.LHeightmm = heightMm;
    page_->LabelRec.LShape = shape;
    page_->LabelRec.PDotMM = 12;
    page_->FitToParent();
  }

  // A palette item of that object name dragged onto the page and dropped at a point.
  void Drop(const std::string& source, QPoint at) {
    QMimeData mime;
    mime.setData(QString::fromLatin1(kPaletteMimeType), QByteArray::fromStdString(source));
    DropData(mime, at);
  }
  void DropData(const QMimeData& mime, QPoint at) { DropOn(page_, mime, at); }

  // The picture dialog answers with this file (UTF-8), or is cancelled.
  void AnswerPictureDialog(std::optional<std::string> file) {
    TPicView::SetOpenPictureDialog(
        [file](QWidget*, const QString&) -> std::optional<std::string> { return file; });
  }

  // A JPEG or BMP picture of that size in the test's folder.
  fs::path MakePicture(const std::string& name, int w, int h, const char* format) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(0x20, 0x80, 0xE0));
    const fs::path path = root_ / name;
    EXPECT_TRUE(image.save(QString::fromStdString(path.string()), format));
    return path;
  }

  static void Put(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  // Runs the deletions that views asked for once their key event was handled.
  static void RunDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  fs::path root_, prog_;
  std::unique_ptr<QWidget> host_;
  TMyPage* page_ = nullptr;
};

}  // namespace tagwright::testing
