#include "values.h"

#include <cctype>
#include <cstdio>
#include <limits>
#include <string>

namespace platform::db {

const char* FieldTypeName(FieldType t) {
  switch (t) {
    case FieldType::Integer: return "integer";
    case FieldType::Currency: return "currency";
    case FieldType::Decimal: return "decimal";
    case FieldType::Float: return "float";
    case FieldType::Boolean: return "boolean";
    case FieldType::DateTime: return "datetime";
    case FieldType::String: return "string";
    case FieldType::WideString: return "wide string";
    case FieldType::Bytes: return "bytes";
  }
  return "unknown";
}

std::string Currency::ToString() const {
  // The magnitude as unsigned, so that the most negative value has one too.
  std::uint64_t mag = units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
  std::string s = units < 0 ? "-" : "";
  s += std::to_string(mag / 10000);
  unsigned frac = static_cast<unsigned>(mag % 10000);
  if (frac != 0) {
    s += '.';
    // Four places, without the trailing zeros.
    for (unsigned div = 1000; frac != 0; div /= 10) {
      s += static_cast<char>('0' + frac / div);
      frac %= div;
    }
  }
  return s;
}

std::string DateTime::ToString() const {
  char buf[40];
  if (millisecond != 0) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", year, month, day, hour, minute,
                  second, millisecond);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  }
  return buf;
}

DateTime ParseDateTime(std::string_view text) {
  if (auto d = detail::TryParseDateTime(text)) return *d;
  throw DbError("\"" + std::string(text) + "\" is not a date and time of the form yyyy-MM-dd hh:mm:ss");
}

namespace detail {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exactly n digits at p, advancing p.
bool Digits(std::string_view s, size_t& p, size_t n, int& out) {
  if (p + n > s.size()) return false;
  int v = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!IsDigit(s[p + i])) return false;
    v = v * 10 + (s[p + i] - '0');
  }
  p += n;
  out = v;
  return true;
}

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : days[m - 1];
}

}  // namespace

std::optional<FieldType> TypeOfDeclared(std::string_view declared) {
  size_t i = 0;
  while (i < declared.size() && std::isspace(static_cast<unsigned char>(declared[i]))) ++i;
  std::string word;
  while (i < declared.size() && (std::isalnum(static_cast<unsigned char>(declared[i])) || declared[i] == '_')) {
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(declared[i])));
    ++i;
  }
  struct Entry { const char* name; FieldType type; };
  static const Entry table[] = {
      {"int", FieldType::Integer},         {"integer", FieldType::Integer},
      {"smallint", FieldType::Integer},    {"tinyint", FieldType::Integer},
      {"bigint", FieldType::Integer},      {"mediumint", FieldType::Integer},
      {"int2", FieldType::Integer},        {"int4", FieldType::Integer},
      {"int8", FieldType::Integer},        {"money", FieldType::Currency},
      {"smallmoney", FieldType::Currency}, {"decimal", FieldType::Decimal},
      {"numeric", FieldType::Decimal},     {"float", FieldType::Float},
      {"real", FieldType::Float},          {"double", FieldType::Float},
      {"bit", FieldType::Boolean},         {"boolean", FieldType::Boolean},
      {"bool", FieldType::Boolean},        {"datetime", FieldType::DateTime},
      {"smalldatetime", FieldType::DateTime}, {"datetime2", FieldType::DateTime},
      {"date", FieldType::DateTime},       {"char", FieldType::String},
      {"varchar", FieldType::String},      {"character", FieldType::String},
      {"text", FieldType::String},         {"clob", FieldType::String},
      {"uniqueidentifier", FieldType::String}, {"time", FieldType::String},
      {"datetimeoffset", FieldType::String}, {"nchar", FieldType::WideString},
      {"nvarchar", FieldType::WideString}, {"ntext", FieldType::WideString},
      {"national", FieldType::WideString}, {"sysname", FieldType::WideString},
      {"xml", FieldType::WideString},      {"binary", FieldType::Bytes},
      {"varbinary", FieldType::Bytes},     {"image", FieldType::Bytes},
      {"blob", FieldType::Bytes},
  };
  for (const Entry& e : table) {
    if (word == e.name) return e.type;
  }
  return std::nullopt;
}

