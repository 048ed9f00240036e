// The running program file and its folder, as the programs find their files beside it.
#pragma once

#include <filesystem>

namespace platform::module {

// Folder of the running program file (resolved through links), as an absolute path.
std::filesystem::path ProgramFolder();

// Tests give each case a program folder of its own; production code never calls this.
void OverrideProgramFolderForTesting(const std::filesystem::path& folder);

}  // namespace platform::module
