#include "operations.h"

#include <array>

namespace codemill {

namespace {

struct LetterRange {
    char letter;
    unsigned first;
    unsigned last;
};

// First-level GB2312 is ordered by reading, so each initial owns one adjoining
// range; I, U and V begin no reading.
constexpr std::array<LetterRange, 23> kLetters{{
    {'A', 0xB0A1, 0xB0C4}, {'B', 0xB0C5, 0xB2C0}, {'C', 0xB2C1, 0xB4ED},
    {'D', 0xB4EE, 0xB6E9}, {'E', 0xB6EA, 0xB7A1}, {'F', 0xB7A2, 0xB8C0},
    {'G', 0xB8C1, 0xB9FD}, {'H', 0xB9FE, 0xBBF6}, {'J', 0xBBF7, 0xBFA5},
    {'K', 0xBFA6, 0xC0AB}, {'L', 0xC0AC, 0xC2E7}, {'M', 0xC2E8, 0xC4C2},
    {'N', 0xC4C3, 0xC5B5}, {'O', 0xC5B6, 0xC5BD}, {'P', 0xC5BE, 0xC6D9},
    {'Q', 0xC6DA, 0xC8BA}, {'R', 0xC8BB, 0xC8F5}, {'S', 0xC8F6, 0xCBF9},
    {'T', 0xCBFA, 0xCDD9}, {'W', 0xCDDA, 0xCEF3}, {'X', 0xCEF4, 0xD1B8},
    {'Y', 0xD1B9, 0xD4D0}, {'Z', 0xD4D1, 0xD7F9},
}};

}  // namespace

char LetterOf(unsigned value)
{
    for (const LetterRange& range : kLetters) {
        if (value >= range.first && value <= range.last) return range.letter;
    }
    return 0;
}

std::string InitialLetters(std::string_view text)
{
    std::string key;
    key.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            key += text[i];
            ++i;
            continue;
        }
        // A high byte always takes the next byte as its partner; a last high
        // byte pairs with the terminating zero.
        const bool last = i + 1 == text.size();
        const auto trail = last ? 0u : static_cast<unsigned char>(text[i + 1]);
        if (const char letter = LetterOf(lead * 256u + trail)) {
            key += letter;
        } else {
            key += text.substr(i, last ? 1 : 2);
        }
        i += 2;
    }
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    }
    return key;
}

}  // namespace codemill
