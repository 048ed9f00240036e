#include "platform/stop_signal.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <signal.h>

#include <stdexcept>
#include <vector>

using platform::ui::StopSignal;

namespace {

void RunEventsUntil(const std::function<bool()>& done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

}  // namespace

TEST(StopSignal, TermAndIntReachTheEventLoopInOrder) {
  std::vector<int> seen;
  StopSignal stop([&](int s) { seen.push_back(s); });
  raise(SIGTERM);
  raise(SIGINT);
  // Nothing runs inside the handler: the callback waits for the event loop.
  EXPECT_TRUE(seen.empty());
  RunEventsUntil([&] { return seen.size() >= 2; });
  EXPECT_EQ(seen, (std::vector<int>{SIGTERM, SIGINT}));
}

TEST(StopSignal, OneAtATimeAndReinstallableAfterwards) {
  {
    StopSignal first([](int) {});
    EXPECT_THROW(StopSignal([](int) {}), std::runtime_error);
  }
  int count = 0;
  StopSignal again([&](int) { ++count; });
  raise(SIGTERM);
  RunEventsUntil([&] { return count > 0; });
  EXPECT_EQ(count, 1);
}
