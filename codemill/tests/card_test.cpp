#include "codemill.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <ostream>
#include <string>

namespace {

struct MadeCard {
    const char* name;
    const char* prefix;
    std::int32_t number;
    const char* card;
};

void PrintTo(const MadeCard& c, std::ostream* os) { *os << c.name; }

class CardMaking : public testing::TestWithParam<MadeCard> {};

TEST_P(CardMaking, GivesCardNumber)
{
    EXPECT_STREQ(SetReadCadeId(GetParam().prefix, GetParam().number), GetParam().card);
}

INSTANTIATE_TEST_SUITE_P(
    Codemill, CardMaking,
    testing::Values(
        MadeCard{"Example", "0001", 1, "1000100000011"},
        MadeCard{"ShortPrefixFilled", "12", 345, "1001200003455"},
        MadeCard{"LongPrefixCut", "20230001", 1, "1000100000011"},
        MadeCard{"EmptyPrefix", "", 0, "1000000000000"},
        MadeCard{"NullPrefix", nullptr, 0, "1000000000000"},
        // The running sum wraps around 32 bits.
        MadeCard{"SumWraps", "9999", 9999999, "1999999999997"},
        // Sums that end negative take the magnitude of the remainder.
        MadeCard{"NegativeSum", "9486", 9998592, "1948699985928"},
        MadeCard{"NegativeSumZero", "7844", 9989574, "1784499895740"},
        // A serial past seven digits lengthens the number; the check digit still
        // covers the first eleven body characters.
        MadeCard{"LongSerial", "0001", 12345678, "10001123456789"},
        MadeCard{"LargestNumber", "0001", std::numeric_limits<std::int32_t>::max(), "1000121474836471"},
        // A character that is no digit would break the check digit.
        MadeCard{"LetterInPrefix", "00A1", 1, ""},
        MadeCard{"LetterInCutPart", "X0001", 1, ""},
        MadeCard{"SignInPrefix", "-001", 1, ""},
        MadeCard{"BlankInPrefix", " 001", 1, ""},
        MadeCard{"HighByteInPrefix", "\xB0\xA1" "01", 1, ""},
        MadeCard{"NegativeNumber", "0001", -1, ""},
        MadeCard{"SmallestNumber", "0001", std::numeric_limits<std::int32_t>::min(), ""}),
    [](const auto& tc) { return std::string(tc.param.name); });

struct CheckedCard {
    const char* name;
    const char* id;
    bool valid;
};

void PrintTo(const CheckedCard& c, std::ostream* os) { *os << c.name; }

class CardChecking : public testing::TestWithParam<CheckedCard> {};

TEST_P(CardChecking, AcceptsOnlyValidNumbers)
{
    EXPECT_EQ(CheckReadCadeId(GetParam().id), GetParam().valid ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Codemill, CardChecking,
    testing::Values(
        CheckedCard{"Valid", "1000100000011", true},
        CheckedCard{"SumWraps", "1999999999997", true},
        CheckedCard{"NegativeSum", "1948699985928", true},
        CheckedCard{"NegativeSumOtherRule", "1948699985922", false},
        CheckedCard{"WrongCheckDigit", "1000100000012", false},
        CheckedCard{"WrongLeadingDigit", "2000100000011", false},
        CheckedCard{"Twelve", "100010000001", false},
        CheckedCard{"Fourteen", "10001123456789", false},
        CheckedCard{"Empty", "", false},
        CheckedCard{"Null", nullptr, false},
        // Their check digit would match if a non-digit were read as a digit.
        CheckedCard{"SignInBody", "138989942+641", false},
        CheckedCard{"ColonInBody", "19922022:9229", false},
        CheckedCard{"LetterInBody", "1902B39314213", false},
        CheckedCard{"LetterAsCheckDigit", "100010000001X", false},
        CheckedCard{"HighBytes", "1\xB0\xA1" "01000000011", false}),
    [](const auto& tc) { return std::string(tc.param.name); });

std::string Digits(std::mt19937& random, std::size_t count)
{
    std::uniform_int_distribution<int> digit(0, 9);
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += static_cast<char>('0' + digit(random));
    return text;
}

// Every number the maker gives from a digit prefix and a serial of up to seven
// digits, the checker accepts, and no other check digit.
TEST(CardAgreement, CheckerAcceptsEveryMadeNumber)
{
    std::mt19937 random(104);
    std::uniform_int_distribution<int> prefixLength(0, 8);
    std::uniform_int_distribution<std::int32_t> serial(0, 9999999);
    for (int i = 0; i < 100000; ++i) {
        const std::string prefix = Digits(random, static_cast<std::size_t>(prefixLength(random)));
        const std::int32_t number = serial(random);
        std::string card = SetReadCadeId(prefix.c_str(), number);
        ASSERT_EQ(card.size(), 13u) << prefix << " " << number;
        ASSERT_EQ(CheckReadCadeId(card.c_str()), 1) << card;
        const char check = card.back();
        for (char other = '0'; other <= '9'; ++other) {
            if (other == check) continue;
            card.back() = other;
            ASSERT_EQ(CheckReadCadeId(card.c_str()), 0) << card;
        }
    }
}

// The checker accepts a 13-digit text exactly when the maker gives that text
// from its prefix and serial.
TEST(CardAgreement, CheckerAcceptsOnlyWhatTheMakerGives)
{
    std::mt19937 random(1104);
    int accepted = 0;
    for (int i = 0; i < 200000; ++i) {
        const std::string id = "1" + Digits(random, 12);
        const std::string made = SetReadCadeId(id.substr(1, 4).c_str(), std::stoi(id.substr(5, 7)));
        const bool valid = CheckReadCadeId(id.c_str()) == 1;
        ASSERT_EQ(valid, made == id) << id;
        accepted += valid ? 1 : 0;
    }
    // About one in ten random texts carries its right check digit.
    EXPECT_GT(accepted, 15000);
}

// The check digit as the running sum defines it, one position after another, in 32 bits
// that wrap; a negative sum gives the magnitude of its remainder. Also tells whether the
// sum wrapped and whether it ended negative.
struct RunningSum {
    char checkDigit;
    bool wrapped;
    bool negative;
};

RunningSum RunningSumOf(const std::string& body)
{
    std::uint32_t sum = 0;
    bool wrapped = false;
    for (std::uint32_t i = 1; i <= 11; ++i) {
        const auto difference = static_cast<std::int32_t>(sum - i);
        const std::uint32_t weight = difference < 0 ? 0u - static_cast<std::uint32_t>(difference)
                                                    : static_cast<std::uint32_t>(difference);
        const auto digit = static_cast<std::uint32_t>(body[i - 1] - '0');
        const std::uint64_t exact = sum + static_cast<std::uint64_t>(digit) * weight;
        sum += digit * weight;
        wrapped = wrapped || exact != sum;
    }
    const std::int32_t remainder = static_cast<std::int32_t>(sum) % 10;
    return {static_cast<char>('0' + (remainder < 0 ? -remainder : remainder)), wrapped,
            static_cast<std::int32_t>(sum) < 0};
}

// Random bodies, many of them heavy in nines so that the sum wraps and ends negative,
// checked and made with the digit of the running sum.
TEST(CardAgreement, CheckDigitIsTheRunningSums)
{
    std::mt19937 random(3104);
    std::uniform_int_distribution<int> digit(0, 9);
    std::uniform_int_distribution<int> nines(0, 10);
    int wrapped = 0;
    int negative = 0;
    for (int i = 0; i < 200000; ++i) {
        const int share = nines(random);
        std::string body;
        for (int k = 0; k < 11; ++k) {
            body += digit(random) < share ? '9' : static_cast<char>('0' + digit(random));
        }
        const RunningSum sum = RunningSumOf(body);
        const std::string id = "1" + body + sum.checkDigit;
        ASSERT_EQ(CheckReadCadeId(id.c_str()), 1) << id;
        ASSERT_STREQ(SetReadCadeId(body.substr(0, 4).c_str(), std::stoi(body.substr(4))), id.c_str());
        wrapped += sum.wrapped ? 1 : 0;
        negative += sum.negative ? 1 : 0;
    }
    EXPECT_GT(wrapped, 1000);
    EXPECT_GT(negative, 1000);
}

// A non-digit anywhere in the body or check place is refused, and a prefix
// with one gives no number.
TEST(CardAgreement, NonDigitsAreRefusedByBoth)
{
    std::mt19937 random(2104);
    std::uniform_int_distribution<int> byte(1, 255);
    std::uniform_int_distribution<std::size_t> place(1, 12);
    std::uniform_int_distribution<std::size_t> prefixPlace(0, 3);
    std::uniform_int_distribution<std::int32_t> serial(0, 9999999);
    for (int i = 0; i < 50000; ++i) {
        char other = '0';
        while (other >= '0' && other <= '9') other = static_cast<char>(byte(random));
        std::string id = SetReadCadeId(Digits(random, 4).c_str(), serial(random));
        id[place(random)] = other;
        ASSERT_EQ(CheckReadCadeId(id.c_str()), 0) << testing::PrintToString(id);

        std::string prefix = Digits(random, 4);
        prefix[prefixPlace(random)] = other;
        ASSERT_STREQ(SetReadCadeId(prefix.c_str(), 1), "") << testing::PrintToString(prefix);
    }
}

}  // namespace
