#include "codemill.h"

#include <gtest/gtest.h>

#include <barrier>
#include <functional>
#include <ostream>
#include <string>
#include <thread>

extern "C" int codemill_c_caller_round_trip(void);

namespace {

TEST(CodemillInterface, CallableFromC)
{
    EXPECT_EQ(codemill_c_caller_round_trip(), 1);
}

// Each export has its own storage: calling one leaves another's result intact.
TEST(CodemillInterface, ResultLastsUntilTheSameExportIsCalledAgain)
{
    const char* stored = GetPassword("abc");
    const char* key = GETCODEMILL("xyz");
    const char* card = SetReadCadeId("0001", 1);
    const char* isbn10 = nullptr;
    const char* publisher = nullptr;
    ASSERT_EQ(GetIsbn("7040123452", &isbn10, &publisher), 1);
    EXPECT_EQ(CheckReadCadeId("1000100000011"), 1);
    EXPECT_STREQ(GetPassword(stored), "abc");
    EXPECT_STREQ(key, "XYZ");
    EXPECT_STREQ(card, "1000100000011");
    EXPECT_STREQ(isbn10, "7040123452");
    EXPECT_STREQ(publisher, "04");
    // A refused number keeps the texts of the last accepted one.
    const char* unchanged = isbn10;
    EXPECT_EQ(GetIsbn("bad", &unchanged, &unchanged), 0);
    EXPECT_STREQ(isbn10, "7040123452");
    EXPECT_STREQ(publisher, "04");
}

struct ThreadCase {
    const char* name;
    // Calls the export with the input of thread `which` (0 or 1) and returns its text.
    std::function<const char*(int which)> call;
    std::string expected[2];
};

void PrintTo(const ThreadCase& c, std::ostream* os) { *os << c.name; }

class PerThreadResults : public testing::TestWithParam<ThreadCase> {};

// Both threads hold their result while the other calls the same export, many
// times over; each must still read its own.
TEST_P(PerThreadResults, TwoThreadsKeepTheirOwnResults)
{
    const ThreadCase& c = GetParam();
    std::barrier turn(2);
    bool intact[2] = {true, true};
    auto run = [&](int which) {
        for (int round = 0; round < 2000; ++round) {
            const char* mine = c.call(which);
            turn.arrive_and_wait();  // both results are now live
            if (mine != c.expected[which]) intact[which] = false;
            turn.arrive_and_wait();
        }
    };
    std::thread other(run, 1);
    run(0);
    other.join();
    EXPECT_TRUE(intact[0]);
    EXPECT_TRUE(intact[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Codemill, PerThreadResults,
    testing::Values(
        ThreadCase{"GetPassword", [](int w) { return GetPassword(w ? "second" : "first"); },
                   {"\x99\x96\x8D\x8C\x8B" + std::string(5, '\xDF'),
                    "\x8C\x9A\x9C\x90\x91\x9B" + std::string(4, '\xDF')}},
        ThreadCase{"GETCODEMILL", [](int w) { return GETCODEMILL(w ? "b\xB0\xA1" : "\xD6\xD0z"); },
                   {"ZZ", "BA"}},
        ThreadCase{"SetReadCadeId", [](int w) { return SetReadCadeId(w ? "12" : "0001", w ? 345 : 1); },
                   {"1000100000011", "1001200003455"}},
        ThreadCase{"GetIsbn",
                   [](int w) {
                       const char* isbn10 = nullptr;
                       const char* publisher = nullptr;
                       GetIsbn(w ? "9787532100019" : "7040123452", &isbn10, &publisher);
                       return w ? publisher : isbn10;
                   },
                   {"7040123452", "5321"}}),
    [](const auto& tc) { return std::string(tc.param.name); });

}  // namespace
