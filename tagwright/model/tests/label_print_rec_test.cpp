#include "tagwright/label_print_rec.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "model_fixture.h"

namespace tagwright::testing {
namespace {

using LabelFile = ModelTest;

TEST_F(LabelFile, WritesTheTemplateLayoutAndReadsItBack) {
  TLabelRec rec;
  rec.PageWidth = 104;
  rec.PageGap = 2;
  rec.LRSpace = 3;
  rec.LWidthmm = 30;
  rec.LHeightmm = 20;
  rec.LCount = 3;
  rec.LShape = 1;
  rec.Direction = "F";
  rec.PDotMM = 8;
  rec.ControlCount = 2;
  TViewRec text;
  text.Topmm = 3;
  text.Leftmm = -1.5;
  text.Rightmm = 1.0 / 3;
  text.Bottommm = 8;
  text.ViewType = "TTextView";
  text.Name = "书名";
  text.FontSize = 9;
  text.Value = "中文 text";
  TViewRec line;  // drawn from right to left and above the label
  line.Topmm = -2.25;
  line.Leftmm = 12;
  line.Rightmm = 2;
  line.Bottommm = 1e-5;
  line.ViewType = "TLineImage";
  line.HaveCode = true;
  rec.ViewRec = {text, line};

  const fs::path path = root_ / "Label";
  Put(path, "[ViewRec7]\r\nName=left over from an earlier save\r\n");
  WriteLabelFile(path, rec);
  EXPECT_EQ(Get(path),
            "[LabelRec]\r\nPageWidth=104\r\nPageGap=2\r\nLWidthmm=30\r\nLHeightmm=20\r\n"
            "LCount=3\r\nLRSpace=3\r\nLShape=1\r\nControlCount=2\r\nDirection=F\r\nPDotMM=8\r\n"
            "\r\n[ViewRec0]\r\nTopmm=3\r\nLeftmm=-1.5\r\nRightmm=0.333333333333333\r\n"
            "Bottommm=8\r\nViewType=TTextView\r\nName=\xCA\xE9\xC3\xFB\r\nPicFile=\r\n"
            "FontSize=9\r\nBarWidth=0\r\nHaveCode=0\r\nValue=\xD6\xD0\xCE\xC4 text\r\n"
            "\r\n[ViewRec1]\r\nTopmm=-2.25\r\nLeftmm=12\r\nRightmm=2\r\nBottommm=1E-5\r\n"
            "ViewType=TLineImage\r\nName=\r\nPicFile=\r\nFontSize=0\r\nBarWidth=0\r\n"
            "HaveCode=1\r\nValue=\r\n");
  // No temporary stays beside it.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(root_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Label", "prog"}));

  TLabelRec want = rec;
  want.ViewRec[0].Rightmm = 0.333333333333333;
  EXPECT_EQ(ReadLabelFile(path), want);

  // The count written is the number of items, whatever the field says.
  rec.ControlCount = 5;
  rec.ViewRec.pop_back();
  WriteLabelFile(path, rec);
  EXPECT_EQ(ReadLabelFile(path).ControlCount, 1);
}

TEST_F(LabelFile, ReadingRules) {
  const std::string longValue(3000, 'v');
  std::string longChinese;
  for (int i = 0; i < 1500; ++i) longChinese += "\xD6\xD0";
  std::string cutChinese;
  for (int i = 0; i < 1023; ++i) cutChinese += "中";

  struct Case {
    const char* what;
    std::string file;
    std::function<void(const TLabelRec&)> check;
  };
  const std::vector<Case> cases = {
      {"empty section", "[LabelRec]\r\n",
       [](const TLabelRec& r) {
         TLabelRec want;
         want.Direction = "T";
         want.PDotMM = 12;
         EXPECT_EQ(r, want);
       }},
      {"keys in any case and order, LrSpace and name",
       "[labelrec]\nCONTROLCOUNT=1\nLRSpace=2\n[VIEWREC0]\nName=Cod1-\n",
       [](const TLabelRec& r) {
         EXPECT_EQ(r.LRSpace, 2);
         ASSERT_EQ(r.ViewRec.size(), 1u);
         EXPECT_EQ(r.ViewRec[0].Name, "Cod1-");
       }},
      {"missing item keys take their defaults",
       "[LabelRec]\nControlCount=1\n[ViewRec0]\nViewType=TCodeView\n",
       [](const TLabelRec& r) {
         TViewRec want;
         want.ViewType = "TCodeView";
         want.FontSize = 8;
         want.BarWidth = 2;
         want.HaveCode = true;
         EXPECT_EQ(r.ViewRec.at(0), want);
       }},
      {"HaveCode 5, 0, x",
       "[LabelRec]\nControlCount=3\n[ViewRec0]\nHaveCode=5\n[ViewRec1]\nHaveCode=0\n"
       "[ViewRec2]\nHaveCode=x\n",
       [](const TLabelRec& r) {
         EXPECT_TRUE(r.ViewRec.at(0).HaveCode);
         EXPECT_FALSE(r.ViewRec.at(1).HaveCode);
         EXPECT_TRUE(r.ViewRec.at(2).HaveCode);
       }},
      {"numbers that do not convert",
       "[LabelRec]\nPageWidth=12.5\nPDotMM=x\nControlCount=1\n[ViewRec0]\nTopmm=12,5\n"
       "Leftmm=12.5\nRightmm=\nFontSize=9.0\n",
       [](const TLabelRec& r) {
         EXPECT_EQ(r.PageWidth, 0);
         EXPECT_EQ(r.PDotMM, 12);
         EXPECT_EQ(r.ViewRec.at(0).Topmm, 0);
         EXPECT_EQ(r.ViewRec.at(0).Leftmm, 12.5);
         EXPECT_EQ(r.ViewRec.at(0).Rightmm, 0);
         EXPECT_EQ(r.ViewRec.at(0).FontSize, 8);
       }},
      {"sections beyond the count are ignored",
       "[LabelRec]\nControlCount=2\n[ViewRec0]\nName=a\n[ViewRec1]\nName=b\n[ViewRec2]\nName=c\n",
       [](const TLabelRec& r) {
         ASSERT_EQ(r.ViewRec.size(), 2u);
         EXPECT_EQ(r.ViewRec[1].Name, "b");
       }},
      {"a missing section gives a default item, before and after one that is there",
       "[LabelRec]\nControlCount=4\n[ViewRec0]\nViewType=TTextView\n"
       "[ViewRec2]\nViewType=TPicView\n",
       [](const TLabelRec& r) {
         ASSERT_EQ(r.ControlCount, 4);
         ASSERT_EQ(r.ViewRec.size(), 4u);
         TViewRec absent;
         absent.FontSize = 8;
         absent.BarWidth = 2;
         absent.HaveCode = true;
         EXPECT_EQ(r.ViewRec[0].ViewType, "TTextView");
         EXPECT_EQ(r.ViewRec[1], absent);
         TViewRec pic = absent;
         pic.ViewType = "TPicView";
         EXPECT_EQ(r.ViewRec[2], pic);
         EXPECT_EQ(r.ViewRec[3], absent);
       }},
      {"an item's section is found as the profile finds it, in any case, the first of a name",
       "[LabelRec]\nControlCount=5\n[ viewREC1 ]\nName=one\n[ViewRec01]\nName=zero one\n"
       "[ViewRec+2]\nName=plus two\n[ViewRec3\nName=three\n[VIEWREC1]\nName=again\n"
       "[ViewRec18446744073709551620]\nName=huge\n[ViewRec4x]\nName=x\n",
       [](const TLabelRec& r) {
         ASSERT_EQ(r.ViewRec.size(), 5u);
         const std::vector<std::string> names = {r.ViewRec[0].Name, r.ViewRec[1].Name,
                                                 r.ViewRec[2].Name, r.ViewRec[3].Name,
                                                 r.ViewRec[4].Name};
         EXPECT_EQ(names, (std::vector<std::string>{"", "one", "", "three", ""}));
       }},
      {"values lose blanks and quotes, are cut at 2047 bytes, and are decoded",
       "[LabelRec]\nDirection=\"F\"\nControlCount=3\n[ViewRec0]\nValue=  padded  \n"
       "[ViewRec1]\nValue=" + longValue + "\n[ViewRec2]\nValue=" + longChinese + "\n",
       [&](const TLabelRec& r) {
         EXPECT_EQ(r.Direction, "F");
         EXPECT_EQ(r.ViewRec.at(0).Value, "padded");
         EXPECT_EQ(r.ViewRec.at(1).Value, longValue.substr(0, 2047));
         // The cut falls inside a character, which is dropped whole.
         EXPECT_EQ(r.ViewRec.at(2).Value, cutChinese);
       }},
      {"the largest count allowed", "[LabelRec]\nControlCount=100000\n",
       [](const TLabelRec& r) {
         ASSERT_EQ(r.ViewRec.size(), 100000u);
         EXPECT_EQ(r.ViewRec.back().FontSize, 8);
         EXPECT_EQ(r.ViewRec.back().BarWidth, 2);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path = root_ / "Label";
    Put(path, c.file);
    c.check(ReadLabelFile(path));
  }

  TLabelRec missing = ReadLabelFile(root_ / "no such file");
  EXPECT_EQ(missing.Direction, "T");
  EXPECT_EQ(missing.ControlCount, 0);
}

TEST_F(LabelFile, RefusesItemCountsNoTemplateHolds) {
  for (const char* count : {"-1", "100001", "2147483647"}) {
    Put(root_ / "Label", std::string("[LabelRec]\nControlCount=") + count + "\n");
    try {
      ReadLabelFile(root_ / "Label");
      ADD_FAILURE() << count << " was accepted";
    } catch (const ELabelFileError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("ControlCount=") + count),
                std::string::npos)
          << e.what();
    }
  }
}

using WorkingFolders = ModelTest;

TEST_F(WorkingFolders, ClearFolderDeletesFilesOnlyAndReturnsToTheProgramFolder) {
  const fs::path dir = root_ / "LabelTemp";
  fs::create_directories(dir / "sub");
  Put(dir / "sub" / "inner", "x");
  Put(dir / ".keep", "x");
  Put(dir / "Label", "x");
  Put(dir / "Cod1.Bmp", "x");
  Put(dir / "locked", "x");
  fs::permissions(dir / "locked", fs::perms::owner_read);
  fs::create_symlink(dir / "sub", dir / "link");
  fs::current_path(root_);

  ClearFolder(dir);

  EXPECT_EQ(fs::current_path(), prog_);
  EXPECT_FALSE(fs::exists(dir / "Label"));
  EXPECT_FALSE(fs::exists(dir / "Cod1.Bmp"));
  EXPECT_TRUE(fs::exists(dir / "sub" / "inner"));
  EXPECT_TRUE(fs::exists(dir / ".keep"));
  EXPECT_TRUE(fs::exists(dir / "locked"));
  EXPECT_TRUE(fs::exists(dir / "link"));

  EXPECT_THROW(ClearFolder(root_ / "gone"), fs::filesystem_error);
}

TEST_F(WorkingFolders, PrepareFolderCreatesOrEmpties) {
  EXPECT_EQ(LabelTempFolder(), prog_ / "LabelTemp");
  EXPECT_EQ(PrintLabelFolder(), prog_ / "printLabel");

  PrepareFolder(LabelTempFolder());
  ASSERT_TRUE(fs::is_directory(LabelTempFolder()));
  EXPECT_TRUE(fs::is_empty(LabelTempFolder()));

  Put(LabelTempFolder() / "Label", "x");
  PrepareFolder(LabelTempFolder());
  EXPECT_TRUE(fs::is_empty(LabelTempFolder()));
  EXPECT_EQ(fs::current_path(), prog_);

  // Only the last level is created; a missing parent is not reported.
  EXPECT_NO_THROW(PrepareFolder(root_ / "no" / "parent"));
  EXPECT_FALSE(fs::exists(root_ / "no"));
}

}  // namespace
}  // namespace tagwright::testing
