#include "platform/db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "db_test_support.h"
#include "platform/module.h"

namespace fs = std::filesystem;
using namespace platform::db;
using namespace std::chrono_literals;

namespace {

class Db : public db_test::FolderTest {
 protected:
  static void Connect(Connection& c, const fs::path& file) { ConnectTo(c, "sqlite:" + file.string()); }

  static std::int64_t Count(Connection& c, const std::string& sql) {
    Query q(c);
    q.SetSql(sql);
    q.Open();
    return q.Fields(0).AsInteger();
  }
};

using db_test::Message;

}  // namespace

TEST_F(Db, DataSourceChoosesTheBackend) {
  MakeDatabase("create table t(a int)", "图书馆.db");
  std::ofstream(dir_ / "corrupt.db", std::ios::binary) << std::string(4096, 'x');
  fs::create_directory(dir_ / "folder.db");
  struct Case {
    std::string server;
    std::string error;  // empty: opens
  } cases[] = {
      {"sqlite:图书馆.db", ""},                        // relative to the program folder
      {"SQLite:" + (dir_ / "图书馆.db").string(), ""},  // absolute
      {"sqlite:missing.db", "database file not found"},
      {"sqlite:" + (dir_ / "sub/missing.db").string(), "database file not found"},
      {"sqlite:", "no database file named"},
      {"sqlite:folder.db", "folder"},
      {"sqlite:corrupt.db", "file is not a database"},
      {"", "no data source given"},
      {"odbc:", "no ODBC connection string"},
  };
  for (const Case& k : cases) {
    Connection c;
    c.SetConnectionString("Provider=SQLOLEDB.1;Data Source=" + k.server, {k.server, "lib", "sa", "pw"});
    std::string err = Message([&] { c.Open(); });
    if (k.error.empty()) {
      EXPECT_EQ(err, "(no error)") << k.server;
      EXPECT_TRUE(c.Connected());
      EXPECT_EQ(Count(c, "select count(*) from t"), 0);
    } else {
      EXPECT_NE(err.find(k.error), std::string::npos) << k.server << ": " << err;
      EXPECT_FALSE(c.Connected());
    }
  }
  // Nothing was created for the missing files.
  EXPECT_FALSE(fs::exists(dir_ / "missing.db"));
  EXPECT_FALSE(fs::exists(dir_ / "sub"));
}

