#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "tagwright/label_control.h"

namespace tagwright {
namespace {

TLineImage Line(QPoint a, QPoint b) {
  TLineImage line(nullptr);
  line.SetPoint(0, a);
  line.SetPoint(1, b);
  return line;
}

TEST(LineImage, StartsBlackAtTheOrigin) {
  TLineImage line(nullptr);
  EXPECT_EQ(line.PenColor, clBlack);
  EXPECT_EQ(line.BrushColor, clBlack);
  EXPECT_EQ(line.BrushStyle, Qt::SolidPattern);
  EXPECT_FALSE(line.Hit);
  EXPECT_EQ(line.Points[0], QPoint(0, 0));
  EXPECT_EQ(line.Points[1], QPoint(0, 0));
  EXPECT_EQ(line.OldPoints[1], QPoint(0, 0));
}

TEST(LineImage, SetPointKeepsTheOldPointAndIgnoresOtherIndexes) {
  TLineImage line = Line({10, 10}, {50, 10});
  line.SetPoint(1, {70, 20});
  EXPECT_EQ(line.OldPoints[1], QPoint(50, 10));
  EXPECT_EQ(line.Points[1], QPoint(70, 20));

  line.SetPoint(2, {1, 1});
  line.SetPoint(-1, {1, 1});
  EXPECT_EQ(line.Points[0], QPoint(10, 10));
  EXPECT_EQ(line.Points[1], QPoint(70, 20));
  EXPECT_EQ(line.OldPoints[1], QPoint(50, 10));

  QPoint out(-7, -7);
  line.GetPoint(-1, out);
  EXPECT_EQ(out, QPoint(-7, -7));
  line.GetPoint(2, out);
  EXPECT_EQ(out, QPoint(-7, -7));
  line.GetPoint(0, out);
  EXPECT_EQ(out, QPoint(10, 10));
}

struct BandCase {
  QPoint a, b, q;
  bool hit;
};

TEST(LineImage, HitBandIsThreePixelsAcrossAndEndsWithTheSegment) {
  const BandCase cases[] = {
      // Flat line: the band runs 3 pixels up and down.
      {{10, 10}, {50, 10}, {30, 11}, true},
      {{10, 10}, {50, 10}, {30, 12}, true},
      {{10, 10}, {50, 10}, {30, 8}, true},
      {{10, 10}, {50, 10}, {30, 20}, false},
      {{10, 10}, {50, 10}, {32, 14}, false},
      {{10, 10}, {50, 10}, {5, 10}, false},
      {{10, 10}, {50, 10}, {55, 10}, false},
      // Vertical line: slope taken as 100, the band runs 3 pixels left and right.
      {{20, 10}, {20, 60}, {22, 30}, true},
      {{20, 10}, {20, 60}, {18, 30}, true},
      {{20, 10}, {20, 60}, {25, 30}, false},
      {{20, 10}, {20, 60}, {20, 5}, false},
      {{20, 10}, {20, 60}, {20, 65}, false},
      // Exactly 45 degrees is still flat: widened in y, not in x.
      {{10, 10}, {50, 50}, {30, 32}, true},
      {{10, 10}, {50, 50}, {30, 28}, true},
      {{10, 10}, {50, 50}, {30, 34}, false},
      // Steeper than 45 degrees: widened in x.
      {{10, 10}, {30, 60}, {22, 35}, true},
      {{10, 10}, {30, 60}, {24, 29}, false},
      // A line of no length has a band of no area.
      {{40, 40}, {40, 40}, {40, 40}, false},
      {{0, 0}, {0, 0}, {0, 0}, false},
  };
  for (const BandCase& c : cases) {
    TLineImage line = Line(c.a, c.b);
    EXPECT_EQ(line.HitTest(c.q), c.hit) << "line (" << c.a.x() << "," << c.a.y() << ")-("
                                        << c.b.x() << "," << c.b.y() << ") point (" << c.q.x()
                                        << "," << c.q.y() << ")";
    EXPECT_EQ(line.Hit, c.hit);
  }
}

TEST(LineImage, HitPolygonCorners) {
  using C = std::array<QPoint, 4>;
  EXPECT_EQ(TLineImage::HitPolygon({10, 10}, {50, 10}),
            (C{QPoint(10, 7), QPoint(10, 13), QPoint(50, 13), QPoint(50, 7)}));
  EXPECT_EQ(TLineImage::HitPolygon({20, 10}, {20, 60}),
            (C{QPoint(17, 10), QPoint(23, 10), QPoint(23, 60), QPoint(17, 60)}));
  EXPECT_EQ(TLineImage::HitPolygon({10, 10}, {50, 50}),
            (C{QPoint(10, 7), QPoint(10, 13), QPoint(50, 53), QPoint(50, 47)}));
}

TEST(LineImage, EndSquareCoversThreeBeforeAndTwoAfterThePoint) {
  const QRect r = TLineImage::EndRect({20, 30});
  struct {
    QPoint q;
    bool in;
  } cases[] = {{{17, 27}, true}, {{22, 32}, true}, {{23, 30}, false}, {{20, 33}, false},
               {{16, 30}, false}, {{20, 26}, false}, {{20, 30}, true}};
  for (const auto& c : cases) {
    EXPECT_EQ(r.contains(c.q), c.in) << c.q.x() << "," << c.q.y();
  }
}

TEST(LineImage, HitEndOnPointZeroSwapsTheEndsOnce) {
  TLineImage line = Line({10, 10}, {50, 20});
  // 2 right of and 2 below point 0.
  EXPECT_TRUE(line.HitEnd({12, 12}));
  EXPECT_EQ(line.Points[0], QPoint(50, 20));
  EXPECT_EQ(line.Points[1], QPoint(10, 10));
  EXPECT_EQ(line.OldPoints, line.Points);
  // That end is point 1 now: true again, without a swap.
  EXPECT_TRUE(line.HitEnd({12, 12}));
  EXPECT_EQ(line.Points[1], QPoint(10, 10));
  EXPECT_EQ(line.Points[0], QPoint(50, 20));
}

TEST(LineImage, HitEndMissesAndPointOneWins) {
  TLineImage line = Line({10, 10}, {50, 20});
  // 3 right of point 0, at its height: past the square.
  EXPECT_FALSE(line.HitEnd({13, 10}));
  EXPECT_EQ(line.Points[0], QPoint(10, 10));
  EXPECT_FALSE(line.HitEnd({30, 15}));
  // Point 1's square: true, nothing changes.
  EXPECT_TRUE(line.HitEnd({48, 18}));
  EXPECT_EQ(line.Points[0], QPoint(10, 10));
  EXPECT_EQ(line.Points[1], QPoint(50, 20));
}

TEST(LineImage, HitEndOnAShortLinePrefersPointZero) {
  TLineImage line = Line({10, 10}, {12, 10});
  EXPECT_TRUE(line.HitEnd({11, 10}));
  EXPECT_EQ(line.Points[1], QPoint(10, 10));
}

// After grabbing point 0 and dragging it, Draw wipes the segment as it was before the
// drag and draws the one from the fixed end to the new point.
TEST(LineImage, DrawWipesTheSegmentBeforeTheDrag) {
  QImage canvas(80, 80, QImage::Format_RGB32);
  canvas.fill(Qt::white);
  TLineImage line = Line({10, 10}, {60, 10});
  {
    QPainter p(&canvas);
    line.Draw(p);
  }
  ASSERT_EQ(canvas.pixel(35, 10), qRgb(0, 0, 0));

  ASSERT_TRUE(line.HitEnd({10, 10}));
  line.SetPoint(1, {30, 60});
  line.PenColor = clRed;
  {
    QPainter p(&canvas);
    line.Draw(p);
  }
  EXPECT_EQ(canvas.pixel(35, 10), qRgb(255, 255, 255));
  EXPECT_EQ(canvas.pixel(20, 10), qRgb(255, 255, 255));
  EXPECT_EQ(canvas.pixel(30, 60), qRgb(255, 0, 0));
  EXPECT_EQ(canvas.pixel(60, 10), qRgb(255, 0, 0));

  {
    QPainter p(&canvas);
    line.Erase(p);
  }
  EXPECT_EQ(canvas.pixel(30, 60), qRgb(255, 255, 255));
  EXPECT_EQ(canvas.pixel(60, 10), qRgb(255, 255, 255));
}

}  // namespace
}  // namespace tagwright
