#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/text.h"
#include "tagwright/label_control.h"
#include "tagwright/printer_caps.h"

namespace tagwright {

namespace {

int Round(double v) { return static_cast<int>(platform::text::RoundHalfEven(v)); }

constexpr int kFitMargin = 100;
constexpr int kCornerEllipse = 20;

}  // namespace

TMyPage::TMyPage(QWidget* owner) : QWidget(owner) {
  // The page captures the mouse while a button is held (Qt's implicit grab), takes the
  // focus when pressed and accepts palette drops.
  setFocusPolicy(Qt::ClickFocus);
  setAcceptDrops(true);
  setAutoFillBackground(true);
  ReadPrinterCaps();
}

TMyPage::~TMyPage() = default;

void TMyPage::PageDblClick() { EditPageSetup('O'); }

void TMyPage::PageKeyUp(int key) {
  if (key != Qt::Key_Delete || CurLine == nullptr) return;
  const auto it = std::find_if(Lines.begin(), Lines.end(),
                               [this](const auto& line) { return line.get() == CurLine; });
  if (it == Lines.end()) return;
  LineMode = 0;
  // The page paints every line afresh on a white ground, so leaving the line out of
  // the next paint erases it.
  Lines.erase(it);
  CurLine = nullptr;
  repaint();
}

QRegion TMyPage::ShapeRegion(std::int32_t shape, int width, int height) {
  if (width <= 0 || height <= 0) return QRegion();
  if (shape != 0) return QRegion(0, 0, width + 1, height + 1);
  // A rectangle with corners cut by an ellipse of 20 x 20 pixels; it covers the page's
  // width and height exactly. Each row is the span between the corner ellipses, taking
  // the pixels whose centres lie within them.
  const int ew = std::min(kCornerEllipse, width);
  const int eh = std::min(kCornerEllipse, height);
  if (ew < 2 || eh < 2) return QRegion(0, 0, width, height);
  const double a = ew / 2.0, b = eh / 2.0;
  QRegion region;
  int band_top = 0, band_inset = -1;
  auto flush = [&](int end) {
    if (band_inset >= 0 && end > band_top && width - 2 * band_inset > 0) {
      region += QRect(band_inset, band_top, width - 2 * band_inset, end - band_top);
    }
  };
  for (int y = 0; y < height; ++y) {
    const double yc = y + 0.5;
    double dy = 0;
    if (yc < b) dy = b - yc;
    else if (yc > height - b) dy = yc - (height - b);
    int inset = 0;
    if (dy > 0) {
      const double dx = a * std::sqrt(std::max(0.0, 1 - (dy / b) * (dy / b)));
      inset = std::max(0, static_cast<int>(std::ceil(a - dx - 0.5)));
    }
    if (inset != band_inset) {
      flush(y);
      band_top = y;
      band_inset = inset;
    }
  }
  flush(height);
  return region;
}

void TMyPage::ApplyShapeRegion(std::int32_t shape) {
  setMask(ShapeRegion(shape, width(), height()));
  update();
}

void TMyPage::FitToParent() {
  QWidget* parent = parentWidget();
  if (parent == nullptr) return;
  const double lw = LabelRec.LWidthmm, lh = LabelRec.LHeightmm;
  // Without a label size there are no proportions to fit: size and Scale stay.
  if (lw > 0 && lh > 0) {
    const int w = parent->width(), h = parent->height();
    // A parent no larger than the margin still leaves one pixel, so Scale stays above 0.
    if (static_cast<double>(w) / h >= lw / lh) {
      const int ph = std::max(1, h - kFitMargin);
      Scale = ph / lh;
      resize(std::max(1, Round(ph / lh * lw)), ph);
    } else {
      const int pw = std::max(1, w - kFitMargin);
      Scale = pw / lw;
      resize(pw, std::max(1, Round(pw / lw * lh)));
    }
  }
  ApplyShapeRegion(LabelRec.LShape);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  CentreInParent();
  if (isVisible()) repaint();
}

void TMyPage::CentreInParent() {
  QWidget* parent = parentWidget();
  if (parent == nullptr) return;
  move(Round((parent->width() - width()) / 2.0), Round((parent->height() - height()) / 2.0));
}

void TMyPage::paintEvent(QPaintEvent*) {
  CentreInParent();
  QPainter canvas(this);
  for (const auto& line : Lines) {
    line->PenColor = line.get() == CurLine ? clRed : clBlack;
    line->Draw(canvas);
  }
  // The current line lies above every other.
  if (CurLine != nullptr) CurLine->Draw(canvas);
}

std::vector<TViewBas*> TMyPage::Views() const {
  const QList<TViewBas*> views = findChildren<TViewBas*>(QString(), Qt::FindDirectChildrenOnly);
  return {views.begin(), views.end()};
}

std::int32_t TMyPage::NextViewNo() const {
  const std::vector<TViewBas*> views = Views();
  for (size_t k = 1; k <= views.size(); ++k) {
    if (views[k - 1]->ViewNo != static_cast<std::int32_t>(k)) return static_cast<std::int32_t>(k);
  }
  return static_cast<std::int32_t>(views.size() + 1);
}

void TMyPage::dragEnterEvent(QDragEnterEvent* event) { event->acceptProposedAction(); }

void TMyPage::dragMoveEvent(QDragMoveEvent* event) { event->acceptProposedAction(); }

void TMyPage::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  const QByteArray name = event->mimeData()->data(QString::fromLatin1(kPaletteMimeType));
  DropItem(name.toStdString(), event->position().toPoint());
}

