// The service manager's stop request (SIGTERM) and Ctrl-C (SIGINT) delivered to the
// program's event loop, where it may end the program in its ordinary way: the handler
// only writes the signal number into a pipe, and a socket notifier reads it on the
// thread that created this object.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform::ui {

class StopSignal {
 public:
  // Installs the handlers; `onStop` runs in the event loop for every signal received
  // and must not destroy this object.
  // One object per process at a time; std::runtime_error when the pipe or a handler
  // cannot be set up.
  explicit StopSignal(std::function<void(int signalNumber)> onStop);
  // Restores the default handlers.
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

 private:
  void Drain();
  void Uninstall();

  std::function<void(int)> onStop_;
  int readFd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform::ui
