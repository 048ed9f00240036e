#include "tagwright/label_print_rec.h"

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/module.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace fs = std::filesystem;
using platform::profile::IniFile;

namespace tagwright {
namespace {

constexpr const char* kPageSection = "LabelRec";

constexpr std::string_view kItemSectionPrefix = "ViewRec";

std::string ItemSection(size_t i) { return std::string(kItemSectionPrefix) + std::to_string(i); }

// The item whose section has that name, as the profile finds sections: "ViewRec" in
// any case, then the number as ItemSection writes it (no sign, no leading zero).
std::optional<size_t> ItemIndex(std::string_view name) {
  if (name.size() <= kItemSectionPrefix.size() ||
      !platform::text::EqualsNoCase(name.substr(0, kItemSectionPrefix.size()), kItemSectionPrefix)) {
    return std::nullopt;
  }
  const std::string_view digits = name.substr(kItemSectionPrefix.size());
  if (digits.size() > 1 && digits.front() == '0') return std::nullopt;
  size_t i = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), i);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return i;
}

// A value cut at the profile's length limit may end in the first byte of a two-byte
// character; drop that byte rather than decode it as a broken character.
std::string DropCutLeadByte(std::string v) {
  if (v.size() < platform::profile::kMaxValueLength) return v;
  size_t i = 0;
  while (i < v.size()) {
    auto b = static_cast<unsigned char>(v[i]);
    if (b >= 0x81 && b <= 0xFE) {
      if (i + 1 == v.size()) {
        v.pop_back();
        break;
      }
      i += 2;
    } else {
      ++i;
    }
  }
  return v;
}

std::string ReadText(const IniFile& ini, const std::string& section, const char* key,
                     const char* def) {
  return platform::text::Cp936ToUtf8(DropCutLeadByte(ini.ReadString(section, key, def)));
}

// What an item's numbers read as without their keys (texts read as empty).
constexpr std::int32_t kDefaultFontSize = 8;
constexpr std::int32_t kDefaultBarWidth = 2;
constexpr bool kDefaultHaveCode = true;

void SetDefaults(TViewRec& v) {
  v.FontSize = kDefaultFontSize;
  v.BarWidth = kDefaultBarWidth;
  v.HaveCode = kDefaultHaveCode;
}

TViewRec ReadItem(const IniFile& ini, const std::string& s) {
  TViewRec v;
  v.Topmm = ini.ReadFloat(s, "Topmm", 0);
  v.Leftmm = ini.ReadFloat(s, "Leftmm", 0);
  v.Rightmm = ini.ReadFloat(s, "Rightmm", 0);
  v.Bottommm = ini.ReadFloat(s, "Bottommm", 0);
  v.ViewType = ReadText(ini, s, "ViewType", "");
  v.Name = ReadText(ini, s, "name", "");
  v.PicFile = ReadText(ini, s, "PicFile", "");
  v.FontSize = ini.ReadInteger(s, "FontSize", kDefaultFontSize);
  v.BarWidth = ini.ReadInteger(s, "BarWidth", kDefaultBarWidth);
  v.HaveCode = ini.ReadBool(s, "HaveCode", kDefaultHaveCode);
  v.Value = ReadText(ini, s, "Value", "");
  return v;
}

}  // namespace

