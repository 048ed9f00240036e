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
  // O_EXCL: created here or not at all; never a file that is already there, nor one that
  // a symbolic link of that name points to.
  constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  int fd = ::open(path.c_str(), kCreate, 0666);
  if (fd < 0 && errno == EEXIST) {
    // Whatever stands at the name goes (a name that went meanwhile is no error), and
    // the name is created again; a folder stays, and the second create fails. Tried
    // only now: most names written are new, and then this costs no call.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT && errno != EISDIR) return LastError();
    fd = ::open(path.c_str(), kCreate, 0666);
  }
  if (fd < 0) return LastError();
  std::error_code ec;
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
