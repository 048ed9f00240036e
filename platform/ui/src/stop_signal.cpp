#include "platform/stop_signal.h"

#include <QSocketNotifier>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace platform::ui {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};

std::atomic<int> writeFd{-1};

extern "C" void OnSignal(int number) {
  const int saved = errno;
  const int fd = writeFd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a stop request; losing this byte loses nothing.
    [[maybe_unused]] ssize_t n = write(fd, &byte, 1);
  }
  errno = saved;
}

std::runtime_error SystemError(const char* what) {
  return std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

StopSignal::StopSignal(std::function<void(int)> onStop) : onStop_(std::move(onStop)) {
  if (writeFd.load() >= 0) throw std::runtime_error("StopSignal: already installed");
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw SystemError("StopSignal: pipe");
  readFd_ = fds[0];
  writeFd = fds[1];

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : kSignals) {
    if (sigaction(s, &sa, nullptr) != 0) {
      const auto error = SystemError("StopSignal: sigaction");
      Uninstall();
      throw error;
    }
  }
  notifier_ = std::make_unique<QSocketNotifier>(readFd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { Drain(); });
}

StopSignal::~StopSignal() { Uninstall(); }

void StopSignal::Uninstall() {
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  for (int s : kSignals) sigaction(s, &sa, nullptr);
  notifier_.reset();
  const int fd = writeFd.exchange(-1);
  if (fd >= 0) close(fd);
  if (readFd_ >= 0) close(readFd_);
  readFd_ = -1;
}

void StopSignal::Drain() {
  unsigned char bytes[16];
  for (;;) {
    const ssize_t n = read(readFd_, bytes, sizeof bytes);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (onStop_) onStop_(bytes[i]);
    }
  }
}

}  // namespace platform::ui
