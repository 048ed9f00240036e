// The operations behind the five exports, as plain C++ on byte strings.
// Every length, position and comparison counts bytes, not characters. Results are short
// texts held by value or written into the caller's buffer, so that a call costs no heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace codemill {

// True when each of the eight bytes of a word is a decimal digit: its high half-byte is
// 3, and so it stays when 6 is added, which only a low half-byte up to 9 allows. Where a
// byte could carry into the next, its high half-byte is not 3 in the first place.
inline bool EightDigits(const char* eight)
{
    std::uint64_t word;
    std::memcpy(&word, eight, sizeof word);
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ull;
    constexpr std::uint64_t kThrees = 0x3030303030303030ull;
    return (word & kHigh) == kThrees && ((word + 0x0606060606060606ull) & kHigh) == kThrees;
}

// True when every byte is a decimal digit (also for the empty text).
inline bool AllDigits(std::string_view text)
{
    if (text.size() < 8) {
        for (char c : text) {
            if (c < '0' || c > '9') return false;
        }
        return true;
    }
    // Eight bytes at a time, the last eight overlapping those before.
    for (std::size_t i = 0; i + 8 < text.size(); i += 8) {
        if (!EightDigits(text.data() + i)) return false;
    }
    return EightDigits(text.data() + text.size() - 8);
}

// The text without leading and trailing blanks and control bytes (0x00 to 0x20).
inline std::string_view TrimBlanks(std::string_view text)
{
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// A zero-terminated text of at most N bytes, held by value.
template <std::size_t N>
struct ShortText {
    char bytes[N + 1] = {};
    std::size_t size = 0;

    // `text` and what is appended must fit in N bytes.
    void Assign(std::string_view text)
    {
        std::memcpy(bytes, text.data(), text.size());
        size = text.size();
        bytes[size] = '\0';
    }
    void Append(char c)
    {
        bytes[size++] = c;
        bytes[size] = '\0';
    }
    const char* c_str() const { return bytes; }
    std::string_view view() const { return {bytes, size}; }
};

// Reversible scrambling of the stored database password, written into `stored`; only
// the first ten bytes of the text count. The stored form may hold a zero byte (from
// 0xFF), where it ends as a C text.
void ScramblePassword(std::string_view text, ShortText<10>& stored);

// Initial-letter key of a code page 936 text without zero bytes, written to `key`, which
// has room for text.size() + 1 bytes; the byte after `text` must be the terminating zero
// of a C text. Returns the key's length; a zero byte follows it.
std::size_t InitialLetters(std::string_view text, char* key);

struct IsbnParts {
    ShortText<10> isbn10;
    ShortText<6> publisher;
};

// The ISBN-10 and publisher code of an accepted number, written into `parts`; false, with
// `parts` untouched, for a rejected one.
bool ConvertIsbn(std::string_view isbn, IsbnParts& parts);

// 13 decimal digits whose last is the EAN-13 check digit of the first twelve.
bool Isbn13Ok(std::string_view text);

// ISBN-10 check character ("0" to "9" or "X") of nine decimal digits.
char Isbn10Check(std::string_view nineDigits);

// Publisher code of an ISBN-10: a run from its second character, 2 to 6 long.
std::string_view PublisherCode(std::string_view isbn10);

// Check digit of the first eleven characters of a card body, all decimal digits.
char CardCheckDigit(std::string_view body);

// A card number: "1", four prefix digits, a serial of seven or more digits (a 32-bit
// number has at most ten) and the check digit.
using CardId = ShortText<16>;

// Writes the card number of a prefix and a serial number into `id`; false, with `id`
// left in any state, for a prefix with a non-digit or a negative number.
bool MakeCardId(std::string_view prefix, std::int32_t number, CardId& id);

bool CardIdOk(std::string_view id);

}  // namespace codemill
