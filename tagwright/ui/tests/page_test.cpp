#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <vector>

#include "tagwright/dialogs.h"
#include "tagwright/label_control.h"
#include "ui_fixture.h"

namespace tagwright::testing {
namespace {

TEST_F(PageTest, StartsEmpty) {
  EXPECT_EQ(page_->Scale, 0);
  EXPECT_TRUE(page_->Lines.empty());
  EXPECT_EQ(page_->CurLine, nullptr);
  EXPECT_EQ(page_->DownPoint, QPoint(0, 0));
  EXPECT_EQ(page_->LineMode, 0);
  EXPECT_FALSE(page_->DrawLine);
  EXPECT_EQ(page_->LabelRec, TLabelRec{});
  EXPECT_TRUE(page_->Views().empty());
}

struct FitCase {
  QSize parent;
  int widthMm, heightMm;
  QRect page;  // position in the parent and size
  double scale;
};

TEST_F(PageTest, FitsToTheParentWithAMarginOnTheDecidingSide) {
  const FitCase cases[] = {
      // Equal proportions take the height side.
      {{700, 500}, 70, 50, {70, 50, 560, 400}, 8.0},
      // Width Round(453.12) = 453, left Round(73.5) = 74.
      {{600, 454}, 32, 25, {74, 50, 453, 354}, 354.0 / 25},
      // The parent is relatively narrower: the width side; top Round(170.5) = 170.
      {{599, 454}, 110, 25, {50, 170, 499, 113}, 499.0 / 110},
      // A parent no larger than the margin still leaves a page of one pixel.
      {{80, 60}, 70, 50, {40, 30, 1, 1}, 1.0 / 70},
  };
  for (const FitCase& c : cases) {
    host_->resize(c.parent);
    FitPage(c.widthMm, c.heightMm);
    EXPECT_EQ(page_->geometry(), c.page) << c.parent.width() << "x" << c.parent.height();
    EXPECT_DOUBLE_EQ(page_->Scale, c.scale);
    EXPECT_EQ(page_->palette().color(QPalette::Window), QColor(Qt::white));
  }
}

TEST_F(PageTest, WithoutALabelSizeTheSizeAndScaleStay) {
  FitPage(70, 50);
  const QSize before = page_->size();
  FitPage(0, 50);
  EXPECT_EQ(page_->size(), before);
  EXPECT_EQ(page_->Scale, 8.0);
  FitPage(70, -3);
  EXPECT_EQ(page_->size(), before);
}

TEST_F(PageTest, PaintCentresThePageInItsParent) {
  FitPage(70, 50);
  host_->resize(900, 700);
  page_->repaint();
  EXPECT_EQ(page_->pos(), QPoint(170, 150));
  EXPECT_EQ(page_->size(), QSize(560, 400));
}

TEST_F(PageTest, RoundCornersAreTwentyPixelsAtEveryScale) {
  for (const QSize parent : {QSize(700, 500), QSize(600, 454), QSize(1300, 1000)}) {
    host_->resize(parent);
    FitPage(70, 50, 0);
    const QRegion mask = page_->mask();
    const int w = page_->width(), h = page_->height();
    for (const QPoint corner : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1),
                                QPoint(w - 1, h - 1), QPoint(2, 2), QPoint(w - 3, h - 3)}) {
      EXPECT_FALSE(mask.contains(corner)) << w << "x" << h << " " << corner.x() << ","
                                          << corner.y();
    }
    for (const QPoint inside : {QPoint(10, 0), QPoint(0, 10), QPoint(w - 11, h - 1),
                                QPoint(w - 1, 10), QPoint(w / 2, h / 2), QPoint(4, 4)}) {
      EXPECT_TRUE(mask.contains(inside)) << w << "x" << h << " " << inside.x() << ","
                                         << inside.y();
    }
    // The rounding ends 10 pixels in, whatever the page's size.
    EXPECT_TRUE(mask.contains(QPoint(0, 9)));
    EXPECT_TRUE(mask.contains(QPoint(7, 0)));
    EXPECT_FALSE(mask.contains(QPoint(6, 0)));
    EXPECT_EQ(mask.boundingRect(), QRect(0, 0, w, h));
  }
}