TEST_F(Db, DeclaredTypesGiveFieldTypesAndValues) {
  fs::path file = MakeDatabase(
      "create table v(i int, b bit, m money, d decimal(12,4), f float, dt datetime, s varchar(20), w nvarchar(20),"
      " bin varbinary(10), n numeric)\n"
      "insert v values(7, 1, 12.345, '2.00005', 0.1, '2024-03-01', '图书', N'期刊', x'00ff', 3)\n"
      "insert v values(-2, 0, '12.34567', 2.00015, 1e20, '2024-03-01 09:30:05.5', '', 'a', null, 2.5)\n"
      "insert v values(null, null, null, null, null, null, null, null, null, null)");
  Connection c;
  Connect(c, file);
  Query q(c);
  q.SetSql("select i, b, m, d, f, dt, s, w, bin, n, 'S01' as StationId, 1 as One, 1.5 as Half, count(*) over () as "
           "Cnt, null as NoValue from v");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 3);
  const FieldType want[] = {FieldType::Integer, FieldType::Boolean,  FieldType::Currency, FieldType::Decimal,
                            FieldType::Float,   FieldType::DateTime, FieldType::String,   FieldType::WideString,
                            FieldType::Bytes,   FieldType::Decimal,  FieldType::String,   FieldType::Integer,
                            FieldType::Float,   FieldType::Integer,  FieldType::String};
  ASSERT_EQ(q.FieldCount(), std::size(want));
  for (size_t i = 0; i < q.FieldCount(); ++i) EXPECT_EQ(q.Fields(i).Type(), want[i]) << q.Fields(i).Name();
  EXPECT_EQ(q.FieldByName("m").Info().declaredType, "money");
  EXPECT_EQ(q.FieldByName("STATIONID").Name(), "StationId");

  EXPECT_EQ(q.FieldByName("i").AsInteger(), 7);
  EXPECT_EQ(q.FieldByName("b").AsString(), "True");
  EXPECT_EQ(q.FieldByName("m").AsCurrency().units, 123450);
  EXPECT_EQ(q.FieldByName("d").AsCurrency().units, 20000);  // half to even
  EXPECT_EQ(q.FieldByName("f").AsString(), "0.1");
  EXPECT_EQ(q.FieldByName("dt").AsDateTime(), (DateTime{2024, 3, 1, 0, 0, 0, 0}));
  EXPECT_FALSE(q.FieldByName("dt").AsDateTime().HasTimeOfDay());
  EXPECT_EQ(q.FieldByName("s").AsString(), "图书");
  EXPECT_EQ(q.FieldByName("w").AsString(), "期刊");
  EXPECT_EQ(q.FieldByName("bin").AsString(), std::string("\x00\xff", 2));
  EXPECT_EQ(q.FieldByName("n").AsString(), "3");
  EXPECT_EQ(q.FieldByName("StationId").AsString(), "S01");

  q.Next();
  EXPECT_EQ(q.FieldByName("b").AsBoolean(), false);
  EXPECT_EQ(q.FieldByName("m").AsString(), "12.3457");
  EXPECT_EQ(q.FieldByName("d").AsString(), "2.0002");
  EXPECT_EQ(q.FieldByName("f").AsFloat(), 1e20);
  EXPECT_NE(Message([&] { q.FieldByName("f").AsInteger(); }).find("not a whole number"), std::string::npos);
  EXPECT_EQ(q.FieldByName("dt").AsDateTime(), (DateTime{2024, 3, 1, 9, 30, 5, 500}));
  EXPECT_EQ(q.FieldByName("dt").AsString(), "2024-03-01 09:30:05.500");
  EXPECT_EQ(q.FieldByName("n").AsString(), "2.5");
  EXPECT_FALSE(q.FieldByName("s").IsNull());

  q.Next();
  for (size_t i = 0; i < 10; ++i) EXPECT_TRUE(q.Fields(i).IsNull()) << q.Fields(i).Name();
  EXPECT_EQ(q.FieldByName("i").AsInteger(), 0);
  EXPECT_EQ(q.FieldByName("s").AsString(), "");
  q.Next();
  EXPECT_TRUE(q.Eof());
  EXPECT_NE(Message([&] { q.Fields(0).AsValue(); }).find("no current row"), std::string::npos);
  EXPECT_NE(Message([&] { q.FieldByName("nope"); }).find("not found"), std::string::npos);

  // A stored value that is not of its column's type fails the open.
  c.Execute("insert into v(dt) values('1 March 2024')");
  EXPECT_NE(Message([&] { q.Open(); }).find("1 March 2024"), std::string::npos);
  EXPECT_FALSE(q.Active());
  // So does a real beyond the 64-bit range in an integer column.
  c.Execute("update v set dt = null where dt = '1 March 2024' insert into v(i) values(1e30)");
  EXPECT_NE(Message([&] { q.Open(); }).find("\"i\""), std::string::npos);
}

TEST_F(Db, RunsTsqlTexts) {
  fs::path file = MakeDatabase(
      "create table SystemRul(SystemCode int primary key, SysTemName varchar(50), Content varchar(200)); "
      "create view SomeView as select 1 as x; "
      "create table 读者(读者编号 varchar(20) primary key, 姓名 varchar(20))");
  Connection c;
  Connect(c, file);
  struct Probe {
    const char* name;
    std::int64_t rows;
  } probes[] = {{"SystemRul", 1}, {"systemrul", 1}, {"dbo.[SystemRul]", 1}, {"读者", 1},
                {"SomeView", 0},  {"DataChange", 0}, {"sqlite_master", 0}};
  for (const Probe& p : probes) {
    Query q(c);
    q.SetSql(std::string("Select 1 as HaveGroup from sysobjects where id=object_Id('") + p.name + "') and Xtype='U'");
    q.Open();
    EXPECT_EQ(q.RecordCount(), p.rows) << p.name;
  }
  EXPECT_EQ(Count(c, "select count(*) from sysobjects where xtype='V' and name='SomeView'"), 1);

  const char* insert =
      "if not Exists(Select 1 from SystemRul where systemCode=14) insert SystemRul (SystemCode,SysTemName,Content) "
      "values(14,'GroupUrl','Http://')";
  EXPECT_EQ(c.Execute(insert), 1);
  EXPECT_EQ(c.Execute(insert), 0);
  EXPECT_EQ(Count(c, "select count(*) from systemrul where SYSTEMCODE=14"), 1);
  c.Execute("IF EXISTS(select 1 from SystemRul where SystemCode=99) insert SystemRul values(1,'a','b') "
            "ELSE insert SystemRul values(2,'c','d')");
  EXPECT_EQ(Count(c, "select SystemCode from SystemRul where SystemCode in (1,2)"), 2);
  EXPECT_EQ(c.Execute("if not exists(select 1 from SystemRul where SystemCode=3) -- not yet there\n"
                      "insert SystemRul values(3,'e','f')"),
            1);

  c.Execute("insert 读者 (读者编号,姓名) values('R001',N'张三') insert into 读者 values('R002','李四') "
            "update 读者 set 姓名='王五' where 读者编号='R002'");
  Query q(c);
  q.SetSql("select 读者编号, 姓名 from 读者 order by 读者编号");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(q.FieldByName("姓名").AsString(), "张三");
  q.Next();
  EXPECT_EQ(q.Fields(1).AsString(), "王五");

  // Several statements: the record set is the first one's.
  q.SetSql("insert 读者 values('R003','赵六') select count(*) as n from 读者 select 1");
  q.Open();
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 3);
}

