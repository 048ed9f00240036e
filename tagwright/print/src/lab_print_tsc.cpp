#include "tagwright/lab_print_tsc.h"

#include <limits>
#include <stdexcept>
#include <variant>
#include <vector>

#include "platform/text.h"
#include "platform/tsclib.h"
#include "tagwright/my_zip.h"
#include "tagwright/printer_caps.h"

namespace fs = std::filesystem;
using platform::text::IntToStr;
using platform::text::RoundHalfEven;
using platform::text::Utf8ToCp936;

namespace tagwright {
namespace {

constexpr const char* kTextView = "TTextView";
constexpr const char* kCodeView = "TCodeView";

// The calls of one label, worked out before the first is made, so that an item that
// cannot be placed stops the label before any of it reaches the printer.
struct TextCall {
  int x, y, height;
  std::string text;  // code page 936
};
struct BarcodeCall {
  std::string x, y, height, readable, barWidth, data;  // data in code page 936
};
using ItemCall = std::variant<TextCall, BarcodeCall>;

// The library takes 32-bit positions and sizes; an item so far out that its dots are none
// would otherwise be drawn somewhere else.
[[noreturn]] void OutOfRange(const TViewRec& item) {
  throw std::range_error("标签项目 " + item.Name + " 的位置超出打印范围");
}

std::int32_t Checked(std::int64_t value, const TViewRec& item) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    OutOfRange(item);
  }
  return static_cast<std::int32_t>(value);
}

// Nearest whole number, halves to the even neighbour.
std::int32_t Round(double value, const TViewRec& item) {
  try {
    return Checked(RoundHalfEven(value), item);
  } catch (const std::range_error&) {
    OutOfRange(item);
  }
}

}  // namespace

TPrintLabelTsc::TPrintLabelTsc() {
  ReadPrinterCaps();
  // Kept from here: a page created in between may read the default printer again.
  LogPixelsY = PrnLogPixelsY;
}

void TPrintLabelTsc::LoadTemplate(const fs::path& fileName, TLabelRec& rec) {
  const fs::path folder = PrintLabelFolder();
  PrepareFolder(folder);
  bool extracted = false;
  {
    TMyZip zip;
    extracted = zip.ExtractPackage(fileName, folder, kPackagePassword);
  }
  if (extracted) {
    LabelRec = ReadLabelFile(folder / kLabelFileName);
  }
  rec = LabelRec;
}

void TPrintLabelTsc::OpenPrinter() {
  using namespace platform::tsclib;
  const std::string printer = Utf8ToCp936(PrinterName);
  openport(printer.c_str());
  const std::string width = IntToStr(LabelRec.PageWidth);
  const std::string height = IntToStr(LabelRec.LHeightmm);
  const std::string gap = IntToStr(LabelRec.PageGap);
  setup(width.c_str(), height.c_str(), "2.0", "5", "0", gap.c_str(), "0");
  clearbuffer();
  const std::string gapLine = "GAP " + gap + " mm,0";
  sendcommand(gapLine.c_str());
  DotsPerPointY = static_cast<std::int32_t>(RoundHalfEven(LogPixelsY / 72.0));
  // A job of its own: an earlier job on this object left its last row at ClosePrinter.
  Column = 0;
}

void TPrintLabelTsc::SetFieldValue(const std::string& name, const std::string& value) {
  for (TViewRec& item : LabelRec.ViewRec) {
    if (item.Name == name) item.Value = value;
  }
}

void TPrintLabelTsc::PrintLabel() {
  const double cell = 2.0 * LabelRec.LRSpace + LabelRec.LWidthmm;
  const double pDotMM = LabelRec.PDotMM;
  std::vector<ItemCall> calls;
  for (const TViewRec& item : LabelRec.ViewRec) {
    const bool text = item.ViewType == kTextView;
    const bool code = item.ViewType == kCodeView;
    if (!(text && !item.Value.empty()) && !code) continue;
    // Whole millimetres first, so that every x is a multiple of the dots per millimetre.
    const std::int32_t mm = Round(LabelRec.LRSpace + item.Leftmm + cell * Column, item);
    const std::int32_t x = Checked(std::int64_t{mm} * LabelRec.PDotMM, item);
    const std::int32_t y = Round(pDotMM * item.Topmm, item);
    if (text) {
      const std::int32_t height = Checked(std::int64_t{item.FontSize} * DotsPerPointY, item);
      calls.emplace_back(TextCall{x, y, height, Utf8ToCp936(item.Value)});
    } else {
      const std::int32_t h = Round((item.Bottommm - item.Topmm) * pDotMM, item);
      std::string data(platform::text::Trim(item.Value));
      if (data.empty()) data = kDefaultBarcodeData;
      calls.emplace_back(BarcodeCall{IntToStr(x), IntToStr(y), IntToStr(h),
                                     item.HaveCode ? "1" : "0", IntToStr(item.BarWidth),
                                     Utf8ToCp936(data)});
    }
  }

  using namespace platform::tsclib;
  const std::string face = Utf8ToCp936(kLabelTextFace);
  for (const ItemCall& call : calls) {
    if (const auto* t = std::get_if<TextCall>(&call)) {
      windowsfont(t->x, t->y, t->height, 0, 0, 0, face.c_str(), t->text.c_str());
    } else {
      const auto& b = std::get<BarcodeCall>(call);
      barcode(b.x.c_str(), b.y.c_str(), "128", b.height.c_str(), b.readable.c_str(), "0",
              b.barWidth.c_str(), b.barWidth.c_str(), b.data.c_str());
    }
  }
  if (Column < static_cast<std::int64_t>(LabelRec.LCount) - 1) {
    ++Column;
  } else {
    Column = 0;
    printlabel("1", "1");
    clearbuffer();
  }
}

void TPrintLabelTsc::ClosePrinter() {
  using namespace platform::tsclib;
  if (Column > 0 && Column < LabelRec.LCount) printlabel("1", "1");
  closeport();
}

}  // namespace tagwright
