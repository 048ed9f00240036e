// The label page saved as a template package and rebuilt from a template's records.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <QWidget>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "main_fixture.h"
#include "tagwright/lab_print_tsc.h"
#include "tagwright/label_control.h"
#include "tagwright/label_print_rec.h"
#include "tagwright/my_zip.h"

namespace tagwright::testing {
namespace {

// A page of 70 x 50 mm in a 700 x 500 window: 8 pixels a millimetre.
class PageTemplate : public PrinterTest {
 protected:
  void SetUp() override {
    PrinterTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    host_ = std::make_unique<QWidget>();
    host_->resize(700, 500);
    page_ = new TMyPage(host_.get());
    page_->LabelRec.PageWidth = 74;
    page_->LabelRec.PageGap = 2;
    page_->LabelRec.LRSpace = 2;
    page_->LabelRec.LWidthmm = 70;
    page_->LabelRec.LHeightmm = 50;
    page_->LabelRec.LCount = 1;
    page_->LabelRec.LShape = 1;
    page_->LabelRec.Direction = "T";
    page_->LabelRec.PDotMM = 12;
    page_->FitToParent();
    host_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(host_.get()));
    ASSERT_EQ(page_->Scale, 8);
    file_ = root_ / "模板.Lab";
  }
  void TearDown() override {
    host_.reset();
    PrinterTest::TearDown();
  }

  TCodeView* Code(const std::string& name, QRect at) {
    auto* view = new TCodeView(page_);
    view->ViewName = name;
    view->setGeometry(at);
    view->show();
    return view;
  }
  TTextView* Text(const std::string& name, QPoint at, const std::string& text) {
    auto* view = new TTextView(page_);
    view->ViewName = name;
    view->move(at);
    view->SetText(text);
    view->show();
    return view;
  }
  TPicView* Picture(const std::string& name, QRect at, QColor colour, QSize size = {50, 50}) {
    auto* view = new TPicView(page_);
    view->ViewName = name;
    view->setGeometry(at);
    view->PicBmp = QImage(size, QImage::Format_RGB32);
    view->PicBmp.fill(colour);
    view->show();
    return view;
  }
  void Line(QPoint a, QPoint b) {
    page_->Lines.push_back(std::make_unique<TLineImage>(page_));
    page_->Lines.back()->SetPoint(0, a);
    page_->Lines.back()->SetPoint(1, b);
  }
  // Lets text views size themselves, as they do when they are painted.
  void Paint() {
    QApplication::processEvents();
    host_->repaint();
    QApplication::processEvents();
  }
  std::map<std::string, std::string> Saved() {
    return PackageFiles(file_, root_ / ("saved" + std::to_string(++extractions_)));
  }

