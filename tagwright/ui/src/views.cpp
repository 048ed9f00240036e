#include <QApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QImageReader>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <utility>

#include "platform/module.h"
#include "platform/text.h"
#include "tagwright/label_control.h"
#include "tagwright/printer_caps.h"
#include "ui_colors.h"

namespace tagwright {

namespace {

// Reads a picture file in the given format only, whatever its content claims to be.
QImage ReadPicture(const std::filesystem::path& path, const char* format, QString* why) {
  QImageReader reader(QString::fromStdString(path.string()), format);
  reader.setDecideFormatFromContent(false);
  QImage image = reader.read();
  if (image.isNull() && why != nullptr) *why = reader.errorString();
  return image;
}

std::runtime_error PictureError(const std::filesystem::path& path, const QString& why) {
  return std::runtime_error("Cannot read picture file \"" + path.string() +
                            "\": " + why.toStdString());
}

constexpr int kStrip = 5;  // width of the edge strips that size a view, beyond the edge

}  // namespace

// ---------------------------------------------------------------------------------------
// TViewBas

TViewBas::TViewBas(QWidget* owner) : QWidget(owner) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::ClickFocus);
  // The cursor follows the zone under the mouse without a button held.
  setMouseTracking(true);
  PopMenu = new QMenu(this);
  NameItem = PopMenu->addAction(QString::fromUtf8("命名"));
  connect(NameItem, &QAction::triggered, this, [this] { RenameView(); });
}

TViewBas::~TViewBas() = default;

void TViewBas::DrawFocusFrame(QPainter& canvas) const {
  if (!hasFocus()) return;
  const int w = width(), h = height();
  canvas.setPen(QPen(Qt::black, 0, Qt::DotLine));
  canvas.setBrush(Qt::NoBrush);
  const QPoint frame[5] = {{1, 1}, {w - 1, 1}, {w - 1, h - 1}, {1, h - 1}, {1, 1}};
  canvas.drawPolyline(frame, 5);
}

void TViewBas::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  DrawFocusFrame(canvas);
}

void TViewBas::mousePressEvent(QMouseEvent* event) {
  event->accept();
  // A press while an edge follows the mouse without a button is the click that ends that
  // operation; its release ends it.
  if (drag_.op != Drag::None) return;
  setFocus(Qt::MouseFocusReason);
  update();
  if (event->button() != Qt::LeftButton) return;
  drag_.press = event->position().toPoint();
  drag_.press_size = size();
  drag_.next_test = 0;
  StartNextDrag(mapToParent(drag_.press), true);
}

bool TViewBas::StartNextDrag(QPoint mouse, bool held) {
  const int x = drag_.press.x(), y = drag_.press.y();
  while (drag_.next_test < 5) {
    const int test = drag_.next_test++;
    // Every edge test reads the size as the operations before it left it. The move test
    // reads the size at the press, so a press that sized an edge never ends in a move
    // that would follow the mouse with no button held.
    const int w = test < 4 ? width() : drag_.press_size.width();
    const int h = test < 4 ? height() : drag_.press_size.height();
    Drag op = Drag::None;
    switch (test) {
      case 0: if (Sizable && 0 <= y && y <= kStrip) op = Drag::Top; break;
      case 1: if (Sizable && h - kStrip <= y && y <= h) op = Drag::Bottom; break;
      case 2: if (Sizable && 0 <= x && x <= kStrip) op = Drag::Left; break;
      case 3: if (Sizable && w - kStrip <= x && x <= w) op = Drag::Right; break;
      case 4:
        if (kStrip < y && y < h - kStrip && kStrip < x && x < w - kStrip) op = Drag::Move;
        break;
    }
    if (op != Drag::None) {
      BeginDrag(op, mouse, held);
      return true;
    }
  }
  return false;
}

void TViewBas::BeginDrag(Drag op, QPoint mouse, bool held) {
  drag_.op = op;
  drag_.start_mouse = mouse;
  drag_.last_mouse = mouse;
  drag_.start_geom = geometry();
  // Without the button held (an operation that follows an earlier one) the mouse is
  // taken explicitly, so the edge follows it outside the view too.
  if (!held) {
    grabMouse();
    drag_.grabbed = true;
  }
}

void TViewBas::EndDrag() {
  drag_.op = Drag::None;
  if (drag_.grabbed) {
    releaseMouse();
    drag_.grabbed = false;
  }
}

