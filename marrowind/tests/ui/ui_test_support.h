// Helpers of Marrowind's widget tests: every message box recorded and answered,
// files read whole, a dialog shown and active so that keys reach it.
#pragma once

#include <QApplication>
#include <QWidget>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace marrowind::test {

// Records every box while it lives; answers each with `answer` (or as closed).
class BoxRecorder {
 public:
  explicit BoxRecorder(platform::ui::Answer answer = platform::ui::Answer::Ok) : answer_(answer) {
    platform::ui::SetMessageBoxInterceptor([this](const platform::ui::Box& b) {
      boxes.push_back(b);
      if (b.buttons == platform::ui::Buttons::YesNo && answer_ == platform::ui::Answer::Ok) {
        return platform::ui::Answer::No;
      }
      return answer_;
    });
  }
  ~BoxRecorder() { platform::ui::SetMessageBoxInterceptor({}); }
  BoxRecorder(const BoxRecorder&) = delete;
  BoxRecorder& operator=(const BoxRecorder&) = delete;

  void Answer(platform::ui::Answer a) { answer_ = a; }

  std::vector<platform::ui::Box> boxes;

 private:
  platform::ui::Answer answer_;
};

inline std::string ReadBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// Shows the widget and waits until it is the active window, so that it has the focus.
bool ShowActive(QWidget* w);

// Runs `action` once, from whichever event loop turns first after `condition` holds
// (a wait's own loop included): how a test acts while the program waits.
void Once(std::function<bool()> condition, std::function<void()> action);

// After the program ended its event loops from inside a nested one, a loop started
// later would end at once; this forgets that end, as a new exec() of the program would.
void ForgetTheEndOfTheLoops();

}  // namespace marrowind::test
