// The main window: its layout, the palette's drags, the five commands, and the test print
// through the private cupsd to the printer's socket.
#include "tagwright/fm_main.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "main_fixture.h"
#include "platform/text.h"
#include "platform/tsclib.h"
#include "platform/ui.h"
#include "tagwright/label_control.h"
#include "tagwright/label_print_rec.h"
#include "tagwright/my_zip.h"
#include "tagwright/page_set.h"
#include "tagwright/test_print.h"

namespace tagwright::testing {
namespace {

namespace tspl = platform::tsclib::tspl;
using platform::ui::Answer;
using platform::ui::Box;

class MainWindow : public PrinterTest {
 protected:
  void SetUp() override {
    PrinterTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    platform::ui::SetMessageBoxInterceptor([this](const Box& box) {
      boxes_.push_back(box);
      return Answer::Ok;
    });
    TForm1::SetFileDialogRunner(
        [this](QWidget*, const FileDialogRequest& request) -> std::optional<std::string> {
          requests_.push_back(request);
          if (answers_.empty()) {
            ADD_FAILURE() << "a file dialog nobody answers";
            return std::nullopt;
          }
          std::optional<std::string> answer = answers_.front();
          answers_.pop_front();
          return answer;
        });
    form_ = Show();
  }
  void TearDown() override {
    TForm1::SetFileDialogRunner({});
    TForm1::SetDragStarter({});
    forms_.clear();
    PrinterTest::TearDown();
  }

  // A main window at its design size, shown.
  TForm1* Show() {
    forms_.push_back(std::make_unique<TForm1>());
    TForm1* form = forms_.back().get();
    form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
    return form;
  }

  // 创建, confirmed with the page setup dialog's settings as the dialog starts them, or
  // changed first.
  void NewPage(TForm1* form, std::function<void(TFmPageSet&)> change = {}) {
    OnDialog<TFmPageSet>([change](TFmPageSet& d) {
      if (change) change(d);
      d.Button1->click();
    });
    form->N1->trigger();
  }

  void Drop(TMyPage* page, const char* item, QPoint at) {
    std::unique_ptr<QMimeData> mime(PaletteMimeData(QString::fromLatin1(item)));
    DropOn(page, *mime, at);
  }

  void ChoosePrinter(TForm1* form) {
    const int i = form->CbPrintChose->findText(QString::fromStdString(queue_->Name()));
    ASSERT_GE(i, 0) << "the queue is not offered";
    form->CbPrintChose->setCurrentIndex(i);
  }

  // The user's choice in the resolution box.
  static void ChooseDip(TForm1* form, int index) {
    form->CbDip->setCurrentIndex(index);
    emit form->CbDip->activated(index);
  }

