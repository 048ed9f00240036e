// One row of a 32-bit RGB picture turned into a row of TSPL's BITMAP: eight pixels a
// byte, the first in the highest bit; a dark pixel (grey below 128, as qGray weighs red,
// green and blue) gives 0, a light one 1, and the bits after the last pixel are 1.
#pragma once

#include <QRgb>

#include <bit>
#include <cstdint>
#include <cstring>

namespace platform::tsclib::mono {

// Two pixels in one 64-bit word, the first in the low half: qGray's sum 11 red + 16 green
// + 5 blue (at most 8160) of the first in bits 16 to 31 and of the second in bits 48 to 63,
// so that bits 28 and 60 are set exactly where the grey is 128 or more. One product gives
// both red and blue terms: with red and blue in alternate 16-bit lanes, times
// 11 + 5 * 65536, each pixel's odd lane receives 11 red + 5 blue and no lane carries into
// the next; green, shifted into place, adds 16 green.
inline std::uint64_t GreyPair(std::uint64_t two) {
  if constexpr (std::endian::native == std::endian::big) {
    two = (two << 32) | (two >> 32);
  }
  return (two & 0x00FF00FF00FF00FFull) * (11 + (5ull << 16)) +
         ((two << 12) & 0x0FF000000FF00000ull);
}

// Pixels p[0] and p[1] as one word.
inline std::uint64_t PixelPair(const QRgb* p) {
  std::uint64_t two;
  std::memcpy(&two, p, sizeof two);
  return two;
}

inline void PackMonoRow(const QRgb* pixels, int width, unsigned char* bits) {
  int x = 0;
  for (; x + 8 <= width; x += 8, ++bits) {
    const std::uint64_t w0 = PixelPair(pixels + x), w1 = PixelPair(pixels + x + 2),
                        w2 = PixelPair(pixels + x + 4), w3 = PixelPair(pixels + x + 6);
    // Most of a drawn text is white paper.
    if ((w0 & w1 & w2 & w3) == ~std::uint64_t{0}) {
      *bits = 0xFF;
      continue;
    }
    // The light bits of pixels 0, 2, 4, 6 land on bits 7, 5, 3, 1 and those of pixels
    // 1, 3, 5, 7 on bits 39, 37, 35, 33, which the shift by 33 brings down to 6, 4, 2, 0.
    constexpr std::uint64_t kLight = 0x1000000010000000ull;
    const std::uint64_t spread =
        (GreyPair(w0) & kLight) >> 21 | (GreyPair(w1) & kLight) >> 23 |
        (GreyPair(w2) & kLight) >> 25 | (GreyPair(w3) & kLight) >> 27;
    *bits = static_cast<unsigned char>(spread | spread >> 33);
  }
  if (x < width) {
    unsigned last = 0xFF;
    for (int bit = 0; x < width; ++x, ++bit) {
      if (qGray(pixels[x]) < 128) {
        last &= ~(0x80u >> bit);
      }
    }
    *bits = static_cast<unsigned char>(last);
  }
}

}  // namespace platform::tsclib::mono
