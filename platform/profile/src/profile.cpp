#include "platform/profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "platform/files.h"
#include "platform/text.h"

namespace platform::profile {
namespace {

std::string_view Strip(std::string_view s) { return platform::text::Trim(s); }

// What a line is to the profile rules. A header "[name]" gives the section name (the
// closing bracket may be missing); an entry "key=value" gives both without the blanks
// at their ends; a comment (";"), a line without "=" and a blank line give nothing.
struct ParsedLine {
  enum Kind : unsigned char { Blank, Other, Header, Entry } kind;
  std::string_view name;   // of the section, or the key
  std::string_view value;  // of an entry
};

// One pass over the line, with one strip of its ends: a header or entry line is parsed
// again at every write of the file, so this is on the way of every key written.
ParsedLine Parse(std::string_view line) {
  const std::string_view t = Strip(line);
  if (t.empty()) return {ParsedLine::Blank, {}, {}};
  if (t.front() == '[') {
    std::string_view name = t.substr(1);
    const size_t close = name.find(']');
    if (close != std::string_view::npos) name = name.substr(0, close);
    return {ParsedLine::Header, Strip(name), {}};
  }
  const size_t eq = t.front() == ';' ? std::string_view::npos : t.find('=');
  if (eq == std::string_view::npos) return {ParsedLine::Other, {}, {}};
  // t starts and ends with no blank: the key needs no strip at its start, nor the value
  // at its end.
  return {ParsedLine::Entry, platform::text::TrimRight(t.substr(0, eq)),
          platform::text::TrimLeft(t.substr(eq + 1))};
}

// The first byte c from pos on, or the size of s. memchr rather than a loop over the
// bytes: it takes them many at a time, and the fuzzing build instruments a loop's every
// comparison but not the library.
size_t FindByte(std::string_view s, char c, size_t pos) {
  const void* at = std::memchr(s.data() + pos, c, s.size() - pos);
  return at == nullptr ? s.size() : static_cast<size_t>(static_cast<const char*>(at) - s.data());
}

// Whether s holds any of the bytes of set, with a library search for each: see FindByte.
bool HoldsAny(std::string_view s, std::string_view set) {
  for (char c : set) {
    if (!s.empty() && std::memchr(s.data(), c, s.size()) != nullptr) return true;
  }
  return false;
}

// A name without blanks at its ends, as the file's lines give names back.
bool Plain(std::string_view name) {
  return !name.empty() && static_cast<unsigned char>(name.front()) > 32 &&
         static_cast<unsigned char>(name.back()) > 32;
}

void CheckNoLineBreak(std::string_view what, std::string_view s) {
  if (HoldsAny(s, "\r\n")) {
    throw ProfileError("profile " + std::string(what) + " holds a line break: " + std::string(s));
  }
}

// The whole file, read with the descriptor calls, without a stream's buffer; empty when
// it is missing or cannot be read (a folder, no permission).
std::string ReadWholeFile(const std::filesystem::path& path) {
  std::string data;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return data;
  char buf[16384];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) data.append(buf, static_cast<size_t>(n));
  close(fd);
  if (n < 0) data.clear();
  return data;
}

constexpr std::string_view EolText(unsigned char eol) {
  constexpr std::string_view kText[] = {"", "\r\n", "\n", "\r"};
  return kText[eol];
}

}  // namespace

IniFile::IniFile(std::filesystem::path path, WriteMode mode, Start start)
    : path_(std::move(path)),
      mode_(mode),
      text_(start == Start::FromFile ? ReadWholeFile(path_) : std::string()) {
  const std::string_view data = text_;
  size_t count = 1;
  for (size_t at = FindByte(data, '\n', 0); at < data.size(); at = FindByte(data, '\n', at + 1)) {
    ++count;
  }
  lines_.reserve(count);
  // A line ends at CR LF, LF or a lone CR, as the Windows functions read it, so no
  // value read back can hold a line break that writing it again would refuse. The next
  // CR and the next LF are looked for only once the lines reach them, so a file of one
  // kind of line end costs no search through the rest of it for the other kind.
  size_t pos = 0;
  size_t cr = FindByte(data, '\r', 0);
  size_t lf = FindByte(data, '\n', 0);
  while (pos < data.size()) {
    if (cr < pos) cr = FindByte(data, '\r', pos);
    if (lf < pos) lf = FindByte(data, '\n', pos);
    const size_t end = std::min(cr, lf);
    Eol eol = Eol::None;
    size_t next = end;
    if (end < data.size()) {
      ++next;
      if (data[end] == '\n') {
        eol = Eol::Lf;
      } else if (next < data.size() && data[next] == '\n') {
        eol = Eol::CrLf;
        ++next;
      } else {
        eol = Eol::Cr;
      }
    }
    lines_.push_back(Line{pos, end - pos, eol});
    pos = next;
  }
}

