// Bytes of a profile (INI) file into IniFile. The sections and keys asked for are the
// names the file itself seems to hold, a few fixed ones and names in other case; every
// value is read as text, integer, number and boolean. A value must come back within the
// length limit and without a line break, and a key written in memory must read back
// while its neighbours stay as they were.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;
using platform::profile::IniFile;

constexpr size_t kMaxNames = 24;

struct Names {
  std::vector<std::string> sections{"List", "LabelRec", "ViewRec0", "DataSet", ""};
  std::vector<std::string> keys{"FileCount", "PassWord", "ControlCount", "Server Name", ""};
};

// Section and key names as a reader of the file would see them, roughly: enough to
// steer the reads into the file's own entries.
Names Guess(std::string_view text) {
  Names names;
  size_t pos = 0;
  while (pos < text.size() && names.sections.size() + names.keys.size() < 2 * kMaxNames) {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    std::string_view t = platform::text::Trim(line);
    if (t.starts_with('[')) {
      t.remove_prefix(1);
      names.sections.emplace_back(platform::text::Trim(t.substr(0, t.find(']'))));
    } else if (size_t eq = t.find('='); eq != std::string_view::npos) {
      names.keys.emplace_back(platform::text::Trim(t.substr(0, eq)));
    }
  }
  // The same names in upper case find the same entries.
  const size_t sections = names.sections.size();
  for (size_t i = 0; i < sections; ++i) {
    std::string upper = names.sections[i];
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    names.sections.push_back(upper);
  }
  return names;
}

void CheckValue(const std::string& v, const std::string& where) {
  FUZZ_CHECK(v.size() <= platform::profile::kMaxValueLength, where);
  FUZZ_CHECK(v.find_first_of("\r\n") == std::string::npos, where);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const fs::path file = fuzz::ScratchFolder() / "profile.ini";
  fuzz::PutFile(file, text);
  const Names names = Guess(text);

  IniFile ini(file, IniFile::WriteMode::OnFlush);
  for (const std::string& s : names.sections) {
    const bool exists = ini.SectionExists(s);
    for (const std::string& k : names.keys) {
      const std::string where = "[" + s + "] " + k;
      const std::string v = ini.ReadString(s, k, "\x01");
      CheckValue(v, where);
      if (!exists) FUZZ_CHECK(v == "\x01", where + ": a value from a missing section");
      const std::int32_t n = ini.ReadInteger(s, k, -7);
      const double f = ini.ReadFloat(s, k, -0.5);
      const bool b = ini.ReadBool(s, k, true);
      // A value that reads as an integer reads as the same number and as its truth.
      if (n != -7) FUZZ_CHECK(f == n && b == (n != 0), where);
    }
  }

  // A write in memory: the key reads back, every other key keeps its value. The
  // programs write fixed names only; a name that would itself read as a comment or a
  // section header, or that has a closing bracket in a section name, is not tried.
  const std::string& section = names.sections.back();
  const std::string& key = names.keys.back();
  if (key.starts_with(';') || key.starts_with('[') || section.find(']') != std::string::npos) {
    return 0;
  }
  std::vector<std::string> before;
  for (const std::string& k : names.keys) before.push_back(ini.ReadString(section, k, "\x01"));
  try {
    ini.WriteString(section, key, "written");
  } catch (const platform::profile::ProfileError&) {
    // An empty key, or a name with a line break, is refused.
    FUZZ_CHECK(platform::text::Trim(key).empty() ||
                   section.find_first_of("\r\n") != std::string::npos ||
                   key.find_first_of("\r\n") != std::string::npos,
               "refused [" + section + "] " + key);
    return 0;
  }
  FUZZ_CHECK(ini.ReadString(section, key, "") == "written", "[" + section + "] " + key);
  for (size_t i = 0; i < names.keys.size(); ++i) {
    if (platform::text::AsciiLower(names.keys[i]) == platform::text::AsciiLower(key)) continue;
    FUZZ_CHECK(ini.ReadString(section, names.keys[i], "\x01") == before[i],
               "[" + section + "] " + names.keys[i] + " changed by writing " + key);
  }
  return 0;
}