std::optional<Currency> ParseCurrency(std::string_view s) {
  size_t p = 0;
  while (p < s.size() && std::isspace(static_cast<unsigned char>(s[p]))) ++p;
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  bool neg = false;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) neg = s[p++] == '-';
  // value = digits * 10^scale
  std::string digits;
  long scale = 0;
  bool any = false, dot = false;
  for (; p < s.size(); ++p) {
    char c = s[p];
    if (IsDigit(c)) {
      any = true;
      if (!digits.empty() || c != '0') digits += c;
      if (dot) --scale;
    } else if (c == '.' && !dot) {
      dot = true;
    } else {
      break;
    }
  }
  if (!any) return std::nullopt;
  if (p < s.size() && (s[p] == 'e' || s[p] == 'E')) {
    ++p;
    bool eneg = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) eneg = s[p++] == '-';
    if (p >= s.size()) return std::nullopt;
    long e = 0;
    for (; p < s.size() && IsDigit(s[p]); ++p) {
      if (e < 100000) e = e * 10 + (s[p] - '0');
    }
    scale += eneg ? -e : e;
  }
  if (p != s.size()) return std::nullopt;
  if (digits.empty()) return Currency{0};
  long shift = scale + 4;  // units = digits * 10^shift
  if (shift >= 0) {
    if (static_cast<long>(digits.size()) + shift > 19) return std::nullopt;
    digits.append(static_cast<size_t>(shift), '0');
  } else {
    size_t drop = static_cast<size_t>(-shift);
    std::string kept = drop >= digits.size() ? "" : digits.substr(0, digits.size() - drop);
    std::string rest = drop >= digits.size() ? std::string(drop - digits.size(), '0') + digits
                                             : digits.substr(digits.size() - drop);
    bool up = false;
    if (rest[0] > '5') {
      up = true;
    } else if (rest[0] == '5') {
      bool more = rest.find_first_not_of('0', 1) != std::string::npos;
      bool odd = !kept.empty() && ((kept.back() - '0') % 2 == 1);
      up = more || odd;
    }
    if (kept.empty()) kept = "0";
    if (up) {
      size_t i = kept.size();
      while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
      if (i == 0) kept.insert(kept.begin(), '1');
      else ++kept[i - 1];
    }
    digits = kept;
  }
  if (digits.size() > 19) return std::nullopt;
  std::uint64_t mag = 0;
  for (char c : digits) {
    std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (mag > (std::numeric_limits<std::uint64_t>::max() - d) / 10) return std::nullopt;
    mag = mag * 10 + d;
  }
  const std::uint64_t maxPos = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (mag > maxPos + (neg ? 1 : 0)) return std::nullopt;
  if (neg) return Currency{mag == maxPos + 1 ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(mag)};
  return Currency{static_cast<std::int64_t>(mag)};
}

std::optional<std::int64_t> WholeNumber(double d) {
  // Checked before the cast: casting a value outside the range is undefined.
  // -2^63 is the least value; 2^63 itself is already out of range.
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return std::nullopt;
  auto n = static_cast<std::int64_t>(d);
  if (static_cast<double>(n) != d) return std::nullopt;
  return n;
}

std::optional<DateTime> TryParseDateTime(std::string_view s) {
  DateTime d;
  size_t p = 0;
  if (!Digits(s, p, 4, d.year) || p >= s.size() || s[p++] != '-' || !Digits(s, p, 2, d.month) ||
      p >= s.size() || s[p++] != '-' || !Digits(s, p, 2, d.day)) {
    return std::nullopt;
  }
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > DaysInMonth(d.year, d.month)) return std::nullopt;
  if (p == s.size()) return d;
  if (s[p] != ' ' && s[p] != 'T') return std::nullopt;
  ++p;
  if (!Digits(s, p, 2, d.hour) || p >= s.size() || s[p++] != ':' || !Digits(s, p, 2, d.minute)) {
    return std::nullopt;
  }
  if (p < s.size() && s[p] == ':') {
    ++p;
    if (!Digits(s, p, 2, d.second)) return std::nullopt;
    if (p < s.size() && s[p] == '.') {
      ++p;
      size_t n = 0;
      int ms = 0;
      while (p < s.size() && IsDigit(s[p])) {
        if (n < 3) ms = ms * 10 + (s[p] - '0');
        ++n;
        ++p;
      }
      if (n == 0) return std::nullopt;
      for (size_t k = n; k < 3; ++k) ms *= 10;
      d.millisecond = ms;
    }
  }
  if (p != s.size()) return std::nullopt;
  if (d.hour > 23 || d.minute > 59 || d.second > 59) return std::nullopt;
  return d;
}

}  // namespace detail
}  // namespace platform::db