void TViewBas::FollowMouse(QPoint mouse) {
  // The mouse stays within the page, as the windowing system confines it while a child
  // window is moved or sized.
  if (QWidget* page = parentWidget()) {
    mouse.setX(std::clamp(mouse.x(), 0, std::max(0, page->width() - 1)));
    mouse.setY(std::clamp(mouse.y(), 0, std::max(0, page->height() - 1)));
  }
  drag_.last_mouse = mouse;
  const QPoint d = mouse - drag_.start_mouse;
  const QRect g = drag_.start_geom;
  const int right = g.x() + g.width(), bottom = g.y() + g.height();
  switch (drag_.op) {
    case Drag::Top: {
      const int top = std::min(g.y() + d.y(), bottom - 1);
      setGeometry(g.x(), top, g.width(), bottom - top);
      break;
    }
    case Drag::Bottom:
      resize(g.width(), std::max(1, g.height() + d.y()));
      break;
    case Drag::Left: {
      const int left = std::min(g.x() + d.x(), right - 1);
      setGeometry(left, g.y(), right - left, g.height());
      break;
    }
    case Drag::Right:
      resize(std::max(1, g.width() + d.x()), g.height());
      break;
    case Drag::Move:
      move(g.topLeft() + d);
      break;
    case Drag::None:
      break;
  }
}

void TViewBas::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  if (drag_.op != Drag::None) {
    FollowMouse(mapToParent(event->position().toPoint()));
    return;
  }
  const int x = event->position().toPoint().x(), y = event->position().toPoint().y();
  const int w = width(), h = height();
  Qt::CursorShape shape = Qt::ArrowCursor;
  if (Sizable) {
    if ((0 <= y && y <= kStrip) || (h - kStrip <= y && y <= h)) {
      shape = Qt::SizeVerCursor;
    } else if ((0 <= x && x <= kStrip) || (w - kStrip <= x && x <= w)) {
      shape = Qt::SizeHorCursor;
    }
  }
  setCursor(shape);
}

void TViewBas::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton || drag_.op == Drag::None) return;
  const QPoint mouse = mapToParent(event->position().toPoint());
  FollowMouse(mouse);
  EndDrag();
  // The remaining tests of the press run now, against the size just left.
  StartNextDrag(mouse, false);
}

void TViewBas::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  // The double-click replaces the second press: the view's action runs, and no move or
  // sizing starts that would follow the mouse after the dialog has closed.
  if (event->button() == Qt::LeftButton) DoubleClicked();
}

void TViewBas::keyPressEvent(QKeyEvent* event) {
  // Escape gives up the operation running now, as the windowing system's does.
  if (event->key() == Qt::Key_Escape && drag_.op != Drag::None) {
    const QPoint mouse = drag_.last_mouse;
    setGeometry(drag_.start_geom);
    EndDrag();
    StartNextDrag(mouse, (QApplication::mouseButtons() & Qt::LeftButton) != 0);
  }
  // A focused view keeps its keys: none reaches the page.
  event->accept();
}

void TViewBas::keyReleaseEvent(QKeyEvent* event) {
  event->accept();
  if (!event->isAutoRepeat()) ViewKeyUp(event->key());
}

void TViewBas::ViewKeyUp(int key) {
  if (key != Qt::Key_Delete) return;
  EndDrag();
  QWidget* page = parentWidget();
  // The focus goes to the page, as it does when a focused child window is destroyed.
  if (page != nullptr) page->setFocus(Qt::OtherFocusReason);
  hide();
  setParent(nullptr);
  deleteLater();
}

void TViewBas::focusInEvent(QFocusEvent*) { update(); }

void TViewBas::focusOutEvent(QFocusEvent*) {
  // The content covers the frame again at once.
  if (isVisible()) repaint();
}

void TViewBas::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
  PopMenu->popup(event->globalPos());
}

// ---------------------------------------------------------------------------------------
// TCodeView

TCodeView::TCodeView(QWidget* owner) : TViewBas(owner) {
  const std::filesystem::path path = platform::module::ProgramFolder() / "code.jpg";
  QString why;
  CodeBmp = ReadPicture(path, "jpeg", &why);
  if (CodeBmp.isNull()) throw PictureError(path, why);
  resize(200, 150);
  Sizable = true;
}

void TCodeView::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  // The gaps of the dotted frame leave the picture visible.
  canvas.setBackgroundMode(Qt::TransparentMode);
  canvas.drawImage(rect(), CodeBmp);
  DrawFocusFrame(canvas);
}

// ---------------------------------------------------------------------------------------
// TTextView

namespace {

constexpr int kScreenDpi = 96;
constexpr int kPreviewPoints = 32;

// Character height in pixels of a font of that many points on a device of that
// resolution.
int FontPixels(int points, int dpi) {
  return std::max(1, static_cast<int>(platform::text::RoundHalfEven(points * static_cast<double>(dpi) / 72)));
}

QFont Arial(int pixels) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixels);
  return font;
}

}  // namespace