TEST_F(Db, SeveralStatementsAreOneTransaction) {
  fs::path file = MakeDatabase("create table t(a int primary key)\ninsert into t values(1)");
  Connection c;
  Connect(c, file);
  EXPECT_NE(Message([&] { c.Execute("delete from t insert into t values(2) insert into nosuch values(3)"); })
                .find("no such table: nosuch"),
            std::string::npos);
  EXPECT_EQ(Count(c, "select sum(a) from t"), 1);
  EXPECT_NE(Message([&] { c.Execute("insert into t values(5) insert into t values(5)"); }).find("UNIQUE"),
            std::string::npos);
  EXPECT_EQ(Count(c, "select count(*) from t"), 1);

  // Opening a text without a record set is an error that changes nothing.
  Query q(c);
  for (const char* sql : {"insert into t values(7)", "delete from t insert into t values(8)"}) {
    q.SetSql(sql);
    EXPECT_NE(Message([&] { q.Open(); }).find("no record set"), std::string::npos) << sql;
    EXPECT_EQ(Count(c, "select sum(a) from t"), 1) << sql;
  }
  // ExecSql of a broken text: an error, nothing done.
  q.SetSql("insert into t values(9) selec 1");
  EXPECT_THROW(q.ExecSql(), DbError);
  EXPECT_EQ(Count(c, "select count(*) from t"), 1);
}