TEST_F(PageTest, SquareCornersCoverThePageWhole) {
  FitPage(70, 50, 1);
  const QRegion mask = page_->mask();
  EXPECT_TRUE(mask.contains(QPoint(0, 0)));
  EXPECT_TRUE(mask.contains(QPoint(559, 399)));
  EXPECT_TRUE(mask.contains(QRect(0, 0, 560, 400)));
}

// --- Page setup ------------------------------------------------------------------------

TEST_F(PageTest, PageSetupOfANewPageFitsItToTheConfirmedLabel) {
  bool shown = false;
  OnDialog<TFmPageSet>([&](TFmPageSet& d) {
    shown = true;
    EXPECT_EQ(d.parentWidget(), page_);
    d.Button1->click();
  });
  EXPECT_TRUE(page_->EditPageSetup('N'));
  EXPECT_TRUE(shown);
  // The dialog's design values: a label of 32 x 25 mm, 12 dots per millimetre.
  EXPECT_EQ(page_->LabelRec.LWidthmm, 32);
  EXPECT_EQ(page_->LabelRec.LHeightmm, 25);
  EXPECT_EQ(page_->LabelRec.PDotMM, 12);
  EXPECT_DOUBLE_EQ(page_->Scale, 16);
  EXPECT_EQ(page_->geometry(), QRect(94, 50, 512, 400));
}

class PageSetupTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    page_->LabelRec.PageWidth = 80;
    page_->LabelRec.LCount = 1;
    page_->LabelRec.PageGap = 2;
    page_->LabelRec.LRSpace = 1;
    page_->LabelRec.Direction = "F";
    FitPage(70, 50, 1);
  }
};

TEST_F(PageSetupTest, DoubleClickEditsTheCurrentSettingsAndACancelChangesNothing) {
  const TLabelRec before = page_->LabelRec;
  const QRect geometry = page_->geometry();
  bool shown = false;
  OnDialog<TFmPageSet>([&](TFmPageSet& d) {
    shown = true;
    EXPECT_EQ(d.Rec, before);
    d.UdHeight->SetPosition(40);
    d.Button2->click();
  });
  QTest::mouseDClick(page_, Qt::LeftButton, {}, {100, 100});
  QTest::mouseRelease(page_, Qt::LeftButton, {}, {100, 100});
  EXPECT_TRUE(shown);
  EXPECT_EQ(page_->LabelRec, before);
  EXPECT_EQ(page_->geometry(), geometry);
  EXPECT_TRUE(page_->Lines.empty());
}

TEST_F(PageSetupTest, ANewLabelSizeRefitsThePageAndViewsKeepTheirPixels) {
  Drop("ImgCode", {100, 80});
  page_->DrawLine = true;
  QTest::mousePress(page_, Qt::LeftButton, {}, {40, 300});
  QTest::mouseMove(page_, {200, 300});
  QTest::mouseRelease(page_, Qt::LeftButton, {}, {200, 300});
  page_->DrawLine = false;
  OnDialog<TFmPageSet>([&](TFmPageSet& d) {
    d.UdHeight->SetPosition(25);
    d.CbShape->click();
    d.Button1->click();
  });
  EXPECT_TRUE(page_->EditPageSetup('O'));
  EXPECT_EQ(page_->LabelRec.LWidthmm, 70);
  EXPECT_EQ(page_->LabelRec.LHeightmm, 25);
  EXPECT_EQ(page_->LabelRec.LShape, 0);
  EXPECT_EQ(page_->LabelRec.PDotMM, 12);
  // 700 x 500 against 70 x 25 mm: the width decides, height Round(214.28...) = 214.
  EXPECT_EQ(page_->geometry(), QRect(50, 143, 600, 214));
  EXPECT_DOUBLE_EQ(page_->Scale, 600.0 / 70);
  EXPECT_FALSE(page_->mask().contains(QPoint(0, 0)));
  EXPECT_EQ(page_->Views()[0]->geometry(), QRect(80, 60, 200, 150));
  EXPECT_EQ(page_->Lines[0]->Points[1], QPoint(200, 300));
}

