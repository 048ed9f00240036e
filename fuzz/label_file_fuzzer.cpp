// Bytes of a template file `Label` into ReadLabelFile. A record that reads must hold as
// many items as its count says, with UTF-8 texts; written back with WriteLabelFile and
// read again it must give the same page and items (numbers to the 15 digits the file
// keeps, texts that the profile rules keep: no blanks or enclosing quotes at the ends,
// no U+FFFD standing for bytes that were no character). The reader ends a line at CR LF,
// LF or a lone CR, so no text read holds a line break and every record read writes back.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/profile.h"
#include "tagwright/label_print_rec.h"

namespace {

namespace fs = std::filesystem;
using tagwright::TLabelRec;
using tagwright::TViewRec;

// Building a file costs more than linear time in its sections; the items past this
// count add nothing the first ones do not test.
constexpr std::int32_t kMaxRewrittenItems = 64;

// Texts the file gives back as written: the reader takes blanks (bytes up to 32) off
// both ends and one pair of enclosing quotes (the Windows profile rules), so a text
// that a pair of quotes kept with blanks or quotes at its ends comes back without them;
// U+FFFD is written as "?".
bool Kept(const std::string& text) {
  if (text.empty()) return true;
  const bool quoted = text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
                      text.back() == text.front();
  const bool blankEnd = static_cast<unsigned char>(text.front()) <= 32 ||
                        static_cast<unsigned char>(text.back()) <= 32;
  return !quoted && !blankEnd && text.find("\xEF\xBF\xBD") == std::string::npos;
}

void SameText(const std::string& a, const std::string& b, const char* what) {
  if (Kept(a)) FUZZ_CHECK(a == b, std::string(what) + ": \"" + a + "\" came back as \"" + b + "\"");
}

void SameNumber(double a, double b, const char* what) {
  const bool same = a == b || std::fabs(a - b) <= std::fabs(a) * 1e-14;
  FUZZ_CHECK(same, std::string(what) + ": " + std::to_string(a) + " came back as " +
                       std::to_string(b));
}

void CheckRecord(const TLabelRec& rec) {
  FUZZ_CHECK(rec.ControlCount >= 0 && rec.ControlCount <= tagwright::kMaxControlCount,
             std::to_string(rec.ControlCount));
  FUZZ_CHECK(rec.ViewRec.size() == static_cast<size_t>(rec.ControlCount), "item count");
  FUZZ_CHECK(fuzz::ValidUtf8(rec.Direction), "Direction");
  for (const TViewRec& v : rec.ViewRec) {
    FUZZ_CHECK(fuzz::ValidUtf8(v.ViewType) && fuzz::ValidUtf8(v.Name) && fuzz::ValidUtf8(v.PicFile) &&
                   fuzz::ValidUtf8(v.Value),
               "item text is no UTF-8");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::InputFile input(tagwright::kLabelFileName);
  static const fs::path copy = fuzz::ScratchFolder() / "Label.copy";
  input.Put(std::string_view(reinterpret_cast<const char*>(data), size));

  TLabelRec rec;
  try {
    rec = tagwright::ReadLabelFile(input.Path());
  } catch (const tagwright::ELabelFileError&) {
    return 0;
  }
  CheckRecord(rec);
  if (rec.ControlCount > kMaxRewrittenItems) return 0;

  try {
    tagwright::WriteLabelFile(copy, rec);
  } catch (const platform::profile::ProfileError& e) {
    fuzz::Fail(std::string("a record that reads cannot be written back: ") + e.what());
  }
  const TLabelRec back = tagwright::ReadLabelFile(copy);
  CheckRecord(back);
  FUZZ_CHECK(back.PageWidth == rec.PageWidth && back.PageGap == rec.PageGap &&
                 back.LRSpace == rec.LRSpace && back.LWidthmm == rec.LWidthmm &&
                 back.LHeightmm == rec.LHeightmm && back.LCount == rec.LCount &&
                 back.LShape == rec.LShape && back.PDotMM == rec.PDotMM &&
                 back.ControlCount == rec.ControlCount,
             "page numbers changed");
  SameText(rec.Direction, back.Direction, "Direction");
  for (size_t i = 0; i < rec.ViewRec.size(); ++i) {
    const TViewRec& a = rec.ViewRec[i];
    const TViewRec& b = back.ViewRec[i];
    SameNumber(a.Topmm, b.Topmm, "Topmm");
    SameNumber(a.Leftmm, b.Leftmm, "Leftmm");
    SameNumber(a.Rightmm, b.Rightmm, "Rightmm");
    SameNumber(a.Bottommm, b.Bottommm, "Bottommm");
    SameText(a.ViewType, b.ViewType, "ViewType");
    SameText(a.Name, b.Name, "Name");
    SameText(a.PicFile, b.PicFile, "PicFile");
    SameText(a.Value, b.Value, "Value");
    FUZZ_CHECK(a.FontSize == b.FontSize && a.BarWidth == b.BarWidth && a.HaveCode == b.HaveCode,
               "item numbers changed");
  }
  return 0;
}