  std::vector<std::unique_ptr<TForm1>> forms_;
  TForm1* form_ = nullptr;
  std::vector<Box> boxes_;
  std::vector<FileDialogRequest> requests_;
  std::deque<std::optional<std::string>> answers_;
};

TEST_F(MainWindow, TheWindowAsItOpens) {
  EXPECT_EQ(form_->windowTitle(), QString::fromUtf8("标签模板编制工具"));
  EXPECT_EQ(form_->font().family(), QString::fromUtf8("宋体"));
  EXPECT_EQ(form_->font().pixelSize(), 13);
  EXPECT_EQ(form_->size(), QSize(733, 500));

  QStringList menu;
  QStringList names;
  for (QAction* a : form_->menuBar()->actions()) {
    menu << a->text();
    names << a->objectName();
    EXPECT_EQ(a->menu(), nullptr);
  }
  EXPECT_EQ(menu, QString::fromUtf8("创建 打开 保存 测试打印 退出").split(' '));
  EXPECT_EQ(names, QStringLiteral("N1 N2 N3 N5 N4").split(' '));

  // The palette on the right, the scroll box beside it.
  EXPECT_EQ(form_->Panel1->width(), 126);
  EXPECT_EQ(form_->Panel1->geometry().right(), form_->centralWidget()->width() - 1);
  EXPECT_EQ(form_->ScrollBox1->geometry().right() + 1, form_->Panel1->x());
  EXPECT_EQ(form_->Panel2->height(), 153);
  EXPECT_EQ(form_->Label1->text(), QString::fromUtf8("打印机"));
  EXPECT_EQ(form_->Panel4->size(), QSize(89, 41));
  EXPECT_EQ(form_->ImgText->size(), QSize(89, 41));
  EXPECT_EQ(form_->ImgText->text(), QString::fromUtf8("文本"));
  EXPECT_FALSE(form_->ImgCode->pixmap().isNull()) << "the sample barcode";
  EXPECT_FALSE(form_->ImgPic->pixmap().isNull()) << "the sample photograph";
  EXPECT_TRUE(form_->ImgCode->isVisible());
  EXPECT_TRUE(form_->ImgText->isVisible());
  for (QWidget* hidden : {static_cast<QWidget*>(form_->Label3), static_cast<QWidget*>(form_->CbDip),
                          static_cast<QWidget*>(form_->Panel3), static_cast<QWidget*>(form_->ImgPic),
                          static_cast<QWidget*>(form_->CheckBox1)}) {
    EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
  }
  EXPECT_EQ(form_->CbDip->count(), 2);
  EXPECT_EQ(form_->CbDip->itemText(0), QStringLiteral("300 Dpi"));
  EXPECT_EQ(form_->CbDip->itemText(1), QStringLiteral("200 Dpi"));
  EXPECT_EQ(form_->CbDip->currentIndex(), 0);
  EXPECT_EQ(form_->CheckBox1->text(), QString::fromUtf8("画线"));

  // The installed printers, none chosen.
  EXPECT_GE(form_->CbPrintChose->findText(QString::fromStdString(queue_->Name())), 0);
  EXPECT_EQ(form_->CbPrintChose->currentIndex(), -1);
  EXPECT_EQ(form_->CurrentPage(), nullptr);

  EXPECT_EQ(QtFileFilter(TForm1::kOpenFilter), QString::fromUtf8("标签模板*.Lab (*.Lab)"));
  EXPECT_EQ(QtFileFilter("Pictures|*.jpg;*.bmp|All|*.*"),
            QStringLiteral("Pictures (*.jpg *.bmp);;All (*.*)"));
}

TEST_F(MainWindow, APaletteDragCarriesTheItemNameThatThePageDecidesBy) {
  NewPage(form_);
  TMyPage* page = form_->CurrentPage();
  ASSERT_NE(page, nullptr);
  std::vector<std::string> dragged;
  TForm1::SetDragStarter([&](QWidget* source, const QMimeData& data) {
    EXPECT_EQ(data.data(QString::fromLatin1(kPaletteMimeType)), source->objectName().toUtf8());
    dragged.push_back(source->objectName().toStdString());
    DropOn(page, data, {60 + 80 * static_cast<int>(dragged.size()), 100});
  });
  auto drag = [](QWidget* item, QPoint from) {
    QTest::mousePress(item, Qt::LeftButton, {}, from);
    QTest::mouseMove(item, from + QPoint(30, 0));
    QTest::mouseRelease(item, Qt::LeftButton, {}, from + QPoint(30, 0));
  };
  drag(form_->ImgText, {40, 20});
  drag(form_->ImgCode, {40, 20});
  drag(form_->Panel4, {0, 0});  // the border around the sample barcode
  QTest::mouseClick(form_->ImgText, Qt::LeftButton, {}, {40, 20});  // no move, no drag

  EXPECT_EQ(dragged, (std::vector<std::string>{"ImgText", "ImgCode", "Panel4"}));
  const std::vector<TViewBas*> views = page->Views();
  ASSERT_EQ(views.size(), 2u) << "Panel4 makes nothing";
  EXPECT_NE(dynamic_cast<TTextView*>(views[0]), nullptr);
  EXPECT_EQ(views[0]->ViewName, "Txt1-");
  EXPECT_NE(dynamic_cast<TCodeView*>(views[1]), nullptr);
  EXPECT_EQ(views[1]->ViewName, "Cod2-");
}

TEST_F(MainWindow, ANewPageTakesThePlaceOfTheOldOneUnlessItsSetupIsCancelled) {
  ChooseDip(form_, 1);  // no page yet: nothing to set
  NewPage(form_, [](TFmPageSet& d) { d.UdWidth->SetPosition(50); });
  TMyPage* first = form_->CurrentPage();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(form_->CbDip->currentIndex(), 0) << "a new page prints at 300 dpi";
  EXPECT_EQ(first->LabelRec.PDotMM, 12);
  EXPECT_EQ(first->LabelRec.LWidthmm, 50);
  EXPECT_EQ(first->parentWidget(), form_->ScrollBox1->widget());
  EXPECT_TRUE(first->isVisible());
  EXPECT_GT(first->Scale, 0);

  OnDialog<TFmPageSet>([](TFmPageSet& d) { d.Button2->click(); });
  form_->N1->trigger();
  EXPECT_EQ(form_->CurrentPage(), first);
  EXPECT_EQ(form_->ScrollBox1->widget()->findChildren<TMyPage*>().size(), 1);

  QPointer<TMyPage> watch(first);
  NewPage(form_);
  EXPECT_NE(form_->CurrentPage(), first);
  EXPECT_TRUE(watch.isNull()) << "the previous page is freed";
  EXPECT_EQ(form_->ScrollBox1->widget()->findChildren<TMyPage*>().size(), 1);

  // The resolution box and the line box act on the page.
  ChooseDip(form_, 1);
  EXPECT_EQ(form_->CurrentPage()->LabelRec.PDotMM, 8);
  ChooseDip(form_, 0);
  EXPECT_EQ(form_->CurrentPage()->LabelRec.PDotMM, 12);
  form_->CheckBox1->click();
  EXPECT_TRUE(form_->CurrentPage()->DrawLine);
  form_->CheckBox1->click();
  EXPECT_FALSE(form_->CurrentPage()->DrawLine);
  EXPECT_TRUE(boxes_.empty());
}

// A page with each kind of item saved, opened in a new window and saved again gives the
// same template.
TEST_F(MainWindow, ATemplateSurvivesOpeningAndSavingAgain) {
  NewPage(form_, [](TFmPageSet& d) { d.UdLCount->SetPosition(2); });
  TMyPage* page = form_->CurrentPage();
  ASSERT_NE(page, nullptr);
  const fs::path photo = root_ / "照片.jpg";
  ASSERT_TRUE(QImage(QString::fromStdString((prog_ / "photo.jpg").string())).save(
      QString::fromStdString(photo.string()), "JPEG"));
  TPicView::SetOpenPictureDialog(
      [&](QWidget*, const QString&) -> std::optional<std::string> { return photo.string(); });
  Drop(page, "ImgCode", {60, 60});
  Drop(page, "ImgText", {300, 60});
  Drop(page, "ImgPic", {300, 200});
  dynamic_cast<TTextView*>(page->Views()[1])->SetText("书名：标签");
  page->Lines.push_back(std::make_unique<TLineImage>(page));
  page->Lines.back()->SetPoint(0, {10, 250});
  page->Lines.back()->SetPoint(1, {200, 251});
  ChooseDip(form_, 1);
  form_->repaint();
  QApplication::processEvents();

  const fs::path first = root_ / "第一.Lab";
  answers_ = {first.string()};
  form_->N3->trigger();
  ASSERT_EQ(requests_.size(), 1u);
  EXPECT_EQ(requests_[0].mode, QFileDialog::AcceptSave);
  EXPECT_EQ(requests_[0].filter, QString::fromUtf8("标签模板 (*.Lab)"));
  EXPECT_EQ(requests_[0].defaultSuffix, QStringLiteral("Lab"));
  EXPECT_TRUE(requests_[0].options.testFlag(QFileDialog::DontConfirmOverwrite));
  ASSERT_TRUE(fs::exists(first));
  EXPECT_EQ(page->LabelRec.PDotMM, 8);
  EXPECT_EQ(page->LabelRec.ControlCount, 4);

  TForm1* second = Show();
  answers_ = {first.string()};
  second->N2->trigger();
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_EQ(requests_[1].mode, QFileDialog::AcceptOpen);
  EXPECT_EQ(requests_[1].filter, QString::fromUtf8("标签模板*.Lab (*.Lab)"));
  TMyPage* opened = second->CurrentPage();
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(second->CbDip->currentIndex(), 1) << "a template at 8 dots a millimetre";
  ASSERT_EQ(opened->Views().size(), 3u);
  EXPECT_EQ(opened->Lines.size(), 1u);
  EXPECT_EQ(opened->size(), page->size());
  second->repaint();
  QApplication::processEvents();

  // Screenshot of the window with the opened template.
  fs::create_directories(TAGWRIGHT_SCREENSHOT_DIR);
  second->grab().save(QString::fromUtf8(TAGWRIGHT_SCREENSHOT_DIR "/tagwright_main_window_opened.png"));

  const fs::path again = root_ / "第二.Lab";
  answers_ = {again.string()};
  second->N3->trigger();
  EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text);
  const std::map<std::string, std::string> a = PackageFiles(first, root_ / "a");
  const std::map<std::string, std::string> b = PackageFiles(again, root_ / "b");
  ASSERT_EQ(a.size(), 2u);
  EXPECT_TRUE(a.at("Label") == b.at("Label")) << a.at("Label") << "\n---\n" << b.at("Label");
  EXPECT_TRUE(a == b) << "the picture too";

