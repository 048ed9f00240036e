// The eight functions of the TSC library: one open port per process, a raw CUPS job that
// receives the TSPL text as the calls come.
#include "platform/tsclib.h"

#include <cups/cups.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace platform::tsclib {
namespace {

constexpr const char* kJobTitle = "Label";
// Commands are gathered and written in pieces of this size: a label's few lines would
// otherwise cost one HTTP chunk each.
constexpr std::size_t kFlushSize = 64 * 1024;

std::string Text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

// The open job: its own connection to the scheduler, so that other libcups calls of the
// process (the printer list) never meet a document in the middle of its transfer.
class Port {
 public:
  static std::unique_ptr<Port> Open(const std::string& queue) {
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC,
                                cupsEncryption(), 1, 30000, nullptr);
    if (http == nullptr) {
      return nullptr;
    }
    // A scheduler that stops answering fails the job instead of freezing the caller.
    httpSetTimeout(http, 30.0, nullptr, nullptr);
    const int job = cupsCreateJob(http, queue.c_str(), kJobTitle, 0, nullptr);
    if (job <= 0) {
      httpClose(http);
      return nullptr;
    }
    if (cupsStartDocument(http, queue.c_str(), job, kJobTitle, CUPS_FORMAT_RAW, 1) !=
        HTTP_STATUS_CONTINUE) {
      cupsCancelJob2(http, queue.c_str(), job, 0);
      httpClose(http);
      return nullptr;
    }
    return std::unique_ptr<Port>(new Port(http, queue, job));
  }

  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  ~Port() {
    if (http_ != nullptr) {
      httpClose(http_);
    }
  }

  bool Write(std::string_view bytes) {
    if (broken_) {
      return false;
    }
    pending_ += bytes;
    return pending_.size() < kFlushSize || Flush();
  }

  // Sends what is pending and ends the document and with it the job.
  bool Finish() {
    if (broken_ || !Flush()) {
      return false;
    }
    const ipp_status_t status = cupsFinishDocument(http_, queue_.c_str());
    return status <= IPP_STATUS_OK_CONFLICTING;
  }

 private:
  Port(http_t* http, std::string queue, int job)
      : http_(http), queue_(std::move(queue)), job_(job) {}

  bool Flush() {
    if (!pending_.empty() &&
        cupsWriteRequestData(http_, pending_.data(), pending_.size()) !=
            HTTP_STATUS_CONTINUE) {
      // The scheduler went away: the job is lost, and the rest of the calls stay quiet.
      broken_ = true;
      cupsCancelJob2(http_, queue_.c_str(), job_, 0);
    }
    pending_.clear();
    return !broken_;
  }

  http_t* http_;
  std::string queue_;
  int job_;
  std::string pending_;
  bool broken_ = false;
};

struct State {
  std::mutex lock;
  std::unique_ptr<Port> port;
  std::mutex recorderLock;
  std::shared_ptr<const CallRecorder> recorder;
};

State& TheState() {
  static State* state = new State;  // outlives every static destructor that might print
  return *state;
}

// Call texts for the recorder: a string between double quotes, a number in decimal.
void AppendArgument(std::string& call, const char* s) {
  call += '"';
  call += text::Cp936ToUtf8(Text(s));
  call += '"';
}

void AppendArgument(std::string& call, int n) { call += std::to_string(n); }

// Builds the call's text only when a recorder listens: printing calls no recorder.
template <typename... Args>
void Record(const char* function, const Args&... args) {
  State& state = TheState();
  std::shared_ptr<const CallRecorder> recorder;
  {
    std::lock_guard<std::mutex> guard(state.recorderLock);
    recorder = state.recorder;
  }
  if (!recorder) {
    return;
  }
  std::string call = function;
  call += '(';
  [[maybe_unused]] const char* separator = "";
  ((call += separator, AppendArgument(call, args), separator = ","), ...);
  call += ')';
  (*recorder)(call);
}

// Writes a call's command text into the open job; refused text and a closed port send
// nothing.
int Send(const std::optional<std::string>& commands) {
  if (!commands) {
    return 0;
  }
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.lock);
  if (!state.port) {
    return 0;
  }
  return state.port->Write(*commands) ? 1 : 0;
}

int CloseLocked(State& state) {
  if (!state.port) {
    return 0;
  }
  const bool finished = state.port->Finish();
  state.port.reset();
  return finished ? 1 : 0;
}

template <typename F>
int Guarded(F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    // Nothing may leave the library, as nothing left the printer maker's.
    return 0;
  }
}

}  // namespace

int openport(const char* printer) noexcept {
  return Guarded([&] {
    Record("openport", printer);
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    CloseLocked(state);
    const std::string queue = text::Cp936ToUtf8(Text(printer));
    if (queue.empty()) {
      return 0;
    }
    state.port = Port::Open(queue);
    return state.port ? 1 : 0;
  });
}

int setup(const char* width, const char* height, const char* speed, const char* density,
          const char* sensor, const char* vertical, const char* offset) noexcept {
  return Guarded([&] {
    Record("setup", width, height, speed, density, sensor, vertical, offset);
    return Send(tspl::Setup(Text(width), Text(height), Text(speed), Text(density),
                            Text(sensor), Text(vertical), Text(offset)));
  });
}

int clearbuffer() noexcept {
  return Guarded([&] {
    Record("clearbuffer");
    return Send(tspl::ClearBuffer());
  });
}

int sendcommand(const char* command) noexcept {
  return Guarded([&] {
    Record("sendcommand", command);
    return Send(tspl::SendCommand(Text(command)));
  });
}

int windowsfont(int x, int y, int fontheight, int rotation, int fontstyle,
                int fontunderline, const char* szFaceName, const char* content) noexcept {
  return Guarded([&] {
    Record("windowsfont", x, y, fontheight, rotation, fontstyle, fontunderline, szFaceName,
           content);
    {
      // Drawing costs more than the rest together: skip it when nothing would be sent.
      State& state = TheState();
      std::lock_guard<std::mutex> guard(state.lock);
      if (!state.port) {
        return 0;
      }
    }
    return Send(tspl::WindowsFont(x, y, fontheight, rotation, fontstyle, fontunderline,
                                  Text(szFaceName), Text(content)));
  });
}

int barcode(const char* x, const char* y, const char* type, const char* height,
            const char* readable, const char* rotation, const char* narrow,
            const char* wide, const char* code) noexcept {
  return Guarded([&] {
    Record("barcode", x, y, type, height, readable, rotation, narrow, wide, code);
    return Send(tspl::Barcode(Text(x), Text(y), Text(type), Text(height), Text(readable),
                              Text(rotation), Text(narrow), Text(wide), Text(code)));
  });
}

int printlabel(const char* sets, const char* copies) noexcept {
  return Guarded([&] {
    Record("printlabel", sets, copies);
    return Send(tspl::PrintLabel(Text(sets), Text(copies)));
  });
}

int closeport() noexcept {
  return Guarded([&] {
    Record("closeport");
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    return CloseLocked(state);
  });
}

void SetCallRecorder(CallRecorder recorder) {
  State& state = TheState();
  std::shared_ptr<const CallRecorder> shared;
  if (recorder) {
    shared = std::make_shared<const CallRecorder>(std::move(recorder));
  }
  std::lock_guard<std::mutex> guard(state.recorderLock);
  state.recorder = std::move(shared);
}

}  // namespace platform::tsclib
