#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
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

std::error_code AppendFile(const fs::path& path, std::string_view data, std::uintmax_t emptyAbove) {
  // The size as the open file tells it, so the check and the write see the same file.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return LastError();
  std::error_code ec;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uintmax_t>(st.st_size) > emptyAbove &&
      ::ftruncate(fd, 0) != 0) {
    ec = LastError();
  }
  while (!ec && !data.empty()) {
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
  return ec;
}

std::optional<RegularFile> RegularFile::Open(const fs::path& path) {
  // One look at the name gives its kind and its size.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  return RegularFile(fd, static_cast<std::uintmax_t>(st.st_size));
}

RegularFile::RegularFile(RegularFile&& other) noexcept : fd_(other.fd_), size_(other.size_) { other.fd_ = -1; }

RegularFile::~RegularFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool RegularFile::ReadAt(char* buf, std::size_t n, std::uintmax_t at) const {
  while (n > 0) {
    const ssize_t got = ::pread(fd_, buf, n, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buf += got;
    n -= static_cast<std::size_t>(got);
    at += static_cast<std::uintmax_t>(got);
  }
  return true;
}

}  // namespace platform::files