size_t IniFile::NameHash::operator()(std::string_view name) const {
  // The lower-case words of the name (see FoldedWord), mixed by multiplication.
  std::uint64_t h = 14695981039346656037ull ^ name.size();
  for (size_t at = 0; at < name.size(); at += 8) {
    h = (h ^ platform::text::FoldedWord(name, at)) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  }
  return static_cast<size_t>(h);
}

void IniFile::Index() const {
  if (indexed_) return;
  sections_.clear();
  keys_.clear();
  keys_.reserve(lines_.size());
  sectionSlots_.assign(16, 0);
  sectionNames_ = 0;
  lastFound_ = kNotAsked;
  for (size_t i = 0; i < lines_.size(); ++i) IndexLine(i);
  indexed_ = true;
}

// Adds line i to the index of the lines before it: a header opens a section, any other
// line belongs to the last section opened, whose keys are the last ones in keys_.
void IniFile::IndexLine(size_t i) const {
  const ParsedLine line = Parse(LineText(i));
  if (line.kind == ParsedLine::Header) {
    sections_.push_back(Section{i, i, keys_.size(), keys_.size(), NameHash()(line.name),
                                static_cast<size_t>(line.name.data() - text_.data()), line.name.size()});
    if (lastFound_ == kMissing) lastFound_ = kNotAsked;
    AddSectionName(sections_.size() - 1);
  } else if (!sections_.empty()) {
    Section& cur = sections_.back();
    if (line.kind != ParsedLine::Blank) cur.lastEntry = i;
    if (line.kind == ParsedLine::Entry) {
      keys_.push_back(Key{NameHash()(line.name), i,
                          static_cast<size_t>(line.name.data() - text_.data()), line.name.size(),
                          static_cast<size_t>(line.value.data() - text_.data()),
                          line.value.size()});
      cur.endKey = keys_.size();
    }
  }
}

std::uint32_t& IniFile::SectionSlot(std::string_view name, size_t hash) const {
  const size_t mask = sectionSlots_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    std::uint32_t& slot = sectionSlots_[at];
    if (slot == 0) return slot;
    const Section& s = sections_[slot - 1];
    if (s.hash == hash && platform::text::EqualsNoCase(Span(s.nameAt, s.nameLength), name)) return slot;
  }
}

// Enters the section under its name, unless a section before it has that name: only
// the first section of a name is ever read or written.
void IniFile::AddSectionName(size_t section) const {
  if (2 * (sectionNames_ + 1) > sectionSlots_.size()) {
    // Twice the size, the names entered again.
    std::vector<std::uint32_t> old(2 * sectionSlots_.size(), 0);
    old.swap(sectionSlots_);
    for (std::uint32_t slot : old) {
      if (slot != 0) SectionSlot(Span(sections_[slot - 1].nameAt, sections_[slot - 1].nameLength),
                                 sections_[slot - 1].hash) = slot;
    }
  }
  const Section& s = sections_[section];
  std::uint32_t& slot = SectionSlot(Span(s.nameAt, s.nameLength), s.hash);
  if (slot == 0) {
    slot = static_cast<std::uint32_t>(section + 1);
    ++sectionNames_;
  }
}

const IniFile::Section* IniFile::Find(std::string_view section) const {
  Index();
  // Readers and writers go through a section key by key, under one spelling.
  if (lastFound_ != kNotAsked && section == lastName_) {
    return lastFound_ == kMissing ? nullptr : &sections_[lastFound_];
  }
  const std::uint32_t slot = SectionSlot(section, NameHash()(section));
  lastName_.assign(section);
  lastFound_ = slot == 0 ? kMissing : slot - 1;
  return lastFound_ == kMissing ? nullptr : &sections_[lastFound_];
}

const IniFile::Key* IniFile::FindKey(const Section& section, std::string_view key) const {
  // A section holds a handful of keys: a walk over their hashes beats a table of its
  // own, and the first of a name is the one that counts.
  const size_t hash = NameHash()(key);
  for (size_t i = section.firstKey; i < section.endKey; ++i) {
    const Key& k = keys_[i];
    if (k.hash == hash &&
        platform::text::EqualsNoCase(Span(k.nameAt, k.nameLength), key)) {
      return &k;
    }
  }
  return nullptr;
}

