// The eight functions through a raw CUPS queue to a socket that plays the printer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cups_test_support.h"
#include "platform/text.h"
#include "platform/tsclib.h"

namespace {

using namespace platform::tsclib;
using platform::text::Utf8ToCp936;

class TsclibCups : public ::testing::Test {
 protected:
  void SetUp() override { CUPS_TEST_REQUIRE_SERVER(); }
  void TearDown() override {
    closeport();
    SetCallRecorder(nullptr);
  }
};

// Takes text lines off the front of a job.
std::string TakeLine(std::string& job) {
  const std::size_t end = job.find("\r\n");
  if (end == std::string::npos) {
    std::string rest = job;
    job.clear();
    return rest;
  }
  std::string line = job.substr(0, end);
  job.erase(0, end + 2);
  return line;
}

TEST_F(TsclibCups, OneLabelJobArrivesLineByLine) {
  cups_test::OneJobListener printer;
  cups_test::RawQueue queue("Tsc", printer.Port());
  const std::string face = Utf8ToCp936("宋体");
  const std::string text = Utf8ToCp936("图书 A-1");

  EXPECT_EQ(openport(queue.Name().c_str()), 1);
  EXPECT_EQ(setup("32", "20", "2.0", "5", "0", "3", "0"), 1);
  EXPECT_EQ(clearbuffer(), 1);
  EXPECT_EQ(sendcommand("GAP 3 mm,0"), 1);
  EXPECT_EQ(barcode("48", "24", "128", "96", "1", "0", "2", "2", "97\"8"), 1);
  EXPECT_EQ(windowsfont(48, 130, 40, 0, 0, 0, face.c_str(), text.c_str()), 1);
  EXPECT_EQ(printlabel("1", "1"), 1);
  EXPECT_EQ(closeport(), 1);

  std::optional<std::string> received = printer.Wait();
  ASSERT_TRUE(received) << "the job did not reach the printer's socket";
  std::string job = *received;
  EXPECT_EQ(TakeLine(job), "SIZE 32 mm,20 mm");
  EXPECT_EQ(TakeLine(job), "SPEED 2.0");
  EXPECT_EQ(TakeLine(job), "DENSITY 5");
  EXPECT_EQ(TakeLine(job), "GAP 3 mm,0 mm");
  EXPECT_EQ(TakeLine(job), "CLS");
  EXPECT_EQ(TakeLine(job), "GAP 3 mm,0");
  EXPECT_EQ(TakeLine(job), "BARCODE 48,24,\"128\",96,1,0,2,2,\"97\\[\"]8\"");
  // The picture's rows are binary and may hold CR LF bytes: compare it whole.
  const std::string bitmap = *tspl::WindowsFont(48, 130, 40, 0, 0, 0, face, text);
  ASSERT_EQ(job.rfind("BITMAP 48,130,", 0), 0u) << job.substr(0, 40);
  EXPECT_EQ(job.substr(0, bitmap.size()), bitmap);
  job.erase(0, bitmap.size());
  EXPECT_EQ(TakeLine(job), "PRINT 1,1");
  EXPECT_EQ(job, "") << "nothing after the last command";
}

TEST_F(TsclibCups, AJobLargerThanOneWriteArrivesWholeAndInOrder) {
  cups_test::OneJobListener printer;
  cups_test::RawQueue queue("TscLarge", printer.Port());
  std::string expected;
  ASSERT_EQ(openport(queue.Name().c_str()), 1);
  for (int i = 0; i < 5000; ++i) {
    const std::string code = std::to_string(9787000000000LL + i);
    ASSERT_EQ(barcode("8", "8", "128", "80", "1", "0", "2", "2", code.c_str()), 1);
    expected += "BARCODE 8,8,\"128\",80,1,0,2,2,\"" + code + "\"\r\n";
  }
  ASSERT_EQ(closeport(), 1);
  std::optional<std::string> received = printer.Wait();
  ASSERT_TRUE(received);
  EXPECT_EQ(received->size(), expected.size());
  EXPECT_TRUE(*received == expected);
}

TEST_F(TsclibCups, RefusedCallsSendNothingAndTheJobGoesOn) {
  cups_test::OneJobListener printer;
  cups_test::RawQueue queue("TscRefuse", printer.Port());
  ASSERT_EQ(openport(queue.Name().c_str()), 1);
  EXPECT_EQ(sendcommand("CLS\r\nPRINT 99,99"), 0);
  EXPECT_EQ(barcode("0", "0", "128", "80", "1", "0", "2", "2", "1\nPRINT 99"), 0);
  EXPECT_EQ(setup("32", "20", "2.0", "5", "0", "3\n", "0"), 0);
  EXPECT_EQ(printlabel("1\r", "1"), 0);
  EXPECT_EQ(windowsfont(0, 0, 24, 45, 0, 0, "Arial", "x"), 0);
  EXPECT_EQ(sendcommand("CLS"), 1);
  ASSERT_EQ(closeport(), 1);
  EXPECT_EQ(printer.Wait(), "CLS\r\n");
}

TEST_F(TsclibCups, AQueueThatDoesNotExistMakesEveryCallQuiet) {
  cups_test::OneJobListener printer;
  cups_test::RawQueue queue("TscAfter", printer.Port());

  EXPECT_EQ(sendcommand("BEFORE"), 0) << "no port yet";
  EXPECT_EQ(openport(cups_test::UniqueQueueName("NoSuchQueue").c_str()), 0);
  EXPECT_EQ(setup("32", "20", "2.0", "5", "0", "3", "0"), 0);
  EXPECT_EQ(clearbuffer(), 0);
  EXPECT_EQ(sendcommand("LOST"), 0);
  EXPECT_EQ(barcode("0", "0", "128", "80", "1", "0", "2", "2", "1"), 0);
  EXPECT_EQ(windowsfont(0, 0, 24, 0, 0, 0, "Arial", "x"), 0);
  EXPECT_EQ(printlabel("1", "1"), 0);
  EXPECT_EQ(closeport(), 0);
  EXPECT_EQ(openport(""), 0);
  EXPECT_EQ(openport(nullptr), 0);
  EXPECT_EQ(closeport(), 0);

  // The next port works, and none of the above reaches it.
  ASSERT_EQ(openport(queue.Name().c_str()), 1);
  EXPECT_EQ(sendcommand("AFTER"), 1);
  ASSERT_EQ(closeport(), 1);
  EXPECT_EQ(printer.Wait(), "AFTER\r\n");
}

TEST_F(TsclibCups, OpeningAgainSendsTheFirstJobAsItStands) {
  cups_test::OneJobListener first;
  cups_test::OneJobListener second;
  cups_test::RawQueue firstQueue("TscFirst", first.Port());
  cups_test::RawQueue secondQueue("TscSecond", second.Port());
  ASSERT_EQ(openport(firstQueue.Name().c_str()), 1);
  EXPECT_EQ(sendcommand("ONE"), 1);
  ASSERT_EQ(openport(secondQueue.Name().c_str()), 1);
  EXPECT_EQ(sendcommand("TWO"), 1);
  ASSERT_EQ(closeport(), 1);
  EXPECT_EQ(first.Wait(), "ONE\r\n");
  EXPECT_EQ(second.Wait(), "TWO\r\n");
}

TEST_F(TsclibCups, RecorderSeesEveryCallAsMade) {
  std::vector<std::string> calls;
  SetCallRecorder([&calls](const std::string& call) { calls.push_back(call); });
  const std::string face = Utf8ToCp936("宋体");
  const std::string text = Utf8ToCp936("书 \"1\"");
  const std::string missing = cups_test::UniqueQueueName("Missing");

  openport(missing.c_str());
  setup("32", "20", "2.0", "5", "0", "3", "0");
  clearbuffer();
  sendcommand("GAP 3 mm,0");
  windowsfont(48, 24, 40, 0, 0, 0, face.c_str(), text.c_str());
  barcode("48", "24", "128", "96", "0", "0", "2", "2", "1234567890123");
  printlabel("1", "1");
  closeport();
  SetCallRecorder(nullptr);
  clearbuffer();

  const std::vector<std::string> expected = {
      "openport(\"" + missing + "\")",
      "setup(\"32\",\"20\",\"2.0\",\"5\",\"0\",\"3\",\"0\")",
      "clearbuffer()",
      "sendcommand(\"GAP 3 mm,0\")",
      "windowsfont(48,24,40,0,0,0,\"宋体\",\"书 \"1\"\")",
      "barcode(\"48\",\"24\",\"128\",\"96\",\"0\",\"0\",\"2\",\"2\",\"1234567890123\")",
      "printlabel(\"1\",\"1\")",
      "closeport()",
  };
  EXPECT_EQ(calls, expected);
}

}  // namespace
