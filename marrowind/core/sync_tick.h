// The sync tick: every two minutes the main thread reads the cluster settings, logs
// in, and hands a fresh journal snapshot to the worker when it is idle.
#pragma once

#include <chrono>

namespace marrowind {

class TDs;
class TGroupThread;

// Interval of the sync timer TSer.
inline constexpr std::chrono::milliseconds kSerInterval{120000};

// One sync tick, in this order: clear DynNum; ReadGroupSettings, ending the tick
// when the center is not configured; log in at LoginUrl, ending the tick with DynNum
// empty when the login fails; DynNum := the login's number; then, when SyncBusy is
// clear and the worker exists, take a new snapshot and resume the worker when it
// holds rows. A center that cannot be reached ends the tick silently. An error of the
// snapshot query (DbError) reaches the caller.
void TSerTimer(TDs& ds, TGroupThread* groupThread);

}  // namespace marrowind
