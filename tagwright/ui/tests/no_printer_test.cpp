// A page is only made where a default printer exists. These tests leave the private
// scheduler without a default printer, so they run alone (RESOURCE_LOCK cups_default).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "cups_test_support.h"
#include "tagwright/label_control.h"

namespace {

TEST(PageWithoutPrinter, CreationFailsWithThePrinterSystemsError) {
  CUPS_TEST_REQUIRE_SERVER();
  unsetenv("PRINTER");
  cups_test::ClearDefault();
  QWidget host;
  try {
    auto page = std::make_unique<tagwright::TMyPage>(&host);
    FAIL() << "a page without a default printer";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "There is no default printer currently selected");
  }
  EXPECT_TRUE(host.findChildren<QWidget*>().isEmpty());
}

}  // namespace