  std::unique_ptr<QWidget> host_;
  TMyPage* page_ = nullptr;
  fs::path file_;
  int extractions_ = 0;
};

TEST_F(PageTemplate, RecordsAreTheViewsInChildOrderThenTheLinesInMillimetres) {
  TCodeView* code = Code("Cod1-", {80, 24, 160, 40});
  code->BarWidth = 3;
  code->FontSize = 12;
  code->HaveCode = true;
  TTextView* text = Text("Txt2-", {40, 200}, "书名 A-1");
  text->FontSize = 9;
  Picture("Pic3-", {8, 16, 200, 100}, Qt::blue);
  Line({16, 24}, {96, 24});
  Line({0, 0}, {0, 0});  // a click without a move in line-drawing mode
  Paint();
  const QRect t = text->geometry();
  ASSERT_NE(t.size(), QSize(200, 150)) << "the text view has sized itself to its text";

  const TLabelRec before = page_->LabelRec;
  page_->SaveTemplate(file_);

  TViewRec codeRec = Item("TCodeView", "Cod1-", 3, 10, 30, 8);
  codeRec.FontSize = 12;
  codeRec.BarWidth = 3;
  codeRec.HaveCode = true;
  TViewRec textRec = Item("TTextView", "Txt2-", t.y() / 8.0, t.x() / 8.0,
                          (t.x() + t.width()) / 8.0, (t.y() + t.height()) / 8.0);
  textRec.FontSize = 9;
  textRec.Value = "书名 A-1";
  TViewRec picRec = Item("TPicView", "Pic3-", 2, 1, 26, 14.5);
  picRec.PicFile = "Pic3-.Bmp";
  TLabelRec expected = before;
  expected.ViewRec = {codeRec, textRec, picRec, Item("TLineImage", "", 3, 2, 12, 3),
                      Item("TLineImage", "", 0, 0, 0, 0)};
  expected.ControlCount = 5;
  EXPECT_EQ(page_->LabelRec, expected);

  // The package: exactly the file Label of these records and the picture stretched to
  // the view's 200 x 100 pixels.
  const std::map<std::string, std::string> files = Saved();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(ReadLabelFile(root_ / "saved1" / kLabelFileName), expected);
  QImage bmp;
  ASSERT_TRUE(bmp.loadFromData(QByteArray::fromStdString(files.at("Pic3-.Bmp")), "BMP"));
  EXPECT_EQ(bmp.size(), QSize(200, 100));
  EXPECT_EQ(bmp.pixelColor(199, 99), QColor(Qt::blue));
  EXPECT_EQ(files.at("Pic3-.Bmp").substr(0, 2), "BM");
  // The staging folder keeps what the save wrote.
  EXPECT_TRUE(fs::exists(LabelTempFolder() / "Pic3-.Bmp"));
}

TEST_F(PageTemplate, NoFieldCarriesOverFromAnEarlierSave) {
  TTextView* text = Text("Txt1-", {80, 24}, "旧文本");
  text->FontSize = 9;
  Picture("Pic2-", {200, 200, 40, 40}, Qt::red);
  page_->SaveTemplate(file_);
  ASSERT_EQ(page_->LabelRec.ControlCount, 2);

  // A barcode view now where the text view was; the picture is gone.
  const QRect at = text->geometry();
  delete text;
  delete page_->Views().at(0);
  Code("Cod1-", at);
  page_->SaveTemplate(file_);

  ASSERT_EQ(page_->LabelRec.ViewRec.size(), 1u);
  const TViewRec& r = page_->LabelRec.ViewRec[0];
  EXPECT_EQ(r.ViewType, "TCodeView");
  EXPECT_EQ(r.Value, "");
  EXPECT_EQ(r.PicFile, "");
  EXPECT_EQ(r.FontSize, 4);
  EXPECT_EQ(r.BarWidth, 2);
  const std::map<std::string, std::string> files = Saved();
  EXPECT_EQ(files.size(), 1u) << "the staging folder was emptied: no picture of the first save";
}

TEST_F(PageTemplate, TwoPicturesOfOneNameWriteOneFileAndTheLaterWins) {
  Picture("同名", {0, 0, 40, 40}, Qt::red);
  Picture("同名", {100, 100, 60, 30}, Qt::green);
  page_->SaveTemplate(file_);
  EXPECT_EQ(page_->LabelRec.ViewRec[0].PicFile, "同名.Bmp");
  EXPECT_EQ(page_->LabelRec.ViewRec[1].PicFile, "同名.Bmp");
  const std::map<std::string, std::string> files = Saved();
  ASSERT_EQ(files.size(), 2u);
  QImage bmp;
  ASSERT_TRUE(bmp.loadFromData(QByteArray::fromStdString(files.at("同名.Bmp")), "BMP"));
  EXPECT_EQ(bmp.size(), QSize(60, 30));
  EXPECT_EQ(bmp.pixelColor(0, 0), QColor(Qt::green));
}

TEST_F(PageTemplate, ARefusedSaveWritesNothingAndKeepsTheEarlierFile) {
  Code("Cod1-", {8, 8, 80, 40});
  page_->SaveTemplate(file_);
  const std::string earlier = ReadAll(file_);
  const TLabelRec saved = page_->LabelRec;
  std::vector<std::string> staged;
  for (const auto& e : fs::directory_iterator(LabelTempFolder())) {
    staged.push_back(e.path().filename().string());
  }

  const std::vector<std::string> refused = {
      "",      " 前导空格", "a/b", "a\\b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b",
      "a|b",   "a\tb",     "a\nb", "CON", "con", "Nul.x", "aux ", "COM1", "lpt9", "COM0",
      "LPT\u00B2", "表😀"};
  for (const std::string& name : refused) {
    SCOPED_TRACE("picture name \"" + name + "\"");
    TPicView* pic = Picture(name, {100, 100, 40, 40}, Qt::red);
    try {
      page_->SaveTemplate(file_);
      ADD_FAILURE() << "saved";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("不能用作文件名"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadAll(file_), earlier);
    EXPECT_EQ(page_->LabelRec, saved);
    std::vector<std::string> now;
    for (const auto& e : fs::directory_iterator(LabelTempFolder())) {
      now.push_back(e.path().filename().string());
    }
    EXPECT_EQ(now, staged) << "the staging folder was not touched";
    delete pic;
  }

  // Names that both systems take.
  for (const std::string name : {"图片1-", "a b", "x.y", "CONsole", "COM10", "€"}) {
    SCOPED_TRACE("picture name \"" + name + "\"");
    TPicView* pic = Picture(name, {100, 100, 40, 40}, Qt::red);
    EXPECT_NO_THROW(page_->SaveTemplate(file_));
    EXPECT_EQ(Saved().count(name + ".Bmp"), 1u);
    delete pic;
  }
}

TEST_F(PageTemplate, APageWithoutAScaleCannotBeSaved) {
  auto* unfitted = new TMyPage(host_.get());
  ASSERT_EQ(unfitted->Scale, 0);
  try {
    unfitted->SaveTemplate(file_);
    ADD_FAILURE() << "saved";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("比例"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(file_));
  EXPECT_FALSE(fs::exists(LabelTempFolder()));
}

TEST_F(PageTemplate, APackageThatCannotBeWrittenKeepsTheEarlierFile) {
  Code("Cod1-", {8, 8, 80, 40});
  page_->SaveTemplate(file_);
  const std::string earlier = ReadAll(file_);
  const TLabelRec saved = page_->LabelRec;
  // The package is built beside the target; a folder in that place makes it fail.
  fs::path aside = file_;
  aside += ".part~";
  fs::create_directory(aside);

  Code("Cod2-", {100, 8, 80, 40});
  EXPECT_THROW(page_->SaveTemplate(file_), EPackageError);
  EXPECT_EQ(ReadAll(file_), earlier);
  EXPECT_EQ(page_->LabelRec, saved);
}

TEST_F(PageTemplate, SaveAndLoadNeverWriteThroughWhatStandsInTheWorkingFolders) {
  // Left by someone else: hard links to a file elsewhere and read-only files, which the
  // folders' clearing keeps, at the names the save and the load write.
  const fs::path outside = root_ / "outside";
  {
    std::ofstream(outside, std::ios::binary) << "precious";
  }
  const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  fs::permissions(outside, readOnly);
  const auto link = [&](const fs::path& name) { fs::create_hard_link(outside, name); };
  const auto ownReadOnly = [&](const fs::path& name) {
    std::ofstream(name, std::ios::binary) << "stale";
    fs::permissions(name, readOnly);
  };
  fs::create_directories(LabelTempFolder());
  fs::create_directories(PrintLabelFolder());
  ownReadOnly(LabelTempFolder() / "Label");
  link(LabelTempFolder() / "图.Bmp");
  link(PrintLabelFolder() / "Label");
  ownReadOnly(PrintLabelFolder() / "图.Bmp");
  for (const char* name : {kPackListFile, kExtractListFile, kPayloadFile}) link(prog_ / name);

  Code("Cod1-", {8, 8, 80, 40});
  Picture("图", {100, 100, 60, 30}, Qt::green);
  page_->SaveTemplate(file_);
  TLabelRec rec;
  TPrintLabelTsc().LoadTemplate(file_, rec);
  auto* loaded = new TMyPage(host_.get());
  loaded->LoadViews(rec);

  EXPECT_EQ(ReadAll(outside), "precious");
  EXPECT_EQ(rec, page_->LabelRec);
  EXPECT_EQ(ReadLabelFile(LabelTempFolder() / "Label"), page_->LabelRec);
  ASSERT_EQ(loaded->Views().size(), 2u);
  auto* p = dynamic_cast<TPicView*>(loaded->Views()[1]);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->PicBmp.size(), QSize(60, 30));
  EXPECT_EQ(p->PicBmp.pixelColor(0, 0), QColor(Qt::green));
}

TEST_F(PageTemplate, LoadingRoundsMillimetresToPixelsAndSkipsUnknownRecords) {
  fs::create_directories(PrintLabelFolder());
  QImage picture(30, 20, QImage::Format_RGB32);
  picture.fill(Qt::red);
  ASSERT_TRUE(picture.save(QString::fromStdString((PrintLabelFolder() / "图1.Bmp").string()),
                           "BMP"));

  TLabelRec rec = page_->LabelRec;
  rec.LWidthmm = 35;
  rec.LHeightmm = 50;  // the height decides: Scale 400 / 50 = 8
  // Width Round((30 - 10.06) x 8) = Round(159.52) = 160, not 240 - Round(80.48).
  // Top Round(24.5) = 24; height Round((8.125 - 3.0625) x 8) = Round(40.5) = 40.
  TViewRec code = Item("TCodeView", "条码", 3.0625, 10.06, 30, 8.125);
  code.BarWidth = 3;
  code.FontSize = 11;
  code.HaveCode = true;
  TViewRec text = Item("TTextView", "Tex1-", 10, 1, 11, 13);
  text.Value = "书名";
  text.FontSize = 7;
  TViewRec pic = Item("TPicView", "Pic", 20, 2.5625, 12, 30);  // left Round(20.5) = 20
  pic.PicFile = "图1.Bmp";
  rec.ViewRec = {code,
                 Item("TShapeView", "x", 1, 1, 2, 2),
                 Item("TLineImage", "", 0.4375, 0.3125, 12, 3),  // (2.5, 3.5) -> (2, 4)
                 Item("", "y", 1, 1, 2, 2),
                 text,
                 Item("tcodeview", "z", 1, 1, 2, 2),
                 pic};
  rec.ControlCount = static_cast<std::int32_t>(rec.ViewRec.size());

  auto* loaded = new TMyPage(host_.get());
  loaded->LoadViews(rec);
  EXPECT_EQ(loaded->LabelRec, rec);
  EXPECT_EQ(loaded->Scale, 8);
  const std::vector<TViewBas*> views = loaded->Views();
  ASSERT_EQ(views.size(), 3u);

  auto* c = dynamic_cast<TCodeView*>(views[0]);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->geometry(), QRect(80, 24, 160, 40));
  EXPECT_EQ(c->ViewName, "条码");
  EXPECT_EQ(c->BarWidth, 3);
  EXPECT_EQ(c->FontSize, 11);
  EXPECT_TRUE(c->HaveCode);
  auto* t = dynamic_cast<TTextView*>(views[1]);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->pos(), QPoint(8, 80));
  EXPECT_EQ(t->Text(), "书名");
  EXPECT_EQ(t->FontSize, 7);
  auto* p = dynamic_cast<TPicView*>(views[2]);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->geometry(), QRect(20, 160, 76, 80));
  EXPECT_EQ(p->PicBmp.size(), QSize(30, 20));

  ASSERT_EQ(loaded->Lines.size(), 1u);
  EXPECT_EQ(loaded->Lines[0]->Points[0], QPoint(2, 4));
  EXPECT_EQ(loaded->Lines[0]->Points[1], QPoint(96, 24));
  EXPECT_EQ(loaded->CurLine, nullptr);
  EXPECT_EQ(loaded->Lines[0]->PenColor, clBlack);

  // Loaded views carry their positions, so a dropped view goes on from them.
  EXPECT_EQ(c->ViewNo, 1);
  EXPECT_EQ(t->ViewNo, 2);
  EXPECT_EQ(p->ViewNo, 3);
  std::unique_ptr<QMimeData> mime(new QMimeData);
  mime->setData(QString::fromLatin1(kPaletteMimeType), "ImgCode");
  DropOn(loaded, *mime, {300, 200});
  ASSERT_EQ(loaded->Views().size(), 4u);
  EXPECT_EQ(loaded->Views()[3]->ViewNo, 4);
  EXPECT_EQ(loaded->Views()[3]->ViewName, "Cod4-");
}

