// A page is only made where a default printer exists, which is wherever a printer is
// installed: these tests run on a scheduler of their own without any queue.
#include <gtest/gtest.h>

#include <memory>

#include "cups_test_support.h"
#include "tagwright/label_control.h"

namespace {

TEST(PageWithoutPrinter, CreationFailsWithThePrinterSystemsError) {
  CUPS_TEST_REQUIRE_SERVER();
  cups_test::OwnScheduler withoutQueues;
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