TEST_F(Db, LockedDatabaseIsWaitedFor) {
  fs::path file = MakeDatabase("create table t(a int)");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; INSERT INTO t VALUES(1)", nullptr, nullptr, nullptr), SQLITE_OK);

  Connection c;
  Connect(c, file);
  EXPECT_EQ(c.BusyTimeout(), 5000ms);
  c.SetBusyTimeout(50ms);
  EXPECT_NE(Message([&] { c.Execute("insert into t values(2)"); }).find("locked"), std::string::npos);

  // With time to wait, the statement runs once the other program commits.
  c.SetBusyTimeout(10s);
  std::thread release([&] {
    std::this_thread::sleep_for(300ms);
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  EXPECT_EQ(c.Execute("insert into t values(2) insert into t values(3)"), 2);
  release.join();
  sqlite3_close(other);
  EXPECT_EQ(Count(c, "select sum(a) from t"), 6);
}

// A thread's own way of waiting: it takes every step of a wait for another program's
// lock and for a connection another thread holds, and may give the wait up; a
// statement on the same connection from inside the wait is refused, not run halfway
// through the waiting one.
TEST_F(Db, TheThreadsBusyWaitTakesTheStepsAndMayGiveUp) {
  fs::path file = MakeDatabase("create table t(a int)");
  sqlite3* other = nullptr;
  Connection c;
  Connect(c, file);
  c.SetBusyTimeout(600s);  // only the wait itself ends it
  ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

  int steps = 0;
  std::string inside;
  SetThreadBusyWait([&](std::chrono::milliseconds step) {
    EXPECT_GT(step.count(), 0);
    EXPECT_LE(step, c.BusyTimeout());
    if (++steps == 1) inside = Message([&] { c.Execute("insert into t values(9)"); });
    return steps < 5;
  });
  EXPECT_NE(Message([&] { c.Execute("insert into t values(1)"); }).find("locked"), std::string::npos);
  EXPECT_EQ(steps, 5);
  EXPECT_NE(inside.find("waiting for a lock"), std::string::npos) << inside;

  // Waited through to the other program's commit.
  steps = 0;
  SetThreadBusyWait([&](std::chrono::milliseconds) {
    if (++steps == 3) sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    return true;
  });
  EXPECT_EQ(c.Execute("insert into t values(2)"), 1);
  EXPECT_EQ(steps, 3);

  // A connection that another thread holds: the wait's steps, and its giving up.
  std::promise<void> held, release;
  std::thread holder([&] {
    auto lock = c.Lock();
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  steps = 0;
  SetThreadBusyWait([&](std::chrono::milliseconds) { return ++steps < 3; });
  EXPECT_NE(Message([&] { Count(c, "select count(*) from t"); }).find("given up"), std::string::npos);
  EXPECT_EQ(steps, 3);
  bool released = false;
  SetThreadBusyWait([&](std::chrono::milliseconds) {
    if (!released) release.set_value();
    released = true;
    return true;
  });
  EXPECT_EQ(Count(c, "select sum(a) from t"), 2);
  holder.join();
  SetThreadBusyWait({});
  sqlite3_close(other);
}

// Texts that differ only in the numbers their WHERE clause compares with share one
// prepared statement: each still gets its own rows, and what the columns are called
// and hold does not change.
TEST_F(Db, TextsThatDifferInTheirNumbersGetTheirOwnRows) {
  fs::path file = MakeDatabase(
      "create table t(k int primary key, v varchar(10));"
      "insert into t values(1,'a'),(2,'b'),(3,'c'),(4,'d'),(5,'e')");
  Connection c;
  Connect(c, file);
  auto rows = [&](const std::string& sql) {
    Query q(c);
    q.SetSql(sql);
    q.Open();
    std::string out;
    for (size_t i = 0; i < q.FieldCount(); ++i) out += q.Fields(i).Name() + "|";
    for (; !q.Eof(); q.Next()) {
      out += ";";
      for (size_t i = 0; i < q.FieldCount(); ++i) out += q.Fields(i).AsString() + "|";
    }
    return out;
  };
  struct Case {
    std::string sql, want;
  } cases[] = {
      {"select 'S01' as s, v from t where k<=2", "s|v|;S01|a|;S01|b|"},
      {"select 'S01' as s, v from t where k<=4 and k>=3", "s|v|;S01|c|;S01|d|"},
      {"select 'S01' as s, v from t where k<=1", "s|v|;S01|a|"},
      {"select 'S01' as s, v from t where k<=0", "s|v|"},
      // A number in the select list names its column; ORDER BY 1 is the first column.
      {"select k=2, 7 from t where k>=4", "k=2|7|;0|7|;0|7|"},
      {"select v, k from t where k<3 order by 2 desc", "v|k|;b|2|;a|1|"},
      {"select v from t where k in (select k from t where k>4)", "v|;e|"},
      {"select v from t where k=(select max(k) from t where k<3) limit 1", "v|;b|"},
  };
  for (int pass = 0; pass < 2; ++pass) {  // the second time from the cache
    for (const Case& k : cases) EXPECT_EQ(rows(k.sql), k.want) << k.sql;
  }
  // A statement kept for a text follows a change of its table.
  EXPECT_EQ(rows("select * from t where k=5"), "k|v|;5|e|");
  c.Execute("alter table t add column w money");
  c.Execute("update t set w = 2.5");
  EXPECT_EQ(rows("select * from t where k=5"), "k|v|w|;5|e|2.5|");
  // A text that does not prepare reports its own error.
  EXPECT_NE(Message([&] { rows("select * from nosuch where k=1"); }).find("no such table: nosuch"),
            std::string::npos);
}

// A statement kept for its text holds no read lock between its uses: another
// program can write at once.
TEST_F(Db, KeptStatementsLetOthersWrite) {
  fs::path file = MakeDatabase("create table t(k int primary key); insert into t values(1),(2)");
  Connection c;
  Connect(c, file);
  Query q(c);
  q.SetSql("select k from t where k>=1");
  q.Open();
  q.Delete();
  q.UpdateBatch();
  EXPECT_EQ(Count(c, "select count(*) from t where k>=1"), 1);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
  sqlite3_busy_timeout(other, 0);
  EXPECT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; INSERT INTO t VALUES(3); COMMIT", nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(other);
  sqlite3_close(other);
  EXPECT_EQ(Count(c, "select count(*) from t where k>=1"), 2);
}