  // Opening a template at 12 dots a millimetre shows 300 dpi; saving over a file
  // replaces it.
  ChooseDip(second, 0);
  answers_ = {again.string()};
  second->N3->trigger();
  answers_ = {again.string()};
  form_->N2->trigger();
  EXPECT_EQ(form_->CbDip->currentIndex(), 0);
  EXPECT_EQ(form_->CurrentPage()->LabelRec.PDotMM, 12);
}

TEST_F(MainWindow, ATemplateThatCannotBeReadKeepsThePage) {
  NewPage(form_);
  TMyPage* page = form_->CurrentPage();
  ASSERT_NE(page, nullptr);

  // A package of another password, and one whose Label has no label size.
  const fs::path dir = root_ / "folder";
  fs::create_directories(dir);
  TLabelRec rec;
  rec.LWidthmm = 40;
  rec.LHeightmm = 30;
  WriteLabelFile(dir / kLabelFileName, rec);
  const fs::path otherPassword = root_ / "other.Lab";
  TMyZip().BuildPackage(dir, otherPassword, "abc");
  rec.LHeightmm = 0;
  WriteLabelFile(dir / kLabelFileName, rec);
  const fs::path noSize = root_ / "nosize.Lab";
  TMyZip().BuildPackage(dir, noSize, kPackagePassword);
  const fs::path garbage = root_ / "garbage.Lab";
  std::ofstream(garbage, std::ios::binary) << "not a package at all, no zlib stream here....";

  for (const fs::path& file : {otherPassword, noSize}) {
    SCOPED_TRACE(file.filename().string());
    boxes_.clear();
    answers_ = {file.string()};
    form_->N2->trigger();
    EXPECT_EQ(form_->CurrentPage(), page);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].title, "错误");
    EXPECT_EQ(boxes_[0].icon, platform::ui::Icon::Error);
    EXPECT_EQ(boxes_[0].text, "无法读取标签模板 " + file.string());
  }

  // An error of the package itself reaches the standard error box; the window goes on.
  boxes_.clear();
  answers_ = {garbage.string()};
  form_->N2->trigger();
  EXPECT_EQ(form_->CurrentPage(), page);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].title, "错误");
  EXPECT_NE(boxes_[0].text.find(garbage.string()), std::string::npos) << boxes_[0].text;
  EXPECT_EQ(form_->ScrollBox1->widget()->findChildren<TMyPage*>().size(), 1);

  // A cancelled dialog does nothing.
  answers_ = {std::nullopt};
  form_->N2->trigger();
  answers_ = {std::nullopt};
  form_->N3->trigger();
  EXPECT_EQ(form_->CurrentPage(), page);
  EXPECT_EQ(boxes_.size(), 1u);
}