// --- Drops -----------------------------------------------------------------------------

struct DropCase {
  const char* source;
  const char* name;
  QRect geometry;  // for a drop at (100, 80)
  bool focused;
};

TEST_F(PageTest, DropPlacesTheViewByPaletteItemAndOnlyTextTakesTheFocus) {
  FitPage();
  AnswerPictureDialog(MakePicture("p.jpg", 40, 30, "JPEG").string());
  const DropCase cases[] = {
      {"ImgCode", "Cod1-", {80, 60, 200, 150}, false},
      {"ImgText", "Txt1-", {90, 70, 0, 0}, true},
      {"ImgPic", "Pic1-", {90, 70, 100, 100}, false},
  };
  for (const DropCase& c : cases) {
    SCOPED_TRACE(c.source);
    page_->setFocus();
    Drop(c.source, {100, 80});
    const std::vector<TViewBas*> views = page_->Views();
    ASSERT_EQ(views.size(), 1u);
    TViewBas* view = views[0];
    EXPECT_EQ(view->ViewNo, 1);
    EXPECT_EQ(view->ViewName, c.name);
    EXPECT_EQ(view->pos(), c.geometry.topLeft());
    if (!c.geometry.size().isEmpty()) {
      EXPECT_EQ(view->size(), c.geometry.size());
    }
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view->hasFocus(), c.focused);
    EXPECT_EQ(view->Sizable, std::string(c.source) != "ImgText");
    delete view;
  }
}

TEST_F(PageTest, DropFromAnyOtherControlCreatesNothing) {
  FitPage();
  for (const char* source : {"Panel1", "imgcode", "ImgCode ", "ImgPicture", ""}) {
    Drop(source, {100, 80});
  }
  // A drag that carries no palette item at all.
  QMimeData text;
  text.setText(QStringLiteral("ImgCode"));
  DropData(text, {50, 50});
  EXPECT_TRUE(page_->Views().empty());
}

TEST_F(PageTest, DragOverIsAcceptedFromEverySource) {
  QMimeData other;
  other.setText(QStringLiteral("anything"));
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &other, Qt::LeftButton, Qt::NoModifier);
  enter.setAccepted(false);
  QApplication::sendEvent(page_, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDragMoveEvent move(QPoint(12, 10), Qt::CopyAction, &other, Qt::LeftButton, Qt::NoModifier);
  move.setAccepted(false);
  QApplication::sendEvent(page_, &move);
  EXPECT_TRUE(move.isAccepted());
}

TEST_F(PageTest, BarcodeDropWithoutItsSamplePicturePlacesNothingAndReportsTheError) {
  FitPage();
  fs::remove(prog_ / "code.jpg");
  std::vector<platform::ui::Box> boxes;
  platform::ui::SetMessageBoxInterceptor([&](const platform::ui::Box& b) {
    boxes.push_back(b);
    return platform::ui::Answer::Ok;
  });
  Drop("ImgCode", {100, 80});
  EXPECT_TRUE(page_->Views().empty());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "错误");
  EXPECT_EQ(boxes[0].icon, platform::ui::Icon::Error);
  EXPECT_NE(boxes[0].text.find("code.jpg"), std::string::npos) << boxes[0].text;

  // Not a JPEG either.
  Put(prog_ / "code.jpg", "not a picture");
  Drop("ImgCode", {100, 80});
  EXPECT_TRUE(page_->Views().empty());
  EXPECT_EQ(boxes.size(), 2u);
}

