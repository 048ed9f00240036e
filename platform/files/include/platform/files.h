// Whole files written so that nothing goes through a name that was there before: a
// hard link, a symbolic link or a read-only file of that name is replaced, never
// opened, so a file elsewhere that it leads to stays as it was.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace platform::files {

// Writes data as a new file named path, always created exclusively. An old entry of
// that name is removed and the create tried again (a folder is not, and then the write
// fails): a name that reappears in between fails the write instead of being opened. A
// write that fails removes what it wrote. Gives the error, or none.
std::error_code WriteNewFile(const std::filesystem::path& path, std::string_view data);

// Writes data under path whole or not at all: WriteNewFile to path + tempSuffix, then
// renamed over path. A failure removes the temporary and leaves path as it was.
std::error_code ReplaceFile(const std::filesystem::path& path, std::string_view data,
                            std::string_view tempSuffix);

}  // namespace platform::files
