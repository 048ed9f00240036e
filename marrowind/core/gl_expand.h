// Process-wide cluster settings and flags, shared by the main and the worker thread.
#pragma once

#include <atomic>

namespace marrowind {

// True when the database holds the change journal DataChange as a user table; it
// switches the cluster features on. Set by TDs::DataModuleCreate.
extern std::atomic<bool> HaveGroup;

}  // namespace marrowind
