#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <memory>

namespace fs = std::filesystem;

namespace platform::files {
namespace {

std::error_code LastError() { return {errno != 0 ? errno : EIO, std::generic_category()}; }

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::error_code WriteNewFile(const fs::path& path, std::string_view data) {
  std::error_code ec;
  const fs::file_status old = fs::symlink_status(path, ec);  // a missing name sets ec too
  if (fs::exists(old) && !fs::is_directory(old) && !fs::remove(path, ec) && ec) return ec;
  ec.clear();

  // "x": created here or not at all; never a file that is already there, nor one that a
  // symbolic link of that name points to.
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wbx"));
  if (!file) return LastError();
  errno = 0;
  if (std::fwrite(data.data(), 1, data.size(), file.get()) != data.size()) ec = LastError();
  errno = 0;
  if (std::fclose(file.release()) != 0 && !ec) ec = LastError();
  if (ec) {
    std::error_code ignored;
    fs::remove(path, ignored);
  }
  return ec;
}

std::error_code ReplaceFile(const fs::path& path, std::string_view data, std::string_view tempSuffix) {
  fs::path temp = path;
  temp += tempSuffix;
  std::error_code ec = WriteNewFile(temp, data);
  if (ec) return ec;
  fs::rename(temp, path, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
  }
  return ec;
}

}  // namespace platform::files
