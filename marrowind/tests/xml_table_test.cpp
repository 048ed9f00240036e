// The batch document's text forms and the failure copy.
#include <cmath>
#include <fstream>

#include "marrowind/core/group_thread.h"
#include "sync_support.h"

using namespace marrowind;
namespace db = platform::db;
using marrowind::test::ReadFile;
using marrowind::test::TempFolder;

TEST(XmlTable, ValueTextForms) {
  using T = db::FieldType;
  struct Case {
    db::Value value;
    T type;
    std::string want;
  } cases[] = {
      {std::monostate{}, T::String, ""},
      {std::monostate{}, T::Currency, ""},
      {std::int64_t{-42}, T::Integer, "-42"},
      {std::int64_t{9007199254740993}, T::Integer, "9007199254740993"},
      {db::Currency{1085000}, T::Currency, "108.5"},
      {db::Currency{-1}, T::Currency, "-0.0001"},
      {db::Currency{390000}, T::Decimal, "39"},
      {db::Currency{0}, T::Currency, "0"},
      {db::Currency{100500}, T::Currency, "10.05"},
      {db::Currency{-123456}, T::Currency, "-12.3456"},
      {0.8, T::Float, "0.8"},
      {1.0 / 3, T::Float, "0.333333333333333"},
      {1e20, T::Float, "1E20"},
      {true, T::Boolean, "True"},
      {false, T::Boolean, "False"},
      {db::DateTime{2024, 2, 20}, T::DateTime, "2024-02-20"},
      {db::DateTime{2024, 3, 5, 9, 0, 0, 0}, T::DateTime, "2024-03-05 9:00:00"},
      {db::DateTime{2023, 9, 1, 14, 20, 5, 0}, T::DateTime, "2023-09-01 14:20:05"},
      {db::DateTime{2023, 9, 1, 0, 0, 1, 0}, T::DateTime, "2023-09-01 0:00:01"},
      {db::DateTime{2023, 9, 1, 0, 0, 0, 500}, T::DateTime, "2023-09-01"},  // milliseconds are no time of day
      {db::DateTime{999, 1, 2, 23, 59, 59, 0}, T::DateTime, "0999-01-02 23:59:59"},
      {db::DateTime{12345, 1, 2}, T::DateTime, "12345-01-02"},
      {std::string("红楼梦 \"a'b\"\t"), T::String, "红楼梦 \"a'b\"\t"},
      {std::string("\x01\xAB", 2), T::Bytes, "01AB"},
  };
  for (const Case& c : cases) EXPECT_EQ(XmlValueText(c.value, c.type), c.want) << c.want;
  EXPECT_EQ(XmlCleaned("a<b & c>d"), "ab  cd");
  EXPECT_EQ(XmlCleaned("&lt;<>&&"), "lt;");
}

TEST(XmlTable, StatementWithoutRowsGivesTheBareTable) {
  db::Connection c;
  TempFolder folder;
  marrowind::test::CreateLibraryDatabase(folder.Path() / "l.db");
  c.SetConnectionString("", {"sqlite:" + (folder.Path() / "l.db").string(), "", "", ""});
  c.Open();
  db::Query q(c);
  q.SetSql(*BatchStatement('C', "S01", 0));
  q.Open();
  EXPECT_EQ(BuildXmlTable(q), "<XmlTable></XmlTable>");
}

TEST(XmlTable, SaveFailedXmlReplacesTheCopyWhole) {
  TempFolder folder;
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  const std::string first = "<XmlTable><rows><书名>红楼梦</书名></rows></XmlTable>";
  EXPECT_TRUE(SaveFailedXml(first));
  EXPECT_EQ(ReadFile(folder.Path() / "LS2.xml"), first);  // UTF-8, no BOM
  EXPECT_TRUE(SaveFailedXml("<XmlTable></XmlTable>"));
  EXPECT_EQ(ReadFile(folder.Path() / "LS2.xml"), "<XmlTable></XmlTable>");
  // Only the copy remains, no temporary file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);

  // A folder where the file should be: no write, nothing left behind.
  std::filesystem::remove(folder.Path() / "LS2.xml");
  std::filesystem::create_directory(folder.Path() / "LS2.xml");
  std::filesystem::create_directory(folder.Path() / "LS2.xml" / "x");
  EXPECT_FALSE(SaveFailedXml(first));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
  std::filesystem::current_path(old);
}

TEST(XmlTable, SaveFailedXmlNeverWritesThroughALink) {
  TempFolder folder;
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  const auto outside = folder.Path() / "outside";
  std::filesystem::create_directory(outside);
  const auto victim = outside / "victim";
  { std::ofstream(victim) << "untouched"; }
  // Hard links at the copy's name and at the names its temporary takes.
  std::filesystem::create_hard_link(victim, folder.Path() / "LS2.xml");
  for (int i = 0; i < 4; ++i) {
    std::filesystem::create_hard_link(victim, folder.Path() / ("LS2.xml.tmp" + std::to_string(i)));
  }
  EXPECT_TRUE(SaveFailedXml("<XmlTable></XmlTable>"));
  EXPECT_EQ(ReadFile(folder.Path() / "LS2.xml"), "<XmlTable></XmlTable>");
  EXPECT_EQ(ReadFile(victim), "untouched");
  std::filesystem::current_path(old);
}