void TMyPage::DropItem(const std::string& source, QPoint at) {
  const std::int32_t n = NextViewNo();
  const std::string number = std::to_string(n);
  if (source == "ImgCode" || source == "ImgText") {
    const bool code = source == "ImgCode";
    TViewBas* view = code ? static_cast<TViewBas*>(new TCodeView(this))
                          : static_cast<TViewBas*>(new TTextView(this));
    view->ViewNo = n;
    view->ViewName = (code ? "Cod" : "Txt") + number + "-";
    const int offset = code ? 20 : 10;
    view->move(at.x() - offset, at.y() - offset);
    view->show();
    if (!code) view->setFocus(Qt::OtherFocusReason);
  } else if (source == "ImgPic") {
    // The picture view joins the page only once a picture was chosen and read.
    auto view = std::make_unique<TPicView>();
    if (!view->ChoosePicture()) return;
    view->ViewNo = n;
    view->ViewName = "Pic" + number + "-";
    view->setParent(this);
    view->move(at.x() - 10, at.y() - 10);
    view->show();
    view.release();
  }
}

void TMyPage::mousePressEvent(QMouseEvent* event) {
  event->accept();
  setFocus(Qt::MouseFocusReason);
  DownPoint = event->position().toPoint();
  if (DrawLine) {
    Lines.push_back(std::make_unique<TLineImage>(this));
    CurLine = Lines.back().get();
    LineMode = 1;
    return;
  }
  if (LineMode != 0) return;
  CurLine = nullptr;
  for (const auto& line : Lines) {
    if (line->HitTest(DownPoint)) {
      CurLine = line.get();
      LineMode = line->HitEnd(DownPoint) ? 5 : 2;
      break;
    }
  }
}

void TMyPage::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  if (!(event->buttons() & Qt::LeftButton) || LineMode == 0 || CurLine == nullptr) return;
  const QPoint at = event->position().toPoint();
  switch (LineMode) {
    case 1:
      CurLine->SetPoint(0, DownPoint);
      CurLine->SetPoint(1, at);
      break;
    case 2: {
      const QPoint d = at - DownPoint;
      for (int i = 0; i < 2; ++i) {
        QPoint p;
        CurLine->GetPoint(i, p);
        CurLine->SetPoint(i, p + d);
      }
      DownPoint = at;
      break;
    }
    case 5:
      CurLine->SetPoint(1, at);
      break;
    default:
      break;
  }
  repaint();
}

void TMyPage::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  LineMode = 0;
  repaint();
}

void TMyPage::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  PageDblClick();
}

void TMyPage::keyReleaseEvent(QKeyEvent* event) {
  event->accept();
  if (!event->isAutoRepeat()) PageKeyUp(event->key());
}

}  // namespace tagwright
