// Text as the programs expect it from Windows: code page 936 at the 8-bit edges, the
// trimming, rounding and number forms of the Windows runtime.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace platform::text {

// Code page 936 bytes to UTF-8. A byte sequence that is no character (a lone lead
// byte, 0xFF) becomes U+FFFD; nothing is dropped silently.
std::string Cp936ToUtf8(std::string_view cp936);

// UTF-8 to code page 936 bytes. A character the code page cannot hold, or a byte that
// is not valid UTF-8, becomes '?', as Windows does.
std::string Utf8ToCp936(std::string_view utf8);

// Removes every byte of code 32 or less from both ends (or one end).
std::string_view Trim(std::string_view s);
std::string_view TrimLeft(std::string_view s);
std::string_view TrimRight(std::string_view s);

// ASCII-only case folding, as the Windows profile and file-name comparisons of 8-bit
// text work on the letters A-Z.
std::string AsciiLower(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);

namespace detail {
inline constexpr std::array<unsigned char, 256> kAsciiLower = [] {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  return table;
}();
}  // namespace detail

// One byte folded so, by a table: no branch per byte (hashing a name case-insensitively).
inline char AsciiLower(char c) {
  return static_cast<char>(detail::kAsciiLower[static_cast<unsigned char>(c)]);
}

// Eight bytes packed in a word, folded so at once: the letters A-Z are the bytes 0x41
// to 0x5A, and those alone get 0x20 added.
inline std::uint64_t AsciiLowerWord(std::uint64_t bytes) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const std::uint64_t low7 = bytes & (0x7F * kOnes);
  // Bit 7 of each byte: set from 'A' on, and set above 'Z'; no byte carries into the next.
  const std::uint64_t fromA = low7 + (0x80 - 'A') * kOnes;
  const std::uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * kOnes;
  const std::uint64_t letter = (fromA ^ aboveZ) & ~bytes & (0x80 * kOnes);
  return bytes | (letter >> 2);
}

// The bytes of s from at on, eight of them (the last word: one to eight), in one word
// folded to lower case. Texts of one length are equal but for the case of their letters
// exactly when all their words are equal, so names are compared and hashed a word at a
// time. No byte outside s is read.
inline std::uint64_t FoldedWord(std::string_view s, size_t at) {
  const char* p = s.data() + at;
  const size_t n = s.size() - at < 8 ? s.size() - at : 8;
  std::uint64_t word;
  if (n >= 4) {
    // The first four bytes and the last four, which overlap below eight.
    std::uint32_t first, last;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, p + n - 4, 4);
    word = first | (std::uint64_t{last} << 32);
  } else {
    word = static_cast<unsigned char>(p[0]) | (static_cast<unsigned char>(p[n / 2]) << 8) |
           (static_cast<unsigned char>(p[n - 1]) << 16);
  }
  return AsciiLowerWord(word);
}

// Nearest whole number, a value exactly halfway going to the even neighbour
// (73.5 -> 74, 74.5 -> 74). Throws std::range_error for NaN, infinities and values
// outside the 64-bit range.
std::int64_t RoundHalfEven(double v);

// Decimal text of an integer, with a leading minus sign when negative.
std::string IntToStr(std::int64_t v);

// A whole 32-bit number: optional sign, then decimal digits and nothing else.
// Empty text, ".", blanks or a value out of range give no value.
std::optional<std::int32_t> StrToInt(std::string_view s);

// General number format with at most 15 significant digits and "." as the separator,
// whatever the process locale: 32 -> "32", 12.5 -> "12.5", 1/3 -> "0.333333333333333",
// 1e-5 -> "1E-5", 1e20 -> "1E20".
std::string FloatToStr(double v);

// The reverse of FloatToStr: optional sign, digits with "." and an optional exponent.
// A comma, blanks, "inf" or "nan" give no value.
std::optional<double> StrToFloat(std::string_view s);

}  // namespace platform::text