// --- Numbering -------------------------------------------------------------------------

struct NumberCase {
  int dropped;                // text views dropped first: Txt1-, Txt2-, ...
  std::vector<int> deleted;   // their numbers, removed with the Delete key
  const char* next;           // name of the view dropped then
};

TEST_F(PageTest, NewViewTakesTheFirstPositionThatDoesNotCarryItsNumber) {
  FitPage();
  const NumberCase cases[] = {
      {0, {}, "Cod1-"},
      {2, {}, "Cod3-"},
      {3, {2}, "Cod2-"},
      {3, {1}, "Cod1-"},
      {3, {3}, "Cod3-"},
      {4, {1, 2}, "Cod1-"},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.next);
    for (TViewBas* v : page_->Views()) delete v;
    for (int i = 0; i < c.dropped; ++i) Drop("ImgText", {50 + 20 * i, 50});
    for (int no : c.deleted) {
      for (TViewBas* v : page_->Views()) {
        if (v->ViewNo == no) {
          v->setFocus();
          QTest::keyClick(v, Qt::Key_Delete);
          // Gone from the page at once, destroyed after the key event.
          for (TViewBas* w : page_->Views()) EXPECT_NE(w, v);
          RunDeferredDeletes();
          break;
        }
      }
    }
    ASSERT_EQ(page_->Views().size(), static_cast<size_t>(c.dropped) - c.deleted.size());
    Drop("ImgCode", {300, 200});
    EXPECT_EQ(page_->Views().back()->ViewName, c.next);
  }
}

TEST_F(PageTest, CancelledOrUnreadablePictureDropUsesNoNumber) {
  FitPage();
  Drop("ImgText", {50, 50});
  Drop("ImgText", {80, 50});
  AnswerPictureDialog(std::nullopt);
  Drop("ImgPic", {100, 100});
  EXPECT_EQ(page_->Views().size(), 2u);

  Put(root_ / "broken.jpg", "not a jpeg");
  AnswerPictureDialog((root_ / "broken.jpg").string());
  Drop("ImgPic", {100, 100});
  EXPECT_EQ(page_->Views().size(), 2u);

  AnswerPictureDialog(MakePicture("ok.bmp", 10, 10, "BMP").string());
  Drop("ImgPic", {100, 100});
  ASSERT_EQ(page_->Views().size(), 3u);
  EXPECT_EQ(page_->Views()[2]->ViewName, "Pic3-");
  EXPECT_EQ(page_->Views()[2]->ViewNo, 3);
}

TEST_F(PageTest, ViewsKeepTheOrderInWhichTheyWerePlaced) {
  FitPage();
  AnswerPictureDialog(MakePicture("p.jpg", 10, 10, "JPEG").string());
  Drop("ImgPic", {300, 300});
  Drop("ImgCode", {10, 10});
  Drop("ImgText", {200, 100});
  // Pressing and moving a view does not change its place in the order.
  TViewBas* code = page_->Views()[1];
  QTest::mousePress(code, Qt::LeftButton, {}, {100, 70});
  QTest::mouseRelease(code, Qt::LeftButton, {}, {100, 70});
  std::vector<std::string> names;
  for (TViewBas* v : page_->Views()) names.push_back(v->ViewName);
  EXPECT_EQ(names, (std::vector<std::string>{"Pic1-", "Cod2-", "Txt3-"}));
}

// --- Line gestures ---------------------------------------------------------------------

class LineGestureTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    FitPage();
  }

  // Draws a line with the mouse in line-drawing mode.
  TLineImage* DrawWithMouse(QPoint from, QPoint to) {
    page_->DrawLine = true;
    QTest::mousePress(page_, Qt::LeftButton, {}, from);
    QTest::mouseMove(page_, (from + to) / 2);
    QTest::mouseMove(page_, to);
    QTest::mouseRelease(page_, Qt::LeftButton, {}, to);
    page_->DrawLine = false;
    return page_->Lines.back().get();
  }

  static std::pair<QPoint, QPoint> Ends(const TLineImage* line) {
    return {line->Points[0], line->Points[1]};
  }

  QRgb PixelAt(QPoint p) const { return page_->grab().toImage().pixel(p); }
};

