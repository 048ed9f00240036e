#include "operations.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

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

// What one step of the walk appends, in one load. A pair (a first byte of 0x80 or more,
// at index first byte * 256 + second byte) gives its letter or, outside the letter
// ranges, both its bytes with the second one upper-cased. A byte below 0x80, at its own
// index (which no pair uses), gives its upper-case form. Letters and capitals are below
// 0x80 and the first byte of a pair is not, so `first` tells whether the step appends
// one byte or two.
struct KeyBytes {
    unsigned char first;
    unsigned char second;
};

constexpr unsigned char UpperByte(unsigned c)
{
    return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
}

constexpr std::array<KeyBytes, 65536> kKeyBytes = [] {
    std::array<KeyBytes, 65536> table{};
    for (unsigned c = 0; c < 0x80; ++c) table[c] = {UpperByte(c), 0};
    for (unsigned value = 0x8000; value <= 0xFFFF; ++value) {
        table[value] = {static_cast<unsigned char>(value >> 8), UpperByte(value & 0xFF)};
    }
    for (const LetterRange& range : kLetters) {
        for (unsigned value = range.first; value <= range.last; ++value) {
            table[value] = {static_cast<unsigned char>(range.letter), 0};
        }
    }
    return table;
}();

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Eight bytes with "a" to "z" made capitals and every other byte as it was. On the low
// seven bits of each byte, adding 0x1F sets the high bit from "a" (0x61) up and adding
// 0x05 from "{" (0x7B) up, and no byte carries into the next.
std::uint64_t UpperAscii(std::uint64_t eight)
{
    const std::uint64_t low = eight & ~kHighBits;
    const std::uint64_t fromA = low + 0x1F1F1F1F1F1F1F1Full;
    const std::uint64_t pastZ = low + 0x0505050505050505ull;
    return eight - ((fromA & ~pastZ & ~eight & kHighBits) >> 2);
}

// How many of the eight bytes, in text order, come before the first one of 0x80 or more.
std::size_t BytesBeforeHigh(std::uint64_t eight)
{
    const std::uint64_t high = eight & kHighBits;
    const int zeros = std::endian::native == std::endian::little ? std::countr_zero(high)
                                                                 : std::countl_zero(high);
    return static_cast<std::size_t>(zeros) / 8;
}

}  // namespace

std::size_t InitialLetters(std::string_view text, char* key)
{
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    auto* const start = reinterpret_cast<unsigned char*>(key);
    unsigned char* out = start;
    std::size_t i = 0;
    while (i < size) {
        const unsigned lead = in[i];
        if (lead < 0x80) {
            // A run of bytes below 0x80, up to eight at once: all eight are upper-cased
            // and stored, and the walk moves on by those before the first high byte.
            if (i + 8 <= size) {
                std::uint64_t eight;
                std::memcpy(&eight, in + i, 8);
                const auto run = BytesBeforeHigh(eight);
                eight = UpperAscii(eight);
                std::memcpy(out, &eight, 8);
                out += run;
                i += run;
            } else {
                *out++ = kKeyBytes[lead].first;
                ++i;
            }
            continue;
        }
        // A high byte always takes the next byte as its partner; a last high byte pairs
        // with the terminating zero. Both bytes are stored and the key grows by one or
        // two: it never outgrows the bytes walked, so there is room.
        const KeyBytes bytes = kKeyBytes[lead << 8 | in[i + 1]];
        out[0] = bytes.first;
        out[1] = bytes.second;
        out += bytes.first < 0x80 ? 1 : 2;
        i += 2;
    }
    // A last high byte that passed through brought its partner, the terminating zero.
    if (out != start && out[-1] == 0) --out;
    *out = 0;
    return static_cast<std::size_t>(out - start);
}

}  // namespace codemill
