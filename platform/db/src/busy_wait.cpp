#include "busy_wait.h"

#include <thread>
#include <utility>

#include "platform/db.h"

namespace platform::db {
namespace {

thread_local BusyWait threadBusyWait;

}  // namespace

void SetThreadBusyWait(BusyWait wait) { threadBusyWait = std::move(wait); }

namespace detail {

bool HasBusyWait() { return static_cast<bool>(threadBusyWait); }

bool BusyStep(std::chrono::milliseconds step) {
  if (!threadBusyWait) {
    std::this_thread::sleep_for(step);
    return true;
  }
  // A copy: the wait may run code that sets the thread's wait anew. It runs inside
  // SQLite's C code, which no exception may cross: one gives the wait up.
  BusyWait wait = threadBusyWait;
  try {
    return wait(step);
  } catch (...) {
    return false;
  }
}

}  // namespace detail
}  // namespace platform::db
