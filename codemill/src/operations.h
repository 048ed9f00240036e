// The operations behind the five exports, as plain C++ on byte strings.
// Every length, position and comparison counts bytes, not characters.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace codemill {

// True when every byte is a decimal digit (also for the empty text).
inline bool AllDigits(std::string_view text)
{
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// The text without leading and trailing blanks and control bytes (0x00 to 0x20).
inline std::string_view TrimBlanks(std::string_view text)
{
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// Reversible scrambling of the stored database password.
std::string ScramblePassword(std::string_view text);

// Initial-letter key of a code page 936 text.
std::string InitialLetters(std::string_view text);

// The letter of a first-level GB2312 value (first byte * 256 + second byte), or 0.
char LetterOf(unsigned value);

struct IsbnParts {
    std::string isbn10;
    std::string publisher;
};

// The ISBN-10 and publisher code of an accepted number.
std::optional<IsbnParts> ConvertIsbn(std::string_view isbn);

// 13 decimal digits whose last is the EAN-13 check digit of the first twelve.
bool Isbn13Ok(std::string_view text);

// ISBN-10 check character ("0" to "9" or "X") of nine decimal digits.
char Isbn10Check(std::string_view nineDigits);

// Publisher code of an ISBN-10: a run from its second character, 2 to 6 long.
std::string PublisherCode(std::string_view isbn10);

// Check digit of the first eleven characters of a card body, all decimal digits.
char CardCheckDigit(std::string_view body);

// The card number of a prefix and a serial number; nothing for a prefix with a
// non-digit or a negative number.
std::optional<std::string> MakeCardId(std::string_view prefix, std::int32_t number);

bool CardIdOk(std::string_view id);

}  // namespace codemill
