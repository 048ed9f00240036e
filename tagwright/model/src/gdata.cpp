#include "tagwright/gdata.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string_view>

#include "platform/module.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace tagwright {
namespace {

std::string Now() {
  // std::localtime hands back a shared buffer.
  static std::mutex mu;
  std::lock_guard lock(mu);
  std::time_t t = std::time(nullptr);
  char buf[32] = {};
  if (const std::tm* tm = std::localtime(&t)) std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", tm);
  return buf;
}

}  // namespace

void WriteTranErrLog(const std::string& message) {
  const fs::path path = platform::module::ProgramFolder() / kTranErrLogName;
  const std::string line = Now() + " " + platform::text::Utf8ToCp936(message) + "\r\n";
  // Opened to append (made when missing); a log above the limit, as the open file
  // tells its size, is emptied first.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  bool ok = fd >= 0;
  struct stat st {};
  if (ok && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::uintmax_t>(st.st_size) > kTranErrLogLimit) {
    ok = ::ftruncate(fd, 0) == 0;
  }
  for (std::string_view rest = line; ok && !rest.empty();) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) rest.remove_prefix(static_cast<size_t>(n));
  }
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  if (!ok) throw std::runtime_error("无法写入错误日志 " + path.string());
}

}  // namespace tagwright
