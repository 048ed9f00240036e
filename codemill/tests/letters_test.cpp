#include "codemill.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

std::string Key(const std::string& text) { return GETCODEMILL(text.c_str()); }

std::string Pair(unsigned value)
{
    return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

struct LetterRow {
    char letter;
    unsigned first;
    unsigned last;
};

// Both ends of every row: an off-by-one in the table gives the neighbour's letter.
TEST(InitialLetters, EveryRowHoldsBothItsBounds)
{
    const LetterRow rows[] = {
        {'A', 0xB0A1, 0xB0C4}, {'B', 0xB0C5, 0xB2C0}, {'C', 0xB2C1, 0xB4ED},
        {'D', 0xB4EE, 0xB6E9}, {'E', 0xB6EA, 0xB7A1}, {'F', 0xB7A2, 0xB8C0},
        {'G', 0xB8C1, 0xB9FD}, {'H', 0xB9FE, 0xBBF6}, {'J', 0xBBF7, 0xBFA5},
        {'K', 0xBFA6, 0xC0AB}, {'L', 0xC0AC, 0xC2E7}, {'M', 0xC2E8, 0xC4C2},
        {'N', 0xC4C3, 0xC5B5}, {'O', 0xC5B6, 0xC5BD}, {'P', 0xC5BE, 0xC6D9},
        {'Q', 0xC6DA, 0xC8BA}, {'R', 0xC8BB, 0xC8F5}, {'S', 0xC8F6, 0xCBF9},
        {'T', 0xCBFA, 0xCDD9}, {'W', 0xCDDA, 0xCEF3}, {'X', 0xCEF4, 0xD1B8},
        {'Y', 0xD1B9, 0xD4D0}, {'Z', 0xD4D1, 0xD7F9},
    };
    for (const LetterRow& row : rows) {
        const std::string letter(1, row.letter);
        EXPECT_EQ(Key(Pair(row.first)), letter) << std::hex << row.first;
        EXPECT_EQ(Key(Pair(row.last)), letter) << std::hex << row.last;
    }
}

struct KeyCase {
    const char* name;
    std::string text;
    std::string key;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class InitialLetterKey : public testing::TestWithParam<KeyCase> {};

TEST_P(InitialLetterKey, GivesKey)
{
    EXPECT_EQ(Key(GetParam().text), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Codemill, InitialLetterKey,
    testing::Values(
        KeyCase{"Empty", "", ""},
        KeyCase{"LowerCaseUpped", "abc", "ABC"},
        KeyCase{"AsciiPassesThrough", "Az09 ,.-[]{}~\x7F", "AZ09 ,.-[]{}~\x7F"},
        KeyCase{"Mixed", "x\xB0\xA1" "1", "XA1"},
        KeyCase{"Words", "\xD6\xD0\xCE\xC4 \xCA\xE9", "ZW S"},
        KeyCase{"BelowTable", "\xB0\xA0", "\xB0\xA0"},
        KeyCase{"AboveTable", "\xD7\xFA", "\xD7\xFA"},
        KeyCase{"Punctuation", "\xA1\xA1", "\xA1\xA1"},
        KeyCase{"SecondLevel", "\xD8\xA1\xF7\xFE", "\xD8\xA1\xF7\xFE"},
        // The byte after a high byte is always its partner, even below 0x80.
        KeyCase{"LowPartnerSwallowed", "\xB1" "A", "B"},
        KeyCase{"PartnerUpped", "\x81" "a", "\x81" "A"},
        KeyCase{"Byte80StartsPair", "\x80\xB0\xA1", "\x80\xB0\xA1"},
        // A last high byte pairs with the terminating zero.
        KeyCase{"LastC1", "a\xC1", "AL"},
        KeyCase{"LastB0", "\xB0", "\xB0"},
        KeyCase{"LastD8", "\xD8", "\xD8"},
        KeyCase{"Last80", "a\x80", "A\x80"}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(InitialLetterKey, NullIsEmptyText)
{
    EXPECT_STREQ(GETCODEMILL(nullptr), "");
}

TEST(InitialLetterKey, EveryLastByteInsideTheTableGivesALetter)
{
    for (unsigned b = 0xB1; b <= 0xD7; ++b) {
        const std::string key = Key(std::string(1, static_cast<char>(b)));
        ASSERT_EQ(key.size(), 1u) << std::hex << b;
        EXPECT_TRUE(key[0] >= 'A' && key[0] <= 'Z') << std::hex << b;
    }
}

// Every pair is looked up by value alone: nothing grows the key, and the walk
// never runs past the text's end.
TEST(InitialLetterKey, EveryPairGivesOneLetterOrItself)
{
    for (unsigned value = 0x8000; value <= 0xFFFF; ++value) {
        if ((value & 0xFF) == 0) continue;
        const std::string pair = Pair(value);
        const std::string key = Key(pair);
        if (value >= 0xB0A1 && value <= 0xD7F9) {
            ASSERT_EQ(key.size(), 1u) << std::hex << value;
        } else {
            std::string upped = pair;
            if (upped[1] >= 'a' && upped[1] <= 'z') upped[1] = static_cast<char>(upped[1] - 0x20);
            ASSERT_EQ(key, upped) << std::hex << value;
        }
    }
}

}  // namespace