// One BARCODE command as the job carries it.
struct BarcodeLine {
  int x, y;
  std::string data;
};

// Splits text at commas into at most n fields, the last taking the rest.
std::vector<std::string> Fields(const std::string& text, size_t n) {
  std::vector<std::string> fields;
  size_t from = 0;
  while (fields.size() + 1 < n) {
    const size_t comma = text.find(',', from);
    if (comma == std::string::npos) break;
    fields.push_back(text.substr(from, comma - from));
    from = comma + 1;
  }
  fields.push_back(text.substr(from));
  return fields;
}

std::vector<BarcodeLine> Barcodes(const std::string& job) {
  std::vector<BarcodeLine> found;
  const std::string command = "\r\nBARCODE ";
  for (size_t at = job.find(command); at != std::string::npos; at = job.find(command, at + 1)) {
    const size_t start = at + command.size();
    const std::vector<std::string> f = Fields(job.substr(start, job.find("\r\n", start) - start), 9);
    EXPECT_EQ(f.size(), 9u);
    if (f.size() != 9 || f[8].size() < 2) continue;
    found.push_back({std::stoi(f[0]), std::stoi(f[1]), f[8].substr(1, f[8].size() - 2)});
  }
  return found;
}

// One windowsfont call as the recorder writes it.
struct FontCall {
  int x, y, height;
  std::string text;
};

