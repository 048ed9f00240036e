// TSPL command text for the TSC library's functions. Every argument is checked before
// anything is written, so a refused call leaves nothing half-sent.
#include "platform/tsclib.h"

#include <initializer_list>

namespace platform::tsclib::tspl {
namespace {

constexpr std::string_view kEol = "\r\n";

// Decimal text as the library's callers write numbers: an optional "-", digits, and an
// optional fraction ("2.0"). Anything else could shift the parameters of the line.
bool IsDecimal(std::string_view s) {
  if (!s.empty() && s.front() == '-') {
    s.remove_prefix(1);
  }
  bool digits = false;
  bool point = false;
  bool digitAfterPoint = false;
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      digits = true;
      if (point) {
        digitAfterPoint = true;
      }
    } else if (c == '.' && !point && digits) {
      point = true;
    } else {
      return false;
    }
  }
  return digits && (!point || digitAfterPoint);
}

bool AllDecimal(std::initializer_list<std::string_view> values) {
  for (std::string_view v : values) {
    if (!IsDecimal(v)) {
      return false;
    }
  }
  return true;
}

std::string Line(std::initializer_list<std::string_view> parts) {
  std::string line;
  for (std::string_view p : parts) {
    line += p;
  }
  line += kEol;
  return line;
}

}  // namespace

std::optional<std::string> QuotedString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    // CR and LF would end the command; ESC starts a printer's immediate command.
    if (c == '\r' || c == '\n' || c == '\x1b') {
      return std::nullopt;
    }
    if (c == '"') {
      out += "\\[\"]";
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

std::optional<std::string> Setup(std::string_view width, std::string_view height,
                                 std::string_view speed, std::string_view density,
                                 std::string_view sensor, std::string_view vertical,
                                 std::string_view offset) {
  if (!AllDecimal({width, height, speed, density, vertical, offset})) {
    return std::nullopt;
  }
  std::string_view gapCommand;
  if (sensor == "0") {
    gapCommand = "GAP ";
  } else if (sensor == "1") {
    gapCommand = "BLINE ";
  } else {
    return std::nullopt;
  }
  return Line({"SIZE ", width, " mm,", height, " mm"}) + Line({"SPEED ", speed}) +
         Line({"DENSITY ", density}) + Line({gapCommand, vertical, " mm,", offset, " mm"});
}

std::string ClearBuffer() { return Line({"CLS"}); }

std::optional<std::string> SendCommand(std::string_view command) {
  if (command.find_first_of("\r\n") != std::string_view::npos) {
    return std::nullopt;
  }
  return Line({command});
}

std::optional<std::string> Barcode(std::string_view x, std::string_view y,
                                   std::string_view type, std::string_view height,
                                   std::string_view readable, std::string_view rotation,
                                   std::string_view narrow, std::string_view wide,
                                   std::string_view code) {
  if (!AllDecimal({x, y, height, readable, rotation, narrow, wide})) {
    return std::nullopt;
  }
  std::optional<std::string> quotedType = QuotedString(type);
  std::optional<std::string> quotedCode = QuotedString(code);
  if (!quotedType || !quotedCode) {
    return std::nullopt;
  }
  return Line({"BARCODE ", x, ",", y, ",", *quotedType, ",", height, ",", readable, ",",
               rotation, ",", narrow, ",", wide, ",", *quotedCode});
}

std::optional<std::string> PrintLabel(std::string_view sets, std::string_view copies) {
  if (!AllDecimal({sets, copies})) {
    return std::nullopt;
  }
  return Line({"PRINT ", sets, ",", copies});
}

}  // namespace platform::tsclib::tspl
