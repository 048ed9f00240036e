#include "codemill.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct AcceptedIsbn {
    const char* name;
    const char* isbn;
    const char* isbn10;
    const char* publisher;
};

void PrintTo(const AcceptedIsbn& c, std::ostream* os) { *os << c.name; }

class IsbnAccepted : public testing::TestWithParam<AcceptedIsbn> {};

TEST_P(IsbnAccepted, GivesIsbn10AndPublisher)
{
    const char* isbn10 = nullptr;
    const char* publisher = nullptr;
    ASSERT_EQ(GetIsbn(GetParam().isbn, &isbn10, &publisher), 1);
    ASSERT_NE(isbn10, nullptr);
    ASSERT_NE(publisher, nullptr);
    EXPECT_STREQ(isbn10, GetParam().isbn10);
    EXPECT_STREQ(publisher, GetParam().publisher);
}

INSTANTIATE_TEST_SUITE_P(
    Codemill, IsbnAccepted,
    testing::Values(
        AcceptedIsbn{"Isbn13", "9787040123456", "7040123452", "04"},
        AcceptedIsbn{"Isbn10", "7040123452", "7040123452", "04"},
        AcceptedIsbn{"Publisher4", "9787532100019", "7532100014", "5321"},
        AcceptedIsbn{"CheckX", "700000004X", "700000004X", "00"},
        AcceptedIsbn{"Isbn13ToCheckX", "9787000000049", "700000004X", "00"},
        AcceptedIsbn{"CheckZero", "7000000090", "7000000090", "00"},
        // The group digit of an ISBN-13 is not tested; the code table applies all the same.
        AcceptedIsbn{"OtherGroup", "9780123456786", "0123456789", "123"},
        // One case per length of the publisher code.
        AcceptedIsbn{"Publisher2", "7012345675", "7012345675", "01"},
        AcceptedIsbn{"Publisher3", "7312345670", "7312345670", "312"},
        AcceptedIsbn{"Publisher4Again", "7412345672", "7412345672", "4123"},
        AcceptedIsbn{"Publisher5", "7612345676", "7612345676", "61234"},
        AcceptedIsbn{"Publisher5Seven", "7712345678", "7712345678", "71234"},
        AcceptedIsbn{"Publisher6", "7912345671", "7912345671", "912345"}),
    [](const auto& tc) { return std::string(tc.param.name); });

struct RejectedIsbn {
    const char* name;
    const char* isbn;
};

void PrintTo(const RejectedIsbn& c, std::ostream* os) { *os << c.name; }

class IsbnRejected : public testing::TestWithParam<RejectedIsbn> {};

TEST_P(IsbnRejected, LeavesOutVariablesAlone)
{
    const char* const untouched = "untouched";
    const char* isbn10 = untouched;
    const char* publisher = untouched;
    EXPECT_EQ(GetIsbn(GetParam().isbn, &isbn10, &publisher), 0);
    EXPECT_EQ(isbn10, untouched);
    EXPECT_EQ(publisher, untouched);
}

INSTANTIATE_TEST_SUITE_P(
    Codemill, IsbnRejected,
    testing::Values(
        RejectedIsbn{"Null", nullptr},
        RejectedIsbn{"Empty", ""},
        RejectedIsbn{"LowerX", "700000004x"},
        RejectedIsbn{"WrongCheck10", "7040123453"},
        RejectedIsbn{"WrongCheck13", "9787040123457"},
        RejectedIsbn{"BlankBefore10", " 7040123452"},
        RejectedIsbn{"BlankAfter10", "7040123452 "},
        RejectedIsbn{"BlankBefore13", " 9787040123456"},
        RejectedIsbn{"BlankAfter13", "9787040123456\t"},
        RejectedIsbn{"Prefix979", "9797040123455"},
        RejectedIsbn{"Group0Alone", "0123456789"},
        RejectedIsbn{"Hyphens", "7-04-012345-2"},
        RejectedIsbn{"Nine", "704012345"},
        RejectedIsbn{"Eleven", "70401234520"},
        RejectedIsbn{"Twelve", "978704012345"},
        RejectedIsbn{"Fourteen", "97870401234560"},
        RejectedIsbn{"Sign10", "7+40123452"},
        RejectedIsbn{"Letter13", "978704012345A"},
        RejectedIsbn{"HighBytes13", "978\xB0\xA1" "40123456"}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(IsbnOutVariables, NullAddressesStillGiveTheAnswer)
{
    EXPECT_EQ(GetIsbn("7040123452", nullptr, nullptr), 1);
    EXPECT_EQ(GetIsbn("7040123453", nullptr, nullptr), 0);
    const char* publisher = nullptr;
    EXPECT_EQ(GetIsbn("9787040123456", nullptr, &publisher), 1);
    EXPECT_STREQ(publisher, "04");
}

}  // namespace
