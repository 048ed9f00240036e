#include "marrowind/core/xml_table.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/files.h"
#include "platform/text.h"

namespace marrowind {

namespace db = platform::db;

namespace {

std::string DateText(const db::DateTime& d) {
  char buf[48];
  // Midnight is the date alone; milliseconds do not count as a time of day.
  if (d.hour == 0 && d.minute == 0 && d.second == 0) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute,
                  d.second);
  }
  return buf;
}

std::string HexText(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
  }
  return out;
}

struct ValueText {
  db::FieldType type;
  std::string operator()(std::monostate) const { return {}; }
  std::string operator()(std::int64_t v) const { return platform::text::IntToStr(v); }
  std::string operator()(double v) const { return platform::text::FloatToStr(v); }
  std::string operator()(bool v) const { return v ? "True" : "False"; }
  std::string operator()(const db::Currency& v) const { return v.ToString(); }
  std::string operator()(const db::DateTime& v) const { return DateText(v); }
  std::string operator()(const std::string& v) const { return type == db::FieldType::Bytes ? HexText(v) : v; }
};

}  // namespace

std::string XmlValueText(const db::Value& value, db::FieldType type) { return std::visit(ValueText{type}, value); }

std::string XmlCleaned(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c != '<' && c != '>' && c != '&') out += c;
  }
  return out;
}

std::string BuildXmlTable(db::Query& query) {
  std::string doc = "<XmlTable>";
  const size_t columns = query.FieldCount();
  for (query.First(); !query.Eof(); query.Next()) {
    doc += "<rows>";
    for (size_t i = 0; i < columns; ++i) {
      const db::Field& f = query.Fields(i);
      const std::string& name = f.Name();
      doc += '<';
      doc += name;
      doc += '>';
      doc += XmlCleaned(XmlValueText(f.AsValue(), f.Type()));
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
