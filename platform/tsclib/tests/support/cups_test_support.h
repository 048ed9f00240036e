// What printing tests share: the private CUPS scheduler, raw queues on it, and a socket
// that plays the printer and hands back every byte of one job.
//
// Under ctest the fixture "cups" starts the scheduler (tests/cups-private.sh) and writes
// its address into $TOMEVALE_CUPS_DIR/server; register printing tests with
// tomevale_add_printing_tests() so that they require the fixture and get that variable.
// A test program started by hand starts a scheduler of its own in a temporary folder and
// stops it when the program ends.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace cups_test {

// Connects this process to the private scheduler: sets CUPS_SERVER and a private HOME and
// clears PRINTER and LPDEST, before any libcups call of the process (so call it first,
// e.g. in SetUp). Returns the CUPS_SERVER value ("127.0.0.1:PORT"). Returns nothing, with
// the reason in *whyNot, only when no scheduler is installed here; a scheduler that
// should run and does not is an error (std::runtime_error).
std::optional<std::string> CupsServer(std::string* whyNot = nullptr);

// Starts and stops a scheduler in a folder of its own, through the same script as the
// fixture; Start returns the CUPS_SERVER value. Errors are std::runtime_error.
std::string StartPrivateCups(const std::filesystem::path& folder);
void StopPrivateCups(const std::filesystem::path& folder);

// A queue name that no other test process uses at the same time: stem, process id and a
// counter.
std::string UniqueQueueName(std::string_view stem);

// lpadmin on the private scheduler; each throws std::runtime_error with lpadmin's output
// when it fails.
// A raw queue (no driver) whose device is socket://127.0.0.1:port, enabled and accepting.
void AddRawQueue(const std::string& name, int port);
void DeleteQueue(const std::string& name);
// The server's default printer (lpadmin -d). Tests that change it take a RESOURCE_LOCK.
void SetDefault(const std::string& name);
// One server-side option, e.g. "printer-resolution-default=203dpi" (lpadmin -o).
void SetOption(const std::string& name, const std::string& option);

// A scheduler of the test's own, started empty, for what the shared one cannot show
// because other test programs add queues to it at any time: no queue at all, or a list
// that holds only the test's queues. While it lives, libcups in the thread that made it
// and the lpadmin and lpstat runs of the helpers here use it; afterwards the shared one
// again. Make it after CupsServer() found a scheduler (CUPS_TEST_REQUIRE_SERVER), and
// let queues made on it end before it. Errors are std::runtime_error.
class OwnScheduler {
 public:
  OwnScheduler();
  ~OwnScheduler();
  OwnScheduler(const OwnScheduler&) = delete;
  OwnScheduler& operator=(const OwnScheduler&) = delete;

 private:
  std::filesystem::path folder_;
  std::string shared_;
};

// A raw queue for the length of a test, deleted at the end.
class RawQueue {
 public:
  RawQueue(std::string_view stem, int port);
  ~RawQueue();
  RawQueue(const RawQueue&) = delete;
  RawQueue& operator=(const RawQueue&) = delete;
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
};

// The printer's end of a socket queue: listens on an ephemeral port of 127.0.0.1, accepts
// one connection and keeps every byte until the peer closes it.
class OneJobListener {
 public:
  OneJobListener();
  ~OneJobListener();
  OneJobListener(const OneJobListener&) = delete;
  OneJobListener& operator=(const OneJobListener&) = delete;

  int Port() const { return port_; }

  // The bytes of the job once the peer has closed the connection; nothing when that did
  // not happen within the time.
  std::optional<std::string> Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // True when a connection has been accepted (a job reached the printer's end).
  bool Connected() const { return connected_; }

 private:
  void Run();

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{false};
  std::mutex lock_;
  std::condition_variable doneChanged_;
  bool done_ = false;
  std::string received_;
  std::thread thread_;
};

// Writes bytes to 127.0.0.1:port and closes the connection, as a sender without a
// scheduler would.
void SendToPort(int port, std::string_view bytes);

}  // namespace cups_test

// In a test body or SetUp: skips the test, saying why, where no scheduler is installed.
#define CUPS_TEST_REQUIRE_SERVER()                       \
  do {                                                   \
    std::string cupsTestWhyNot_;                         \
    if (!::cups_test::CupsServer(&cupsTestWhyNot_)) {    \
      GTEST_SKIP() << cupsTestWhyNot_;                   \
    }                                                    \
  } while (0)
