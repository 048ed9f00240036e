// INI files with the rules of the Windows 8-bit profile functions. Values are bytes:
// nothing here transcodes, so a scrambled password or GBK text survives untouched.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform::profile {

// Raised when the file cannot be written, when a name or value would break the line
// structure of the file (a line break inside it), or for a key that is blank or holds
// an "=".
class ProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Longest value a read hands back; the rest of a longer value is cut off.
inline constexpr size_t kMaxValueLength = 2047;

class IniFile {
 public:
  // Immediate: every write reaches the disk before it returns, like the Windows
  // functions. OnFlush: writes collect in memory until Flush(), for files written
  // key by key in one go.
  enum class WriteMode { Immediate, OnFlush };
  // FromFile: starts with the lines of the file. Empty: starts with none, whatever the
  // file holds, for a file written anew: its first write replaces the file whole, so
  // nothing of an earlier file stays in it.
  enum class Start { FromFile, Empty };

  // Reads the file when it exists (and start is FromFile); a missing file reads as
  // empty. An unreadable one (a folder, no permission) also reads as empty, as the
  // profile functions do.
  explicit IniFile(std::filesystem::path path, WriteMode mode = WriteMode::Immediate,
                   Start start = Start::FromFile);

  const std::filesystem::path& Path() const { return path_; }

  // Sections and keys are found without regard to case; the value comes back without
  // blanks at either end and without one pair of enclosing quotes, cut at 2047 bytes.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // A value that is not a whole 32-bit number gives the default.
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t def) const;
  // "." is the separator; a value that does not convert gives the default.
  double ReadFloat(std::string_view section, std::string_view key, double def) const;
  // Read as an integer with default 1 or 0; any non-zero integer is true.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  bool SectionExists(std::string_view section) const;
  // Calls f(name) for every section name of the file, in no particular order; a name
  // that several sections share (the first of them is the one read) comes once.
  template <class F>
  void ForEachSectionName(F&& f) const {
    Index();
    for (std::uint32_t slot : sectionSlots_) {
      if (slot != 0) f(Span(sections_[slot - 1].nameAt, sections_[slot - 1].nameLength));
    }
  }

  // Replaces the key's value in place, or appends the key at the end of its section,
  // creating the section at the end of the file. Every other line stays as it was.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int64_t value);
  void WriteFloat(std::string_view section, std::string_view key, double value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Writes the keys in this order, as WriteString would one after another (the same
  // file, the same errors). A section that the file does not hold yet, with up to
  // kMaxKeysAtOnce keys of distinct names, is added in one go: its lines are appended
  // and indexed as written, without a look-up per key.
  static constexpr size_t kMaxKeysAtOnce = 32;
  struct Entry {
    std::string_view key, value;
  };
  void WriteKeys(std::string_view section, std::initializer_list<Entry> entries);

  // Writes the whole file (to a new file first, then renamed over the old one, so a
  // failure never leaves half a file). Does nothing when nothing changed.
  void Flush();

 private:
  enum class Eol : unsigned char { None, CrLf, Lf, Cr };
  // A line is a span of text_: the file as read, then every line written since.
  struct Line {
    size_t at, length;
    Eol eol;  // None only for a last line without a line end
  };
  // Names compare without regard to case of the ASCII letters, as the profile
  // functions compare them; a look-up copies no name.
  struct NameHash {
    size_t operator()(std::string_view name) const;
  };
  // A key line, and where its name and value (without blanks at their ends) lie in text_.
  struct Key {
    size_t hash;  // NameHash of the name
    size_t line;
    size_t nameAt, nameLength, valueAt, valueLength;
  };
  struct Section {
    size_t header;     // line index of "[name]"
    size_t lastEntry;  // last line that belongs to the section's content
    // Its keys, in the order of the file: keys_[firstKey] up to keys_[endKey].
    size_t firstKey, endKey;
    size_t hash;  // NameHash of the name
    size_t nameAt, nameLength;  // where the name lies in text_
  };

  void Index() const;
  void IndexLine(size_t i) const;
  const Section* Find(std::string_view section) const;
  // The first key of the section by that name, or nullptr.
  const Key* FindKey(const Section& section, std::string_view key) const;
  // The value as read (see ReadString), a view into the line or def.
  std::string_view Value(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // A span of text_ that a line or key records (always within it).
  std::string_view Span(size_t at, size_t length) const { return {text_.data() + at, length}; }
  std::string_view LineText(size_t i) const { return Span(lines_[i].at, lines_[i].length); }
  // Adds the text of a line to text_; gives the line, with a CR LF end.
  Line Append(std::initializer_list<std::string_view> parts);
  void Insert(size_t at, std::initializer_list<std::string_view> parts);

  std::filesystem::path path_;
  WriteMode mode_;
  std::string text_;
  std::vector<Line> lines_;
  bool dirty_ = false;
  mutable bool indexed_ = false;
  mutable std::vector<Section> sections_;
  mutable std::vector<Key> keys_;  // the keys of all sections, in the order of the file
  // The first section of each name (the only one read or written), by name: a table
  // of open addressing, whose slots hold 1 + the section's index in sections_, or 0 for
  // none. Its size is a power of two, at least twice the names it holds.
  mutable std::vector<std::uint32_t> sectionSlots_;
  mutable size_t sectionNames_ = 0;
  // The slot of the name: the one that holds it, or the empty one where it would go.
  std::uint32_t& SectionSlot(std::string_view name, size_t hash) const;
  void AddSectionName(size_t section) const;
  // The section looked up last: its index, kMissing or kNotAsked, and its name as asked.
  static constexpr size_t kNotAsked = SIZE_MAX;
  static constexpr size_t kMissing = SIZE_MAX - 1;
  mutable size_t lastFound_ = kNotAsked;
  mutable std::string lastName_;
};

}  // namespace platform::profile
