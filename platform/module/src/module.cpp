#include "platform/module.h"

#include <pthread.h>

#include <mutex>
#include <optional>
#include <stdexcept>

namespace platform::module {
namespace {

std::mutex mu;
std::optional<std::filesystem::path> override_;

}  // namespace

std::filesystem::path ProgramFolder() {
  {
    std::lock_guard lock(mu);
    if (override_) return *override_;
  }
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw std::runtime_error("cannot find the running program file: " + ec.message());
  return exe.parent_path();
}

void OverrideProgramFolderForTesting(const std::filesystem::path& folder) {
  std::lock_guard lock(mu);
  override_ = std::filesystem::absolute(folder);
}

void SetCurrentThreadName(std::string_view name) {
  // Linux keeps 16 bytes with the terminating zero.
  std::string cut(name.substr(0, 15));
  pthread_setname_np(pthread_self(), cut.c_str());
}

std::string CurrentThreadName() {
  char name[16] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) return {};
  return name;
}

}  // namespace platform::module
