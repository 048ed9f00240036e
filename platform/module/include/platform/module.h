// The running program file and its folder, as the programs find their files beside it;
// and the name a debugger shows for a thread of it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform::module {

// Folder of the running program file (resolved through links), as an absolute path.
std::filesystem::path ProgramFolder();

// Tests give each case a program folder of its own; production code never calls this.
void OverrideProgramFolderForTesting(const std::filesystem::path& folder);

// Names the calling thread for debuggers and process listings. The system keeps at
// most 15 bytes of it; a longer name is cut there. Never fails.
void SetCurrentThreadName(std::string_view name);
// The calling thread's name as the system holds it.
std::string CurrentThreadName();

}  // namespace platform::module
