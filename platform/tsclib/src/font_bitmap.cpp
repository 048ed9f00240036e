// Text drawn with a named font into a one-bit picture for TSPL's BITMAP command, as the
// printer maker's library draws Windows fonts for printers that do not hold them.
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QTransform>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <mutex>

#include "platform/fonts.h"
#include "platform/text.h"
#include "platform/tsclib.h"
#include "mono_row.h"

namespace platform::tsclib::tspl {
namespace {

// The process may be a tool or a test without a window: Qt needs its application object
// to draw text, so one is made for the rest of the process. It is never destroyed, as
// nothing here knows when the last text is drawn.
bool EnsureGuiApplication() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (QCoreApplication::instance() != nullptr) {
      return;
    }
    const bool haveDisplay = std::getenv("DISPLAY") != nullptr ||
                             std::getenv("WAYLAND_DISPLAY") != nullptr;
    if (!haveDisplay && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
      qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "tsclib";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
  });
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

}  // namespace

std::optional<std::string> WindowsFont(int x, int y, int fontheight, int rotation,
                                       int fontstyle, int fontunderline,
                                       std::string_view faceNameCp936,
                                       std::string_view contentCp936) {
  if (contentCp936.empty() || fontheight < 1 ||
      (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270)) {
    return std::nullopt;
  }
  if (!EnsureGuiApplication()) {
    return std::nullopt;
  }
  static std::once_flag fonts;
  std::call_once(fonts, platform::fonts::SubstituteWindowsFonts);

  QFont font(QString::fromStdString(text::Cp936ToUtf8(faceNameCp936)));
  font.setPixelSize(fontheight);
  font.setItalic((fontstyle & 1) != 0);
  font.setBold((fontstyle & 2) != 0);
  font.setUnderline(fontunderline != 0);
  // A thermal printer has no grey: draw with whole pixels only.
  font.setStyleStrategy(QFont::NoAntialias);
  const QString content = QString::fromStdString(text::Cp936ToUtf8(contentCp936));

  // The picture is the text's cell: its advance (or its ink, for an italic's overhang)
  // wide, ascent plus descent high, with x,y at the cell's top-left corner.
  const QFontMetrics metrics(font);
  const int width = std::max(metrics.horizontalAdvance(content),
                             metrics.boundingRect(content).right() + 1);
  const int height = metrics.height();
  if (width < 1 || height < 1) {
    return std::nullopt;
  }
  QImage drawn(width, height, QImage::Format_RGB32);
  drawn.fill(Qt::white);
  {
    QPainter painter(&drawn);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(0, metrics.ascent(), content);
  }
  if (rotation != 0) {
    drawn = drawn.transformed(QTransform().rotate(rotation));
  }

  const int dots = drawn.width();
  const int lines = drawn.height();
  const std::size_t widthInBytes = static_cast<std::size_t>(dots + 7) / 8;
  std::string out = "BITMAP " + std::to_string(x) + "," + std::to_string(y) + "," +
                    std::to_string(widthInBytes) + "," + std::to_string(lines) + ",1,";
  const std::size_t rowsAt = out.size();
  out.resize(rowsAt + widthInBytes * static_cast<std::size_t>(lines) + 2);
  auto* bits = reinterpret_cast<unsigned char*>(out.data() + rowsAt);
  for (int line = 0; line < lines; ++line, bits += widthInBytes) {
    mono::PackMonoRow(reinterpret_cast<const QRgb*>(drawn.constScanLine(line)), dots, bits);
  }
  out[out.size() - 2] = '\r';
  out[out.size() - 1] = '\n';
  return out;
}

}  // namespace platform::tsclib::tspl