std::optional<FontCall> ParseFontCall(const std::string& call) {
  const std::string prefix = "windowsfont(";
  const std::string face = ",\"宋体\",\"";
  if (call.rfind(prefix, 0) != 0) return std::nullopt;
  const size_t faceAt = call.find(face);
  if (faceAt == std::string::npos || call.size() < faceAt + face.size() + 2) return std::nullopt;
  const std::vector<std::string> n =
      Fields(call.substr(prefix.size(), faceAt - prefix.size()), 6);
  if (n.size() != 6) return std::nullopt;
  const size_t textAt = faceAt + face.size();
  return FontCall{std::stoi(n[0]), std::stoi(n[1]), std::stoi(n[2]),
                  call.substr(textAt, call.size() - 2 - textAt)};
}

size_t Count(const std::string& haystack, const std::string& needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size())) {
    ++n;
  }
  return n;
}

TEST_F(MainWindow, TestPrintSendsTwoSampleLabelsOnOneRowOfThree) {
  NewPage(form_);  // the dialog's settings: three 32 mm labels a row, 1 mm beside each
  TMyPage* page = form_->CurrentPage();
  ASSERT_NE(page, nullptr);
  ASSERT_EQ(page->LabelRec.LCount, 3);
  Drop(page, "ImgText", {60, 200});
  page->Views()[0]->ViewName = "Tex1-";
  Drop(page, "ImgCode", {60, 60});
  ASSERT_EQ(page->Views()[1]->ViewName, "Cod2-");
  Drop(page, "ImgText", {300, 300});  // Txt3-: its design text on both labels
  ChoosePrinter(form_);

  std::vector<std::string> calls;
  platform::tsclib::SetCallRecorder([&](const std::string& c) { calls.push_back(c); });
  form_->N5->trigger();
  platform::tsclib::SetCallRecorder(nullptr);
  EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text);
  EXPECT_TRUE(fs::exists(prog_ / "TestPrnTable.Dat"));
  EXPECT_EQ(page->LabelRec.ControlCount, 3) << "the page holds what it saved for the print";

  const std::optional<std::string> job = printer_->Wait();
  ASSERT_TRUE(job) << "no job reached the printer";
  EXPECT_EQ(job->rfind("SIZE 110 mm,25 mm\r\n", 0), 0u) << job->substr(0, 60);

  // Both labels in one row: the second 34 mm (408 dots) to the right, one PRINT at the
  // end for the row with its third cell blank.
  const std::vector<BarcodeLine> codes = Barcodes(*job);
  ASSERT_EQ(codes.size(), 2u);
  EXPECT_EQ(codes[0].data, "154984723d");
  EXPECT_EQ(codes[1].data, "f120984723");
  EXPECT_EQ(codes[1].x - codes[0].x, 408);
  EXPECT_EQ(codes[1].y, codes[0].y);
  EXPECT_EQ(Count(*job, "PRINT 1,1\r\n"), 1u);
  EXPECT_EQ(job->substr(job->size() - 11), "PRINT 1,1\r\n");

  // The texts as BITMAPs: Tex1- with each label's value, Txt3- with its design text.
  std::vector<std::string> texts;
  for (const std::string& c : calls) {
    const std::optional<FontCall> f = ParseFontCall(c);
    if (!f) continue;
    texts.push_back(f->text);
    const std::string bitmap =
        *tspl::WindowsFont(f->x, f->y, f->height, 0, 0, 0, platform::text::Utf8ToCp936("宋体"),
                           platform::text::Utf8ToCp936(f->text));
    EXPECT_NE(job->find(bitmap), std::string::npos) << "BITMAP of " << f->text << " in the job";
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"154984723d", "输入要显示的文本", "f120984723",
                                             "输入要显示的文本"}));
  EXPECT_EQ(Count(*job, "BITMAP "), 4u);
}

