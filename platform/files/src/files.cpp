#include "platform/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace fs = std::filesystem;

namespace platform::files {
namespace {

std::error_code LastError() { return {errno != 0 ? errno : EIO, std::generic_category()}; }

}  // namespace

std::error_code WriteNewFile(const fs::path& path, std::string_view data) {
  // Whatever stands at the name goes, in one call: a name that is not there is no error,
  // and a folder stays (the create below then fails).
  if (::unlink(path.c_str()) != 0 && errno != ENOENT && errno != EISDIR) return LastError();
  std::error_code ec;

  // O_EXCL: created here or not at all; never a file that is already there, nor one that
  // a symbolic link of that name points to.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return LastError();
  while (!data.empty()) {
    errno = 0;
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ec = LastError();
      break;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  errno = 0;
  if (::close(fd) != 0 && !ec) ec = LastError();
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
