#include "platform/profile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using platform::profile::IniFile;
using platform::profile::ProfileError;

namespace {

class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("profile_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = dir_ / "DataSet.ini";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Put(const std::string& s) { std::ofstream(path_, std::ios::binary) << s; }
  std::string Get() {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_, path_;
};

}  // namespace

TEST_F(Profile, ReadingRules) {
  Put("; comment=ignored\n"
      "orphan=before any section\n"
      "[Connection]\r\n"
      "Server Name =  srv\\inst  \r\n"
      "quoted=\"  spaced  \"\n"
      "single='x'\n"
      "half=\"x\n"
      "no equals sign\n"
      ";Password=commented\n"
      "Password=\xDF\xDF\xDF\n"
      "dup=first\n"
      "dup=second\n"
      "[connection]\n"
      "Later=never read\n"
      "[Other]\n"
      "n=-12\n"
      "f=12.5\n"
      "comma=12,5\n"
      "b=5\n"
      "z=0\n"
      "x=x\n");
  IniFile ini(path_);
  struct Case { const char* sec; const char* key; const char* want; } cases[] = {
      {"CONNECTION", "server name", "srv\\inst"},
      {"Connection", "quoted", "  spaced  "},
      {"Connection", "single", "x"},
      {"Connection", "half", "\"x"},
      {"Connection", "no equals sign", "def"},
      {"Connection", "Password", "\xDF\xDF\xDF"},
      {"Connection", "dup", "first"},
      {"Connection", "Later", "def"},
      {"Connection", "orphan", "def"},
      {"Missing", "x", "def"},
  };
  for (const auto& c : cases) EXPECT_EQ(ini.ReadString(c.sec, c.key, "def"), c.want) << c.key;
  EXPECT_EQ(ini.ReadInteger("other", "N", 7), -12);
  EXPECT_EQ(ini.ReadInteger("other", "f", 7), 7);
  EXPECT_EQ(ini.ReadFloat("other", "f", 0), 12.5);
  EXPECT_EQ(ini.ReadFloat("other", "comma", 0), 0);
  EXPECT_TRUE(ini.ReadBool("other", "b", false));
  EXPECT_FALSE(ini.ReadBool("other", "z", true));
  EXPECT_TRUE(ini.ReadBool("other", "x", true));
  EXPECT_TRUE(ini.SectionExists("OTHER"));
}

TEST_F(Profile, ALoneCarriageReturnEndsALineAndIsKeptWhenWriting) {
  Put("[s]\rk=a\rb=2\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("s", "k", ""), "a");
  EXPECT_EQ(ini.ReadString("s", "b", ""), "2");
  ini.WriteString("s", "k", ini.ReadString("s", "k", ""));
  ini.WriteString("s", "c", "3");
  EXPECT_EQ(Get(), "[s]\rk=a\rb=2\nc=3\r\n");
}

TEST_F(Profile, LongValuesAreCutAt2047Bytes) {
  Put("[s]\nv=" + std::string(3000, 'a') + "\n");
  EXPECT_EQ(IniFile(path_).ReadString("s", "v", ""), std::string(2047, 'a'));
}

TEST_F(Profile, MissingOrUnreadableFileReadsEmptyAndIsNotCreatedByReading) {
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("Connection", "User Name", ""), "");
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_EQ(IniFile(dir_).ReadString("Connection", "User Name", "def"), "def");  // a folder
}

TEST_F(Profile, WritesInPlaceAppendsAndKeepsOtherLines) {
  Put("; keep me\n[A]\nk=1\n\n[B]\nx = old \ny=2\n");
  IniFile ini(path_);
  ini.WriteString("b", "X", "new");   // replaced in place, key spelling kept
  ini.WriteString("A", "added", "v");  // appended at the end of its section
  ini.WriteString("C", "k", "c");      // new section at the end
  EXPECT_EQ(Get(), "; keep me\n[A]\nk=1\nadded=v\r\n\n[B]\nx=new\ny=2\n\r\n[C]\r\nk=c\r\n");
  IniFile again(path_);
  EXPECT_EQ(again.ReadString("B", "x", ""), "new");
  EXPECT_EQ(again.ReadString("A", "added", ""), "v");
}

TEST_F(Profile, NewFileIsWrittenWithWindowsLineEnds) {
  IniFile ini(path_);
  ini.WriteString("Connection", "Server Name", "\xB7\xFE\xCE\xF1\xC6\xF7");  // GBK 服务器
  ini.WriteString("Connection", "Password", std::string(10, '\xDF'));
  EXPECT_EQ(Get(), "[Connection]\r\nServer Name=\xB7\xFE\xCE\xF1\xC6\xF7\r\nPassword=" +
                       std::string(10, '\xDF') + "\r\n");
  IniFile back(path_);
  EXPECT_EQ(back.ReadString("connection", "server name", ""), "\xB7\xFE\xCE\xF1\xC6\xF7");
  EXPECT_EQ(back.ReadString("Connection", "Password", ""), std::string(10, '\xDF'));
}

TEST_F(Profile, BufferedWritesReachTheDiskOnlyOnFlush) {
  IniFile ini(path_, IniFile::WriteMode::OnFlush);
  ini.WriteInteger("LabelRec", "PageWidth", 100);
  ini.WriteFloat("ViewRec0", "Topmm", 1.0 / 3);
  ini.WriteBool("ViewRec0", "HaveCode", true);
  ini.WriteInteger("LabelRec", "PDotMM", 12);
  EXPECT_FALSE(fs::exists(path_));
  ini.Flush();
  EXPECT_EQ(Get(),
            "[LabelRec]\r\nPageWidth=100\r\nPDotMM=12\r\n\r\n"
            "[ViewRec0]\r\nTopmm=0.333333333333333\r\nHaveCode=1\r\n");
}

TEST_F(Profile, AFileStartedEmptyReplacesWhatWasThere) {
  Put("[LabelRec]\r\nPageWidth=100\r\n[ViewRec7]\r\nName=left over\r\n");
  IniFile ini(path_, IniFile::WriteMode::OnFlush, IniFile::Start::Empty);
  EXPECT_EQ(ini.ReadInteger("LabelRec", "PageWidth", 0), 0);
  EXPECT_FALSE(ini.SectionExists("ViewRec7"));
  ini.WriteInteger("LabelRec", "PageGap", 2);
  ini.Flush();
  EXPECT_EQ(Get(), "[LabelRec]\r\nPageGap=2\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(Profile, RefusesWhatWouldBreakTheFileAndKeepsItWhole) {
  IniFile ini(path_);
  ini.WriteString("s", "k", "v");
  EXPECT_THROW(ini.WriteString("s", "k", "a\r\nInjected=1"), ProfileError);
  EXPECT_THROW(ini.WriteString("s", "a=b", "v"), ProfileError);
  EXPECT_THROW(ini.WriteString("s]\n[t", "k", "v"), ProfileError);
  EXPECT_EQ(Get(), "[s]\r\nk=v\r\n");
}

TEST_F(Profile, UnwritableFileRaisesAndLeavesNoTemporaryFile) {
  IniFile ini(dir_ / "missing-folder" / "Label");
  EXPECT_THROW(ini.WriteString("s", "k", "v"), ProfileError);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 0);
}

TEST_F(Profile, WrittenKeysReadAsTheWrittenFileReadsAgain) {
  // The last line has no line end. The writes append at the end of the file, at the end
  // of the last section and in the middle of the file; what the object reads must be
  // what the file reads once written.
  Put("[A]\nk=1\n[B]\nx=2");
  IniFile ini(path_, IniFile::WriteMode::OnFlush);
  ini.WriteString("a", "added", "6");
  ini.WriteString("b", "y", "3");
  ini.WriteString("A]x", "shadowed", "7");  // its header reads as a second [A]
  ini.WriteString("\xC1", "k", "8");        // bytes above ASCII are not folded
  ini.WriteString("\xE1", "K", "9");
  ini.WriteString("C", "second", "5");
  ini.WriteString("c", "SECOND", "10");
  ini.WriteString("c", " spaced ", "4");    // reads without its blanks
  ini.Flush();
  const IniFile again(path_);
  struct Case { const char* sec; const char* key; const char* want; } cases[] = {
      {"A", "k", "1"},           {"a", "ADDED", "6"},   {"A", "shadowed", "def"},
      {"A]x", "shadowed", "def"}, {"B", "x", "2"},      {"b", "Y", "3"},
      {"c", "spaced", "4"},      {"C", " spaced ", "def"}, {"C", "second", "10"},
      {"\xC1", "K", "8"},        {"\xE1", "k", "9"},    {"\xC1", "x", "def"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(again.ReadString(c.sec, c.key, "def"), c.want) << c.sec << " " << c.key;
    EXPECT_EQ(ini.ReadString(c.sec, c.key, "def"), c.want) << c.sec << " " << c.key;
  }
}

TEST_F(Profile, KeysWrittenInOneGoGiveTheFileThatKeyByKeyGives) {
  using Entry = IniFile::Entry;
  struct Case {
    const char* what;
    std::string start;
    const char* section;
    std::initializer_list<Entry> entries;
  };
  const Case cases[] = {
      {"a new section after a last line without its end", "[A]\nk=1", "B", {{"x", "1"}, {"y", " 2 "}}},
      {"after a blank line", "[A]\nk=1\n\n", "B", {{"x", ""}, {"y", "\"q\""}}},
      {"into an empty file", "", "", {{"x", "1"}}},
      {"a section the file holds", "[A]\nk=1\n[B]\nx=2\n", "a", {{"K", "3"}, {"new", "4"}}},
      {"a name twice", "", "S", {{"k", "1"}, {"K", "2"}}},
      {"a key with blanks at its ends", "", "S", {{" k", "1"}, {"j", "2"}}},
      {"a key that reads as a header", "", "S", {{"k", "1"}, {"[T", "2"}, {"j", "3"}}},
      {"a key that reads as a comment", "", "S", {{";k", "1"}, {"j", "2"}}},
      {"a section with a closing bracket", "", "S]x", {{"k", "1"}, {"j", "2"}}},
      {"a section with blanks at its ends", "", " S", {{"k", "1"}, {"j", "2"}}},
      {"a value with a line break", "", "S", {{"k", "1"}, {"j", "2\n[T]"}, {"i", "3"}}},
      {"a key with an equals sign", "", "S", {{"k", "1"}, {"j=2", "2"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string got[2];
    bool threw[2] = {false, false};
    for (int way = 0; way < 2; ++way) {
      Put(c.start);
      IniFile ini(path_, IniFile::WriteMode::OnFlush);
      try {
        if (way == 0) {
          ini.WriteKeys(c.section, c.entries);
        } else {
          for (const Entry& e : c.entries) ini.WriteString(c.section, e.key, e.value);
        }
      } catch (const ProfileError&) {
        threw[way] = true;
      }
      // The object goes on writing as before, and reads what the file reads.
      ini.WriteString(c.section, "after", "5");
      ini.Flush();
      got[way] = Get();
      const IniFile again(path_);
        for (const Entry& e : c.entries) {
        EXPECT_EQ(ini.ReadString(c.section, e.key, "\x01"), again.ReadString(c.section, e.key, "\x01")) << e.key;
      }
    }
    EXPECT_EQ(got[0], got[1]);
    EXPECT_EQ(threw[0], threw[1]);
  }
}

TEST_F(Profile, TheFirstOfManySectionsOfANameIsTheOneFound) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "[s" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
  for (int i = 0; i < 100; i += 7) text += "[S" + std::to_string(i) + "]\nk=again\n";
  Put(text);
  IniFile ini(path_);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(ini.ReadInteger("S" + std::to_string(i), "K", -1), i);
  EXPECT_FALSE(ini.SectionExists("s100"));
  size_t names = 0;
  ini.ForEachSectionName([&](std::string_view) { ++names; });
  EXPECT_EQ(names, 100u);
}