TEST_F(MainWindow, TestPrintGoesToTheChosenPrinterNotTheDefaultOne) {
  cups_test::OneJobListener defaultPrinter;
  cups_test::RawQueue defaultQueue("TwUsersDefault", defaultPrinter.Port());
  setenv("PRINTER", defaultQueue.Name().c_str(), 1);
  NewPage(form_);
  TMyPage* page = form_->CurrentPage();
  ASSERT_NE(page, nullptr);
  Drop(page, "ImgCode", {60, 60});
  ChoosePrinter(form_);
  ASSERT_NE(form_->CbPrintChose->currentText().toStdString(), defaultQueue.Name());

  form_->N5->trigger();
  EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text);
  const std::optional<std::string> job = printer_->Wait();
  ASSERT_TRUE(job) << "no job reached the chosen printer";
  EXPECT_EQ(job->rfind("SIZE ", 0), 0u) << job->substr(0, 60);
  EXPECT_FALSE(defaultPrinter.Connected()) << "the default printer got a job";
  setenv("PRINTER", queue_->Name().c_str(), 1);
}

TEST_F(MainWindow, TestPrintNeedsAChosenPrinterAndAPage) {
  std::vector<std::string> calls;
  platform::tsclib::SetCallRecorder([&](const std::string& c) { calls.push_back(c); });
  ChoosePrinter(form_);
  form_->N5->trigger();  // no page
  form_->N3->trigger();  // no page: no save dialog either
  NewPage(form_);
  form_->CbPrintChose->setCurrentIndex(-1);
  form_->N5->trigger();  // no printer chosen
  QApplication::processEvents();
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(fs::exists(prog_ / "TestPrnTable.Dat"));
  EXPECT_FALSE(fs::exists(LabelTempFolder())) << "nothing saved";
  EXPECT_TRUE(requests_.empty());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(printer_->Connected());
}

TEST_F(MainWindow, AnErrorOfACommandIsShownAndTheWindowGoesOn) {
  NewPage(form_);
  answers_ = {(root_ / "无此文件夹" / "x.Lab").string()};
  form_->N3->trigger();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].title, "错误");
  EXPECT_EQ(boxes_[0].icon, platform::ui::Icon::Error);
  EXPECT_NE(boxes_[0].text.find("x.Lab"), std::string::npos) << boxes_[0].text;

  answers_ = {(root_ / "x.Lab").string()};
  form_->N3->trigger();
  EXPECT_TRUE(fs::exists(root_ / "x.Lab"));
  EXPECT_EQ(boxes_.size(), 1u);

  form_->N4->trigger();
  EXPECT_FALSE(form_->isVisible());
}

}  // namespace
}  // namespace tagwright::testing
