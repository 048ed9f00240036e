#include "cups_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cups/cups.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#ifndef CUPS_PRIVATE_SCRIPT
#error "CUPS_PRIVATE_SCRIPT must name tests/cups-private.sh"
#endif

namespace cups_test {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exitCode = -1;
  std::string output;
};

// Runs a program with its arguments (no shell), stdout and stderr together.
RunResult Run(const std::vector<std::string>& argv) {
  // Built before fork: the child of a threaded process may not allocate.
  std::vector<char*> args;
  for (const std::string& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe");
  }
  const pid_t pid = fork();
  if (pid < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    throw std::system_error(errno, std::generic_category(), "fork");
  }
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    dup2(pipeFds[1], STDERR_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipeFds[1]);
  RunResult result;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n > 0) {
      result.output.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Describe(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& a : argv) {
    if (!text.empty()) {
      text += ' ';
    }
    text += a;
  }
  return text;
}

std::string RunOrThrow(const std::vector<std::string>& argv) {
  RunResult r = Run(argv);
  if (r.exitCode != 0) {
    throw std::runtime_error(Describe(argv) + " failed (" + std::to_string(r.exitCode) +
                             "): " + r.output);
  }
  return r.output;
}

std::string ReadFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

fs::path MakeTempFolder(const char* stem) {
  std::string pattern = (fs::temp_directory_path() / (std::string(stem) + ".XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  }
  return pattern;
}

// A scheduler this process started because no fixture gave one; stopped at exit.
struct StartedScheduler {
  fs::path folder;
  ~StartedScheduler() {
    if (!folder.empty()) {
      try {
        StopPrivateCups(folder);
      } catch (...) {
      }
      std::error_code ignored;
      fs::remove_all(folder, ignored);
    }
  }
};

struct PrivateHome {
  fs::path folder;
  ~PrivateHome() {
    if (!folder.empty()) {
      std::error_code ignored;
      fs::remove_all(folder, ignored);
    }
  }
};

struct Connection {
  std::once_flag once;
  std::optional<std::string> server;
  std::string whyNot;
  std::string error;
  StartedScheduler own;
  PrivateHome home;
};

Connection& TheConnection() {
  static Connection connection;
  return connection;
}

void Connect(Connection& c) {
  fs::path folder;
  if (const char* dir = std::getenv("TOMEVALE_CUPS_DIR"); dir != nullptr && *dir != '\0') {
    folder = dir;
    if (fs::exists(folder / "unavailable")) {
      c.whyNot = "no CUPS scheduler here: " + ReadFirstLine(folder / "unavailable");
      return;
    }
    if (!fs::exists(folder / "server")) {
      c.error = "the ctest fixture \"cups\" did not start the scheduler in " +
                folder.string() + " (see its log folder)";
      return;
    }
    c.server = ReadFirstLine(folder / "server");
  } else {
    c.own.folder = MakeTempFolder("cups-test");
    RunResult r = Run({"bash", CUPS_PRIVATE_SCRIPT, "--skip-if-missing", "start",
                       c.own.folder.string()});
    if (r.exitCode != 0) {
      c.error = "cups-private.sh start failed: " + r.output;
      return;
    }
    if (fs::exists(c.own.folder / "unavailable")) {
      c.whyNot = "no CUPS scheduler here: " + ReadFirstLine(c.own.folder / "unavailable");
      return;
    }
    c.server = ReadFirstLine(c.own.folder / "server");
  }
  // libcups reads these once, at its first call.
  c.home.folder = MakeTempFolder("cups-test-home");
  setenv("HOME", c.home.folder.c_str(), 1);
  setenv("CUPS_SERVER", c.server->c_str(), 1);
  unsetenv("PRINTER");
  unsetenv("LPDEST");
}

}  // namespace

std::optional<std::string> CupsServer(std::string* whyNot) {
  Connection& c = TheConnection();
  std::call_once(c.once, [&] {
    try {
      Connect(c);
    } catch (const std::exception& e) {
      c.error = e.what();
    }
  });
  if (!c.error.empty()) {
    throw std::runtime_error(c.error);
  }
  if (!c.server && whyNot != nullptr) {
    *whyNot = c.whyNot;
  }
  return c.server;
}

std::string StartPrivateCups(const fs::path& folder) {
  std::string out = RunOrThrow({"bash", CUPS_PRIVATE_SCRIPT, "start", folder.string()});
  const std::string server = ReadFirstLine(folder / "server");
  if (server.empty()) {
    throw std::runtime_error("cups-private.sh start wrote no server: " + out);
  }
  return server;
}

void StopPrivateCups(const fs::path& folder) {
  RunOrThrow({"bash", CUPS_PRIVATE_SCRIPT, "stop", folder.string()});
}

std::string UniqueQueueName(std::string_view stem) {
  static std::atomic<int> counter{0};
  return std::string(stem) + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

namespace {
void Lpadmin(std::vector<std::string> args) {
  if (!CupsServer()) {
    throw std::runtime_error("no CUPS scheduler for lpadmin");
  }
  args.insert(args.begin(), "lpadmin");
  RunOrThrow(args);
}
}  // namespace

void AddRawQueue(const std::string& name, int port) {
  // No -m: a queue without a driver passes documents through unchanged.
  Lpadmin({"-p", name, "-v", "socket://127.0.0.1:" + std::to_string(port), "-E"});
}

void DeleteQueue(const std::string& name) { Lpadmin({"-x", name}); }

void SetDefault(const std::string& name) { Lpadmin({"-d", name}); }

void SetOption(const std::string& name, const std::string& option) {
  Lpadmin({"-p", name, "-o", option});
}

OwnScheduler::OwnScheduler() {
  const std::optional<std::string> shared = CupsServer();
  if (!shared) {
    throw std::runtime_error("no CUPS scheduler here to start one of the test's own");
  }
  shared_ = *shared;
  folder_ = MakeTempFolder("cups-own");
  std::string server;
  try {
    server = StartPrivateCups(folder_);
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    throw;
  }
  // The tools read the variable; libcups read it once and takes the new server here.
  setenv("CUPS_SERVER", server.c_str(), 1);
  cupsSetServer(server.c_str());
}

OwnScheduler::~OwnScheduler() {
  setenv("CUPS_SERVER", shared_.c_str(), 1);
  cupsSetServer(shared_.c_str());
  try {
    StopPrivateCups(folder_);
  } catch (...) {
  }
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

RawQueue::RawQueue(std::string_view stem, int port) : name_(UniqueQueueName(stem)) {
  AddRawQueue(name_, port);
}

RawQueue::~RawQueue() {
  try {
    DeleteQueue(name_);
  } catch (...) {
  }
}

OneJobListener::OneJobListener() {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    throw std::system_error(errno, std::generic_category(), "socket");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listenFd_, 1) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int error = errno;
    close(listenFd_);
    throw std::system_error(error, std::generic_category(), "listener");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Run(); });
}

OneJobListener::~OneJobListener() {
  stop_ = true;
  thread_.join();
  close(listenFd_);
}

void OneJobListener::Run() {
  // Polls in short steps so that the destructor can always end the thread.
  constexpr int kStepMs = 50;
  int fd = -1;
  while (!stop_ && fd < 0) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, kStepMs) > 0) {
      fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    }
  }
  if (fd < 0) {
    return;
  }
  connected_ = true;
  std::string data;
  char buffer[65536];
  while (!stop_) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kStepMs) <= 0) {
      continue;
    }
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      data.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
  std::lock_guard<std::mutex> guard(lock_);
  received_ = std::move(data);
  done_ = !stop_;
  doneChanged_.notify_all();
}

std::optional<std::string> OneJobListener::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(lock_);
  if (!doneChanged_.wait_for(guard, timeout, [this] { return done_; })) {
    return std::nullopt;
  }
  return received_;
}

void SendToPort(int port, std::string_view bytes) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(), "socket");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(fd);
    throw std::system_error(error, std::generic_category(), "connect");
  }
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      const int error = errno;
      close(fd);
      throw std::system_error(error, std::generic_category(), "write");
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  close(fd);
}

}  // namespace cups_test
