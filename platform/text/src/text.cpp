#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <system_error>

namespace platform::text {
namespace {

// One converter per thread and direction: iconv descriptors carry state and are not
// safe to share between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("code page converter unavailable: ") + from + " -> " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts as much as it can and stops at the first byte it cannot convert;
  // `in` and `left` advance past what was converted.
  void Run(const char*& in, size_t& left, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buf[4096];
    while (left > 0) {
      char* o = buf;
      size_t room = sizeof buf;
      char* src = const_cast<char*>(in);
      size_t r = iconv(cd_, &src, &left, &o, &room);
      out.append(buf, static_cast<size_t>(o - buf));
      in = src;
      if (r != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) continue;
      return;  // EILSEQ or EINVAL: the caller handles the byte at `in`
    }
    char* o = buf;
    size_t room = sizeof buf;
    iconv(cd_, nullptr, nullptr, &o, &room);
    out.append(buf, static_cast<size_t>(o - buf));
  }

 private:
  iconv_t cd_;
};

Converter& FromCp936() {
  thread_local Converter c("UTF-8", "CP936");
  return c;
}

Converter& ToCp936() {
  thread_local Converter c("CP936", "UTF-8");
  return c;
}

// Length of the well-formed UTF-8 sequence at s, or 0 when the bytes there are not one.
size_t Utf8SequenceLength(const unsigned char* s, size_t left) {
  unsigned char b = s[0];
  size_t n;
  std::uint32_t cp;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) { n = 2; cp = b & 0x1F; }
  else if (b >= 0xE0 && b <= 0xEF) { n = 3; cp = b & 0x0F; }
  else if (b >= 0xF0 && b <= 0xF4) { n = 4; cp = b & 0x07; }
  else return 0;
  if (left < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  return n;
}

}  // namespace

std::string Cp936ToUtf8(std::string_view cp936) {
  std::string out;
  out.reserve(cp936.size() + cp936.size() / 2);
  const char* in = cp936.data();
  size_t left = cp936.size();
  while (left > 0) {
    FromCp936().Run(in, left, out);
    if (left == 0) break;
    // No character starts here: replace the one byte and go on with the next, so a
    // lone lead byte does not swallow the character after it.
    out += "\xEF\xBF\xBD";
    ++in;
    --left;
  }
  return out;
}

std::string Utf8ToCp936(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  const char* in = utf8.data();
  size_t left = utf8.size();
  while (left > 0) {
    ToCp936().Run(in, left, out);
    if (left == 0) break;
    size_t n = Utf8SequenceLength(reinterpret_cast<const unsigned char*>(in), left);
    if (n == 0) n = 1;
    out += '?';
    in += n;
    left -= n;
  }
  return out;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

std::string AsciiLower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = AsciiLower(c);
  return r;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t at = 0; at < a.size(); at += 8) {
    if (FoldedWord(a, at) != FoldedWord(b, at)) return false;
  }
  return true;
}

std::int64_t RoundHalfEven(double v) {
  // nearbyint rounds by the current mode, which nothing in these programs changes
  // from round-to-nearest-even.
  double r = std::nearbyint(v);
  if (!std::isfinite(r) || r < -9223372036854775808.0 || r >= 9223372036854775808.0) {
    throw std::range_error("number out of range: cannot round " + std::to_string(v));
  }
  return static_cast<std::int64_t>(r);
}

std::string IntToStr(std::int64_t v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

std::optional<std::int32_t> StrToInt(std::string_view s) {
  // from_chars takes a "-" but no "+": one leading "+" is allowed, and no second sign.
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s[0] == '-') return std::nullopt;
  }
  std::int32_t v = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

std::string FloatToStr(double v) {
  if (!std::isfinite(v)) return std::isnan(v) ? "NAN" : (v > 0 ? "INF" : "-INF");
  if (v == 0) return "0";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  std::string s(buf, res.ptr);
  // to_chars writes "1e-05" and "1e+20"; the Windows runtime writes "1E-5" and "1E20".
  size_t e = s.find('e');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e);
    std::string exp = s.substr(e + 1);
    bool neg = !exp.empty() && exp[0] == '-';
    if (!exp.empty() && (exp[0] == '-' || exp[0] == '+')) exp.erase(0, 1);
    size_t z = exp.find_first_not_of('0');
    exp = z == std::string::npos ? "0" : exp.substr(z);
    s = mant + "E" + (neg ? "-" : "") + exp;
  }
  return s;
}

std::optional<double> StrToFloat(std::string_view s) {
  bool neg = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  // from_chars would also take "inf" and "nan", and a second sign; the runtime's
  // conversion takes only digits here.
  if (s.empty() || !((s[0] >= '0' && s[0] <= '9') || s[0] == '.')) return std::nullopt;
  double v = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
  return neg ? -v : v;
}

}  // namespace platform::text
