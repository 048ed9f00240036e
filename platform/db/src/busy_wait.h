// The calling thread's way of waiting (SetThreadBusyWait), for the backends and the
// connection's lock.
#pragma once

#include <chrono>

namespace platform::db::detail {

// The step a wait takes between two looks at what it waits for.
inline constexpr std::chrono::milliseconds kBusyStep{10};

// True when the calling thread has set a BusyWait.
bool HasBusyWait();

// One step of the calling thread's wait, at most `step` long; false when the wait is
// given up. Sleeps the step without a BusyWait.
bool BusyStep(std::chrono::milliseconds step);

}  // namespace platform::db::detail
