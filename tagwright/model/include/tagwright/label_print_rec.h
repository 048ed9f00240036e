// The label page and item records, the template INI file `Label` and the designer's two
// working folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace tagwright {

// One item on the label. Coordinates are millimetres from the label's top-left corner;
// Rightmm and Bottommm are edges (or, for a free line, the second point), not a size.
// Text fields hold UTF-8.
struct TViewRec {
  double Topmm = 0;
  double Leftmm = 0;
  double Rightmm = 0;
  double Bottommm = 0;
  std::string ViewType;  // "TCodeView", "TTextView", "TPicView" or "TLineImage"
  std::string Name;
  std::string PicFile;
  std::int32_t FontSize = 0;
  std::int32_t BarWidth = 0;
  bool HaveCode = false;
  std::string Value;

  bool operator==(const TViewRec&) const = default;
};

// The label page. A value: copying it copies the items too.
struct TLabelRec {
  std::int32_t PageWidth = 0;
  std::int32_t PageGap = 0;
  std::int32_t LRSpace = 0;
  std::int32_t LWidthmm = 0;
  std::int32_t LHeightmm = 0;
  std::int32_t LCount = 0;
  std::int32_t LShape = 0;    // 0 rounded corners, 1 square corners
  std::string Direction;      // "T" mirrored, "F" not
  std::int32_t PDotMM = 0;    // 12 for 300 dpi, 8 for 200 dpi
  std::int32_t ControlCount = 0;
  std::vector<TViewRec> ViewRec;

  bool operator==(const TLabelRec&) const = default;
};

// A template file that cannot be read into a record (an item count that no template
// can hold).
class ELabelFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Name of the INI file inside a template folder.
inline constexpr const char* kLabelFileName = "Label";
// Largest item count a template file may declare; a larger one is refused rather than
// allocated.
inline constexpr std::int32_t kMaxControlCount = 100000;

// Writes rec as the INI file at path (code page 936 text), replacing any earlier file
// whole. ControlCount is written as the number of items in ViewRec, so the file always
// holds exactly the sections its count announces.
void WriteLabelFile(const std::filesystem::path& path, const TLabelRec& rec);

// Reads the INI file at path. Missing keys and values that do not convert give their
// defaults; a missing file reads as an empty one. Throws ELabelFileError when
// ControlCount is negative or above kMaxControlCount.
TLabelRec ReadLabelFile(const std::filesystem::path& path);

// program folder + "LabelTemp": the staging folder of a save.
std::filesystem::path LabelTempFolder();
// program folder + "printLabel": the folder a template is extracted into.
std::filesystem::path PrintLabelFolder();

// Makes folder the current directory, deletes its files (not its sub-folders, not names
// beginning with ".", not read-only files; failures are passed over) and makes the
// program folder the current directory. Throws std::filesystem::filesystem_error when
// the folder cannot be made current.
void ClearFolder(const std::filesystem::path& folder);

// ClearFolder when the folder exists, otherwise creates it (its last level only). A
// folder that cannot be created is not reported; later writes into it fail.
void PrepareFolder(const std::filesystem::path& folder);

}  // namespace tagwright
