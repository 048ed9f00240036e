#include <QPainter>
#include <QPen>
#include <QPolygon>

#include <cmath>
#include <utility>

#include "tagwright/label_control.h"
#include "ui_colors.h"

namespace tagwright {

TLineImage::TLineImage(QWidget* canvas) : Canvas(canvas) {}

void TLineImage::SetPoint(int index, QPoint point) {
  if (index < 0 || index > 1) return;
  OldPoints[static_cast<size_t>(index)] = Points[static_cast<size_t>(index)];
  Points[static_cast<size_t>(index)] = point;
}

void TLineImage::GetPoint(int index, QPoint& point) const {
  if (index < 0 || index > 1) return;
  point = Points[static_cast<size_t>(index)];
}

namespace {

// Pen width 0: the thinnest line the device draws, one pixel.
void Segment(QPainter& canvas, const std::array<QPoint, 2>& p) {
  // A segment of no length draws nothing, as a polyline through one point does not.
  if (p[0] == p[1]) return;
  const QPoint pts[2] = {p[0], p[1]};
  canvas.drawPolyline(pts, 2);
}

}  // namespace

void TLineImage::Erase(QPainter& canvas) const {
  canvas.setPen(QPen(ToQColor(clWhite), 0));
  canvas.setBrush(QBrush(ToQColor(clWhite), Qt::NoBrush));
  Segment(canvas, Points);
}

void TLineImage::Draw(QPainter& canvas) const {
  canvas.setPen(QPen(ToQColor(clWhite), 0));
  canvas.setBrush(QBrush(ToQColor(clWhite), Qt::NoBrush));
  Segment(canvas, OldPoints);
  canvas.setPen(QPen(ToQColor(PenColor), 0));
  canvas.setBrush(QBrush(ToQColor(BrushColor), BrushStyle));
  Segment(canvas, Points);
}

std::array<QPoint, 4> TLineImage::HitPolygon(QPoint a, QPoint b) {
  const double s = a.x() == b.x() ? 100.0
                                  : static_cast<double>(b.y() - a.y()) / (b.x() - a.x());
  if (std::fabs(s) <= 1) {
    return {QPoint(a.x(), a.y() - 3), QPoint(a.x(), a.y() + 3), QPoint(b.x(), b.y() + 3),
            QPoint(b.x(), b.y() - 3)};
  }
  return {QPoint(a.x() - 3, a.y()), QPoint(a.x() + 3, a.y()), QPoint(b.x() + 3, b.y()),
          QPoint(b.x() - 3, b.y())};
}

QRegion TLineImage::MakeHitRegion() const {
  const std::array<QPoint, 4> c = HitPolygon(Points[0], Points[1]);
  QPolygon poly;
  for (const QPoint& p : c) poly << p;
  return QRegion(poly, Qt::WindingFill);
}

bool TLineImage::HitTest(QPoint point) {
  Hit = MakeHitRegion().contains(point);
  return Hit;
}

QRect TLineImage::EndRect(QPoint p) {
  // Left and top inclusive, right and bottom exclusive: six pixels each way.
  return QRect(p.x() - 3, p.y() - 3, 6, 6);
}

bool TLineImage::HitEnd(QPoint q) {
  if (EndRect(Points[0]).contains(q)) {
    std::swap(Points[0], Points[1]);
    OldPoints = Points;
    return true;
  }
  return EndRect(Points[1]).contains(q);
}

}  // namespace tagwright
