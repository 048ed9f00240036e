#include <codemill.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "library_fixture.h"
#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "platform/module.h"
#include "platform/text.h"
#include "loopback_ports.h"

namespace fs = std::filesystem;
using marrowind::HaveGroup;
using marrowind::SyncBusy;
using marrowind::TDs;
using marrowind::test::LibrarySetup;
using marrowind::test::RefusingPort;
using marrowind::test::TempFolder;
using platform::db::DbError;
using platform::text::Cp936ToUtf8;
using platform::text::Utf8ToCp936;

namespace {

class DataModule : public ::testing::Test {
 protected:
  void SetUp() override {
    HaveGroup = false;
    SyncBusy = false;
  }

  static std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir)) names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  static size_t CodePoints(const std::string& utf8) {
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
  }
};

}  // namespace

TEST_F(DataModule, ConnectionStringPlacesValuesUnchanged) {
  struct Case {
    std::string password, user, database, server, want;
  } cases[] = {
      {"abc", "sa", "library", "LIBSRV\\SQLEXPRESS",
       "Provider=SQLOLEDB.1;Password=abc;Persist Security Info=True;User ID=sa;Initial Catalog=library;"
       "Data Source=LIBSRV\\SQLEXPRESS"},
      {"", "", "", "", "Provider=SQLOLEDB.1;Password=;Persist Security Info=True;User ID=;Initial Catalog=;Data Source="},
      {std::string(10, '\xDF'), "sa", "lib", "srv",
       "Provider=SQLOLEDB.1;Password=" + std::string(10, '\xDF') +
           ";Persist Security Info=True;User ID=sa;Initial Catalog=lib;Data Source=srv"},
      {"p;w", "s a;x", "lib;", "sqlite:a;b.db",
       "Provider=SQLOLEDB.1;Password=p;w;Persist Security Info=True;User ID=s a;x;Initial Catalog=lib;;"
       "Data Source=sqlite:a;b.db"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(marrowind::BuildConnectionString(c.password, c.user, c.database, c.server), c.want);
  }
}

TEST_F(DataModule, ConnectsFromDataSetIni) {
  TempFolder folder;
  platform::module::OverrideProgramFolderForTesting(folder.Path());
  marrowind::test::CreateLibraryDatabase(folder.Path() / "图书馆.db");
  marrowind::test::CreateLibraryDatabase(folder.Path() / "a;b.db");
  std::string stored(GetPassword(Utf8ToCp936("口令").c_str()));  // bytes 0x40 0x25 0x3E 0x11, then 0xDF
  ASSERT_EQ(stored.size(), 10u);
  const std::string gbkServer = Utf8ToCp936("sqlite:图书馆.db");
  const std::string fiveChars = Cp936ToUtf8(std::string(10, '\xDF'));
  ASSERT_EQ(CodePoints(fiveChars), 5u);
  struct Case {
    std::string ini;  // bytes of DataSet.ini
    platform::db::ConnectionParams want;
  } cases[] = {
      // No Password key: the empty text through GetPassword is ten 0xDF bytes.
      {"[Connection]\r\nServer Name=" + gbkServer + "\r\nDataBase Name=" + Utf8ToCp936("图书") + "\r\nUser Name=sa\r\n",
       {"sqlite:图书馆.db", "图书", "sa", fiveChars}},
      {"[Connection]\r\nServer Name=" + gbkServer + "\r\nPassword=" + std::string(10, '\xDF') + "\r\n",
       {"sqlite:图书馆.db", "", "", ""}},
      {"[connection]\r\nserver name = " + gbkServer + " \r\nPassword=" + stored + "\r\n",
       {"sqlite:图书馆.db", "", "", "口令"}},
      {"[Connection]\nServer Name=sqlite:a;b.db\nUser Name=sa;x\n", {"sqlite:a;b.db", "", "sa;x", fiveChars}},
  };
  for (const Case& c : cases) {
    std::ofstream(folder.Path() / "DataSet.ini", std::ios::binary) << c.ini;
    TDs ds;
    SyncBusy = true;
    EXPECT_TRUE(ds.ConnectDatabase()) << c.ini;
    EXPECT_FALSE(SyncBusy);
    EXPECT_TRUE(ds.AcData.Connected());
    EXPECT_EQ(ds.AcData.Params(), c.want) << c.ini;
    const auto& p = c.want;
    EXPECT_EQ(ds.AcData.ConnectionString(),
              "Provider=SQLOLEDB.1;Password=" + p.password + ";Persist Security Info=True;User ID=" + p.user +
                  ";Initial Catalog=" + p.database + ";Data Source=" + p.server);
  }
}

TEST_F(DataModule, BadConnectionSettingsGiveFalse) {
  TempFolder folder;
  platform::module::OverrideProgramFolderForTesting(folder.Path());
  std::ofstream(folder.Path() / "corrupt.db", std::ios::binary) << std::string(2048, '\x5A');
  RefusingPort absent;  // a SQL Server that is not there
  const std::string absentServer = "127.0.0.1," + std::to_string(absent.Port());
  struct Case {
    const char* what;
    std::string ini;  // empty: no DataSet.ini at all
  } cases[] = {
      {"no DataSet.ini", ""},
      {"empty DataSet.ini", "\r\n"},
      {"missing database file", "[Connection]\r\nServer Name=sqlite:library.db\r\n"},
      {"missing folder", "[Connection]\r\nServer Name=sqlite:data/library.db\r\n"},
      {"corrupt database file", "[Connection]\r\nServer Name=sqlite:corrupt.db\r\n"},
      {"SQL Server not there", "[Connection]\r\nServer Name=" + absentServer + "\r\nDataBase Name=lib\r\n"},
      {"password SQL Server cannot take", "[Connection]\r\nServer Name=" + absentServer + "\r\nPassword=a}b\r\n"},
      {"unknown ODBC driver", "[Connection]\r\nServer Name=odbc:Driver=NoSuchDriver\r\n"},
  };
  for (const Case& c : cases) {
    fs::remove(folder.Path() / "DataSet.ini");
    if (!c.ini.empty()) std::ofstream(folder.Path() / "DataSet.ini", std::ios::binary) << c.ini;
    auto before = Listing(folder.Path());
    TDs ds;
    SyncBusy = true;
    EXPECT_FALSE(ds.ConnectDatabase()) << c.what;
    EXPECT_FALSE(SyncBusy) << c.what;
    EXPECT_FALSE(ds.AcData.Connected()) << c.what;
    EXPECT_EQ(Listing(folder.Path()), before) << c.what << ": nothing may be created";
    // Start-up goes on unconnected, without the cluster features.
    HaveGroup = true;
    EXPECT_NO_THROW(ds.DataModuleCreate()) << c.what;
    EXPECT_FALSE(HaveGroup) << c.what;
    EXPECT_FALSE(ds.OpenSql("select 1"));
  }
  // A DataSet.ini that cannot be read (here a folder of that name) reads as empty.
  fs::remove(folder.Path() / "DataSet.ini");
  fs::create_directory(folder.Path() / "DataSet.ini");
  TDs ds;
  EXPECT_FALSE(ds.ConnectDatabase());
}

TEST_F(DataModule, ProbeFindsTheJournal) {
  LibrarySetup lib;
  TDs ds;
  ds.DataModuleCreate();
  EXPECT_TRUE(HaveGroup);
  ASSERT_TRUE(ds.ExecSql("drop table DataChange"));
  ds.DataModuleCreate();
  EXPECT_TRUE(ds.AcData.Connected());
  EXPECT_FALSE(HaveGroup);
  EXPECT_FALSE(ds.OpenDataChange());
  EXPECT_FALSE(ds.AqDataChange.Active());  // no query ran

  // A view of that name is no journal table.
  ASSERT_TRUE(ds.ExecSql("create view DataChange as select 1 as ChangeId"));
  ds.ProbeJournal();
  EXPECT_FALSE(HaveGroup);
}

TEST_F(DataModule, ProbeErrorReachesTheCaller) {
  LibrarySetup lib;
  TDs ds;
  ASSERT_TRUE(ds.ConnectDatabase());
  // Another program holds the database past the (shortened) wait.
  platform::db::Connection other;
  other.SetConnectionString("", {"sqlite:library.db", "", "", ""});
  other.Open();
  other.Execute("BEGIN EXCLUSIVE");
  ds.AcData.SetBusyTimeout(std::chrono::milliseconds(50));
  HaveGroup = true;
  EXPECT_THROW(ds.ProbeJournal(), DbError);
  EXPECT_FALSE(HaveGroup);
  other.Execute("COMMIT");
  ds.ProbeJournal();
  EXPECT_TRUE(HaveGroup);
}

TEST_F(DataModule, OpenDataChangeTakesASnapshot) {
  LibrarySetup lib;
  TDs ds;
  ds.DataModuleCreate();
  ASSERT_TRUE(HaveGroup);
  EXPECT_TRUE(ds.OpenDataChange());
  EXPECT_TRUE(SyncBusy);
  EXPECT_EQ(ds.AqDataChange.RecordCount(), 25);
  EXPECT_EQ(ds.AqDataChange.FieldByName("ChangeId").AsInteger(), 1);
  EXPECT_EQ(ds.AqDataChange.FieldByName("ContSouType").AsString(), "B");

  // An empty journal leaves SyncBusy as it was.
  ASSERT_TRUE(ds.ExecSql("delete from DataChange"));
  for (bool busy : {false, true}) {
    SyncBusy = busy;
    EXPECT_FALSE(ds.OpenDataChange());
    EXPECT_EQ(SyncBusy, busy);
  }

  // An error of the snapshot reaches the caller.
  SyncBusy = false;
  ASSERT_TRUE(ds.ExecSql("drop table DataChange"));
  EXPECT_THROW(ds.OpenDataChange(), DbError);
  EXPECT_FALSE(SyncBusy);
}

TEST_F(DataModule, OpenSqlAndExecSqlSwallowSqlErrors) {
  LibrarySetup lib;
  TDs ds;
  ds.DataModuleCreate();
  EXPECT_TRUE(ds.OpenSql("Select * from SystemRul order by SystemCode"));
  EXPECT_EQ(ds.AqLs.RecordCount(), 3);
  EXPECT_EQ(ds.AqLs.FieldByName("Content").AsString(), "市第一中学图书馆");
  for (const char* bad : {"Select * from NoSuchTable", "Selec 1", "insert SystemRul values(1,'x','y')"}) {
    EXPECT_FALSE(ds.OpenSql(bad)) << bad;
    EXPECT_FALSE(ds.AqLs.Active()) << bad;
    EXPECT_FALSE(ds.ExecSql(bad)) << bad;
    EXPECT_FALSE(ds.AqLs.Active()) << bad;
  }
  EXPECT_TRUE(ds.ExecSql("Update SystemRul Set Content='30' where SystemCode=3"));
  EXPECT_TRUE(ds.ExecSql("Update SystemRul Set Content='x' where SystemCode=99"));  // no row is no error
}

TEST_F(DataModule, OpenSqlAndExecSqlGiveFalseForErrorsOtherThanTheDatabases) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer holds more address space than the limit leaves";
#else
  LibrarySetup lib;
  TDs ds;
  ds.DataModuleCreate();
  ASSERT_TRUE(ds.AqLs.Active());  // the journal probe's rows
  // Out of memory, in a process left 64 MiB of address space: a text that cannot be
  // copied, a result that cannot be held. No exception may leave either operation, and
  // the module works on once the memory is back.
  EXPECT_EXIT(
      {
        const std::string text = "select 1 -- " + std::string(size_t{128} << 20, 'x');
        const std::string rows =
            "with recursive n(i) as (select 1 union all select i + 1 from n where i < 10000000) "
            "select i, printf('%0200d', i) as filler from n";
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit limit;
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (rlim_t{64} << 20);
        if (pages <= 0 || setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
        int failures = 0;
        try {
          failures += ds.OpenSql(text) || ds.AqLs.Active();
          failures += ds.ExecSql(text) || ds.AqLs.Active();
          failures += ds.OpenSql(rows) || ds.AqLs.Active();
          failures += !ds.OpenSql("select 1 as One") || ds.AqLs.RecordCount() != 1;
        } catch (...) {
          std::_Exit(2);
        }
        std::_Exit(failures);
      },
      ::testing::ExitedWithCode(0), "");
#endif
}

// The data module on the ODBC backend, through SQLite's ODBC driver on the fixture.
// That driver hands texts to SQLite as they are, so the texts here are plain SQL and
// the journal probe's T-SQL (sysobjects, object_id) is an error there.
TEST_F(DataModule, WorksThroughOdbc) {
  LibrarySetup lib;
  marrowind::test::DataSetValues values;
  values.server = "odbc:Driver=SQLite3;Database=" + lib.Database().string();
  marrowind::test::WriteDataSetIni(lib.Folder(), values);
  TDs ds;
  ASSERT_TRUE(ds.ConnectDatabase());
  EXPECT_EQ(ds.AcData.Params().server, values.server);

  ASSERT_TRUE(ds.OpenSql("select * from Inf_Book order by SortId"));
  EXPECT_EQ(ds.AqLs.RecordCount(), 4);
  EXPECT_EQ(ds.AqLs.FieldByName("书名").AsString(), "红楼梦");
  EXPECT_EQ(ds.AqLs.FieldByName("价格").Type(), platform::db::FieldType::Currency);
  EXPECT_EQ(ds.AqLs.FieldByName("价格").AsString(), "59.7");
  EXPECT_EQ(ds.AqLs.FieldByName("入库日期").AsDateTime(), (platform::db::DateTime{2023, 9, 1}));
  EXPECT_TRUE(ds.AqLs.FieldByName("可借").AsBoolean());
  ASSERT_TRUE(ds.OpenSql("select 读者编号, 班级编号, 折扣 from Inf_Reader where 读者编号 = 'T0001'"));
  ASSERT_EQ(ds.AqLs.RecordCount(), 1);
  EXPECT_TRUE(ds.AqLs.FieldByName("班级编号").IsNull());
  EXPECT_EQ(ds.AqLs.FieldByName("折扣").AsFloat(), 0.8);

  // The snapshot, three rows deleted and sent as one batch.
  HaveGroup = true;
  ASSERT_TRUE(ds.OpenDataChange());
  EXPECT_TRUE(SyncBusy);
  ASSERT_EQ(ds.AqDataChange.RecordCount(), 25);
  for (int i = 0; i < 3; ++i) ds.AqDataChange.Delete();
  ASSERT_TRUE(ds.OpenSql("select count(*) as n from DataChange"));
  EXPECT_EQ(ds.AqLs.FieldByName("n").AsInteger(), 25);  // held until the batch update
  ds.AqDataChange.UpdateBatch();
  ASSERT_TRUE(ds.OpenSql("select count(*) as n, min(ChangeId) as first from DataChange"));
  EXPECT_EQ(ds.AqLs.FieldByName("n").AsInteger(), 22);
  EXPECT_EQ(ds.AqLs.FieldByName("first").AsInteger(), 4);

  // SQL errors are false, and AqLs is left closed.
  for (const char* bad : {"Select * from NoSuchTable", "Selec 1", "insert into SystemRul values(1,'x','y')"}) {
    EXPECT_FALSE(ds.OpenSql(bad)) << bad;
    EXPECT_FALSE(ds.AqLs.Active()) << bad;
    EXPECT_FALSE(ds.ExecSql(bad)) << bad;
  }
  EXPECT_TRUE(ds.ExecSql("Update SystemRul Set Content='31' where SystemCode=3"));
  ASSERT_TRUE(ds.OpenSql("select Content from SystemRul where SystemCode=3"));
  EXPECT_EQ(ds.AqLs.Fields(0).AsString(), "31");

  EXPECT_THROW(ds.ProbeJournal(), DbError);
  EXPECT_FALSE(HaveGroup);
}
