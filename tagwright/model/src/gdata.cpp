#include "tagwright/gdata.h"

#include <ctime>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string_view>

#include "platform/files.h"
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
  // A log above the limit starts again.
  if (platform::files::AppendFile(path, line, kTranErrLogLimit)) {
    throw std::runtime_error("无法写入错误日志 " + path.string());
  }
}

}  // namespace tagwright
