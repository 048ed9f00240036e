#include "tagwright/page_set.h"

#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <string>
#include <vector>

#include "dialog_fixture.h"

namespace tagwright::testing {
namespace {

using PageSetTest = DialogTest;

TLabelRec Page(std::int32_t width, std::int32_t count, std::int32_t lw, std::int32_t lh,
               std::int32_t gap, std::int32_t blank, std::int32_t shape = 1) {
  TLabelRec r;
  r.PageWidth = width;
  r.LCount = count;
  r.LWidthmm = lw;
  r.LHeightmm = lh;
  r.PageGap = gap;
  r.LRSpace = blank;
  r.LShape = shape;
  r.Direction = "F";
  r.PDotMM = 12;
  return r;
}

bool Black(const QImage& img, int x, int y) { return img.pixel(x, y) == qRgb(0, 0, 0); }
bool White(const QImage& img, int x, int y) { return img.pixel(x, y) == qRgb(255, 255, 255); }

void Click(TUpDown* u, bool up, int times = 1) {
  for (int i = 0; i < times; ++i) (up ? u->UpButton() : u->DownButton())->click();
}

TEST(PagePreview, LabelsOfTwoRowsRoundedHalfToEven) {
  struct Case {
    const char* what;
    TLabelRec rec;
    std::int64_t height;
    std::vector<PreviewCell> cells;
  };
  const Case cases[] = {
      {"design values", Page(110, 3, 32, 25, 3, 1), 234,
       {{4, 0, 144, 109}, {153, 0, 293, 109}, {302, 0, 442, 109},
        {4, 122, 144, 231}, {153, 122, 293, 231}, {302, 122, 442, 231}}},
      {"two per row, no blank", Page(100, 2, 40, 30, 2, 0), 300,
       {{0, 0, 192, 144}, {192, 0, 385, 144}, {0, 154, 192, 298}, {192, 154, 385, 298}}},
      // 481 / 26 = 18.5 exactly: 18.5, 203.5 and 390.5 go to the even neighbour.
      {"halves", Page(26, 1, 10, 10, 1, 1), 390, {{18, 0, 204, 185}, {18, 204, 204, 389}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto l = LayOutPreview(c.rec, 481);
    ASSERT_TRUE(l.has_value());
    EXPECT_DOUBLE_EQ(l->Scale, 481.0 / c.rec.PageWidth);
    EXPECT_EQ(l->ImageHeight, c.height);
    EXPECT_EQ(l->Cells, c.cells);
  }
  EXPECT_FALSE(LayOutPreview(Page(0, 3, 32, 25, 3, 1), 481).has_value());
  EXPECT_FALSE(LayOutPreview(Page(-5, 3, 32, 25, 3, 1), 481).has_value());
}

TEST_F(PageSetTest, WindowAndDesignValues) {
  TFmPageSet dlg(nullptr);
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("纸张设置"));
  EXPECT_EQ(dlg.size(), QSize(690, 398));
  EXPECT_EQ(dlg.font().family(), QStringLiteral("宋体"));
  EXPECT_EQ(dlg.font().pixelSize(), 13);
  EXPECT_EQ(dlg.Panel2->width(), 185);
  EXPECT_EQ(dlg.Panel2->geometry().right(), 689);
  EXPECT_EQ(dlg.ImgPage->size(), QSize(481, 394));
  EXPECT_EQ(dlg.ScPage->widget(), dlg.ImgPage);
  EXPECT_TRUE(dlg.ImgPage->Picture().isNull()) << "a new page opens with an empty preview";
  EXPECT_EQ(dlg.CbShape->text(), QStringLiteral("园  角"));
  EXPECT_EQ(dlg.CbDirection->text(), QStringLiteral("倒像输出"));
  EXPECT_EQ(dlg.Button1->text(), QStringLiteral("确认"));
  EXPECT_EQ(dlg.Button2->text(), QStringLiteral("取消"));
  EXPECT_FALSE(dlg.Button1->isDefault() || dlg.Button1->autoDefault());
  EXPECT_FALSE(dlg.Button2->isDefault() || dlg.Button2->autoDefault());
  EXPECT_FALSE(dlg.OK);
  EXPECT_EQ(dlg.Rec.PDotMM, 12);

  // Each value's label, edit and up-down, found by name, in tab order.
  struct Row {
    const char* label;
    const char* caption;
    const char* edit;
    const char* updown;
    int min, max, position;
  };
  const Row rows[] = {
      {"Label4", "标签纸宽mm", "Edit1", "UdPage", 26, 110, 110},
      {"Label3", "每行标签", "ELCount", "UdLCount", 1, 3, 3},
      {"Label1", "标签宽mm", "EWidth", "UdWidth", 10, 100, 32},
      {"Label2", "标签高mm", "EHeight", "UdHeight", 10, 100, 25},
      {"Label5", "纵向间隔mm", "EGAP", "UdGap", 0, 4, 3},
      {"Label6", "左右空mm", "Edit2", "UdLRSpace", 0, 4, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.updown);
    auto* label = dlg.findChild<QLabel*>(r.label);
    auto* edit = dlg.findChild<QLineEdit*>(r.edit);
    auto* ud = dlg.findChild<TUpDown*>(r.updown);
    ASSERT_TRUE(label && edit && ud);
    EXPECT_EQ(label->text(), QString::fromUtf8(r.caption));
    EXPECT_EQ(ud->Associate(), edit);
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(ud->Min(), r.min);
    EXPECT_EQ(ud->Max(), r.max);
    EXPECT_EQ(ud->Position(), r.position);
    EXPECT_EQ(edit->text(), QString::number(r.position));
  }
  EXPECT_EQ(TabOrder(&dlg),
            (std::vector<std::string>{"Edit1", "ELCount", "EWidth", "EHeight", "EGAP", "Edit2",
                                      "CbShape", "CbDirection", "Button1", "Button2"}));
}

TEST_F(PageSetTest, ConfirmingANewPageUntouched) {
  TFmPageSet dlg(nullptr);
  EXPECT_FALSE(RunModal(dlg, [&] { dlg.Button1->click(); }));
  EXPECT_TRUE(dlg.OK);
  TLabelRec want = Page(110, 3, 32, 25, 3, 1, 1);
  want.Direction = "F";
  want.PDotMM = 12;
  EXPECT_EQ(dlg.Rec, want);

  // The confirmation drew the design page: square labels, the frame round the bitmap.
  const QImage& img = dlg.ImgPage->Picture();
  ASSERT_EQ(img.size(), QSize(481, 394));
  EXPECT_EQ(dlg.ImgPage->height(), 234);
  EXPECT_TRUE(Black(img, 0, 300) && Black(img, 480, 300) && Black(img, 200, 393));
  EXPECT_TRUE(Black(img, 4, 50) && Black(img, 143, 50)) << "left and right edge of a label";
  EXPECT_TRUE(White(img, 5, 50) && White(img, 144, 50) && White(img, 148, 50));
  EXPECT_TRUE(Black(img, 4, 122) && Black(img, 60, 122) && Black(img, 60, 230));
  EXPECT_TRUE(White(img, 60, 231) && White(img, 60, 121)) << "the gap between the rows";
  EXPECT_TRUE(Black(img, 302, 122) && Black(img, 441, 230)) << "square corners";
  ExpectNoBox();
}

TEST_F(PageSetTest, CancelPathsLeaveOkFalse) {
  struct Way {
    const char* what;
    std::function<void(TFmPageSet&)> act;
    bool closes;
  };
  const Way ways[] = {
      {"Button2", [](TFmPageSet& d) { d.Button2->click(); }, true},
      {"close box", [](TFmPageSet& d) { d.close(); }, true},
      {"Esc: no cancel button", [](TFmPageSet& d) { QTest::keyClick(d.Button1, Qt::Key_Escape); },
       false},
      {"Enter on an edit: no default button",
       [](TFmPageSet& d) { QTest::keyClick(d.EWidth, Qt::Key_Return); }, false},
  };
  for (const Way& w : ways) {
    SCOPED_TRACE(w.what);
    TFmPageSet dlg(nullptr);
    EXPECT_EQ(RunModal(dlg, [&] { w.act(dlg); }), !w.closes);
    EXPECT_FALSE(dlg.OK);
  }
  // Enter on the focused confirm button clicks it.
  TFmPageSet dlg(nullptr);
  RunModal(dlg, [&] {
    dlg.Button1->setFocus();
    QTest::keyClick(&dlg, Qt::Key_Return);
  });
  EXPECT_TRUE(dlg.OK);
}

TEST_F(PageSetTest, UpDownsStepByOneWithinTheirRanges) {
  struct Range {
    const char* updown;
    int min, max;
  };
  const Range ranges[] = {{"UdPage", 26, 110}, {"UdLCount", 1, 3}, {"UdWidth", 10, 100},
                          {"UdHeight", 10, 100}, {"UdGap", 0, 4}, {"UdLRSpace", 0, 4}};
  for (const Range& r : ranges) {
    SCOPED_TRACE(r.updown);
    TFmPageSet dlg(nullptr);
    auto* ud = dlg.findChild<TUpDown*>(r.updown);
    ASSERT_TRUE(ud);
    Click(ud, false, 200);
    EXPECT_EQ(ud->Position(), r.min);
    Click(ud, true);
    EXPECT_EQ(ud->Position(), r.min + 1);
    EXPECT_EQ(ud->Associate()->text(), QString::number(r.min + 1));
    Click(ud, true, 200);
    EXPECT_EQ(ud->Position(), r.max) << "no wrap";
    Click(ud, false);
    EXPECT_EQ(ud->Position(), r.max - 1);
  }
}

TEST_F(PageSetTest, LabelWidthMaximumFollowsRollAndCount) {
  struct Case {
    int roll, count, max;
  };
  const Case cases[] = {{26, 3, 8}, {29, 3, 9}, {30, 3, 10}, {100, 2, 50}, {110, 1, 110}, {55, 2, 27}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.roll << " / " << c.count);
    TFmPageSet dlg(nullptr);
    Click(dlg.UdPage, false, 110 - c.roll);
    Click(dlg.UdLCount, false, 3 - c.count);
    EXPECT_EQ(dlg.UdWidth->Max(), c.max);
    EXPECT_EQ(dlg.UdWidth->Min(), 10);
    EXPECT_EQ(dlg.UdWidth->Position(), 32) << "the current width is not lowered";
    EXPECT_TRUE(dlg.ImgPage->Picture().isNull()) << "no redraw";
    Click(dlg.UdWidth, true, 200);
    EXPECT_EQ(dlg.UdWidth->Position(), std::max(c.max, 10));
  }
  // Until the roll or the count is clicked, the design maximum holds whatever the record.
  TFmPageSet dlg(nullptr);
  dlg.LoadRec(Page(26, 3, 32, 25, 3, 1));
  EXPECT_EQ(dlg.UdWidth->Max(), 100);
  Click(dlg.UdWidth, true, 200);
  EXPECT_EQ(dlg.UdWidth->Position(), 100);
}

TEST_F(PageSetTest, RedrawnByTheirClicksOnly) {
  struct Case {
    const char* what;
    std::function<void(TFmPageSet&)> act;
    bool redraws;
  };
  const Case cases[] = {
      {"UdWidth", [](TFmPageSet& d) { Click(d.UdWidth, false); }, true},
      {"UdHeight", [](TFmPageSet& d) { Click(d.UdHeight, true); }, true},
      {"UdGap", [](TFmPageSet& d) { Click(d.UdGap, false); }, true},
      {"UdLRSpace", [](TFmPageSet& d) { Click(d.UdLRSpace, true); }, true},
      {"UdPage", [](TFmPageSet& d) { Click(d.UdPage, false); }, false},
      {"UdLCount", [](TFmPageSet& d) { Click(d.UdLCount, false); }, false},
      {"CbShape", [](TFmPageSet& d) { d.CbShape->click(); }, true},
      {"CbDirection", [](TFmPageSet& d) { d.CbDirection->click(); },
       false},
      {"free area of Panel2",
       [](TFmPageSet& d) { QTest::mouseClick(d.Panel2, Qt::LeftButton, {}, QPoint(90, 385)); },
       true},
      {"a label on Panel2", [](TFmPageSet& d) { QTest::mouseClick(d.Label1, Qt::LeftButton); },
       false},
      {"Up key in an edit", [](TFmPageSet& d) { QTest::keyClick(d.EHeight, Qt::Key_Up); }, true},
      {"Down key in the roll edit", [](TFmPageSet& d) { QTest::keyClick(d.Edit1, Qt::Key_Down); },
       false},
      {"code setting the check box", [](TFmPageSet& d) { d.CbShape->setChecked(true); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TFmPageSet dlg(nullptr);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    c.act(dlg);
    EXPECT_EQ(!dlg.ImgPage->Picture().isNull(), c.redraws);
    if (c.redraws) {
      EXPECT_EQ(dlg.ImgPage->height(), LayOutPreview(dlg.Rec, 481)->ImageHeight);
    }
  }
}

TEST_F(PageSetTest, ArrowKeysInAnEditStepItsUpDown) {
  TFmPageSet dlg(nullptr);
  QTest::keyClick(dlg.EHeight, Qt::Key_Up);
  EXPECT_EQ(dlg.EHeight->text(), QStringLiteral("26"));
  QTest::keyClick(dlg.Edit1, Qt::Key_Down);
  EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("109"));
  EXPECT_EQ(dlg.UdWidth->Max(), 36) << "109 / 3, a click of the roll";
  // The edits are read-only and filter what is typed: nothing typed changes a value.
  QTest::keyClicks(dlg.EHeight, "7a.");
  EXPECT_EQ(dlg.EHeight->text(), QStringLiteral("26"));
}

TEST_F(PageSetTest, LoadRecShowsTheRecordAndComesBackWhole) {
  TLabelRec rec = Page(100, 2, 40, 30, 2, 0, 0);
  rec.Direction = "T";
  rec.PDotMM = 8;
  TViewRec item;
  item.ViewType = "TTextView";
  item.Name = "书名";
  item.Value = "题名";
  item.FontSize = 9;
  rec.ViewRec = {item, item};
  rec.ViewRec[1].ViewType = "TCodeView";
  rec.ControlCount = 2;

  TFmPageSet dlg(nullptr);
  dlg.LoadRec(rec);
  EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("100"));
  EXPECT_EQ(dlg.ELCount->text(), QStringLiteral("2"));
  EXPECT_EQ(dlg.EWidth->text(), QStringLiteral("40"));
  EXPECT_EQ(dlg.EHeight->text(), QStringLiteral("30"));
  EXPECT_EQ(dlg.EGAP->text(), QStringLiteral("2"));
  EXPECT_EQ(dlg.Edit2->text(), QStringLiteral("0"));
  EXPECT_TRUE(dlg.CbShape->isChecked());
  EXPECT_TRUE(dlg.CbDirection->isChecked());
  EXPECT_EQ(dlg.UdWidth->Max(), 100) << "LoadRec computes no maximum";

  // Ticking round corners counted as a click: the preview is there before the dialog shows.
  const QImage& img = dlg.ImgPage->Picture();
  ASSERT_FALSE(img.isNull());
  EXPECT_EQ(img.size(), QSize(481, 394));
  EXPECT_EQ(dlg.ImgPage->height(), 300);
  EXPECT_TRUE(White(img, 192, 154) && White(img, 384, 297)) << "rounded corners";
  EXPECT_TRUE(Black(img, 250, 154) && Black(img, 192, 220) && Black(img, 384, 220));

  EXPECT_FALSE(RunModal(dlg, [&] { dlg.Button1->click(); }));
  ASSERT_TRUE(dlg.OK);
  EXPECT_EQ(dlg.Rec, rec);
}

TEST_F(PageSetTest, SquareRecordOpensWithAnEmptyPreview) {
  TFmPageSet dlg(nullptr);
  dlg.LoadRec(Page(100, 2, 40, 30, 2, 0, 1));
  EXPECT_FALSE(dlg.CbShape->isChecked());
  EXPECT_TRUE(dlg.ImgPage->Picture().isNull());
  EXPECT_EQ(dlg.ImgPage->height(), 394);
}

TEST_F(PageSetTest, LoadedFlagsComeBackAsTheBoxesShowThem) {
  struct Case {
    std::string direction;
    std::int32_t shape;
    std::string wantDirection;
    std::int32_t wantShape;
  };
  const Case cases[] = {{"t", 0, "F", 0}, {"", 1, "F", 1}, {"T", 2, "T", 1},
                        {"TRUE", -1, "F", 1}, {"T", 0, "T", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.direction + " " + std::to_string(c.shape));
    TLabelRec rec = Page(80, 2, 35, 20, 2, 1, c.shape);
    rec.Direction = c.direction;
    TFmPageSet dlg(nullptr);
    dlg.LoadRec(rec);
    RunModal(dlg, [&] { dlg.Button1->click(); });
    ASSERT_TRUE(dlg.OK);
    EXPECT_EQ(dlg.Rec.Direction, c.wantDirection);
    EXPECT_EQ(dlg.Rec.LShape, c.wantShape);
  }
}

TEST_F(PageSetTest, MirrorFlagAloneRedrawsNothingButIsConfirmed) {
  TFmPageSet dlg(nullptr);
  dlg.LoadRec(Page(110, 3, 32, 25, 3, 1, 0));
  const QImage before = dlg.ImgPage->Picture().copy();
  const TLabelRec recBefore = dlg.Rec;
  RunModal(dlg, [&] {
    dlg.CbDirection->click();
    EXPECT_EQ(dlg.ImgPage->Picture(), before);
    EXPECT_EQ(dlg.Rec, recBefore);
    dlg.Button1->click();
  });
  EXPECT_EQ(dlg.Rec.Direction, "T");
}

TEST_F(PageSetTest, PreviewUsesHalfEvenRounding) {
  TFmPageSet dlg(nullptr);
  dlg.LoadRec(Page(26, 1, 10, 10, 1, 1));
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  QTest::mouseClick(dlg.Panel2, Qt::LeftButton, {}, QPoint(90, 385));
  EXPECT_EQ(dlg.ImgPage->height(), 390);
  const QImage& img = dlg.ImgPage->Picture();
  EXPECT_TRUE(White(img, 17, 100) && Black(img, 18, 100) && White(img, 19, 100));
  EXPECT_TRUE(Black(img, 203, 100) && White(img, 204, 100));
  EXPECT_TRUE(Black(img, 100, 204) && White(img, 100, 203));
}

TEST_F(PageSetTest, TallPreviewScrollsWhileTheBitmapKeepsItsSize) {
  TFmPageSet dlg(nullptr);
  dlg.LoadRec(Page(26, 1, 10, 100, 4, 1));
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  Click(dlg.UdHeight, true);  // already at its maximum: a click all the same
  EXPECT_EQ(dlg.ImgPage->height(), 3776);  // (100 * 18.5 + 1) * 2 + 4 * 18.5
  EXPECT_EQ(dlg.ImgPage->Picture().size(), QSize(481, 394));
  QCoreApplication::processEvents();
  EXPECT_GT(dlg.ScPage->verticalScrollBar()->maximum(), 3000);
}

TEST_F(PageSetTest, RecordsOutsideTheRangesDoNotBreakTheDialog) {
  struct Case {
    const char* what;
    TLabelRec rec;
  };
  const Case cases[] = {
      {"all zero", Page(0, 0, 0, 0, 0, 0, 0)},
      {"negative", Page(-30, -2, -5, -5, -1, -1, 0)},
      {"count beyond the bitmap", Page(26, 32000, 10, 10, 1, 1, 0)},
      {"huge sizes", Page(1, 3, 32767, 32767, 32767, 32767, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TFmPageSet dlg(nullptr);
    dlg.LoadRec(c.rec);
    RunModal(dlg, [&] {
      dlg.CbDirection->click();
      Click(dlg.UdLCount, false);
      dlg.Button1->click();
    });
    ASSERT_TRUE(dlg.OK);
    EXPECT_EQ(dlg.Rec.PageWidth, c.rec.PageWidth) << "kept as loaded while untouched";
    EXPECT_GE(dlg.Rec.LCount, 1) << "a click brings the count into its range";
    EXPECT_EQ(dlg.ImgPage->Picture().size(), QSize(481, 394));
  }
  // Positions are 16-bit, as the control holds them.
  TFmPageSet dlg(nullptr);
  dlg.LoadRec(Page(70000, 3, 32, 25, 3, 1));
  EXPECT_EQ(dlg.Edit1->text(), QStringLiteral("4464"));
}

}  // namespace
}  // namespace tagwright::testing