TEST_F(PageTemplate, APictureRecordWithoutAPictureFileGivesAnEmptyViewAndTheLoadGoesOn) {
  fs::create_directories(PrintLabelFolder());
  for (const char* name : {"", "Pic2-"}) {
    SCOPED_TRACE(std::string("PicFile \"") + name + "\"");
    TViewRec pic = Item("TPicView", "Pic2-", 2, 3, 8, 10);
    pic.PicFile = name;
    TLabelRec rec = page_->LabelRec;
    rec.ViewRec = {Item("TCodeView", "Cod1-", 1, 1, 10, 5), pic,
                   Item("TTextView", "Txt3-", 10, 1, 20, 15),
                   Item("TLineImage", "", 1, 1, 30, 1)};
    rec.ControlCount = 4;
    auto* loaded = new TMyPage(host_.get());
    loaded->LoadViews(rec);
    const std::vector<TViewBas*> views = loaded->Views();
    ASSERT_EQ(views.size(), 3u);
    EXPECT_EQ(views[0]->ViewName, "Cod1-");
    auto* p = dynamic_cast<TPicView*>(views[1]);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->ViewName, "Pic2-");
    EXPECT_EQ(p->geometry(), QRect(24, 16, 40, 64));
    EXPECT_TRUE(p->PicBmp.isNull());
    EXPECT_EQ(views[2]->ViewName, "Txt3-");
    EXPECT_EQ(loaded->Lines.size(), 1u);
    delete loaded;
  }
}