TEST_F(LineGestureTest, DrawingRunsFromThePressToTheMouse) {
  page_->DrawLine = true;
  QTest::mousePress(page_, Qt::LeftButton, {}, {100, 100});
  EXPECT_EQ(page_->LineMode, 1);
  ASSERT_EQ(page_->Lines.size(), 1u);
  EXPECT_EQ(page_->CurLine, page_->Lines[0].get());
  QTest::mouseMove(page_, {150, 120});
  EXPECT_EQ(Ends(page_->CurLine), std::make_pair(QPoint(100, 100), QPoint(150, 120)));
  QTest::mouseMove(page_, {300, 110});
  QTest::mouseRelease(page_, Qt::LeftButton, {}, {300, 110});
  EXPECT_EQ(page_->LineMode, 0);
  EXPECT_EQ(Ends(page_->Lines[0].get()), std::make_pair(QPoint(100, 100), QPoint(300, 110)));
  EXPECT_EQ(page_->CurLine, page_->Lines[0].get());
  EXPECT_TRUE(page_->hasFocus());
  // The current line is red, on the white page.
  EXPECT_EQ(PixelAt({200, 105}), qRgb(255, 0, 0));
  EXPECT_EQ(PixelAt({200, 130}), qRgb(255, 255, 255));
}

TEST_F(LineGestureTest, AClickInDrawingModeLeavesALineAtTheOrigin) {
  page_->DrawLine = true;
  QTest::mouseClick(page_, Qt::LeftButton, {}, {100, 100});
  ASSERT_EQ(page_->Lines.size(), 1u);
  EXPECT_EQ(Ends(page_->Lines[0].get()), std::make_pair(QPoint(0, 0), QPoint(0, 0)));
  // Any button starts a line; a move with only the right button held draws nothing.
  QTest::mousePress(page_, Qt::RightButton, {}, {50, 50});
  QTest::mouseMove(page_, {80, 80});
  QTest::mouseRelease(page_, Qt::RightButton, {}, {80, 80});
  ASSERT_EQ(page_->Lines.size(), 2u);
  EXPECT_EQ(Ends(page_->Lines[1].get()), std::make_pair(QPoint(0, 0), QPoint(0, 0)));
}

TEST_F(LineGestureTest, PickingMakesTheHitLineCurrentAndAMissClearsIt) {
  TLineImage* a = DrawWithMouse({50, 50}, {250, 50});
  TLineImage* b = DrawWithMouse({50, 150}, {250, 150});
  EXPECT_EQ(page_->CurLine, b);

  QTest::mouseClick(page_, Qt::LeftButton, {}, {150, 52});
  EXPECT_EQ(page_->CurLine, a);
  EXPECT_EQ(PixelAt({150, 50}), qRgb(255, 0, 0));
  EXPECT_EQ(PixelAt({150, 150}), qRgb(0, 0, 0));

  QTest::mouseClick(page_, Qt::LeftButton, {}, {150, 100});
  EXPECT_EQ(page_->CurLine, nullptr);
  EXPECT_EQ(page_->LineMode, 0);
  EXPECT_EQ(PixelAt({150, 50}), qRgb(0, 0, 0));
}

