#include "tagwright/printer_caps.h"

#include <gtest/gtest.h>

#include "cups_test_support.h"

namespace {

TEST(PrinterCaps, ReadsTheDefaultPrintersResolutionEachTime) {
  CUPS_TEST_REQUIRE_SERVER();
  cups_test::RawQueue tsc("Tsc", 9);
  cups_test::SetDefault(tsc.Name());
  tagwright::ReadPrinterCaps();
  EXPECT_EQ(tagwright::PrnLogPixelsY, 300);
  cups_test::SetOption(tsc.Name(), "printer-resolution-default=203dpi");
  tagwright::ReadPrinterCaps();
  EXPECT_EQ(tagwright::PrnLogPixelsY, 203);
}

TEST(PrinterCaps, NoPrinterIsAnError) {
  CUPS_TEST_REQUIRE_SERVER();
  cups_test::OwnScheduler withoutQueues;
  try {
    tagwright::ReadPrinterCaps();
    FAIL() << "no error without a default printer";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "There is no default printer currently selected");
  }
}

}  // namespace