TEST_F(PageTemplate, AnErrorEndsTheLoadAndKeepsWhatWasBuilt) {
  fs::create_directories(PrintLabelFolder());
  fs::create_directories(prog_ / "secret");
  QImage outside(10, 10, QImage::Format_RGB32);
  outside.fill(Qt::black);
  ASSERT_TRUE(outside.save(QString::fromStdString((prog_ / "secret" / "x.Bmp").string()), "BMP"));

  struct Case {
    const char* what;
    TViewRec bad;
  };
  TViewRec missing = Item("TPicView", "Pic2-", 1, 1, 5, 5);
  missing.PicFile = "Pic2-.Bmp";
  TViewRec escaping = missing;
  escaping.PicFile = "../secret/x.Bmp";
  TViewRec backslash = missing;
  backslash.PicFile = "..\\secret\\x.Bmp";
  TViewRec far = Item("TCodeView", "Cod2-", 1, 1e300, 5, 5);
  TViewRec farLine = Item("TLineImage", "", 1, 1, 1e12, 5);
  for (const Case& c : {Case{"a picture file that is missing", missing},
                        Case{"a picture file outside the folder", escaping},
                        Case{"a picture file with backslashes", backslash},
                        Case{"a view beyond any page", far},
                        Case{"a line beyond any page", farLine}}) {
    SCOPED_TRACE(c.what);
    TLabelRec rec = page_->LabelRec;
    rec.ViewRec = {Item("TCodeView", "Cod1-", 1, 1, 10, 5), c.bad,
                   Item("TTextView", "Txt3-", 10, 1, 20, 15)};
    rec.ControlCount = 3;
    auto* loaded = new TMyPage(host_.get());
    EXPECT_ANY_THROW(loaded->LoadViews(rec));
    ASSERT_GE(loaded->Views().size(), 1u);
    EXPECT_EQ(loaded->Views()[0]->ViewName, "Cod1-");
    EXPECT_LE(loaded->Views().size(), 2u) << "the records after the error are not loaded";
    for (TViewBas* v : loaded->Views()) {
      if (auto* p = dynamic_cast<TPicView*>(v)) {
        EXPECT_TRUE(p->PicBmp.isNull());
      }
    }
    delete loaded;
  }
}

}  // namespace
}  // namespace tagwright::testing