TEST_F(LineGestureTest, MovingByStepsMovesByTheirSum) {
  TLineImage* line = DrawWithMouse({100, 100}, {300, 120});
  QTest::mouseClick(page_, Qt::LeftButton, {}, {10, 10});
  ASSERT_EQ(page_->CurLine, nullptr);

  QTest::mousePress(page_, Qt::LeftButton, {}, {200, 111});
  EXPECT_EQ(page_->CurLine, line);
  EXPECT_EQ(page_->LineMode, 2);
  QTest::mouseMove(page_, {205, 114});
  QTest::mouseMove(page_, {207, 113});
  QTest::mouseMove(page_, {197, 117});
  EXPECT_EQ(page_->DownPoint, QPoint(197, 117));
  QTest::mouseRelease(page_, Qt::LeftButton, {}, {197, 117});
  EXPECT_EQ(Ends(line), std::make_pair(QPoint(97, 106), QPoint(297, 126)));
  EXPECT_EQ(page_->LineMode, 0);
  EXPECT_EQ(page_->CurLine, line);
  // A move after the release does nothing.
  QTest::mouseMove(page_, {250, 250});
  EXPECT_EQ(Ends(line), std::make_pair(QPoint(97, 106), QPoint(297, 126)));
}

TEST_F(LineGestureTest, StretchingMovesOnlyTheGrabbedEnd) {
  struct {
    QPoint grab, to;
    std::pair<QPoint, QPoint> ends;  // afterwards; the grabbed end is point 1
  } cases[] = {
      {{102, 101}, {60, 200}, {QPoint(300, 100), QPoint(60, 200)}},  // point 0's end
      {{298, 98}, {400, 40}, {QPoint(100, 100), QPoint(400, 40)}},   // point 1's end
  };
  for (const auto& c : cases) {
    page_->Lines.clear();
    page_->CurLine = nullptr;
    TLineImage* line = DrawWithMouse({100, 100}, {300, 100});
    QTest::mousePress(page_, Qt::LeftButton, {}, c.grab);
    EXPECT_EQ(page_->LineMode, 5);
    QTest::mouseMove(page_, (c.grab + c.to) / 2);
    QTest::mouseMove(page_, c.to);
    QTest::mouseRelease(page_, Qt::LeftButton, {}, c.to);
    EXPECT_EQ(Ends(line), c.ends);
  }
}

TEST_F(LineGestureTest, DeleteRemovesTheCurrentLineOnly) {
  TLineImage* a = DrawWithMouse({50, 50}, {250, 50});
  DrawWithMouse({50, 150}, {250, 150});
  QTest::mouseClick(page_, Qt::LeftButton, {}, {150, 150});
  QTest::keyClick(page_, Qt::Key_Delete);
  ASSERT_EQ(page_->Lines.size(), 1u);
  EXPECT_EQ(page_->Lines[0].get(), a);
  EXPECT_EQ(page_->CurLine, nullptr);
  EXPECT_EQ(page_->LineMode, 0);
  EXPECT_EQ(PixelAt({150, 150}), qRgb(255, 255, 255));

  // No current line, or another key: nothing happens.
  QTest::keyClick(page_, Qt::Key_Delete);
  QTest::mouseClick(page_, Qt::LeftButton, {}, {150, 50});
  QTest::keyClick(page_, Qt::Key_Backspace);
  QTest::keyClick(page_, Qt::Key_D);
  EXPECT_EQ(page_->Lines.size(), 1u);
  EXPECT_EQ(page_->CurLine, a);
}

TEST_F(LineGestureTest, DeleteWhileAViewHasTheFocusLeavesTheLines) {
  DrawWithMouse({50, 50}, {250, 50});
  ASSERT_NE(page_->CurLine, nullptr);
  Drop("ImgText", {300, 300});
  TViewBas* view = page_->Views()[0];
  ASSERT_TRUE(view->hasFocus());
  // To whatever has the focus, as the keyboard sends it.
  QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Delete);
  RunDeferredDeletes();
  EXPECT_TRUE(page_->Views().empty());
  EXPECT_EQ(page_->Lines.size(), 1u);
  EXPECT_NE(page_->CurLine, nullptr);
}

}  // namespace
}  // namespace tagwright::testing
