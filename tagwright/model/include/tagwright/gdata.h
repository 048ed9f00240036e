// Process-wide routines of the designer: the template packer's error log.
#pragma once

#include <cstdint>
#include <string>

namespace tagwright {

// Name of the error log in the program folder.
inline constexpr const char* kTranErrLogName = "TranErrLog.Log";
// A log larger than this is started anew by the next line.
inline constexpr std::uintmax_t kTranErrLogLimit = 102400;

// Appends one line to the program folder's TranErrLog.Log: the local date and time as
// "yyyy-MM-dd HH:mm:ss" (24-hour clock), a blank, the message (UTF-8 here, code page 936
// in the file), CR LF. A missing log, or one above kTranErrLogLimit bytes, is started
// anew. Throws std::runtime_error when the log cannot be written.
void WriteTranErrLog(const std::string& message);

}  // namespace tagwright
