#include "codemill.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
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

const LetterRow kRows[] = {
    {'A', 0xB0A1, 0xB0C4}, {'B', 0xB0C5, 0xB2C0}, {'C', 0xB2C1, 0xB4ED},
    {'D', 0xB4EE, 0xB6E9}, {'E', 0xB6EA, 0xB7A1}, {'F', 0xB7A2, 0xB8C0},
    {'G', 0xB8C1, 0xB9FD}, {'H', 0xB9FE, 0xBBF6}, {'J', 0xBBF7, 0xBFA5},
    {'K', 0xBFA6, 0xC0AB}, {'L', 0xC0AC, 0xC2E7}, {'M', 0xC2E8, 0xC4C2},
    {'N', 0xC4C3, 0xC5B5}, {'O', 0xC5B6, 0xC5BD}, {'P', 0xC5BE, 0xC6D9},
    {'Q', 0xC6DA, 0xC8BA}, {'R', 0xC8BB, 0xC8F5}, {'S', 0xC8F6, 0xCBF9},
    {'T', 0xCBFA, 0xCDD9}, {'W', 0xCDDA, 0xCEF3}, {'X', 0xCEF4, 0xD1B8},
    {'Y', 0xD1B9, 0xD4D0}, {'Z', 0xD4D1, 0xD7F9},
};

// The row's letter of a pair value, or 0.
char RowLetter(unsigned value)
{
    for (const LetterRow& row : kRows) {
        if (value >= row.first && value <= row.last) return row.letter;
    }
    return 0;
}

// The key as the walk defines it, one step at a time, then upper-cased as a whole.
std::string KeyStepByStep(const std::string& text)
{
    std::string key;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            key += text[i];
            i += 1;
            continue;
        }
        const bool last = i + 1 == text.size();
        const unsigned value = lead * 256u + (last ? 0u : static_cast<unsigned char>(text[i + 1]));
        if (const char letter = RowLetter(value)) {
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

// Both ends of every row: an off-by-one in the table gives the neighbour's letter.
TEST(InitialLetters, EveryRowHoldsBothItsBounds)
{
    for (const LetterRow& row : kRows) {
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

// A last high byte is looked up with the terminating zero as its partner, whatever came
// before it: nothing, a byte below 0x80, a pair, or a run of such bytes long enough to be
// taken several at once.
TEST(InitialLetterKey, EveryLastHighByteIsLookedUpWithTheTerminatingZero)
{
    const std::string before[] = {"", "x", "\xB0\xA1", "\x81" "a", "abcdefg", "abcdefgh",
                                  "Abc defghi jk"};
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        const char letter = RowLetter(b * 256);
        const std::string last(1, letter ? letter : static_cast<char>(b));
        for (const std::string& text : before) {
            ASSERT_EQ(Key(text + static_cast<char>(b)), KeyStepByStep(text) + last)
                << std::hex << b << " after " << testing::PrintToString(text);
        }
    }
}

// Random texts of every length up to a few words, of every byte value, keyed as the
// step-by-step walk keys them: runs of bytes below 0x80 that start and end anywhere,
// pairs with partners below 0x80, high bytes at the end.
TEST(InitialLetterKey, RandomTextsGiveTheKeyOfTheStepByStepWalk)
{
    std::mt19937 random(103);
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> ascii(0x01, 0x7F);
    std::uniform_int_distribution<int> high(0x80, 0xFF);
    std::uniform_int_distribution<int> firstLevel(0xB0, 0xD7);
    std::uniform_int_distribution<int> kind(0, 3);
    for (int round = 0; round < 100000; ++round) {
        std::string text;
        for (int n = length(random); n > 0; --n) {
            switch (kind(random)) {
                case 0: text += static_cast<char>(high(random)); break;
                case 1: text += static_cast<char>(firstLevel(random)); break;
                default: text += static_cast<char>(ascii(random)); break;
            }
        }
        ASSERT_EQ(Key(text), KeyStepByStep(text)) << testing::PrintToString(text);
    }
}

}  // namespace