void WriteLabelFile(const fs::path& path, const TLabelRec& rec) {
  // Started empty, not from the file there, and flushed through a temporary renamed
  // over the target when whole: neither a failure nor the sections of an earlier file
  // end up in the result. Each section is written in one go, its keys in their order.
  using platform::text::FloatToStr;
  using platform::text::IntToStr;
  using platform::text::Utf8ToCp936;
  IniFile ini(path, IniFile::WriteMode::OnFlush, IniFile::Start::Empty);
  ini.WriteKeys(kPageSection, {{"PageWidth", IntToStr(rec.PageWidth)},
                               {"PageGap", IntToStr(rec.PageGap)},
                               {"LWidthmm", IntToStr(rec.LWidthmm)},
                               {"LHeightmm", IntToStr(rec.LHeightmm)},
                               {"LCount", IntToStr(rec.LCount)},
                               {"LRSpace", IntToStr(rec.LRSpace)},
                               {"LShape", IntToStr(rec.LShape)},
                               {"ControlCount", IntToStr(static_cast<std::int64_t>(rec.ViewRec.size()))},
                               {"Direction", Utf8ToCp936(rec.Direction)},
                               {"PDotMM", IntToStr(rec.PDotMM)}});
  for (size_t i = 0; i < rec.ViewRec.size(); ++i) {
    const TViewRec& v = rec.ViewRec[i];
    ini.WriteKeys(ItemSection(i), {{"Topmm", FloatToStr(v.Topmm)},
                                   {"Leftmm", FloatToStr(v.Leftmm)},
                                   {"Rightmm", FloatToStr(v.Rightmm)},
                                   {"Bottommm", FloatToStr(v.Bottommm)},
                                   {"ViewType", Utf8ToCp936(v.ViewType)},
                                   {"Name", Utf8ToCp936(v.Name)},
                                   {"PicFile", Utf8ToCp936(v.PicFile)},
                                   {"FontSize", IntToStr(v.FontSize)},
                                   {"BarWidth", IntToStr(v.BarWidth)},
                                   {"HaveCode", v.HaveCode ? "1" : "0"},
                                   {"Value", Utf8ToCp936(v.Value)}});
  }
  ini.Flush();
}

TLabelRec ReadLabelFile(const fs::path& path) {
  const IniFile ini(path);
  const std::string page = kPageSection;
  TLabelRec rec;
  rec.PageWidth = ini.ReadInteger(page, "PageWidth", 0);
  rec.PageGap = ini.ReadInteger(page, "PageGap", 0);
  rec.LRSpace = ini.ReadInteger(page, "LrSpace", 0);
  rec.LWidthmm = ini.ReadInteger(page, "LWidthmm", 0);
  rec.LHeightmm = ini.ReadInteger(page, "LHeightmm", 0);
  rec.LCount = ini.ReadInteger(page, "LCount", 0);
  rec.LShape = ini.ReadInteger(page, "LShape", 0);
  rec.Direction = ReadText(ini, page, "Direction", "T");
  rec.PDotMM = ini.ReadInteger(page, "PDotMM", 12);
  rec.ControlCount = ini.ReadInteger(page, "ControlCount", 0);
  if (rec.ControlCount < 0 || rec.ControlCount > kMaxControlCount) {
    throw ELabelFileError("模板文件 " + path.string() + " 的项目数 ControlCount=" +
                          std::to_string(rec.ControlCount) + " 无效（应在 0 到 " +
                          std::to_string(kMaxControlCount) + " 之间）");
  }
  // Every item reads as the defaults but those whose section the file holds: only
  // these are looked up, so that a count far above the sections costs no look-up per
  // item. (Set in place: a copy of a whole item for each would cost more.)
  rec.ViewRec.resize(static_cast<size_t>(rec.ControlCount));
  for (TViewRec& v : rec.ViewRec) SetDefaults(v);
  ini.ForEachSectionName([&](std::string_view name) {
    const std::optional<size_t> i = ItemIndex(name);
    if (i && *i < rec.ViewRec.size()) rec.ViewRec[*i] = ReadItem(ini, ItemSection(*i));
  });
  return rec;
}

fs::path LabelTempFolder() { return platform::module::ProgramFolder() / "LabelTemp"; }

fs::path PrintLabelFolder() { return platform::module::ProgramFolder() / "printLabel"; }

void ClearFolder(const fs::path& folder) {
  fs::current_path(folder);
  // Names are taken first and deleted afterwards, so the deletions cannot disturb the
  // enumeration.
  std::vector<fs::path> names;
  std::error_code ec;
  for (fs::directory_iterator it(".", ec), end; !ec && it != end; it.increment(ec)) {
    fs::path name = it->path().filename();
    if (name.string().starts_with('.')) continue;
    names.push_back(std::move(name));
  }
  for (const fs::path& name : names) {
    // Like deleting through the file API: a folder is no file and stays with its
    // content, and a read-only file stays.
    if (fs::is_directory(name, ec)) continue;
    fs::file_status st = fs::symlink_status(name, ec);
    if (ec) continue;
    if (!fs::is_symlink(st) && (st.permissions() & fs::perms::owner_write) == fs::perms::none) {
      continue;
    }
    fs::remove(name, ec);
  }
  fs::current_path(platform::module::ProgramFolder());
}

void PrepareFolder(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) {
    ClearFolder(folder);
  } else {
    fs::create_directory(folder, ec);
  }
}

}  // namespace tagwright
