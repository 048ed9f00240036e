// Codemill's five exports, through the C interface of libcodemill.so. The input is split
// at line ends; every line goes through each export as a text, and the line after it
// gives the serial number of SetReadCadeId. Checked beyond "no crash":
//   GetPassword: at most ten bytes out, and its own inverse on the passwords it keeps
//     (up to ten bytes, no blank at either end, no end byte whose scrambled form is
//     a blank, no 0xFF);
//   SetReadCadeId / CheckReadCadeId: a number made of a digit prefix and a serial of at
//     most seven digits is accepted, any other result is "" or refused, and an accepted
//     number is made again from its own prefix and serial;
//   GetIsbn: an accepted number gives a ten-character ISBN-10 with its digits and a
//     publisher code taken from it, and leaves the outputs alone otherwise;
//   GETCODEMILL: never longer than its input, ASCII letters in upper case.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "codemill.h"
#include "fuzz_support.h"

namespace {

constexpr size_t kMaxLines = 8;

bool Blank(unsigned char c) { return c <= 0x20; }
bool Digits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The decimal number of a line, wrapped to 32 bits; a line that is no number gives its
// length, negated when it starts with "-".
std::int32_t Serial(std::string_view line) {
  std::uint32_t v = 0;
  const bool neg = line.starts_with('-');
  std::string_view digits = neg ? line.substr(1) : line;
  if (!Digits(digits) || digits.empty()) v = static_cast<std::uint32_t>(digits.size());
  else
    for (char c : digits) v = v * 10 + static_cast<std::uint32_t>(c - '0');
  return static_cast<std::int32_t>(neg ? 0u - v : v);
}

void CheckPassword(const std::string& text) {
  const std::string stored = GetPassword(text.c_str());
  FUZZ_CHECK(stored.size() <= 10, "stored form of " + text);
  // The stored form is the complement, padded to ten bytes with the complement of a
  // blank and trimmed: a first byte (or tenth) whose complement is a blank is lost,
  // and 0xFF becomes a zero byte that ends the text.
  const auto front = static_cast<unsigned char>(text.empty() ? 0 : text.front());
  const auto back = static_cast<unsigned char>(text.empty() ? 0 : text.back());
  const bool kept = text.empty() || (text.size() <= 10 && !Blank(front) && !Blank(back) &&
                    front < 0xDF && (back < 0xDF || text.size() < 10) &&
                    text.find('\xFF') == std::string::npos);
  if (kept) FUZZ_CHECK(GetPassword(stored.c_str()) == text, "not its own inverse: " + text);
}

void CheckCard(const std::string& prefix, std::int32_t number) {
  const std::string id = SetReadCadeId(prefix.c_str(), number);
  const bool makes = Digits(prefix) && number >= 0;
  FUZZ_CHECK(makes == !id.empty(), "SetReadCadeId(" + prefix + ", " + std::to_string(number) + ")");
  if (makes) {
    FUZZ_CHECK((CheckReadCadeId(id.c_str()) == 1) == (number <= 9999999),
               "CheckReadCadeId(" + id + ") disagrees with SetReadCadeId");
  }
  // A number that checks is the one its prefix and serial make.
  if (CheckReadCadeId(prefix.c_str()) == 1) {
    const std::int32_t serial = Serial(prefix.substr(5, 7));
    FUZZ_CHECK(SetReadCadeId(prefix.substr(1, 4).c_str(), serial) == prefix,
               "not made again: " + prefix);
  }
}

void CheckIsbn(const std::string& text) {
  const char* isbn10 = "unset";
  const char* publisher = "unset";
  if (GetIsbn(text.c_str(), &isbn10, &publisher) == 0) {
    FUZZ_CHECK(std::strcmp(isbn10, "unset") == 0 && std::strcmp(publisher, "unset") == 0,
               "outputs set for a refused " + text);
    return;
  }
  const std::string i10 = isbn10;
  const std::string pub = publisher;
  FUZZ_CHECK(i10.size() == 10 && Digits(i10.substr(0, 9)) &&
                 (i10[9] == 'X' || (i10[9] >= '0' && i10[9] <= '9')),
             "ISBN-10 " + i10 + " of " + text);
  FUZZ_CHECK(text.size() == 13 ? text.substr(3, 9) == i10.substr(0, 9) : text == i10,
             "ISBN-10 " + i10 + " of " + text);
  FUZZ_CHECK(pub.size() >= 2 && pub.size() <= 6 && i10.substr(1, pub.size()) == pub,
             "publisher " + pub + " of " + i10);
  // The same call without places for the texts still answers.
  FUZZ_CHECK(GetIsbn(text.c_str(), nullptr, nullptr) == 1, text);
}

void CheckLetters(const std::string& text) {
  const std::string key = GETCODEMILL(text.c_str());
  FUZZ_CHECK(key.size() <= text.size(), "key of " + text);
  for (size_t i = 0; i < key.size(); ++i) FUZZ_CHECK(!(key[i] >= 'a' && key[i] <= 'z'), text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos <= input.size() && lines.size() < kMaxLines) {
    size_t nl = input.find('\n', pos);
    if (nl == std::string_view::npos) nl = input.size();
    std::string line(input.substr(pos, nl - pos));
    // The exports take zero-terminated texts: a line ends at its first zero byte.
    line.resize(std::strlen(line.c_str()));
    lines.push_back(std::move(line));
    pos = nl + 1;
  }

  if (size == 0) {
    // A null pointer is the empty text. (A result lasts until the next call.)
    const std::string storedNull = GetPassword(nullptr);
    const std::string storedEmpty = GetPassword("");
    FUZZ_CHECK(CheckReadCadeId(nullptr) == 0 && storedNull == storedEmpty &&
                   *GETCODEMILL(nullptr) == '\0' && GetIsbn(nullptr, nullptr, nullptr) == 0,
               "null texts");
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    CheckPassword(line);
    CheckCard(line, Serial(i + 1 < lines.size() ? lines[i + 1] : std::string_view()));
    CheckIsbn(line);
    CheckLetters(line);
  }
  return 0;
}