TTextView::TTextView(QWidget* owner)
    : TViewBas(owner), text_("输入要显示的文本") {
  resize(200, 150);
}

void TTextView::SetText(std::string text) {
  text_ = std::move(text);
  update();
}

std::optional<QSize> TTextView::TextSize() const {
  const auto* page = dynamic_cast<const TMyPage*>(parentWidget());
  if (page == nullptr) return std::nullopt;
  const TLabelRec& rec = page->LabelRec;
  // A template may carry a printer resolution or a label size of 0: no size to take.
  if (rec.PDotMM <= 0 || rec.LWidthmm <= 0 || rec.LHeightmm <= 0 || PrnLogPixelsY <= 0) {
    return std::nullopt;
  }
  const QFontMetrics metrics(Arial(FontPixels(FontSize, PrnLogPixelsY)));
  const QString text = QString::fromStdString(text_);
  const double tw = metrics.horizontalAdvance(text);
  const double th = metrics.height();
  const double height =
      th / rec.PDotMM * (static_cast<double>(page->height()) / rec.LHeightmm);
  const double width = tw / rec.PDotMM * (static_cast<double>(page->width()) / rec.LWidthmm);
  return QSize(static_cast<int>(platform::text::RoundHalfEven(width)),
               static_cast<int>(platform::text::RoundHalfEven(height)));
}

void TTextView::SizeToText() {
  if (const std::optional<QSize> size = TextSize()) resize(*size);
}

void TTextView::paintEvent(QPaintEvent*) {
  SizeToText();
  QPainter canvas(this);
  const QFont font = Arial(FontPixels(kPreviewPoints, kScreenDpi));
  const QFontMetrics metrics(font);
  const QString text = QString::fromStdString(text_);
  QImage picture(std::max(1, metrics.horizontalAdvance(text)), metrics.height(),
                 QImage::Format_RGB32);
  picture.fill(Qt::white);
  {
    QPainter p(&picture);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QPoint(0, metrics.ascent()), text);
  }
  canvas.drawImage(rect(), picture);
  canvas.setBackgroundMode(Qt::OpaqueMode);
  canvas.setBackground(Qt::white);
  DrawFocusFrame(canvas);
}

// ---------------------------------------------------------------------------------------
// TPicView

const char* const TPicView::kPictureFilter =
    "All (*.jpg *.jpeg *.bmp);;JPEG Image File (*.jpg);;JPEG Image File (*.jpeg);;"
    "Bitmaps (*.bmp)";

namespace {

TPicView::OpenPictureDialog& PictureDialog() {
  static TPicView::OpenPictureDialog dialog;
  return dialog;
}

}  // namespace

void TPicView::SetOpenPictureDialog(OpenPictureDialog dialog) {
  PictureDialog() = std::move(dialog);
}

TPicView::TPicView(QWidget* owner) : TViewBas(owner) {
  resize(100, 100);
  Sizable = true;
}

bool TPicView::ChoosePicture() {
  const QString filter = QString::fromLatin1(kPictureFilter);
  std::optional<std::string> chosen;
  if (PictureDialog()) {
    chosen = PictureDialog()(this, filter);
  } else {
    // A view not yet on the page has no window to show the dialog over.
    QWidget* over = isVisible() ? this : QApplication::activeWindow();
    const QString name = QFileDialog::getOpenFileName(over, QString(), QString(), filter);
    if (!name.isEmpty()) chosen = name.toStdString();
  }
  if (!chosen) return false;
  return LoadPicture(std::filesystem::path(*chosen));
}

bool TPicView::LoadPicture(const std::filesystem::path& path) {
  // The extension is what follows the last dot of the file name, dot included.
  const std::string name = path.filename().string();
  const size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (ext == ".JPG" || ext == ".JPEG") {
    QImage image = ReadPicture(path, "jpeg", nullptr);
    if (image.isNull()) return false;
    PicBmp = std::move(image);
    update();
  } else if (ext == ".BMP") {
    QString why;
    QImage image = ReadPicture(path, "bmp", &why);
    if (image.isNull()) throw PictureError(path, why);
    PicBmp = std::move(image);
    update();
  }
  return true;
}

void TPicView::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  canvas.setBackgroundMode(Qt::TransparentMode);
  if (PicBmp.isNull()) {
    // An empty picture item stays findable on the white page.
    canvas.fillRect(rect(), Qt::white);
    canvas.setPen(QPen(QColor(0xC0, 0xC0, 0xC0), 0));
    canvas.drawRect(rect().adjusted(0, 0, -1, -1));
  } else {
    canvas.drawImage(rect(), PicBmp);
  }
  DrawFocusFrame(canvas);
}

}  // namespace tagwright
