#include "platform/service.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform::service {

namespace {

std::string LockFileName(std::string_view name) {
    std::string file;
    for (char c : name) {
        bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
        file += safe ? c : '_';
    }
    // The user id keeps two users of one machine from sharing a lock in /tmp.
    return file + '.' + std::to_string(geteuid()) + ".lock";
}

}  // namespace

std::filesystem::path InstanceGuard::DefaultLockDirectory() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        std::error_code ec;
        if (std::filesystem::is_directory(runtime, ec)) return runtime;
    }
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    return ec ? std::filesystem::path("/tmp") : temp;
}

InstanceGuard InstanceGuard::Acquire(std::string_view name) {
    return Acquire(name, DefaultLockDirectory());
}

InstanceGuard InstanceGuard::Acquire(std::string_view name,
                                     const std::filesystem::path& lockDirectory) {
    InstanceGuard guard;
    guard.lockFile_ = lockDirectory / LockFileName(name);
    // O_NOFOLLOW: in a shared folder such as /tmp a planted link must not make us create or
    // lock some other file.
    int fd = ::open(guard.lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        guard.error_ = "cannot open lock file " + guard.lockFile_.string() + ": " +
                       std::strerror(errno);
        return guard;
    }
    int rc;
    do rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        guard.fd_ = fd;
        guard.status_ = Status::Acquired;
        return guard;
    }
    int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) {
        guard.status_ = Status::AlreadyHeld;
    } else {
        guard.error_ = "cannot lock " + guard.lockFile_.string() + ": " + std::strerror(err);
    }
    return guard;
}

InstanceGuard::InstanceGuard(InstanceGuard&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      status_(std::exchange(other.status_, Status::Failed)),
      lockFile_(std::move(other.lockFile_)),
      error_(std::move(other.error_)) {}

InstanceGuard& InstanceGuard::operator=(InstanceGuard&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        status_ = std::exchange(other.status_, Status::Failed);
        lockFile_ = std::move(other.lockFile_);
        error_ = std::move(other.error_);
    }
    return *this;
}

// The file stays: removing it while another process waits to lock it would let two
// processes each hold a lock on a different file of the same name.
InstanceGuard::~InstanceGuard() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform::service
