// The printing object: the calls it makes at the TSC library's eight functions, the
// template it loads, and a whole job through the private cupsd to the printer's socket.
#include "tagwright/lab_print_tsc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "cups_test_support.h"
#include "platform/module.h"
#include "platform/printer.h"
#include "platform/text.h"
#include "platform/tsclib.h"
#include "tagwright/gdata.h"
#include "tagwright/label_print_rec.h"
#include "tagwright/my_zip.h"
#include "tagwright/printer_caps.h"

namespace {

namespace fs = std::filesystem;
using namespace tagwright;
using Calls = std::vector<std::string>;

Calls operator+(Calls a, const Calls& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Call texts as the recorder writes them.
Calls Opened(const std::string& printer, int width, int height, int gap) {
  const std::string w = std::to_string(width), h = std::to_string(height),
                    g = std::to_string(gap);
  return {"openport(\"" + printer + "\")",
          "setup(\"" + w + "\",\"" + h + "\",\"2.0\",\"5\",\"0\",\"" + g + "\",\"0\")",
          "clearbuffer()", "sendcommand(\"GAP " + g + " mm,0\")"};
}
std::string Bar(int x, int y, int h, const char* readable, int barWidth, const std::string& data) {
  const std::string bw = std::to_string(barWidth);
  return "barcode(\"" + std::to_string(x) + "\",\"" + std::to_string(y) + "\",\"128\",\"" +
         std::to_string(h) + "\",\"" + readable + "\",\"0\",\"" + bw + "\",\"" + bw + "\",\"" +
         data + "\")";
}
std::string Font(int x, int y, int height, const std::string& text) {
  return "windowsfont(" + std::to_string(x) + "," + std::to_string(y) + "," +
         std::to_string(height) + ",0,0,0,\"宋体\",\"" + text + "\")";
}
const std::string kPrint = "printlabel(\"1\",\"1\")";
const std::string kClear = "clearbuffer()";
const std::string kClose = "closeport()";

TViewRec Item(const char* type, const std::string& name, double top, double left,
              double right, double bottom, const std::string& value) {
  TViewRec v;
  v.Topmm = top;
  v.Leftmm = left;
  v.Rightmm = right;
  v.Bottommm = bottom;
  v.ViewType = type;
  v.Name = name;
  v.Value = value;
  return v;
}
TViewRec Code(const std::string& name, double top, double left, double bottom,
              const std::string& value, bool haveCode = true) {
  TViewRec v = Item("TCodeView", name, top, left, left + 28, bottom, value);
  v.FontSize = 9;
  v.BarWidth = 2;
  v.HaveCode = haveCode;
  return v;
}
TViewRec Text(const std::string& name, double top, double left, const std::string& value,
              int fontSize = 10) {
  TViewRec v = Item("TTextView", name, top, left, left + 20, top + 4, value);
  v.FontSize = fontSize;
  return v;
}

TLabelRec Page(int pageWidth, int pageGap, int lrSpace, int lWidthmm, int lHeightmm,
               int lCount, int pDotMM, std::vector<TViewRec> items) {
  TLabelRec rec;
  rec.PageWidth = pageWidth;
  rec.PageGap = pageGap;
  rec.LRSpace = lrSpace;
  rec.LWidthmm = lWidthmm;
  rec.LHeightmm = lHeightmm;
  rec.LCount = lCount;
  rec.LShape = 1;
  rec.Direction = "F";
  rec.PDotMM = pDotMM;
  rec.ControlCount = static_cast<std::int32_t>(items.size());
  rec.ViewRec = std::move(items);
  return rec;
}
// Three 32 mm labels a row, 1 mm margins, 300 dpi (12 dots a millimetre).
TLabelRec ThreeARow(std::vector<TViewRec> items) {
  return Page(104, 3, 1, 32, 20, 3, 12, std::move(items));
}
TLabelRec OneARow(std::vector<TViewRec> items) {
  TLabelRec rec = ThreeARow(std::move(items));
  rec.PageWidth = 34;
  rec.LCount = 1;
  return rec;
}

// A barcode at 2.5 mm and a text at 1.5 mm from the label's left edge.
std::vector<TViewRec> BookItems() {
  return {Code("Cod1-", 2, 2.5, 10, "9787000000001"), Text("Txt1-", 12, 1.5, "图书 A-1")};
}
// That label in a column, given the two x that the column gives.
Calls BookLabel(int codeX, int textX) {
  return {Bar(codeX, 24, 96, "1", 2, "9787000000001"), Font(textX, 144, 40, "图书 A-1")};
}

std::string Get(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Takes text lines off the front of a job.
std::string TakeLine(std::string& job) {
  const std::size_t end = job.find("\r\n");
  std::string line = job.substr(0, end);
  job.erase(0, end == std::string::npos ? job.size() : end + 2);
  return line;
}

// Every test: a program folder of its own, a default printer on the private scheduler
// (the object reads its resolution when created), and the calls at the library recorded.
class PrintTsc : public ::testing::Test {
 protected:
  void SetUp() override {
    CUPS_TEST_REQUIRE_SERVER();
    std::random_device rd;
    root_ = fs::temp_directory_path() /
            ("tagwright_print_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
             "_" + std::to_string(rd()) + std::to_string(rd()));
    ASSERT_TRUE(fs::create_directory(root_));
    prog_ = root_ / "prog";
    fs::create_directory(prog_);
    platform::module::OverrideProgramFolderForTesting(prog_);
    // Nothing listens on port 9: the default queue only gives the resolution (300 dpi).
    defaultQueue_ = std::make_unique<cups_test::RawQueue>("TwDefault", 9);
    cups_test::SetDefault(defaultQueue_->Name());
    // The sequence tests open a printer that does not exist: every call is still made.
    missingPrinter_ = cups_test::UniqueQueueName("无此标签机");
  }
  void TearDown() override {
    platform::tsclib::SetCallRecorder(nullptr);
    platform::tsclib::closeport();
    defaultQueue_.reset();
    if (!root_.empty()) {
      fs::current_path(fs::temp_directory_path());
      std::error_code ec;
      fs::remove_all(root_, ec);
    }
  }

  void StartRecording() {
    calls_.clear();
    platform::tsclib::SetCallRecorder([this](const std::string& c) { calls_.push_back(c); });
  }
  Calls StopRecording() {
    platform::tsclib::SetCallRecorder(nullptr);
    return calls_;
  }

  // A template package of rec, built as the designer's save builds one.
  fs::path Package(const TLabelRec& rec, const std::string& password = kPackagePassword) {
    const std::string n = std::to_string(++packages_);
    const fs::path dir = root_ / ("design" + n);
    fs::create_directory(dir);
    WriteLabelFile(dir / kLabelFileName, rec);
    std::ofstream(dir / "Pic1-.Bmp", std::ios::binary) << "BM picture bytes";
    const fs::path pkg = root_ / ("模板" + n + ".Lab");
    TMyZip().BuildPackage(dir, pkg, password);
    return pkg;
  }

  fs::path root_, prog_;
  std::unique_ptr<cups_test::RawQueue> defaultQueue_;
  std::string missingPrinter_;
  Calls calls_;
  int packages_ = 0;
};

TEST_F(PrintTsc, CallSequences) {
  using Job = std::function<void(TPrintLabelTsc&)>;
  auto labels = [](int count) {
    return [count](TPrintLabelTsc& p) {
      p.OpenPrinter();
      for (int i = 0; i < count; ++i) p.PrintLabel();
      p.ClosePrinter();
    };
  };
  const Calls open3 = Opened(missingPrinter_, 104, 20, 3);
  const Calls open1 = Opened(missingPrinter_, 34, 20, 3);
  // Columns 0, 1, 2: each 34 mm (408 dots) further right; 1 + 2.5 + 34c and 1 + 1.5 + 34c
  // round half to even before they are scaled.
  const Calls col0 = BookLabel(48, 24), col1 = BookLabel(456, 432), col2 = BookLabel(864, 840);

  TLabelRec decorated = ThreeARow(BookItems());
  decorated.LShape = 0;
  decorated.Direction = "T";
  TViewRec picture = Item("TPicView", "Pic1-", 1, 1, 9, 9, "x");
  picture.PicFile = "Pic1-.Bmp";
  const TViewRec line = Item("TLineImage", "", 18, 30, 2, 18, "");
  decorated.ViewRec.insert(decorated.ViewRec.begin(), picture);
  decorated.ViewRec.push_back(line);
  decorated.ViewRec.push_back(Text("Low", 1, 1, "kind names are case-sensitive"));
  decorated.ViewRec.back().ViewType = "ttextview";
  decorated.ViewRec.push_back(Text("None", 1, 1, "no kind"));
  decorated.ViewRec.back().ViewType = "";
  decorated.ControlCount = static_cast<std::int32_t>(decorated.ViewRec.size());

  struct Case {
    const char* what;
    std::optional<TLabelRec> rec;  // nothing: no template loaded
    Job job;
    Calls expected;
  };
  const std::vector<Case> cases = {
      {"three a row, five labels: a full row at the third, two and a blank cell at the end",
       ThreeARow(BookItems()), labels(5),
       open3 + col0 + col1 + col2 + Calls{kPrint, kClear} + col0 + col1 + Calls{kPrint, kClose}},
      {"a full row leaves nothing for ClosePrinter", ThreeARow(BookItems()), labels(3),
       open3 + col0 + col1 + col2 + Calls{kPrint, kClear, kClose}},
      {"one a row: every label printed and cleared", OneARow(BookItems()), labels(2),
       open1 + col0 + Calls{kPrint, kClear} + col0 + Calls{kPrint, kClear, kClose}},
      {"pictures, lines, other kinds, corner shape and mirror flag send nothing", decorated,
       labels(5),
       open3 + col0 + col1 + col2 + Calls{kPrint, kClear} + col0 + col1 + Calls{kPrint, kClose}},
      {"a barcode without data prints the default data; blanks and controls are trimmed",
       OneARow({Code("Cod1-", 2, 2.5, 10, "", false)}),
       [](TPrintLabelTsc& p) {
         p.OpenPrinter();
         for (const char* value : {"", " \t ", " 978 7\r\n"}) {
           p.SetFieldValue("Cod1-", value);
           p.PrintLabel();
         }
         p.ClosePrinter();
       },
       open1 + Calls{Bar(48, 24, 96, "0", 2, "1234567890123"), kPrint, kClear,
                     Bar(48, 24, 96, "0", 2, "1234567890123"), kPrint, kClear,
                     Bar(48, 24, 96, "0", 2, "978 7"), kPrint, kClear, kClose}},
      {"a text without a value prints nothing; blanks are printed as they are",
       OneARow({Text("Txt1-", 12, 1.5, "x")}),
       [](TPrintLabelTsc& p) {
         p.OpenPrinter();
         for (const char* value : {"", "   ", " 书 "}) {
           p.SetFieldValue("Txt1-", value);
           p.PrintLabel();
         }
         p.ClosePrinter();
       },
       open1 + Calls{kPrint, kClear, Font(24, 144, 40, "   "), kPrint, kClear,
                     Font(24, 144, 40, " 书 "), kPrint, kClear, kClose}},
      {"SetFieldValue: exact names, every match of any kind, values stay for later labels",
       OneARow({Text("Cod2-", 1, 2, "a"), Code("Cod2-", 5, 2, 10, "b"), Text("cod2-", 12, 2, "c")}),
       [](TPrintLabelTsc& p) {
         p.OpenPrinter();
         p.SetFieldValue("Cod2-", "X");
         p.SetFieldValue("nobody", "Y");
         p.PrintLabel();
         p.PrintLabel();
         p.ClosePrinter();
       },
       open1 + Calls{Font(36, 12, 40, "X"), Bar(36, 60, 60, "1", 2, "X"), Font(36, 144, 40, "c"),
                     kPrint, kClear, Font(36, 12, 40, "X"), Bar(36, 60, 60, "1", 2, "X"),
                     Font(36, 144, 40, "c"), kPrint, kClear, kClose}},
      {"x rounds to whole millimetres before scaling, y and h after",
       OneARow({Text("a", 0.125, 1.5, "a"), Text("b", 0.375, 2.5, "b"), Text("c", 1, 2.4, "c"),
                Code("d", 0.125, -2.5, 0.5, "d")}),
       labels(1),
       open1 + Calls{Font(24, 2, 40, "a"), Font(48, 4, 40, "b"), Font(36, 12, 40, "c"),
                     Bar(-24, 2, 4, "1", 2, "d"), kPrint, kClear, kClose}},
      {"an empty record: zero sizes and a blank label at every PrintLabel", std::nullopt,
       labels(2),
       Opened(missingPrinter_, 0, 0, 0) + Calls{kPrint, kClear, kPrint, kClear, kClose}},
      {"a second job on the object starts at the first column", ThreeARow(BookItems()),
       [](TPrintLabelTsc& p) {
         for (int job = 0; job < 2; ++job) {
           p.OpenPrinter();
           p.PrintLabel();
           p.ClosePrinter();
         }
       },
       open3 + col0 + Calls{kPrint, kClose} + open3 + col0 + Calls{kPrint, kClose}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<fs::path> pkg = c.rec ? std::optional(Package(*c.rec)) : std::nullopt;
    StartRecording();
    {
      TPrintLabelTsc printer;
      printer.PrinterName = missingPrinter_;
      if (pkg) {
        TLabelRec rec;
        printer.LoadTemplate(*pkg, rec);
        ASSERT_EQ(rec, *c.rec) << "the template did not travel";
      }
      c.job(printer);
    }  // destroying the object sends nothing
    EXPECT_EQ(StopRecording(), c.expected);
  }
}

TEST_F(PrintTsc, TextHeightFollowsTheDefaultPrintersResolutionAtCreation) {
  const fs::path pkg = Package(OneARow({Text("Txt1-", 0, 1, "书")}));
  struct Case {
    const char* option;  // nullptr: the queue's default of 300 dpi
    int fontHeight;      // font size 10 times Round(dpi / 72)
  };
  const Case cases[] = {
      {"printer-resolution-default=203dpi", 30},  // 2.82
      {nullptr, 40},                              // 4.17
      {"printer-resolution-default=324dpi", 40},  // 4.5 to the even 4
      {"printer-resolution-default=396dpi", 60},  // 5.5 to the even 6
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option != nullptr ? c.option : "no option");
    cups_test::RawQueue queue("TwRes", 9);
    if (c.option != nullptr) cups_test::SetOption(queue.Name(), c.option);
    cups_test::SetDefault(queue.Name());
    TPrintLabelTsc printer;
    printer.PrinterName = missingPrinter_;
    TLabelRec rec;
    printer.LoadTemplate(pkg, rec);
    // A page created meanwhile reads the default printer again; the job keeps its own.
    cups_test::SetOption(queue.Name(), "printer-resolution-default=600dpi");
    ReadPrinterCaps();
    ASSERT_EQ(PrnLogPixelsY, 600);
    StartRecording();
    printer.OpenPrinter();
    printer.PrintLabel();
    const Calls calls = StopRecording();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[4], Font(24, 0, c.fontHeight, "书"));
  }
}

TEST_F(PrintTsc, AnItemBeyondThePrintableRangeStopsTheWholeLabel) {
  struct Case {
    const char* what;
    TViewRec item;
  };
  TViewRec far = Text("far", 1, 1e300, "x");
  TViewRec wide = Code("wide", 1, 2e8, 5, "1");   // 2e8 mm fits, 2.4e9 dots do not
  TViewRec deep = Code("deep", 1, 1, 4e8, "1");  // height in dots
  TViewRec tall = Text("tall", 1, 1, "x", 1 << 30);  // font height in dots
  const Case cases[] = {{"far left", far}, {"wide", wide}, {"deep", deep}, {"tall", tall}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TPrintLabelTsc printer;
    printer.PrinterName = missingPrinter_;
    TLabelRec rec;
    printer.LoadTemplate(Package(OneARow({Text("ok", 1, 1, "before"), c.item})), rec);
    ASSERT_EQ(rec.ViewRec.at(1), c.item);
    printer.OpenPrinter();
    StartRecording();
    EXPECT_THROW(printer.PrintLabel(), std::range_error);
    EXPECT_EQ(StopRecording(), Calls{}) << "nothing of the label was sent";
  }
}

TEST_F(PrintTsc, CreationNeedsAPrinter) {
  cups_test::OwnScheduler withoutQueues;
  try {
    TPrintLabelTsc printer;
    FAIL() << "created without a default printer";
  } catch (const platform::printer::PrinterError& e) {
    EXPECT_STREQ(e.what(), platform::printer::kNoDefaultPrinter);
  }
}

TEST_F(PrintTsc, LoadTemplateReadsTheExtractedLabelFile) {
  TLabelRec design = ThreeARow(BookItems());
  design.Direction = "T";
  const fs::path pkg = Package(design);
  fs::create_directory(PrintLabelFolder());
  std::ofstream(PrintLabelFolder() / "stale.Bmp") << "from an earlier template";

  TPrintLabelTsc printer;
  TLabelRec rec = OneARow({});
  printer.LoadTemplate(pkg, rec);
  EXPECT_EQ(rec, design);
  // The pictures stay for the page; the earlier template's are gone.
  EXPECT_EQ(Get(PrintLabelFolder() / "Pic1-.Bmp"), "BM picture bytes");
  EXPECT_TRUE(fs::exists(PrintLabelFolder() / kLabelFileName));
  EXPECT_FALSE(fs::exists(PrintLabelFolder() / "stale.Bmp"));
  EXPECT_TRUE(fs::exists(prog_ / kPayloadFile));
  EXPECT_FALSE(fs::exists(prog_ / kExtractListFile));
  EXPECT_FALSE(fs::exists(prog_ / kTranErrLogName));
}

TEST_F(PrintTsc, ARefusedPackageGivesTheRecordTheObjectHolds) {
  const fs::path refused = Package(ThreeARow(BookItems()), "WDX");
  const std::string logLine = "文件密码错误 " + refused.string() + "\r\n";
  {
    TPrintLabelTsc printer;
    TLabelRec rec = OneARow(BookItems());
    printer.LoadTemplate(refused, rec);
    EXPECT_EQ(rec, TLabelRec{}) << "a new object holds the empty record";
    EXPECT_TRUE(fs::is_empty(PrintLabelFolder()));
    const std::string log = platform::text::Cp936ToUtf8(Get(prog_ / kTranErrLogName));
    EXPECT_TRUE(log.ends_with(logLine)) << log;
  }
  {
    TPrintLabelTsc printer;
    const TLabelRec first = OneARow(BookItems());
    TLabelRec rec;
    printer.LoadTemplate(Package(first), rec);
    printer.LoadTemplate(refused, rec);
    EXPECT_EQ(rec, first);
  }
}

TEST_F(PrintTsc, ErrorsOfTheExtractionReachTheCallerWithTheRecordUntouched) {
  const TLabelRec loaded = OneARow(BookItems());
  const TLabelRec callers = ThreeARow({Text("mine", 1, 1, "mine")});
  TPrintLabelTsc printer;
  printer.PrinterName = missingPrinter_;
  TLabelRec rec;
  printer.LoadTemplate(Package(loaded), rec);

  std::ofstream(root_ / "garbage.Lab", std::ios::binary)
      << std::string(40, 'x') << std::string("\x11\0\0\0", 4);
  // A Label file whose item count no template can hold.
  const fs::path badCount = root_ / "badcount";
  fs::create_directory(badCount);
  std::ofstream(badCount / kLabelFileName) << "[LabelRec]\r\nControlCount=-1\r\n";
  TMyZip().BuildPackage(badCount, root_ / "badcount.Lab", kPackagePassword);

  rec = callers;
  EXPECT_THROW(printer.LoadTemplate(root_ / "missing.Lab", rec), EPackageError);
  EXPECT_EQ(rec, callers);
  EXPECT_THROW(printer.LoadTemplate(root_ / "garbage.Lab", rec), EPackageError);
  EXPECT_EQ(rec, callers);
  EXPECT_THROW(printer.LoadTemplate(root_ / "badcount.Lab", rec), ELabelFileError);
  EXPECT_EQ(rec, callers);

  // The object still prints the template it held.
  StartRecording();
  printer.OpenPrinter();
  printer.PrintLabel();
  const Calls expected =
      Opened(missingPrinter_, 34, 20, 3) + BookLabel(48, 24) + Calls{kPrint, kClear};
  EXPECT_EQ(StopRecording(), expected);
}

TEST_F(PrintTsc, AJobReachesThePrinterLineByLine) {
  cups_test::OneJobListener socket;
  cups_test::RawQueue queue("TwLabel", socket.Port());
  cups_test::SetOption(queue.Name(), "printer-resolution-default=203dpi");
  cups_test::SetDefault(queue.Name());
  // Two 34 mm labels a row at 203 dpi: 8 dots a millimetre, 3 dots a point.
  const fs::path pkg = Package(
      Page(72, 2, 1, 34, 25, 2, 8, {Code("Cod1-", 3, 2, 13, ""), Text("Txt1-", 15, 2, "", 9)}));

  TPrintLabelTsc printer;
  printer.PrinterName = platform::printer::DefaultPrinterName();
  TLabelRec rec;
  printer.LoadTemplate(pkg, rec);
  ASSERT_EQ(rec.ViewRec.size(), 2u);
  printer.OpenPrinter();
  const char* codes[] = {"9787000000001", "9787000000002", "9787000000003"};
  const char* titles[] = {"图书 一", "图书 二", "图书 三"};
  for (int i = 0; i < 3; ++i) {
    printer.SetFieldValue("Cod1-", codes[i]);
    printer.SetFieldValue("Txt1-", titles[i]);
    printer.PrintLabel();
  }
  printer.ClosePrinter();

  std::optional<std::string> received = socket.Wait();
  ASSERT_TRUE(received) << "the job did not reach the printer's socket";
  std::string job = *received;
  EXPECT_EQ(TakeLine(job), "SIZE 72 mm,25 mm");
  EXPECT_EQ(TakeLine(job), "SPEED 2.0");
  EXPECT_EQ(TakeLine(job), "DENSITY 5");
  EXPECT_EQ(TakeLine(job), "GAP 2 mm,0 mm");
  EXPECT_EQ(TakeLine(job), "CLS");
  EXPECT_EQ(TakeLine(job), "GAP 2 mm,0");
  const std::string face = platform::text::Utf8ToCp936("宋体");
  // Column 0 at 1 + 2 mm, column 1 at 1 + 2 + 36 mm.
  const int xs[] = {24, 312, 24};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const std::string x = std::to_string(xs[i]);
    EXPECT_EQ(TakeLine(job), "BARCODE " + x + ",24,\"128\",80,1,0,2,2,\"" + codes[i] + "\"");
    // The picture's rows are binary and may hold CR LF bytes: compare it whole.
    const std::string bitmap = *platform::tsclib::tspl::WindowsFont(
        xs[i], 120, 27, 0, 0, 0, face, platform::text::Utf8ToCp936(titles[i]));
    ASSERT_EQ(job.rfind("BITMAP " + x + ",120,", 0), 0u) << job.substr(0, 40);
    EXPECT_EQ(job.substr(0, bitmap.size()), bitmap);
    job.erase(0, bitmap.size());
    if (i == 1) {
      EXPECT_EQ(TakeLine(job), "PRINT 1,1");
      EXPECT_EQ(TakeLine(job), "CLS");
    }
  }
  EXPECT_EQ(TakeLine(job), "PRINT 1,1") << "the partly filled row";
  EXPECT_EQ(job, "") << "nothing after the last command";
}

}  // namespace
