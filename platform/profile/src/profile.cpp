#include "platform/profile.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/text.h"

namespace platform::profile {
namespace {

std::string_view Strip(std::string_view s) { return platform::text::Trim(s); }

// A line "[name]" gives the section name; the closing bracket may be missing.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Strip(line);
  if (line.empty() || line.front() != '[') return false;
  line.remove_prefix(1);
  size_t close = line.find(']');
  name = Strip(close == std::string_view::npos ? line : line.substr(0, close));
  return true;
}

bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  std::string_view t = Strip(line);
  if (t.empty() || t.front() == ';') return false;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  key = Strip(t.substr(0, eq));
  value = Strip(t.substr(eq + 1));
  return true;
}

void CheckNoLineBreak(std::string_view what, std::string_view s) {
  if (s.find_first_of("\r\n") != std::string_view::npos) {
    throw ProfileError("profile " + std::string(what) + " holds a line break: " + std::string(s));
  }
}

}  // namespace

IniFile::IniFile(std::filesystem::path path, WriteMode mode)
    : path_(std::move(path)), mode_(mode) {
  std::string data;
  try {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::exception&) {
    return;  // a folder or a file that cannot be read (the runtime throws on EISDIR)
  }
  // A line ends at CR LF, LF or a lone CR, as the Windows functions read it, so no
  // value read back can hold a line break that writing it again would refuse.
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find_first_of("\r\n", pos);
    Line l;
    if (end == std::string::npos) {
      l.text = data.substr(pos);
      pos = data.size();
    } else {
      l.text = data.substr(pos, end - pos);
      size_t next = end + 1;
      if (data[end] == '\r' && next < data.size() && data[next] == '\n') ++next;
      l.eol = data.substr(end, next - end);
      pos = next;
    }
    lines_.push_back(std::move(l));
  }
}

size_t IniFile::NameHash::operator()(std::string_view name) const {
  // FNV-1a over the lower-case bytes.
  std::uint64_t h = 14695981039346656037ull;
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    h = (h ^ (b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b)) * 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

bool IniFile::NameEqual::operator()(std::string_view a, std::string_view b) const noexcept {
  return platform::text::EqualsNoCase(a, b);
}

void IniFile::Index() const {
  if (indexed_) return;
  sections_.clear();
  sectionIndex_.clear();
  for (size_t i = 0; i < lines_.size(); ++i) IndexLine(i);
  indexed_ = true;
}

// Adds line i to the index of the lines before it: a header opens a section, any other
// line belongs to the last section opened.
void IniFile::IndexLine(size_t i) const {
  std::string_view name, key, value;
  const std::string& text = lines_[i].text;
  if (SectionName(text, name)) {
    sections_.push_back(Section{i, i, {}});
    // Only the first section of a name is ever read or written.
    sectionIndex_.try_emplace(std::string(name), sections_.size() - 1);
  } else if (!sections_.empty()) {
    Section& cur = sections_.back();
    if (!Strip(text).empty()) cur.lastEntry = i;
    if (KeyValue(text, key, value)) cur.keys.try_emplace(std::string(key), i);
  }
}

const IniFile::Section* IniFile::Find(std::string_view section) const {
  Index();
  auto it = sectionIndex_.find(section);
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

std::string_view IniFile::Value(std::string_view section, std::string_view key,
                                std::string_view def) const {
  std::string_view value = def;
  if (const Section* s = Find(section)) {
    auto it = s->keys.find(key);
    if (it != s->keys.end()) {
      std::string_view k;
      KeyValue(lines_[it->second].text, k, value);
    }
  }
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (value.size() > kMaxValueLength) value = value.substr(0, kMaxValueLength);
  return value;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  return std::string(Value(section, key, def));
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t def) const {
  return platform::text::StrToInt(Value(section, key, "")).value_or(def);
}

double IniFile::ReadFloat(std::string_view section, std::string_view key, double def) const {
  return platform::text::StrToFloat(Value(section, key, "")).value_or(def);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::SectionExists(std::string_view section) const { return Find(section) != nullptr; }

void IniFile::Insert(size_t at, std::string text) {
  if (at == lines_.size()) {
    // A last line without a line end gets one before anything follows it.
    if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = "\r\n";
    lines_.push_back(Line{std::move(text), "\r\n"});
    // A line at the end shifts no other line: the index takes it as a full one would.
    if (indexed_) IndexLine(at);
    return;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), "\r\n"});
  indexed_ = false;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  CheckNoLineBreak("section", section);
  CheckNoLineBreak("key", key);
  CheckNoLineBreak("value", value);
  if (Strip(key).empty() || key.find('=') != std::string_view::npos) {
    throw ProfileError("invalid profile key: \"" + std::string(key) + "\"");
  }
  const Section* s = Find(section);
  if (s == nullptr) {
    if (!lines_.empty() && !Strip(lines_.back().text).empty()) Insert(lines_.size(), "");
    Insert(lines_.size(), "[" + std::string(section) + "]");
    Insert(lines_.size(), std::string(key) + "=" + std::string(value));
  } else {
    auto it = s->keys.find(key);
    if (it != s->keys.end()) {
      std::string& text = lines_[it->second].text;
      std::string_view k, v;
      KeyValue(text, k, v);
      text = std::string(k) + "=" + std::string(value);
    } else {
      Insert(s->lastEntry + 1, std::string(key) + "=" + std::string(value));
    }
  }
  dirty_ = true;
  if (mode_ == WriteMode::Immediate) Flush();
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int64_t value) {
  WriteString(section, key, platform::text::IntToStr(value));
}

void IniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
  WriteString(section, key, platform::text::FloatToStr(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::Flush() {
  if (!dirty_) return;
  std::string data;
  for (const Line& l : lines_) {
    data += l.text;
    data += l.eol;
  }
  std::filesystem::path tmp = path_;
  tmp += ".tmp~";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
      std::error_code ec;
      std::filesystem::remove(tmp, ec);
      throw ProfileError("cannot write the profile file " + path_.string());
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path_, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    throw ProfileError("cannot write the profile file " + path_.string());
  }
  dirty_ = false;
}

}  // namespace platform::profile
