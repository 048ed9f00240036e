// Packing a drawn row into BITMAP bits, against qGray pixel by pixel.
#include <gtest/gtest.h>

#include <QRgb>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "mono_row.h"

namespace {

using platform::tsclib::mono::PackMonoRow;

// One pixel at a time: the first pixel in the highest bit, 0 where qGray is below 128,
// 1 in the bits after the last pixel.
std::vector<unsigned char> PackedPixelByPixel(const std::vector<QRgb>& row) {
  std::vector<unsigned char> bits((row.size() + 7) / 8, 0xFF);
  for (std::size_t x = 0; x < row.size(); ++x) {
    if (qGray(row[x]) < 128) {
      bits[x / 8] = static_cast<unsigned char>(bits[x / 8] & ~(0x80u >> (x % 8)));
    }
  }
  return bits;
}

std::vector<unsigned char> Packed(const std::vector<QRgb>& row) {
  // One byte more than the row needs, to catch a write past its end.
  std::vector<unsigned char> bits((row.size() + 7) / 8 + 1, 0x5A);
  PackMonoRow(row.data(), static_cast<int>(row.size()), bits.data());
  EXPECT_EQ(bits.back(), 0x5A) << "wrote past the row";
  bits.pop_back();
  return bits;
}

// Every colour once, with alpha bytes of all kinds, which the grey ignores.
TEST(MonoRow, EveryColourFallsOnTheSideQtsGreyPutsIt) {
  constexpr std::uint32_t kRow = 1u << 12;
  std::vector<QRgb> row(kRow);
  for (std::uint32_t first = 0; first < (1u << 24); first += kRow) {
    for (std::uint32_t i = 0; i < kRow; ++i) {
      row[i] = ((first + i) & 0xFFFFFF) | ((i * 0x9Du) << 24);
    }
    ASSERT_EQ(Packed(row), PackedPixelByPixel(row)) << "colours from " << first;
  }
}

// Light and dark pixels in every arrangement that fits a byte, at every width from an
// empty row to several bytes with a partial last byte.
TEST(MonoRow, EveryWidthPacksItsPixelsInOrder) {
  std::mt19937 random(106);
  const QRgb shades[] = {0xFFFFFFFF, 0xFF000000, 0xFF808080, 0xFF7F7F7F, 0xFFFF0000,
                         0xFF00FF00, 0xFF0000FF, 0x00FFFFFF};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(shades) - 1);
  for (int width = 0; width <= 70; ++width) {
    for (int round = 0; round < 50; ++round) {
      std::vector<QRgb> row(static_cast<std::size_t>(width));
      for (QRgb& pixel : row) {
        pixel = shades[pick(random)];
      }
      ASSERT_EQ(Packed(row), PackedPixelByPixel(row)) << "width " << width;
    }
  }
  for (unsigned pattern = 0; pattern < 256; ++pattern) {
    std::vector<QRgb> row(8);
    for (int x = 0; x < 8; ++x) {
      row[static_cast<std::size_t>(x)] = (pattern & (0x80u >> x)) != 0 ? 0xFFFFFFFF : 0xFF000000;
    }
    ASSERT_EQ(Packed(row), std::vector<unsigned char>{static_cast<unsigned char>(pattern)});
  }
}

}  // namespace
