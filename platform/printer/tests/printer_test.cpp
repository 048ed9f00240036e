// The installed printers, the default one and its resolution, on the private scheduler.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "cups_test_support.h"
#include "platform/printer.h"

namespace {

using namespace platform::printer;

class Printers : public ::testing::Test {
 protected:
  void SetUp() override { CUPS_TEST_REQUIRE_SERVER(); }
};

TEST_F(Printers, ListHoldsTheQueuesSortedByName) {
  cups_test::RawQueue b("b_Tsc", 9);
  cups_test::RawQueue a("A_Tsc", 9);
  const std::vector<std::string> names = InstalledPrinters();
  const auto at = [&names](const std::string& name) {
    return std::find(names.begin(), names.end(), name) - names.begin();
  };
  ASSERT_LT(at(a.Name()), static_cast<long>(names.size()));
  ASSERT_LT(at(b.Name()), static_cast<long>(names.size()));
  EXPECT_LT(at(a.Name()), at(b.Name())) << "letter case does not decide the order";
}

TEST_F(Printers, DefaultIsTheServersDefaultQueue) {
  cups_test::RawQueue other("Other", 9);
  cups_test::RawQueue label("Label", 9);
  cups_test::SetDefault(label.Name());
  EXPECT_EQ(DefaultPrinterName(), label.Name());
  cups_test::SetDefault(other.Name());
  EXPECT_EQ(DefaultPrinterName(), other.Name());
}

TEST_F(Printers, ResolutionIsTheQueuesOptionOr300) {
  struct Case {
    const char* option;  // nullptr: none set
    int expected;
  };
  const Case cases[] = {
      {nullptr, 300},
      {"printer-resolution-default=203dpi", 203},
      {"printer-resolution-default=600dpi", 600},
      {"printer-resolution-default=200x300dpi", 300},
      {"printer-resolution-default=80dpcm", 203},
      {"printer-resolution-default=118dpcm", 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option != nullptr ? c.option : "no option");
    cups_test::RawQueue queue("Res", 9);
    if (c.option != nullptr) {
      cups_test::SetOption(queue.Name(), c.option);
    }
    cups_test::SetDefault(queue.Name());
    EXPECT_EQ(DefaultPrinterResolutionY(), c.expected);
    EXPECT_EQ(PrinterResolutionY(queue.Name()), c.expected);
  }
}

TEST_F(Printers, UsersOwnResolutionOptionComesFirst) {
  cups_test::RawQueue queue("UserRes", 9);
  cups_test::SetOption(queue.Name(), "printer-resolution-default=300dpi");
  cups_test::SetDefault(queue.Name());
  // What `lpoptions -p NAME -o printer-resolution=203dpi` writes.
  const char* home = std::getenv("HOME");
  ASSERT_NE(home, nullptr);
  std::filesystem::create_directories(std::filesystem::path(home) / ".cups");
  {
    std::ofstream(std::filesystem::path(home) / ".cups" / "lpoptions")
        << "Dest " << queue.Name() << " printer-resolution=203dpi\n";
  }
  EXPECT_EQ(DefaultPrinterResolutionY(), 203);
  std::filesystem::remove(std::filesystem::path(home) / ".cups" / "lpoptions");
  EXPECT_EQ(DefaultPrinterResolutionY(), 300);
}

// What `lpoptions -d NAME` writes for a user who is not root (root's would go to the
// server's folder); an empty name removes the file.
void SetUserDefault(const std::string& name) {
  const char* home = std::getenv("HOME");
  ASSERT_NE(home, nullptr);
  const std::filesystem::path folder = std::filesystem::path(home) / ".cups";
  if (name.empty()) {
    std::filesystem::remove(folder / "lpoptions");
    return;
  }
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "lpoptions") << "Default " << name << "\n";
}

// On a scheduler of the test's own, so that no other test's queue is in the list.
TEST_F(Printers, DefaultIsTheUsersElseTheServersElseTheFirstQueueByName) {
  cups_test::OwnScheduler own;
  cups_test::RawQueue zeta("Zeta", 9);
  cups_test::RawQueue alpha("alpha", 9);
  cups_test::RawQueue mid("Mid", 9);
  cups_test::SetOption(alpha.Name(), "printer-resolution-default=203dpi");
  const std::string missing = cups_test::UniqueQueueName("Removed");
  struct Step {
    const char* what;
    std::string serverDefault;  // empty: leave as it is
    std::string userDefault;    // empty: none
    const std::string& expected;
    int resolution;
  };
  const Step steps[] = {
      {"no default at all: the first by name, letter case ignored", "", "", alpha.Name(), 203},
      {"the user's default", "", mid.Name(), mid.Name(), 300},
      {"the server's default", zeta.Name(), "", zeta.Name(), 300},
      {"the user's default before the server's", "", mid.Name(), mid.Name(), 300},
      {"a user's default that names no queue", "", missing, zeta.Name(), 300},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (!step.serverDefault.empty()) {
      cups_test::SetDefault(step.serverDefault);
    }
    SetUserDefault(step.userDefault);
    EXPECT_EQ(DefaultPrinterName(), step.expected);
    EXPECT_EQ(DefaultPrinterResolutionY(), step.resolution);
  }
  SetUserDefault("");
}

TEST_F(Printers, WithoutAnyQueueThereIsNoDefaultPrinter) {
  cups_test::OwnScheduler own;
  EXPECT_TRUE(InstalledPrinters().empty());
  for (auto call : {+[] { (void)DefaultPrinterName(); },
                    +[] { (void)DefaultPrinterResolutionY(); }}) {
    try {
      call();
      ADD_FAILURE() << "a default printer without any queue";
    } catch (const PrinterError& e) {
      EXPECT_STREQ(e.what(), "There is no default printer currently selected");
    }
  }
}

TEST_F(Printers, UnknownQueueHasNoResolution) {
  EXPECT_THROW(PrinterResolutionY(cups_test::UniqueQueueName("Missing")), PrinterError);
}

}  // namespace
