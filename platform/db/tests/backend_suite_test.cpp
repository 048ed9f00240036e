// What the Connection and Query interface promises on every backend, run once on the
// SQLite backend and once through unixODBC with SQLite's ODBC driver ("SQLite3").
// The database file is always made and filled on the SQLite backend.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "db_test_support.h"
#include "platform/db.h"
#include "platform/module.h"

namespace fs = std::filesystem;
using namespace platform::db;

namespace {

struct Backend {
  const char* name;
  std::string (*dataSource)(const fs::path& file);
  // SQLite's ODBC driver takes one statement a text; the SQLite backend runs T-SQL
  // batches of several.
  bool viaOdbc;
};

void PrintTo(const Backend& b, std::ostream* os) { *os << b.name; }

const Backend kBackends[] = {
    {"Sqlite", [](const fs::path& f) { return "sqlite:" + f.string(); }, false},
    {"Odbc", [](const fs::path& f) { return "odbc:Driver=SQLite3;Database=" + f.string(); }, true},
};

class Backends : public db_test::FolderTest, public ::testing::WithParamInterface<Backend> {
 protected:
  static void Connect(Connection& c, const fs::path& file) { ConnectTo(c, GetParam().dataSource(file)); }
};

using db_test::Message;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_P(Backends, ErrorsChangeNothing) {
  fs::path file = MakeDatabase("create table t(a int primary key)\ninsert into t values(1)");
  Connection c;
  Connect(c, file);
  Query q(c);
  struct Case {
    const char* sql;
    const char* error;
  } cases[] = {
      {"select * from nosuch", "no such table: nosuch"},
      {"selec 1", "syntax error"},
      // The SQLite backend sees that a lone statement gives no record set and leaves it
      // unrun; through ODBC it runs, fails on the key and is rolled back.
      {"insert into t values(1)", GetParam().viaOdbc ? "UNIQUE" : "no record set"},
      // A text without a record set ran, and is rolled back.
      {"insert into t values(2)", "no record set"},
  };
  for (const Case& k : cases) {
    q.SetSql(k.sql);
    std::string err = Message([&] { q.Open(); });
    EXPECT_TRUE(Has(err, k.error)) << k.sql << ": " << err;
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(Text(c, "select group_concat(a) from t"), "1") << k.sql;
  }
  q.SetSql("insert into nosuch values(1)");
  EXPECT_THROW(q.ExecSql(), DbError);
  EXPECT_EQ(c.Execute("update t set a = 5 where a = 99"), 0);  // no row is no error
  EXPECT_EQ(c.Execute("insert into t values(2)"), 1);
  EXPECT_EQ(Text(c, "select group_concat(a) from t"), "1,2");
  // The connection is usable after each error: every text ended its transaction.
  EXPECT_EQ(c.Execute("delete from t where a = 2"), 1);
}

TEST_P(Backends, DeletionsWaitForTheBatchUpdate) {
  fs::path file = MakeDatabase(
      "create table Journal(ChangeId INTEGER PRIMARY KEY AUTOINCREMENT, Kind varchar(10), SouId varchar(20));"
      "create trigger NoBoom before delete on Journal when old.SouId='boom' begin select raise(abort,'boom row');"
      " end;"
      "insert into Journal(Kind,SouId) values('B','书1'),('B','2'),('P','3'),('B','boom'),('C','5');"
      "create table Named(Code varchar(10) primary key, Other int);"
      "insert into Named values('甲',1),('乙',2);"
      "create table NoKey(a int); insert into NoKey values(1);"
      "create table Stamped(Stamp varbinary(8) primary key, n int); insert into Stamped values(x'00ff', 1);"
      "create table Blobbed(Stamp blob primary key, n int); insert into Blobbed values(x'00ff', 1)");
  Connection c;
  Connect(c, file);
  Query snap(c);
  snap.SetSql("Select * from Journal Order By ChangeId");
  snap.Open();
  ASSERT_EQ(snap.RecordCount(), 5);
  snap.Delete();
  snap.Delete();
  EXPECT_EQ(snap.FieldByName("changeid").AsInteger(), 3);  // the next row is current
  EXPECT_EQ(snap.RecordCount(), 3);
  EXPECT_EQ(snap.PendingDeletions(), 2);
  EXPECT_EQ(Text(c, "select group_concat(ChangeId) from Journal"), "1,2,3,4,5");  // nothing sent yet
  snap.First();
  EXPECT_EQ(snap.FieldByName("ChangeId").AsInteger(), 3);  // deleted rows have left the set
  snap.UpdateBatch();
  EXPECT_EQ(Text(c, "select group_concat(ChangeId) from Journal"), "3,4,5");
  EXPECT_EQ(snap.PendingDeletions(), 0);

  // One transaction: the refused row keeps every other deletion of the batch back.
  snap.Delete();  // 3
  snap.Delete();  // boom
  snap.Delete();  // 5
  EXPECT_TRUE(snap.Eof());
  EXPECT_EQ(snap.RecordCount(), 0);
  EXPECT_TRUE(Has(Message([&] { snap.UpdateBatch(); }), "boom row"));
  EXPECT_EQ(Text(c, "select group_concat(ChangeId) from Journal"), "3,4,5");
  EXPECT_EQ(snap.PendingDeletions(), 3);
  snap.CancelBatch();
  EXPECT_EQ(snap.RecordCount(), 3);
  EXPECT_EQ(snap.FieldByName("ChangeId").AsInteger(), 3);

  // A row deleted meanwhile by someone else counts as deleted.
  c.Execute("delete from Journal where ChangeId=3");
  snap.Delete();
  snap.UpdateBatch();
  EXPECT_EQ(Text(c, "select group_concat(ChangeId) from Journal"), "4,5");

  // Only a record set of one table with its key can delete.
  struct Refused {
    const char* sql;
    const char* error;
    bool sqliteOnly = false;  // the ODBC backend does not refuse it yet
  } refused[] = {
      {"select a.ChangeId, b.ChangeId as Other from Journal a join Journal b on 1", "key column ChangeId twice",
       true},
      {"select Kind, SouId from Journal", "lacks its key column ChangeId"},
      {"select 1 as x", "comes from no table"},
      // A column that is not the table's own does not give the key.
      {"select ChangeId + 0 as ChangeId from Journal", "comes from no table"},
      {"select a.ChangeId, t.a from Journal a, (select 1 as a) x join NoKey t", "several tables"},
      {"select * from NoKey", "no primary key"},
  };
  for (const Refused& r : refused) {
    if (r.sqliteOnly && GetParam().viaOdbc) continue;
    Query q(c);
    q.SetSql(r.sql);
    q.Open();
    q.Delete();
    std::string err = Message([&] { q.UpdateBatch(); });
    EXPECT_TRUE(Has(err, r.error)) << r.sql << ": " << err;
  }
  EXPECT_EQ(Text(c, "select group_concat(ChangeId) from Journal"), "4,5");
  EXPECT_EQ(Text(c, "select count(*) from NoKey"), "1");

  // A text key in Chinese.
  Query named(c);
  named.SetSql("select Code from Named order by Other");
  named.Open();
  named.Delete();
  named.UpdateBatch();
  EXPECT_EQ(Text(c, "select group_concat(Code) from Named"), "乙");

  // A binary key is matched as bytes: the row really goes.
  for (const char* table : {"Stamped", "Blobbed"}) {
    Query stamped(c);
    stamped.SetSql(std::string("select * from ") + table);
    stamped.Open();
    stamped.Delete();
    stamped.UpdateBatch();
    EXPECT_EQ(Text(c, std::string("select count(*) from ") + table), "0") << table;
  }
}

// However many rows were deleted before it or between, a walk finds the next row at
// once; a cancelled batch brings its rows back into the walk.
TEST_P(Backends, WalksPastDeletedRows) {
  fs::path file = MakeDatabase(
      "create table Journal(ChangeId INTEGER PRIMARY KEY, Kind varchar(10));"
      "with recursive k(i) as (select 1 union all select i+1 from k where i<40)"
      " insert into Journal select i, case when i in (1, 20) then 'X' else 'B' end from k");
  Connection c;
  Connect(c, file);
  Query snap(c);
  snap.SetSql("Select * from Journal Order By ChangeId");
  snap.Open();
  auto id = [&] { return snap.FieldByName("ChangeId").AsInteger(); };
  // The rows left, in walking order.
  auto walk = [&] {
    std::string ids;
    for (snap.First(); !snap.Eof(); snap.Next()) ids += std::to_string(id()) + ",";
    return ids;
  };
  // The X rows stay; the B rows go in runs of three, each run applied but the last.
  for (int run = 0; run < 12; ++run) {
    snap.First();
    while (!snap.Eof() && snap.FieldByName("Kind").AsString() == "X") snap.Next();
    for (int k = 0; k < 3 && !snap.Eof() && snap.FieldByName("Kind").AsString() == "B"; ++k) snap.Delete();
    if (run < 11) snap.UpdateBatch();
  }
  EXPECT_EQ(snap.RecordCount(), 4);
  EXPECT_EQ(walk(), "1,20,39,40,");
  snap.CancelBatch();  // the last run, 36 to 38, comes back between the others
  EXPECT_EQ(id(), 1);
  EXPECT_EQ(walk(), "1,20,36,37,38,39,40,");
  EXPECT_EQ(snap.RecordCount(), 7);
  snap.First();
  snap.Next();
  snap.Next();
  snap.Delete();  // 36
  snap.Next();
  snap.Delete();  // 38
  EXPECT_EQ(id(), 39);
  EXPECT_EQ(walk(), "1,20,37,39,40,");
  snap.UpdateBatch();
  EXPECT_EQ(Text(c, "select group_concat(ChangeId) from Journal"), "1,20,37,39,40");
  // Opened anew, the record set knows nothing of the old deletions.
  snap.Open();
  EXPECT_EQ(walk(), "1,20,37,39,40,");
}

// The worker runs batch updates while the main thread runs its statements on the same
// connection: neither may find itself inside the other's transaction.
TEST_P(Backends, TwoThreadsShareOneConnection) {
  fs::path file = MakeDatabase(
      "create table Journal(ChangeId INTEGER PRIMARY KEY AUTOINCREMENT, SouId varchar(20));"
      "create trigger NoBoom before delete on Journal when old.SouId='boom' begin select raise(abort,'boom');"
      " end;"
      "create table Log(n int, part varchar(1));"
      "with recursive k(i) as (select 1 union all select i+1 from k where i<300)"
      " insert into Journal(SouId) select i from k;"
      "insert into Journal(SouId) values('boom')");
  Connection c;
  Connect(c, file);
  constexpr int kTexts = 500;
  // Where a text may hold several statements, each is two: both must land together.
  const int perText = GetParam().viaOdbc ? 1 : 2;
  std::atomic<bool> done{false};
  std::string workerError;
  std::thread worker([&] {
    try {
      // Every batch ends with the refused row, so every batch rolls back whole.
      while (!done) {
        Query snap(c);
        snap.SetSql("Select * from Journal Order By ChangeId");
        snap.Open();
        while (!snap.Eof()) snap.Delete();
        try {
          snap.UpdateBatch();
          workerError = "a batch with the refused row went through";
          return;
        } catch (const DbError&) {
        }
      }
    } catch (const std::exception& e) {
      workerError = e.what();
    }
  });
  std::string mainError;
  for (int i = 0; i < kTexts && mainError.empty(); ++i) {
    Query q(c);
    std::string n = std::to_string(i);
    std::string text = "insert into Log values(" + n + ",'a')";
    if (perText == 2) text += " insert into Log values(" + n + ",'b')";
    q.SetSql(text);
    try {
      q.ExecSql();
    } catch (const DbError& e) {
      mainError = e.what();
    }
  }
  done = true;
  worker.join();
  EXPECT_EQ(workerError, "");
  EXPECT_EQ(mainError, "");
  // Nothing the main thread wrote was rolled back with a batch.
  EXPECT_EQ(Text(c, "select count(*) from Log"), std::to_string(perText * kTexts));
  EXPECT_EQ(Text(c, "select count(*) from Journal"), "301");
}

INSTANTIATE_TEST_SUITE_P(Db, Backends, ::testing::ValuesIn(kBackends),
                         [](const ::testing::TestParamInfo<Backend>& p) { return std::string(p.param.name); });
