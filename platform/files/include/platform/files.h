// Whole files written so that nothing goes through a name that was there before: a
// hard link, a symbolic link or a read-only file of that name is replaced, never
// opened, so a file elsewhere that it leads to stays as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
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

// Appends data to the file at path, made when missing; a file of more than emptyAbove
// bytes is emptied first. Gives the error, or none.
std::error_code AppendFile(const std::filesystem::path& path, std::string_view data,
                           std::uintmax_t emptyAbove);

// A regular file open for reading at any offset. Only a regular file is opened:
// opening a pipe or a device could wait for ever.
class RegularFile {
 public:
  // The file, or none when path names no regular file or it cannot be opened.
  static std::optional<RegularFile> Open(const std::filesystem::path& path);

  RegularFile(RegularFile&& other) noexcept;
  RegularFile& operator=(RegularFile&&) = delete;
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;
  ~RegularFile();

  // The size it had when opened.
  std::uintmax_t Size() const { return size_; }
  // n bytes from offset at; false when the file ends before them or cannot be read.
  bool ReadAt(char* buf, std::size_t n, std::uintmax_t at) const;

 private:
  RegularFile(int fd, std::uintmax_t size) : fd_(fd), size_(size) {}
  int fd_;
  std::uintmax_t size_;
};

}  // namespace platform::files
