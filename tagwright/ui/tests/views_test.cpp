#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <vector>

#include "platform/text.h"
#include "tagwright/dialogs.h"
#include "tagwright/label_control.h"
#include "tagwright/printer_caps.h"
#include "ui_fixture.h"

namespace tagwright::testing {
namespace {

using Drag = TViewBas::Drag;

// The size a text takes on the page, measured with the font that "Arial" stands for.
QSize ExpectedTextSize(const QString& text, int fontSize, int dpi, double pdotmm,
                       double scaleX, double scaleY) {
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(static_cast<int>(platform::text::RoundHalfEven(fontSize * dpi / 72.0)));
  const QFontMetrics m(font);
  return QSize(
      static_cast<int>(platform::text::RoundHalfEven(m.horizontalAdvance(text) / pdotmm * scaleX)),
      static_cast<int>(platform::text::RoundHalfEven(m.height() / pdotmm * scaleY)));
}

class ViewTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    FitPage();
  }

  // A barcode view of 200 x 150 at (80, 60) on the page.
  TCodeView* CodeView() {
    Drop("ImgCode", {100, 80});
    return dynamic_cast<TCodeView*>(page_->Views().back());
  }
  TTextView* TextView() {
    Drop("ImgText", {100, 80});
    return dynamic_cast<TTextView*>(page_->Views().back());
  }

