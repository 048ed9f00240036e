#include "platform/text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace t = platform::text;

TEST(Cp936, RoundTripsChineseAndAscii) {
  const std::string gbk = "\xCD\xBC\xCA\xE9\xB9\xDD abc";  // 图书馆 abc
  EXPECT_EQ(t::Cp936ToUtf8(gbk), "图书馆 abc");
  EXPECT_EQ(t::Utf8ToCp936("图书馆 abc"), gbk);
  EXPECT_EQ(t::Utf8ToCp936("宋体"), "\xCB\xCE\xCC\xE5");
}

TEST(Cp936, UsesTheWindowsTable) {
  // 0x80 is the euro sign in the Windows code page, not in plain GBK.
  EXPECT_EQ(t::Cp936ToUtf8("\x80"), "€");
  EXPECT_EQ(t::Utf8ToCp936("€"), "\x80");
}

TEST(Cp936, BytesThatAreNoCharacterBecomeReplacementCharacters) {
  struct Case { std::string in, out; } cases[] = {
      {"\xFF", "\xEF\xBF\xBD"},
      {"a\xB0", "a\xEF\xBF\xBD"},             // lone lead byte at the end
      {"\xB0 A", "\xEF\xBF\xBD A"},            // lead byte before a byte that cannot follow it
      {std::string("\xB0\xA1\xFF\xB0\xA1", 5), "啊\xEF\xBF\xBD啊"},
  };
  for (const auto& c : cases) EXPECT_EQ(t::Cp936ToUtf8(c.in), c.out) << c.in;
  // Ten bytes 0xDF decode as five characters.
  std::string five = t::Cp936ToUtf8(std::string(10, '\xDF'));
  EXPECT_EQ(five, "哌哌哌哌哌");
  EXPECT_EQ(t::Utf8ToCp936(five), std::string(10, '\xDF'));
}

TEST(Cp936, CharactersTheCodePageCannotHoldBecomeQuestionMarks) {
  EXPECT_EQ(t::Utf8ToCp936("a😀b"), "a?b");
  EXPECT_EQ(t::Utf8ToCp936("x\xC3("), "x?(");     // broken UTF-8
  EXPECT_EQ(t::Utf8ToCp936("\xED\xA0\x80"), "???"); // encoded surrogate is no character
}

TEST(Trim, RemovesCodesUpTo32AtTheEnds) {
  EXPECT_EQ(t::Trim(" \t\r\n\x01" "a b\x1f "), "a b");
  EXPECT_EQ(t::Trim("   "), "");
  EXPECT_EQ(t::TrimLeft("  a "), "a ");
  EXPECT_EQ(t::TrimRight("  a "), "  a");
  EXPECT_EQ(t::Trim("\xDF" "a\xDF"), "\xDF" "a\xDF");  // high bytes are characters
}

TEST(CaseFolding, OnlyTheAsciiLettersFoldWhateverTheLengthAndPosition) {
  // Every pair of bytes, at the first, a middle and the last position of texts around
  // the word size, against the byte-wise rule: equal, or both the same letter A-Z.
  auto same = [](unsigned a, unsigned b) {
    auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    return lower(a) == lower(b);
  };
  for (size_t length : {1, 2, 3, 4, 5, 7, 8, 9, 12, 16, 17}) {
    for (size_t at : {size_t{0}, length / 2, length - 1}) {
      std::string x(length, 'q'), y(length, 'Q');
      for (unsigned a = 0; a < 256; ++a) {
        for (unsigned b = 0; b < 256; ++b) {
          x[at] = static_cast<char>(a);
          y[at] = static_cast<char>(b);
          if (t::EqualsNoCase(x, y) != same(a, b)) {
            FAIL() << "length " << length << " at " << at << ": " << a << " " << b;
          }
        }
      }
    }
  }
  EXPECT_TRUE(t::EqualsNoCase("", ""));
  EXPECT_FALSE(t::EqualsNoCase("Name", "Names"));
  EXPECT_EQ(t::AsciiLowerWord(0x5B5A41407A61C1DAull), 0x5B7A61407A61C1DAull);
}

TEST(Round, HalfGoesToEven) {
  struct Case { double in; std::int64_t out; } cases[] = {
      {73.5, 74}, {74.5, 74}, {0.5, 0}, {1.5, 2}, {2.5, 2}, {-2.5, -2}, {-3.5, -4},
      {2.4999, 2}, {2.5001, 3}, {80.48, 80}, {159.52, 160}};
  for (const auto& c : cases) EXPECT_EQ(t::RoundHalfEven(c.in), c.out) << c.in;
  EXPECT_THROW(t::RoundHalfEven(std::nan("")), std::range_error);
  EXPECT_THROW(t::RoundHalfEven(1e300), std::range_error);
}

TEST(Numbers, IntegerText) {
  EXPECT_EQ(t::IntToStr(-42), "-42");
  EXPECT_EQ(t::StrToInt("-2147483648"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(t::StrToInt("+7"), 7);
  for (const char* bad : {"", ".", "-", "2147483648", "1.0", " 1", "1 ", "1a", "++1", "+-1", "-+1", "0x10"}) {
    EXPECT_FALSE(t::StrToInt(bad).has_value()) << bad;
  }
}

TEST(Numbers, FloatTextIgnoresTheProcessLocale) {
  // A locale with a decimal comma must not change the file forms.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  bool german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  struct Case { double in; const char* out; } cases[] = {
      {32, "32"}, {12.5, "12.5"}, {1.0 / 3, "0.333333333333333"}, {-0.25, "-0.25"},
      {0, "0"}, {1e-5, "1E-5"}, {1e20, "1E20"}, {123456789012345.0, "123456789012345"},
      {10.06, "10.06"}};
  for (const auto& c : cases) EXPECT_EQ(t::FloatToStr(c.in), c.out) << c.in;
  EXPECT_EQ(t::StrToFloat("12.5"), 12.5);
  EXPECT_EQ(t::StrToFloat("-1E-5"), -1e-5);
  EXPECT_EQ(t::StrToFloat(".5"), 0.5);
  for (const char* bad : {"", "12,5", " 1", "inf", "nan", "--1", "+-1", "1e"}) {
    EXPECT_FALSE(t::StrToFloat(bad).has_value()) << bad;
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
  if (!german) GTEST_LOG_(INFO) << "no comma locale installed; checked under C only";
}
