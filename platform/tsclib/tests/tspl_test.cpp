// The TSPL text of each function, and the calls it refuses.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/tsclib.h"

namespace {

using namespace platform::tsclib;

struct Case {
  const char* name;
  std::function<std::optional<std::string>()> call;
  std::optional<std::string> expected;  // nothing: refused
};

const Case kCases[] = {
    {"setup with the gap sensor",
     [] { return tspl::Setup("32", "20", "2.0", "5", "0", "3", "0"); },
     "SIZE 32 mm,20 mm\r\nSPEED 2.0\r\nDENSITY 5\r\nGAP 3 mm,0 mm\r\n"},
    {"setup with the black-mark sensor",
     [] { return tspl::Setup("100", "40.5", "4", "12", "1", "2", "-1"); },
     "SIZE 100 mm,40.5 mm\r\nSPEED 4\r\nDENSITY 12\r\nBLINE 2 mm,-1 mm\r\n"},
    {"setup of an empty page record sends zero sizes",
     [] { return tspl::Setup("0", "0", "2.0", "5", "0", "0", "0"); },
     "SIZE 0 mm,0 mm\r\nSPEED 2.0\r\nDENSITY 5\r\nGAP 0 mm,0 mm\r\n"},
    {"setup with an unknown sensor",
     [] { return tspl::Setup("32", "20", "2.0", "5", "2", "3", "0"); }, std::nullopt},
    {"setup with a line break in a number",
     [] { return tspl::Setup("32 mm\r\nPRINT 9", "20", "2.0", "5", "0", "3", "0"); },
     std::nullopt},
    {"setup with a comma that would shift the parameters",
     [] { return tspl::Setup("32", "20 mm,9", "2.0", "5", "0", "3", "0"); }, std::nullopt},
    {"setup with an empty number",
     [] { return tspl::Setup("", "20", "2.0", "5", "0", "3", "0"); }, std::nullopt},
    {"setup with a number ending in a point",
     [] { return tspl::Setup("32.", "20", "2.0", "5", "0", "3", "0"); }, std::nullopt},

    {"clearbuffer", [] { return tspl::ClearBuffer(); }, "CLS\r\n"},

    {"sendcommand sends the line as given",
     [] { return tspl::SendCommand("GAP 3 mm,0"); }, "GAP 3 mm,0\r\n"},
    {"sendcommand keeps quotes and blanks",
     [] { return tspl::SendCommand(" TEXT 1,1,\"3\",0,1,1,\"a\" "); },
     " TEXT 1,1,\"3\",0,1,1,\"a\" \r\n"},
    {"sendcommand with a line feed", [] { return tspl::SendCommand("CLS\nPRINT 1"); },
     std::nullopt},
    {"sendcommand with a carriage return", [] { return tspl::SendCommand("CLS\r"); },
     std::nullopt},

    {"barcode",
     [] { return tspl::Barcode("48", "24", "128", "96", "1", "0", "2", "2", "1234567890123"); },
     "BARCODE 48,24,\"128\",96,1,0,2,2,\"1234567890123\"\r\n"},
    {"barcode with quotes in the data",
     [] { return tspl::Barcode("0", "0", "128", "80", "0", "0", "3", "3", "A\"B\"\""); },
     "BARCODE 0,0,\"128\",80,0,0,3,3,\"A\\[\"]B\\[\"]\\[\"]\"\r\n"},
    {"barcode with a line feed in the data",
     [] { return tspl::Barcode("0", "0", "128", "80", "0", "0", "3", "3", "12\nPRINT 1"); },
     std::nullopt},
    {"barcode with a carriage return in the data",
     [] { return tspl::Barcode("0", "0", "128", "80", "0", "0", "3", "3", "12\r"); },
     std::nullopt},
    {"barcode with an escape in the data",
     [] { return tspl::Barcode("0", "0", "128", "80", "0", "0", "3", "3", "\x1b!R"); },
     std::nullopt},
    {"barcode with a line feed in the type",
     [] { return tspl::Barcode("0", "0", "128\n", "80", "0", "0", "3", "3", "1"); },
     std::nullopt},
    {"barcode with a position that is no number",
     [] { return tspl::Barcode("4,8", "0", "128", "80", "0", "0", "3", "3", "1"); },
     std::nullopt},

    {"printlabel", [] { return tspl::PrintLabel("1", "1"); }, "PRINT 1,1\r\n"},
    {"printlabel with a line feed", [] { return tspl::PrintLabel("1", "1\nCLS"); },
     std::nullopt},
};

TEST(Tspl, CommandTextOfEachFunction) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(), c.expected);
  }
}

TEST(Tspl, CallsWithoutAnOpenPortDoNothing) {
  EXPECT_EQ(setup("32", "20", "2.0", "5", "0", "3", "0"), 0);
  EXPECT_EQ(clearbuffer(), 0);
  EXPECT_EQ(sendcommand("CLS"), 0);
  EXPECT_EQ(barcode("0", "0", "128", "80", "0", "0", "3", "3", "1"), 0);
  EXPECT_EQ(windowsfont(0, 0, 24, 0, 0, 0, "Arial", "x"), 0);
  EXPECT_EQ(printlabel("1", "1"), 0);
  EXPECT_EQ(closeport(), 0);
  // Null pointers count as empty text: refused, not a crash.
  EXPECT_EQ(sendcommand(nullptr), 0);
  EXPECT_EQ(barcode(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                    nullptr),
            0);
}

}  // namespace