  // Mouse events on a view at a point of the page, as the mouse sends them: the view
  // under the mouse gets them in its own coordinates, which change as it moves.
  void Press(TViewBas* v, QPoint onPage, Qt::MouseButton b = Qt::LeftButton) {
    QTest::mousePress(v, b, {}, v->mapFrom(page_, onPage));
  }
  void MoveHeld(TViewBas* v, QPoint onPage) { QTest::mouseMove(v, v->mapFrom(page_, onPage)); }
  void Release(TViewBas* v, QPoint onPage, Qt::MouseButton b = Qt::LeftButton) {
    QTest::mouseRelease(v, b, {}, v->mapFrom(page_, onPage));
  }
  // A move without a button held.
  static void Hover(QWidget* w, QPoint local) {
    QMouseEvent e(QEvent::MouseMove, QPointF(local), QPointF(w->mapToGlobal(local)),
                  Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
  }

  // The operations that a press at a view point starts, one after the other, when each
  // ends without the mouse moving.
  std::vector<Drag> OperationsOfAPressAt(TViewBas* v, QPoint local) {
    std::vector<Drag> ops;
    QTest::mousePress(v, Qt::LeftButton, {}, local);
    while (v->CurrentDrag() != Drag::None && ops.size() < 6) {
      ops.push_back(v->CurrentDrag());
      // The release ends the operation; one that follows runs until the next click.
      QTest::mouseRelease(v, Qt::LeftButton, {}, local);
      if (v->CurrentDrag() != Drag::None) QTest::mousePress(v, Qt::LeftButton, {}, local);
    }
    if (ops.empty()) QTest::mouseRelease(v, Qt::LeftButton, {}, local);
    return ops;
  }
};

struct ZoneCase {
  QPoint at;
  std::vector<Drag> ops;
};

// W = 200, H = 150: the top and left strips are 0..5, the bottom and right ones H - 5..H
// and W - 5..W.
TEST_F(ViewTest, EdgeStripsSizeInTheirOrderAndTheInsideMoves) {
  TCodeView* v = CodeView();
  const QRect start = v->geometry();
  const ZoneCase cases[] = {
      {{100, 0}, {Drag::Top}},
      {{100, 5}, {Drag::Top}},
      {{100, 6}, {Drag::Move}},
      {{100, 144}, {Drag::Move}},
      {{100, 145}, {Drag::Bottom}},
      {{100, 150}, {Drag::Bottom}},
      {{0, 75}, {Drag::Left}},
      {{5, 75}, {Drag::Left}},
      {{6, 75}, {Drag::Move}},
      {{194, 75}, {Drag::Move}},
      {{195, 75}, {Drag::Right}},
      {{200, 75}, {Drag::Right}},
      // Corners: the horizontal edge first, then the vertical one; no move follows.
      {{2, 2}, {Drag::Top, Drag::Left}},
      {{197, 147}, {Drag::Bottom, Drag::Right}},
      {{2, 147}, {Drag::Bottom, Drag::Left}},
  };
  for (const ZoneCase& c : cases) {
    EXPECT_EQ(OperationsOfAPressAt(v, c.at), c.ops) << c.at.x() << "," << c.at.y();
    EXPECT_EQ(v->geometry(), start);
  }
}

TEST_F(ViewTest, AViewOfElevenPixelsHasNoMoveZone) {
  TCodeView* v = CodeView();
  v->resize(200, 11);
  for (int y = 0; y <= 11; ++y) {
    const std::vector<Drag> ops = OperationsOfAPressAt(v, {100, y});
    ASSERT_EQ(ops.size(), 1u) << y;
    EXPECT_EQ(ops[0], y <= 5 ? Drag::Top : Drag::Bottom) << y;
  }
  v->resize(11, 150);
  for (int x = 0; x <= 11; ++x) {
    const std::vector<Drag> ops = OperationsOfAPressAt(v, {x, 75});
    ASSERT_EQ(ops.size(), 1u) << x;
    EXPECT_EQ(ops[0], x <= 5 ? Drag::Left : Drag::Right) << x;
  }
  v->resize(200, 12);
  EXPECT_EQ(OperationsOfAPressAt(v, {100, 6}), std::vector<Drag>{Drag::Move});
}

TEST_F(ViewTest, ATextViewIsNotSizableButMoves) {
  TTextView* v = TextView();
  v->repaint();
  EXPECT_FALSE(v->Sizable);
  EXPECT_TRUE(OperationsOfAPressAt(v, {2, 2}).empty());
  EXPECT_TRUE(OperationsOfAPressAt(v, {v->width() - 1, v->height() / 2}).empty());
  EXPECT_TRUE(v->hasFocus());
  EXPECT_EQ(OperationsOfAPressAt(v, {v->width() / 2, v->height() / 2}),
            std::vector<Drag>{Drag::Move});
}

TEST_F(ViewTest, MovingFollowsTheMouseBySteps) {
  TCodeView* v = CodeView();
  Press(v, {180, 135});
  EXPECT_EQ(v->CurrentDrag(), Drag::Move);
  MoveHeld(v, {190, 140});
  MoveHeld(v, {200, 150});
  MoveHeld(v, {185, 160});
  Release(v, {185, 160});
  EXPECT_EQ(v->CurrentDrag(), Drag::None);
  EXPECT_EQ(v->geometry(), QRect(85, 85, 200, 150));
}

TEST_F(ViewTest, DraggingAnEdgeKeepsTheOppositeOne) {
  struct {
    QPoint press, to;  // page points
    QRect after;
  } cases[] = {
      {{180, 62}, {180, 40}, {80, 38, 200, 172}},    // top
      {{180, 207}, {180, 250}, {80, 60, 200, 193}},  // bottom
      {{82, 100}, {120, 100}, {118, 60, 162, 150}},  // left
      {{278, 100}, {300, 100}, {80, 60, 222, 150}},  // right
      {{180, 62}, {180, 400}, {80, 209, 200, 1}},    // top past the bottom: one pixel
  };
  // A press that sized an edge is never followed by a move, even when the sizing made
  // the press point an inside one (the bottom case).
  for (const auto& c : cases) {
    TCodeView* v = CodeView();
    Press(v, c.press);
    MoveHeld(v, (c.press + c.to) / 2);
    MoveHeld(v, c.to);
    Release(v, c.to);
    EXPECT_EQ(v->geometry(), c.after) << c.press.x() << "," << c.press.y();
    EXPECT_EQ(v->CurrentDrag(), Drag::None);
    delete v;
  }
}

// At a corner the top edge follows the mouse until the button is released; the left
// edge then follows the mouse without a button until the next click.
TEST_F(ViewTest, ACornerSizesOneEdgeAfterTheOther) {
  TCodeView* v = CodeView();
  Press(v, {82, 62});
  ASSERT_EQ(v->CurrentDrag(), Drag::Top);
  MoveHeld(v, {82, 52});
  EXPECT_EQ(v->geometry(), QRect(80, 50, 200, 160));
  Release(v, {82, 52});
  ASSERT_EQ(v->CurrentDrag(), Drag::Left);
  Hover(v, v->mapFrom(page_, QPoint(77, 52)));
  Hover(v, v->mapFrom(page_, QPoint(72, 40)));
  EXPECT_EQ(v->geometry(), QRect(70, 50, 210, 160));
  Press(v, {72, 40});
  EXPECT_EQ(v->CurrentDrag(), Drag::Left);
  Release(v, {72, 40});
  EXPECT_EQ(v->CurrentDrag(), Drag::None);
  EXPECT_EQ(v->geometry(), QRect(70, 50, 210, 160));
}

TEST_F(ViewTest, EscapeGivesUpTheRunningOperation) {
  TCodeView* v = CodeView();
  Press(v, {180, 135});
  MoveHeld(v, {220, 170});
  ASSERT_EQ(v->pos(), QPoint(120, 95));
  QTest::keyClick(v, Qt::Key_Escape);
  EXPECT_EQ(v->CurrentDrag(), Drag::None);
  EXPECT_EQ(v->geometry(), QRect(80, 60, 200, 150));
  Release(v, {220, 170});
  EXPECT_EQ(v->geometry(), QRect(80, 60, 200, 150));
}

TEST_F(ViewTest, CursorShowsTheZoneUnderTheMouse) {
  TCodeView* code = CodeView();
  struct {
    QPoint at;
    Qt::CursorShape shape;
  } cases[] = {{{100, 3}, Qt::SizeVerCursor},  {{100, 146}, Qt::SizeVerCursor},
               {{2, 75}, Qt::SizeHorCursor},   {{197, 75}, Qt::SizeHorCursor},
               {{2, 2}, Qt::SizeVerCursor},    {{198, 148}, Qt::SizeVerCursor},
               {{100, 75}, Qt::ArrowCursor},   {{6, 6}, Qt::ArrowCursor}};
  for (const auto& c : cases) {
    Hover(code, c.at);
    EXPECT_EQ(code->cursor().shape(), c.shape) << c.at.x() << "," << c.at.y();
  }
  TTextView* text = TextView();
  Hover(text, {2, 2});
  EXPECT_EQ(text->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(ViewTest, FocusShowsTheDottedFrameAndLosingItCoversIt) {
  TCodeView* v = CodeView();
  auto frameDots = [v] {
    const QImage img = v->grab().toImage();
    int dots = 0;
    for (int x = 1; x < 10; ++x) dots += img.pixel(x, 1) == qRgb(0, 0, 0);
    for (int y = 1; y < 9; ++y) dots += img.pixel(1, y) == qRgb(0, 0, 0);
    return dots;
  };
  page_->setFocus();
  EXPECT_EQ(frameDots(), 0);
  Press(v, {180, 135});
  Release(v, {180, 135});
  EXPECT_TRUE(v->hasFocus());
  EXPECT_GT(frameDots(), 4);
  page_->setFocus();
  EXPECT_EQ(frameDots(), 0);
}

TEST_F(ViewTest, RightPressFocusesWithoutDragAndShowsTheNameMenu) {
  TCodeView* v = CodeView();
  page_->setFocus();
  Press(v, {180, 135}, Qt::RightButton);
  EXPECT_TRUE(v->hasFocus());
  EXPECT_EQ(v->CurrentDrag(), Drag::None);
  Release(v, {180, 135}, Qt::RightButton);
  ASSERT_EQ(v->PopMenu->actions().size(), 1);
  EXPECT_EQ(v->PopMenu->actions()[0], v->NameItem);
  EXPECT_EQ(v->NameItem->text(), QString::fromUtf8("命名"));
  QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(100, 75), v->mapToGlobal(QPoint(100, 75)));
  QApplication::sendEvent(v, &menu);
  EXPECT_TRUE(v->PopMenu->isVisible());
  v->PopMenu->hide();
}

TEST_F(ViewTest, DeleteRemovesTheFocusedViewAfterItsKeyEvent) {
  TCodeView* first = CodeView();
  TCodeView* second = CodeView();
  QPointer<TCodeView> gone(first);
  Press(first, {180, 135});
  Release(first, {180, 135});
  QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Delete);
  EXPECT_EQ(page_->Views(), std::vector<TViewBas*>{second});
  EXPECT_TRUE(page_->hasFocus());
  RunDeferredDeletes();
  EXPECT_TRUE(gone.isNull());
  // Other keys leave a view alone.
  second->setFocus();
  QTest::keyClick(second, Qt::Key_Backspace);
  EXPECT_EQ(page_->Views().size(), 1u);
}

TEST_F(ViewTest, BarcodeViewDefaultsAndSamplePicture) {
  TCodeView* v = CodeView();
  EXPECT_EQ(v->BarWidth, 2);
  EXPECT_EQ(v->FontSize, 4);
  EXPECT_FALSE(v->HaveCode);
  EXPECT_TRUE(v->Sizable);
  const QImage sample(QString::fromStdString((prog_ / "code.jpg").string()));
  EXPECT_EQ(v->CodeBmp.size(), sample.size());
  // Stretched over the view whatever its size.
  v->resize(400, 75);
  const QImage shown = v->grab().toImage();
  EXPECT_EQ(shown.size(), QSize(400, 75));
  const QImage scaled = sample.scaled(400, 75);
  int differ = 0;
  for (int x = 20; x < 380; x += 7) differ += qGray(shown.pixel(x, 40)) / 128 != qGray(scaled.pixel(x, 40)) / 128;
  EXPECT_LT(differ, 6);
}

// --- Dialogs ---------------------------------------------------------------------------

TEST_F(ViewTest, DoubleClickOnABarcodeViewEditsItsSettings) {
  TCodeView* v = CodeView();
  OnDialog<TFmBarWidth>([&](TFmBarWidth& d) {
    EXPECT_EQ(d.parentWidget(), v);
    EXPECT_EQ(d.EWidth->text(), QStringLiteral("2"));
    EXPECT_EQ(d.EFontSize->text(), QStringLiteral("4"));
    EXPECT_FALSE(d.CbHaveCode->isChecked());
    d.EWidth->setText(QStringLiteral("5"));
    d.CbHaveCode->click();
    d.EFontSize->setText(QStringLiteral("12"));
    d.Button1->click();
  });
  QTest::mouseDClick(v, Qt::LeftButton, {}, {100, 75});
  QTest::mouseRelease(v, Qt::LeftButton, {}, {100, 75});
  EXPECT_EQ(v->BarWidth, 5);
  EXPECT_EQ(v->FontSize, 12);
  EXPECT_TRUE(v->HaveCode);
  // The double-click starts no move that would follow the mouse afterwards.
  EXPECT_EQ(v->CurrentDrag(), Drag::None);
  Hover(v, {150, 120});
  EXPECT_EQ(v->geometry(), QRect(80, 60, 200, 150));

  OnDialog<TFmBarWidth>([&](TFmBarWidth& d) {
    d.EWidth->setText(QStringLiteral("9"));
    d.Button2->click();
  });
  v->EditBarcodeSettings();
  EXPECT_EQ(v->BarWidth, 5);
  EXPECT_EQ(v->FontSize, 12);
  EXPECT_TRUE(v->HaveCode);
}

TEST_F(ViewTest, DoubleClickOnATextViewEditsItsTextAndResizesItAtOnce) {
  TTextView* v = TextView();
  OnDialog<TFmTextSet>([&](TFmTextSet& d) {
    EXPECT_EQ(d.parentWidget(), v);
    EXPECT_EQ(d.EText->text(), QString::fromUtf8("输入要显示的文本"));
    EXPECT_EQ(d.EFontSize->text(), QStringLiteral("8"));
    d.EText->setText(QStringLiteral("  Wide text  "));
    d.EFontSize->setText(QStringLiteral("20"));
    d.Button1->click();
  });
  QTest::mouseDClick(v, Qt::LeftButton, {}, {5, 5});
  QTest::mouseRelease(v, Qt::LeftButton, {}, {5, 5});
  EXPECT_EQ(v->Text(), "Wide text");
  EXPECT_EQ(v->FontSize, 20);
  EXPECT_EQ(v->size(), ExpectedTextSize(QStringLiteral("Wide text"), 20, 300, 12, 8, 8));

  OnDialog<TFmTextSet>([&](TFmTextSet& d) {
    d.EText->setText(QStringLiteral("other"));
    d.Button2->click();
  });
  v->EditText();
  EXPECT_EQ(v->Text(), "Wide text");
  EXPECT_EQ(v->FontSize, 20);
}

TEST_F(ViewTest, RenameTakesTheNameExactlyAsTyped) {
  TCodeView* v = CodeView();
  OnDialog<TFmName>([&](TFmName& d) {
    EXPECT_EQ(d.parentWidget(), v);
    EXPECT_EQ(d.EName->text(), QStringLiteral("Cod1-"));
    d.EName->setText(QString::fromUtf8(" 书名 "));
    QTest::keyClick(d.EName, Qt::Key_Return);
  });
  v->NameItem->trigger();
  EXPECT_EQ(v->ViewName, " 书名 ");

  // Closed with its close box: nothing changes.
  OnDialog<TFmName>([&](TFmName& d) {
    d.EName->setText(QStringLiteral("other"));
    d.close();
  });
  v->NameItem->trigger();
  EXPECT_EQ(v->ViewName, " 书名 ");
}

// --- Text view sizing ------------------------------------------------------------------


TEST_F(ViewTest, ATextViewTakesTheSizeOfItsTextOnTheLabel) {
  struct {
    const char* text;
    int fontSize;
  } cases[] = {{"ABC 123", 8}, {"ABC 123", 16}, {"Width", 64}, {"Wi", 2}};
  TTextView* v = TextView();
  ASSERT_EQ(PrnLogPixelsY, 300);
  for (const auto& c : cases) {
    v->SetText(c.text);
    v->FontSize = c.fontSize;
    v->repaint();
    const QSize want = ExpectedTextSize(QString::fromUtf8(c.text), c.fontSize, 300, 12, 8, 8);
    EXPECT_EQ(v->size(), want) << c.text << " " << c.fontSize;
  }
  // 8 points at 300 dpi are 33 pixels of the printer: "ABC 123" is about 132 x 37 dots,
  // 11 x 3 mm on the label, 88 x 25 pixels at 8 pixels per millimetre.
  v->SetText("ABC 123");
  v->FontSize = 8;
  v->repaint();
  EXPECT_NEAR(v->width(), 88, 4);
  EXPECT_NEAR(v->height(), 25, 2);

  // Each direction scales by the page's own pixels per millimetre.
  page_->LabelRec.LWidthmm = 35;
  v->repaint();
  EXPECT_EQ(v->size(), ExpectedTextSize("ABC 123", 8, 300, 12, 16, 8));
}

TEST_F(ViewTest, ATextViewIsMeasuredAtThePrintersResolution) {
  cups_test::SetOption(DefaultPrinterQueue(), "printer-resolution-default=203dpi");
  struct Restore {
    ~Restore() { cups_test::SetOption(DefaultPrinterQueue(), "printer-resolution-default=300dpi"); }
  } restore;
  host_.reset();
  host_ = std::make_unique<QWidget>();
  host_->resize(700, 500);
  page_ = new TMyPage(host_.get());
  host_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(host_.get()));
  ASSERT_EQ(PrnLogPixelsY, 203);
  FitPage();
  page_->LabelRec.PDotMM = 8;
  TTextView* v = TextView();
  v->SetText("ABC 123");
  v->repaint();
  EXPECT_EQ(v->size(), ExpectedTextSize("ABC 123", 8, 203, 8, 8, 8));
}

