// The test print on a template built from records: what reaches the printer's socket
// through the private cupsd.
#include "tagwright/test_print.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "main_fixture.h"
#include "platform/text.h"
#include "platform/tsclib.h"
#include "tagwright/label_print_rec.h"
#include "tagwright/my_zip.h"

namespace tagwright::testing {
namespace {

namespace tspl = platform::tsclib::tspl;
using platform::text::Utf8ToCp936;

// 32 x 20 mm labels with 1 mm beside each, 8 dots a millimetre. The sample values go to
// "Cod2-" and "Tex1-"; "Txt3-" prints its design text, "Cod4-" the default barcode data;
// the line and the picture are not printed.
TLabelRec SampleTemplate(std::int32_t perRow) {
  TLabelRec rec;
  rec.PageWidth = 2 + 34 * perRow;
  rec.PageGap = 3;
  rec.LRSpace = 1;
  rec.LWidthmm = 32;
  rec.LHeightmm = 20;
  rec.LCount = perRow;
  rec.LShape = 1;
  rec.Direction = "F";
  rec.PDotMM = 8;
  TViewRec code = Item("TCodeView", "Cod2-", 2, 2.5, 30.5, 10);
  code.FontSize = 9;
  code.BarWidth = 2;
  code.HaveCode = true;
  TViewRec text = Item("TTextView", "Tex1-", 12, 1.5, 21.5, 16);
  text.FontSize = 10;
  text.Value = "书名";
  TViewRec other = Item("TTextView", "Txt3-", 16, 20, 30, 19);
  other.FontSize = 8;
  other.Value = "图书馆";
  TViewRec plain = Item("TCodeView", "Cod4-", 14, 26, 31, 19);
  plain.FontSize = 9;
  plain.BarWidth = 1;
  TViewRec line = Item("TLineImage", "", 1, 1, 31, 1);
  TViewRec picture = Item("TPicView", "Pic6-", 1, 1, 5, 5);
  picture.PicFile = "Pic6-.Bmp";
  rec.ViewRec = {code, text, other, plain, line, picture};
  rec.ControlCount = static_cast<std::int32_t>(rec.ViewRec.size());
  return rec;
}

std::string Text(int x, int y, int height, const std::string& text) {
  return *tspl::WindowsFont(x, y, height, 0, 0, 0, Utf8ToCp936("宋体"), Utf8ToCp936(text));
}

// The TSPL of one label of SampleTemplate in its column: whole millimetres from the roll's
// edge (halves to even: 3.5 -> 4, 2.5 -> 2; 37.5 -> 38, 36.5 -> 36) times 8 dots; font
// sizes times Round(203 / 72) = 3 dots.
std::string SampleLabel(int column, const std::string& value) {
  struct Xs {
    int code, text, other, plain;
  };
  const Xs x = column == 0 ? Xs{32, 16, 168, 216} : Xs{304, 288, 440, 488};
  return *tspl::Barcode(std::to_string(x.code), "16", "128", "64", "1", "0", "2", "2",
                        value) +
         Text(x.text, 96, 30, value) + Text(x.other, 128, 24, "图书馆") +
         *tspl::Barcode(std::to_string(x.plain), "112", "128", "40", "0", "0", "1", "1",
                        "1234567890123");
}

class TestPrint : public PrinterTest {
 protected:
  // A package of rec, as the page's save builds one.
  fs::path Package(const TLabelRec& rec) {
    const fs::path dir = root_ / "design";
    fs::create_directories(dir);
    WriteLabelFile(dir / kLabelFileName, rec);
    std::ofstream(dir / "Pic6-.Bmp", std::ios::binary) << "BM";
    const fs::path package = prog_ / kTestPrintFile;
    TMyZip().BuildPackage(dir, package, kPackagePassword);
    return package;
  }
};

TEST_F(TestPrint, TwoSampleLabelsFillTheRowsOfTheRoll) {
  const std::string rowEnd = *tspl::PrintLabel("1", "1") + tspl::ClearBuffer();
  auto setup = [](int pageWidth) {
    return *tspl::Setup(std::to_string(pageWidth), "20", "2.0", "5", "0", "3", "0") +
           tspl::ClearBuffer() + *tspl::SendCommand("GAP 3 mm,0");
  };
  const std::string first = kTestValues[0], second = kTestValues[1];
  struct Case {
    std::int32_t perRow;
    std::string job;
  };
  const std::vector<Case> cases = {
      // One row of three: both labels side by side, the third cell blank, printed when
      // the printer is closed.
      {3, setup(104) + SampleLabel(0, first) + SampleLabel(1, second) +
              *tspl::PrintLabel("1", "1")},
      {2, setup(70) + SampleLabel(0, first) + SampleLabel(1, second) + rowEnd},
      {1, setup(36) + SampleLabel(0, first) + rowEnd + SampleLabel(0, second) + rowEnd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("labels per row: " + std::to_string(c.perRow));
    cups_test::OneJobListener printer;
    cups_test::RawQueue queue("TwSample", printer.Port());
    PrintTestLabels(queue.Name(), Package(SampleTemplate(c.perRow)));
    const std::optional<std::string> job = printer.Wait();
    ASSERT_TRUE(job) << "no job reached the printer";
    EXPECT_EQ(job->size(), c.job.size());
    EXPECT_TRUE(*job == c.job) << job->substr(0, 400);
  }
}

TEST_F(TestPrint, AnItemThatCannotBePlacedEndsThePrintAndClosesTheJob) {
  TLabelRec rec = SampleTemplate(3);
  rec.ViewRec[0].Leftmm = 1e12;
  rec.ViewRec[0].Rightmm = 1e12 + 28;
  EXPECT_THROW(PrintTestLabels(queue_->Name(), Package(rec)), std::range_error);
  const std::optional<std::string> job = printer_->Wait();
  ASSERT_TRUE(job) << "the job was left open";
  EXPECT_EQ(*job, *tspl::Setup("104", "20", "2.0", "5", "0", "3", "0") +
                      tspl::ClearBuffer() + *tspl::SendCommand("GAP 3 mm,0"))
      << "nothing of the label that failed, no row printed";
}

}  // namespace
}  // namespace tagwright::testing
