#include "marrowind/core/xml_table.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/files.h"
#include "platform/text.h"

namespace marrowind {

namespace db = platform::db;

namespace {

// Two digits; `width` 1 leaves out a leading zero.
void AppendNumber(std::string& out, int v, int width) {
  if (width == 2 && v < 10) out += '0';
  char buf[16];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, end);
}

void AppendDate(std::string& out, const db::DateTime& d) {
  if (d.year < 0 || d.year > 9999 || d.month < 0 || d.month > 99 || d.day < 0 || d.day > 99 || d.hour < 0 ||
      d.minute < 0 || d.minute > 99 || d.second < 0 || d.second > 99) {
    // Beyond what a field of the database holds: the general form.
    char buf[96];
    if (d.hour == 0 && d.minute == 0 && d.second == 0) {
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    } else {
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute,
                    d.second);
    }
    out += buf;
    return;
  }
  out += static_cast<char>('0' + d.year / 1000);
  out += static_cast<char>('0' + d.year / 100 % 10);
  AppendNumber(out, d.year % 100, 2);
  out += '-';
  AppendNumber(out, d.month, 2);
  out += '-';
  AppendNumber(out, d.day, 2);
  // Midnight is the date alone; milliseconds do not count as a time of day.
  if (d.hour == 0 && d.minute == 0 && d.second == 0) return;
  out += ' ';
  AppendNumber(out, d.hour, 1);
  out += ':';
  AppendNumber(out, d.minute, 2);
  out += ':';
  AppendNumber(out, d.second, 2);
}

void AppendHex(std::string& out, std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
  }
}

void AppendCleaned(std::string& out, std::string_view value) {
  size_t from = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '<' || c == '>' || c == '&') {
      out.append(value, from, i - from);
      from = i + 1;
    }
  }
  out.append(value, from, std::string_view::npos);
}

// Appends a value's text; only texts can hold the characters that cleaning removes.
struct ValueText {
  std::string& out;
  db::FieldType type;
  bool clean;
  void operator()(std::monostate) const {}
  void operator()(std::int64_t v) const { out += platform::text::IntToStr(v); }
  void operator()(double v) const { out += platform::text::FloatToStr(v); }
  void operator()(bool v) const { out += v ? "True" : "False"; }
  void operator()(const db::Currency& v) const { out += v.ToString(); }
  void operator()(const db::DateTime& v) const { AppendDate(out, v); }
  void operator()(const std::string& v) const {
    if (type == db::FieldType::Bytes) AppendHex(out, v);
    else if (clean) AppendCleaned(out, v);
    else out += v;
  }
};

}  // namespace

std::string XmlValueText(const db::Value& value, db::FieldType type) {
  std::string out;
  std::visit(ValueText{out, type, false}, value);
  return out;
}

std::string XmlCleaned(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  AppendCleaned(out, value);
  return out;
}

std::string BuildXmlTable(db::Query& query) {
  std::string doc;
  doc.reserve(4096);
  doc = "<XmlTable>";
  const size_t columns = query.FieldCount();
  for (query.First(); !query.Eof(); query.Next()) {
    doc += "<rows>";
    for (size_t i = 0; i < columns; ++i) {
      const db::Field& f = query.Fields(i);
      const std::string& name = f.Name();
      doc += '<';
      doc += name;
      doc += '>';
      std::visit(ValueText{doc, f.Type(), true}, f.AsValue());
      doc += "</";
      doc += name;
      doc += '>';
    }
    doc += "</rows>";
  }
  doc += "</XmlTable>";
  return doc;
}

bool SaveFailedXml(std::string_view document) {
  static std::atomic<unsigned> serial{0};
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::current_path(ec) / kFailedXmlName;
  if (ec) return false;
  // A new file renamed over the old copy: never written through a link left at either name.
  return !platform::files::ReplaceFile(target, document, ".tmp" + std::to_string(serial++));
}

}  // namespace marrowind