TEST_F(ViewTest, WithoutPrinterDotsOrALabelSizeATextViewKeepsItsSize) {
  TTextView* v = TextView();
  struct {
    std::int32_t pdotmm, w, h;
  } cases[] = {{0, 70, 50}, {-12, 70, 50}, {12, 0, 50}, {12, 70, 0}};
  for (const auto& c : cases) {
    page_->LabelRec.PDotMM = c.pdotmm;
    page_->LabelRec.LWidthmm = c.w;
    page_->LabelRec.LHeightmm = c.h;
    v->resize(123, 45);
    v->repaint();
    EXPECT_EQ(v->size(), QSize(123, 45)) << c.pdotmm << " " << c.w << " " << c.h;
    EXPECT_FALSE(v->TextSize().has_value());
  }
  // Off the page there is nothing to measure against either.
  TTextView loose;
  EXPECT_FALSE(loose.TextSize().has_value());
  EXPECT_EQ(loose.Text(), "输入要显示的文本");
  EXPECT_EQ(loose.FontSize, 8);
}

// --- Pictures --------------------------------------------------------------------------

TEST_F(ViewTest, LoadPictureDecidesByTheExtension) {
  const fs::path jpeg = MakePicture("src.jpg", 40, 30, "JPEG");
  const fs::path bmp = MakePicture("src.bmp", 20, 10, "BMP");
  struct {
    std::string name;
    const fs::path& from;
    bool loads;
  } cases[] = {
      {"a.jpg", jpeg, true},  {"b.JPG", jpeg, true},  {"c.JpEg", jpeg, true},
      {"d.bmp", bmp, true},   {"e.BMP", bmp, true},   {"f.png", jpeg, false},
      {"noext", jpeg, false}, {"g.jpg.txt", jpeg, false},
  };
  for (const auto& c : cases) {
    const fs::path p = root_ / "in" / c.name;
    fs::create_directories(p.parent_path());
    fs::copy_file(c.from, p, fs::copy_options::overwrite_existing);
    TPicView v;
    EXPECT_TRUE(v.LoadPicture(p)) << c.name;
    EXPECT_EQ(!v.PicBmp.isNull(), c.loads) << c.name;
    if (c.loads) {
      EXPECT_EQ(v.PicBmp.size(), c.from == jpeg ? QSize(40, 30) : QSize(20, 10));
    }
  }
}