std::string_view IniFile::Value(std::string_view section, std::string_view key,
                                std::string_view def) const {
  std::string_view value = def;
  if (const Section* s = Find(section)) {
    if (const Key* k = FindKey(*s, key)) {
      value = Span(k->valueAt, k->valueLength);
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

IniFile::Line IniFile::Append(std::initializer_list<std::string_view> parts) {
  Line line{text_.size(), 0, Eol::CrLf};
  for (std::string_view part : parts) text_ += part;
  line.length = text_.size() - line.at;
  return line;
}

void IniFile::Insert(size_t at, std::initializer_list<std::string_view> parts) {
  const Line line = Append(parts);
  if (at == lines_.size()) {
    // A last line without a line end gets one before anything follows it.
    if (!lines_.empty() && lines_.back().eol == Eol::None) lines_.back().eol = Eol::CrLf;
    lines_.push_back(line);
    // A line at the end shifts no other line: the index takes it as a full one would.
    if (indexed_) IndexLine(at);
    return;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), line);
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
    if (!lines_.empty() && !Strip(LineText(lines_.size() - 1)).empty()) Insert(lines_.size(), {});
    Insert(lines_.size(), {"[", section, "]"});
    Insert(lines_.size(), {key, "=", value});
  } else if (const Key* found = FindKey(*s, key)) {
    // Replaced in place, under the key's own spelling: the line's new text goes to
    // the end of text_ (the name is copied first, as text_ may move).
    Key& k = keys_[static_cast<size_t>(found - keys_.data())];
    const std::string name(Span(k.nameAt, k.nameLength));
    Line& line = lines_[k.line];
    const Line replaced = Append({name, "=", value});
    line.at = replaced.at;
    line.length = replaced.length;
    const std::string_view v = Parse(LineText(k.line)).value;
    k.nameAt = line.at;
    k.valueAt = static_cast<size_t>(v.data() - text_.data());
    k.valueLength = v.size();
  } else {
    Insert(s->lastEntry + 1, {key, "=", value});
  }
  dirty_ = true;
  if (mode_ == WriteMode::Immediate) Flush();
}

void IniFile::WriteKeys(std::string_view section, std::initializer_list<Entry> entries) {
  if (entries.size() == 0) return;
  // The short way takes only names that read back as written (no blanks at their ends,
  // no "]" in the section's, no key that would read as a header or a comment) and
  // nothing that WriteString refuses; anything else goes key by key.
  std::array<size_t, kMaxKeysAtOnce> hashes;
  bool whole = entries.size() <= hashes.size() && (section.empty() || Plain(section)) &&
               !HoldsAny(section, "]\r\n") && Find(section) == nullptr;
  size_t bytes = section.size() + 4;
  for (size_t n = 0; whole && n < entries.size(); ++n) {
    const Entry& e = entries.begin()[n];
    whole = Plain(e.key) && e.key.front() != '[' && e.key.front() != ';' && !HoldsAny(e.key, "=\r\n") &&
            !HoldsAny(e.value, "\r\n");
    bytes += e.key.size() + 1 + e.value.size();
    hashes[n] = NameHash()(e.key);
    // A name written twice would replace its first value, not add a line.
    for (size_t i = 0; whole && i < n; ++i) {
      whole = hashes[i] != hashes[n] || !platform::text::EqualsNoCase(entries.begin()[i].key, e.key);
    }
  }
  if (!whole) {
    for (const Entry& e : entries) WriteString(section, e.key, e.value);
    return;
  }
  // The section as WriteString adds one (after a blank line unless the file ends in
  // one), then its keys, each line joining the index as it is added. Room for them all
  // is made at once, growing as the containers grow by themselves.
  auto makeRoom = [](auto& container, size_t more) {
    if (container.capacity() - container.size() < more) {
      container.reserve(std::max(container.size() + more, 2 * container.capacity()));
    }
  };
  makeRoom(text_, bytes);
  makeRoom(lines_, entries.size() + 2);
  makeRoom(keys_, entries.size());
  if (!lines_.empty() && !Strip(LineText(lines_.size() - 1)).empty()) Insert(lines_.size(), {});
  Insert(lines_.size(), {"[", section, "]"});
  Section& added = sections_.back();
  auto hash = hashes.begin();
  for (const Entry& e : entries) {
    const size_t at = lines_.size();
    lines_.push_back(Append({e.key, "=", e.value}));
    const size_t nameAt = lines_[at].at;
    const std::string_view value = Strip(Span(nameAt + e.key.size() + 1, e.value.size()));
    keys_.push_back(Key{*hash++, at, nameAt, e.key.size(), static_cast<size_t>(value.data() - text_.data()),
                        value.size()});
    added.lastEntry = at;
    added.endKey = keys_.size();
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
  // Sized once and filled line by line.
  size_t size = 0;
  for (const Line& line : lines_) size += line.length + EolText(static_cast<unsigned char>(line.eol)).size();
  std::string data(size, '\0');
  char* out = data.data();
  for (const Line& line : lines_) {
    const std::string_view eol = EolText(static_cast<unsigned char>(line.eol));
    if (line.length > 0) std::memcpy(out, text_.data() + line.at, line.length);
    out += line.length;
    if (!eol.empty()) std::memcpy(out, eol.data(), eol.size());
    out += eol.size();
  }
  if (platform::files::ReplaceFile(path_, data, ".tmp~")) {
    throw ProfileError("cannot write the profile file " + path_.string());
  }
  dirty_ = false;
}

}  // namespace platform::profile
