#include "tagwright/gdata.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <system_error>

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
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  const bool fresh = ec || size > kTranErrLogLimit;
  std::ofstream out(path, std::ios::binary | (fresh ? std::ios::trunc : std::ios::app));
  const std::string line = Now() + " " + platform::text::Utf8ToCp936(message) + "\r\n";
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
  out.close();
  if (!out) throw std::runtime_error("无法写入错误日志 " + path.string());
}

}  // namespace tagwright