TEST_F(ViewTest, AnUndecodableJpegKeepsThePictureAndAnUnreadableBitmapIsAnError) {
  TPicView v;
  ASSERT_TRUE(v.LoadPicture(MakePicture("good.jpg", 40, 30, "JPEG")));
  Put(root_ / "bad.jpg", "no jpeg here");
  EXPECT_FALSE(v.LoadPicture(root_ / "bad.jpg"));
  EXPECT_FALSE(v.LoadPicture(root_ / "missing.jpeg"));
  EXPECT_EQ(v.PicBmp.size(), QSize(40, 30));
  // A JPEG named .bmp is no bitmap.
  fs::copy_file(root_ / "good.jpg", root_ / "fake.bmp");
  EXPECT_THROW(v.LoadPicture(root_ / "fake.bmp"), std::runtime_error);
  EXPECT_THROW(v.LoadPicture(root_ / "missing.bmp"), std::runtime_error);
  EXPECT_EQ(v.PicBmp.size(), QSize(40, 30));
}

TEST_F(ViewTest, ChoosePictureOffersJpegAndBitmapFiles) {
  TPicView v;
  QWidget* owner = nullptr;
  QString filter;
  TPicView::SetOpenPictureDialog([&](QWidget* o, const QString& f) -> std::optional<std::string> {
    owner = o;
    filter = f;
    return std::nullopt;
  });
  EXPECT_FALSE(v.ChoosePicture());
  EXPECT_EQ(owner, &v);
  EXPECT_EQ(filter, QStringLiteral("All (*.jpg *.jpeg *.bmp);;JPEG Image File (*.jpg);;"
                                   "JPEG Image File (*.jpeg);;Bitmaps (*.bmp)"));
  // A name typed with another extension: chosen, nothing loaded.
  AnswerPictureDialog((root_ / "typed.png").string());
  EXPECT_TRUE(v.ChoosePicture());
  EXPECT_TRUE(v.PicBmp.isNull());
  // A Chinese file name travels as UTF-8.
  AnswerPictureDialog(MakePicture("图片.jpg", 12, 8, "JPEG").string());
  EXPECT_TRUE(v.ChoosePicture());
  EXPECT_EQ(v.PicBmp.size(), QSize(12, 8));
  EXPECT_EQ(v.size(), QSize(100, 100));
  EXPECT_TRUE(v.Sizable);
}

