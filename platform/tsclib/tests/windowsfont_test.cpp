// Text drawn into TSPL's BITMAP command: header, bit sense, rotation and fonts.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cstdio>
#include <optional>
#include <string>

#include "platform/text.h"
#include "platform/tsclib.h"

namespace {

using platform::text::Utf8ToCp936;
namespace tspl = platform::tsclib::tspl;

// A BITMAP command taken apart. Pixel (x, y) is dark when its bit is 0.
struct Bitmap {
  int x = 0, y = 0, widthInBytes = 0, height = 0, mode = -1;
  std::string rows;

  bool Dark(int col, int row) const {
    const auto byte = static_cast<unsigned char>(rows[static_cast<std::size_t>(row) * widthInBytes + col / 8]);
    return (byte & (0x80u >> (col % 8))) == 0;
  }
  int DarkCount() const {
    int n = 0;
    for (int row = 0; row < height; ++row) {
      for (int col = 0; col < widthInBytes * 8; ++col) {
        n += Dark(col, row) ? 1 : 0;
      }
    }
    return n;
  }
  bool RowWhite(int row) const {
    for (int col = 0; col < widthInBytes * 8; ++col) {
      if (Dark(col, row)) {
        return false;
      }
    }
    return true;
  }
  bool ColumnWhite(int col) const {
    for (int row = 0; row < height; ++row) {
      if (Dark(col, row)) {
        return false;
      }
    }
    return true;
  }
};

Bitmap Parse(const std::optional<std::string>& command) {
  Bitmap b;
  if (!command) {
    ADD_FAILURE() << "windowsfont refused the call";
    return b;
  }
  int consumed = 0;
  if (std::sscanf(command->c_str(), "BITMAP %d,%d,%d,%d,%d,%n", &b.x, &b.y, &b.widthInBytes,
                  &b.height, &b.mode, &consumed) != 5 || consumed == 0) {
    ADD_FAILURE() << "no BITMAP header: " << command->substr(0, 40);
    return b;
  }
  const std::size_t size = static_cast<std::size_t>(b.widthInBytes) * b.height;
  EXPECT_EQ(command->size(), consumed + size + 2) << "header, rows and CR LF, nothing else";
  EXPECT_EQ(command->substr(command->size() - 2), "\r\n");
  b.rows = command->substr(static_cast<std::size_t>(consumed), size);
  return b;
}

Bitmap Draw(const std::string& textUtf8, int rotation = 0, int style = 0, int underline = 0,
            const char* face = "宋体", int height = 32) {
  return Parse(tspl::WindowsFont(100, 50, height, rotation, style, underline, Utf8ToCp936(face),
                                 Utf8ToCp936(textUtf8)));
}

TEST(WindowsFont, CreatesItsOwnApplicationWhenThereIsNone) {
  // Runs first in this program, before anything else made one.
  const Bitmap b = Draw("A");
  EXPECT_NE(qobject_cast<QGuiApplication*>(QCoreApplication::instance()), nullptr);
  EXPECT_GT(b.DarkCount(), 0);
}

TEST(WindowsFont, HeaderPlacesTheBitmapInOrMode) {
  const Bitmap b = Draw("Label 123");
  EXPECT_EQ(b.x, 100);
  EXPECT_EQ(b.y, 50);
  EXPECT_EQ(b.mode, 1);
  EXPECT_GT(b.widthInBytes, 0);
  EXPECT_GE(b.height, 32) << "the cell is at least the font height";
}

// A quarter turn swaps the sides exactly, so the turned height is the unturned width in
// dots, which the unturned header gives in whole bytes only.
TEST(WindowsFont, WidthInBytesIsTheWidthInDotsRoundedUpAndRotationTurnsClockwise) {
  for (const char* text : {"Hg", "Tomevale 978", "中文标签", "i"}) {
    SCOPED_TRACE(text);
    const Bitmap upright = Draw(text, 0);
    const Bitmap turned = Draw(text, 90);
    const Bitmap upsideDown = Draw(text, 180);
    const int widthInDots = turned.height;
    EXPECT_EQ(upright.widthInBytes, (widthInDots + 7) / 8);
    EXPECT_EQ(turned.widthInBytes, (upright.height + 7) / 8);
    EXPECT_EQ(upsideDown.height, upright.height);
    for (int row = 0; row < upright.height; ++row) {
      for (int col = 0; col < widthInDots; ++col) {
        // Clockwise: the upright top-left goes to the turned top-right.
        ASSERT_EQ(upright.Dark(col, row), turned.Dark(upright.height - 1 - row, col))
            << "at " << col << "," << row;
        ASSERT_EQ(upright.Dark(col, row),
                  upsideDown.Dark(widthInDots - 1 - col, upright.height - 1 - row))
            << "at " << col << "," << row;
      }
      for (int col = widthInDots; col < upright.widthInBytes * 8; ++col) {
        ASSERT_FALSE(upright.Dark(col, row)) << "the bits after the last dot are white";
      }
    }
  }
}

TEST(WindowsFont, TextIsDarkInsideAWhiteBorder) {
  for (const char* text : {"ABC", "图书馆"}) {
    SCOPED_TRACE(text);
    const Bitmap b = Draw(text, 0, 0, 0, "宋体", 40);
    const int dark = b.DarkCount();
    EXPECT_GT(dark, 40);
    EXPECT_LT(dark, b.widthInBytes * 8 * b.height / 2) << "mostly white around the strokes";
    EXPECT_TRUE(b.RowWhite(0));
    EXPECT_TRUE(b.RowWhite(b.height - 1));
    EXPECT_TRUE(b.ColumnWhite(b.widthInBytes * 8 - 1));
  }
}

TEST(WindowsFont, ChineseFaceDrawsRealGlyphs) {
  // Missing glyphs would all be the same box.
  const Bitmap zhong = Draw("中");
  const Bitmap wen = Draw("文");
  EXPECT_GT(zhong.DarkCount(), 0);
  EXPECT_NE(zhong.rows, wen.rows);
  // "Arial" and "宋体" are different fonts here.
  EXPECT_NE(Draw("Rag", 0, 0, 0, "Arial").rows, Draw("Rag", 0, 0, 0, "宋体").rows);
}

TEST(WindowsFont, StyleAndUnderlineChangeTheDrawing) {
  const Bitmap plain = Draw("Hello", 0, 0, 0, "Arial");
  const Bitmap bold = Draw("Hello", 0, 2, 0, "Arial");
  const Bitmap italic = Draw("Hello", 0, 1, 0, "Arial");
  const Bitmap underlined = Draw("Hello", 0, 0, 1, "Arial");
  EXPECT_GT(bold.DarkCount(), plain.DarkCount());
  EXPECT_NE(italic.rows, plain.rows);
  EXPECT_GT(underlined.DarkCount(), plain.DarkCount());
  ASSERT_EQ(underlined.height, plain.height);
  // The underline is one full dark run below the letters.
  bool lineFound = false;
  for (int row = plain.height / 2; row < underlined.height; ++row) {
    lineFound = lineFound || (plain.RowWhite(row) && !underlined.RowWhite(row));
  }
  EXPECT_TRUE(lineFound);
}

TEST(WindowsFont, RefusesWhatItCannotDraw) {
  const std::string face = Utf8ToCp936("宋体");
  EXPECT_EQ(tspl::WindowsFont(0, 0, 24, 0, 0, 0, face, ""), std::nullopt);
  EXPECT_EQ(tspl::WindowsFont(0, 0, 0, 0, 0, 0, face, "x"), std::nullopt);
  EXPECT_EQ(tspl::WindowsFont(0, 0, 24, 45, 0, 0, face, "x"), std::nullopt);
  // Line breaks are drawn, never sent as commands: the result is still one BITMAP.
  const Bitmap b = Parse(tspl::WindowsFont(0, 0, 24, 0, 0, 0, face, "a\r\nPRINT 1,1"));
  EXPECT_GT(b.DarkCount(), 0);
}

}  // namespace
