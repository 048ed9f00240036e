// Bytes of a profile (INI) file into IniFile. Every section the file seems to hold is
// read with the keys that stand under it and two fixed keys it seldom holds; two fixed
// sections are read with those keys and the keys that stand before any section.
// Every value is read as text, integer, number and boolean, and again with the names
// in the other case of their letters, which must find the same entry. A value must
// come back within the length limit and without a line break, and a key written in
// memory must read back while its neighbours stay as they were.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;
using platform::profile::IniFile;

// Names taken from one file; the ones past this add nothing the first ones do not test.
constexpr size_t kMaxNames = 38;

// Names a file seldom holds: empty ones and ones with a blank inside.
const std::vector<std::string> kFixedSections{"Data Set", ""};
const std::vector<std::string> kFixedKeys{"Server Name", ""};

struct Section {
  std::string name;
  std::vector<std::string> keys;
};

struct Names {
  std::vector<std::string> orphanKeys;  // before any section
  std::vector<Section> sections;
  std::vector<std::string> allKeys;
};

// Section and key names as a reader of the file would see them, roughly: enough to
// steer the reads into the file's own entries.
Names Guess(std::string_view text) {
  Names names;
  size_t count = 0;
  size_t pos = 0;
  while (pos < text.size() && count < kMaxNames) {
    const size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
    const std::string_view t = platform::text::Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (t.starts_with('[')) {
      const std::string_view name = platform::text::Trim(t.substr(1, t.find(']') - 1));
      names.sections.push_back({std::string(name), {}});
      ++count;
    } else if (size_t eq = t.find('='); eq != std::string_view::npos) {
      std::string key(platform::text::Trim(t.substr(0, eq)));
      (names.sections.empty() ? names.orphanKeys : names.sections.back().keys).push_back(key);
      names.allKeys.push_back(std::move(key));
      ++count;
    }
  }
  return names;
}

// The same name with the case of every ASCII letter turned.
std::string OtherCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 32);
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + 32);
    }
  }
  return r;
}

std::string Where(std::string_view section, std::string_view key) {
  return "[" + std::string(section) + "] " + std::string(key);
}

void Read(const IniFile& ini, const std::string& section, bool exists, const std::string& key) {
  const std::string v = ini.ReadString(section, key, "\x01");
  FUZZ_CHECK(v.size() <= platform::profile::kMaxValueLength, Where(section, key));
  FUZZ_CHECK(v.find_first_of("\r\n") == std::string::npos, Where(section, key));
  if (!exists) FUZZ_CHECK(v == "\x01", Where(section, key) + ": a value from a missing section");
  FUZZ_CHECK(ini.ReadString(OtherCase(section), OtherCase(key), "\x01") == v,
             Where(section, key) + ": another entry in the other case");
  const std::int32_t n = ini.ReadInteger(section, key, -7);
  const double f = ini.ReadFloat(section, key, -0.5);
  const bool b = ini.ReadBool(section, key, true);
  // A value that reads as an integer reads as the same number and as its truth.
  if (n != -7) FUZZ_CHECK(f == n && b == (n != 0), Where(section, key));
}

void ReadAll(const IniFile& ini, const std::string& section, const std::vector<std::string>& keys) {
  const bool exists = ini.SectionExists(section);
  FUZZ_CHECK(ini.SectionExists(OtherCase(section)) == exists,
             "[" + section + "] in the other case");
  for (const std::string& k : keys) Read(ini, section, exists, k);
  for (const std::string& k : kFixedKeys) Read(ini, section, exists, k);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  static const fuzz::InputFile input("profile.ini");
  input.Put(text);
  const fs::path& file = input.Path();
  Names names = Guess(text);

  IniFile ini(file, IniFile::WriteMode::OnFlush);
  for (const Section& s : names.sections) ReadAll(ini, s.name, s.keys);
  for (const std::string& s : kFixedSections) ReadAll(ini, s, names.orphanKeys);

  // A write in memory, in the last section in the other case: the key reads back, every
  // other key keeps its value. The programs write fixed names only; a name that would
  // itself read as a comment or a section header, or that has a closing bracket in a
  // section name, is not tried.
  const std::string section = OtherCase(names.sections.empty() ? "" : names.sections.back().name);
  const std::string key = names.allKeys.empty() ? "" : names.allKeys.back();
  if (key.starts_with(';') || key.starts_with('[') || section.find(']') != std::string::npos) {
    return 0;
  }
  std::vector<std::string>& keys = names.allKeys;
  keys.insert(keys.end(), kFixedKeys.begin(), kFixedKeys.end());
  std::vector<std::string> before;
  for (const std::string& k : keys) before.push_back(ini.ReadString(section, k, "\x01"));
  try {
    ini.WriteString(section, key, "written");
  } catch (const platform::profile::ProfileError&) {
    // An empty key, or a name with a line break, is refused.
    FUZZ_CHECK(platform::text::Trim(key).empty() ||
                   section.find_first_of("\r\n") != std::string::npos ||
                   key.find_first_of("\r\n") != std::string::npos,
               "refused " + Where(section, key));
    return 0;
  }
  FUZZ_CHECK(ini.ReadString(section, key, "") == "written", Where(section, key));
  for (size_t i = 0; i < keys.size(); ++i) {
    if (platform::text::EqualsNoCase(keys[i], key)) continue;
    FUZZ_CHECK(ini.ReadString(section, keys[i], "\x01") == before[i],
               Where(section, keys[i]) + " changed by writing " + key);
  }
  return 0;
}