// --- Picture of a page -----------------------------------------------------------------

TEST_F(ViewTest, ScreenshotOfAPageWithItsThreeKindsOfViewAndACurrentLine) {
  host_->setAutoFillBackground(true);
  QPalette pal = host_->palette();
  pal.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
  host_->setPalette(pal);
  FitPage();
  Drop("ImgCode", {60, 60});
  TViewBas* text = nullptr;
  Drop("ImgText", {280, 70});
  text = page_->Views().back();
  dynamic_cast<TTextView*>(text)->SetText("标签 Tagwright");
  dynamic_cast<TTextView*>(text)->FontSize = 10;
  QImage pic(64, 64, QImage::Format_RGB32);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) pic.setPixel(x, y, qRgb(x * 4, y * 4, 160));
  ASSERT_TRUE(pic.save(QString::fromStdString((root_ / "pic.bmp").string()), "BMP"));
  AnswerPictureDialog((root_ / "pic.bmp").string());
  Drop("ImgPic", {350, 230});
  page_->DrawLine = true;
  QTest::mousePress(page_, Qt::LeftButton, {}, {40, 330});
  QTest::mouseMove(page_, {300, 340});
  QTest::mouseRelease(page_, Qt::LeftButton, {}, {300, 340});
  QTest::mousePress(page_, Qt::LeftButton, {}, {40, 360});
  QTest::mouseMove(page_, {520, 360});
  QTest::mouseRelease(page_, Qt::LeftButton, {}, {520, 360});
  page_->DrawLine = false;
  // The second line is current (red); the text view has the focus frame.
  text->setFocus();
  QApplication::processEvents();
  const QImage shot = host_->grab().toImage();
  const QString file = QStringLiteral(TAGWRIGHT_SCREENSHOT_DIR "/tagwright_page.png");
  ASSERT_TRUE(shot.save(file, "PNG"));
  const QPoint origin = page_->pos();
  auto columnHas = [&](int x, int y0, int y1, QRgb colour) {
    for (int y = y0; y <= y1; ++y) {
      if (shot.pixel(origin + QPoint(x, y)) == colour) return true;
    }
    return false;
  };
  EXPECT_TRUE(columnHas(280, 359, 361, qRgb(255, 0, 0)));
  EXPECT_TRUE(columnHas(170, 333, 337, qRgb(0, 0, 0)));
  // The round corner shows the host behind it.
  EXPECT_EQ(shot.pixel(origin), qRgb(0x80, 0x80, 0x80));
  EXPECT_EQ(shot.pixel(origin + QPoint(280, 200)), qRgb(255, 255, 255));
}

}  // namespace
}  // namespace tagwright::testing
