#include "codemill.h"

#include <gtest/gtest.h>

#include <random>
#include <ostream>
#include <string>

namespace {

const std::string kTenDF(10, '\xDF');

std::string Scramble(const char* text) { return GetPassword(text); }
std::string Scramble(const std::string& text) { return GetPassword(text.c_str()); }

struct PasswordCase {
    const char* name;
    std::string text;
    std::string stored;
};

void PrintTo(const PasswordCase& c, std::ostream* os) { *os << c.name; }

class PasswordScramble : public testing::TestWithParam<PasswordCase> {};

TEST_P(PasswordScramble, GivesStoredForm)
{
    EXPECT_EQ(Scramble(GetParam().text), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Codemill, PasswordScramble,
    testing::Values(
        PasswordCase{"Short", "abc", "\x9E\x9D\x9C" + std::string(7, '\xDF')},
        PasswordCase{"Empty", "", kTenDF},
        PasswordCase{"StoredEmpty", kTenDF, ""},
        PasswordCase{"InnerSpaceKept", "a b", "\x9E\xDF\x9D" + std::string(7, '\xDF')},
        PasswordCase{"OnlyFirstTen", "abcdefghijkl", "\x9E\x9D\x9C\x9B\x9A\x99\x98\x97\x96\x95"},
        // A first character of 0xDF or more turns into a blank and is trimmed.
        PasswordCase{"HighFirstLost", "\xE0" "ab", "\x9E\x9D" + std::string(7, '\xDF')},
        PasswordCase{"HighFirstSecondPass", "\x9E\x9D" + std::string(7, '\xDF'),
                     "ab" + std::string(7, ' ') + "\xDF"},
        PasswordCase{"HighTenthLost", "abcdefghi\xF0", "\x9E\x9D\x9C\x9B\x9A\x99\x98\x97\x96"},
        // 0xFF becomes a zero byte: inside, it ends the text; first, it is trimmed.
        PasswordCase{"FFEndsText", "ab\xFF" "cd", "\x9E\x9D"},
        PasswordCase{"FFFirstTrimmed", "\xFF" "a", "\x9E" + std::string(8, '\xDF')}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(PasswordScramble, NullIsEmptyText)
{
    EXPECT_EQ(Scramble(nullptr), kTenDF);
}

struct RoundTripCase {
    const char* name;
    std::string typed;
    std::string readBack;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class PasswordRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(PasswordRoundTrip, StoredFormGivesPasswordBack)
{
    EXPECT_EQ(Scramble(Scramble(GetParam().typed)), GetParam().readBack);
}

INSTANTIATE_TEST_SUITE_P(
    Codemill, PasswordRoundTrip,
    testing::Values(RoundTripCase{"Plain", "abc", "abc"},
                    RoundTripCase{"Empty", "", ""},
                    RoundTripCase{"TenLong", "Pa55w0rd!~", "Pa55w0rd!~"},
                    RoundTripCase{"OuterBlanksDropped", " ab ", "ab"},
                    RoundTripCase{"ControlBlanksDropped", "\t\x01" "ab\x1F", "ab"},
                    RoundTripCase{"InnerSpacesKept", "a  b", "a  b"},
                    RoundTripCase{"LongCutToTen", "abcdefghijkl", "abcdefghij"},
                    RoundTripCase{"CutBeforeBlank", "abcdefghi jk", "abcdefghi"},
                    RoundTripCase{"Gbk", "\xC3\xDC\xC2\xEB", "\xC3\xDC\xC2\xEB"}),
    [](const auto& tc) { return std::string(tc.param.name); });

// Any password of one to ten characters with non-blank ends below 0xDF and no
// 0xFF is stored as ten characters and read back unchanged.
TEST(PasswordRoundTrip, HoldsForEveryStorablePassword)
{
    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> length(1, 10);
    std::uniform_int_distribution<int> end(0x21, 0xDE);
    std::uniform_int_distribution<int> inner(0x01, 0xFE);
    for (int i = 0; i < 20000; ++i) {
        std::string typed(static_cast<std::size_t>(length(random)), '\0');
        for (char& c : typed) c = static_cast<char>(inner(random));
        typed.front() = static_cast<char>(end(random));
        typed.back() = static_cast<char>(end(random));
        const std::string stored = Scramble(typed);
        ASSERT_EQ(stored.size(), 10u) << testing::PrintToString(typed);
        ASSERT_EQ(Scramble(stored), typed) << testing::PrintToString(typed);
    }
}

}  // namespace
