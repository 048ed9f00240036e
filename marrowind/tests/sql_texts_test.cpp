// The system's own SQL texts, exactly as the programs send them, on the library
// fixture.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

#include "library_fixture.h"
#include "marrowind/core/data_sou.h"
#include "marrowind/core/gl_expand.h"
#include "marrowind/core/group_thread.h"

using marrowind::TDs;
using platform::db::Currency;
using platform::db::DateTime;
using platform::db::FieldType;
using platform::db::Query;

namespace {

const char* const kSettingsInserts[] = {
    "if not Exists(Select 1 from SystemRul where systemCode=14) insert SystemRul (SystemCode,SysTemName,Content) "
    "values(14,'GroupUrl','Http://')",
    "if not Exists(Select 1 from SystemRul where systemCode=15) insert SystemRul (SystemCode,SysTemName) "
    "values(15,'GroupId')",
    "if not Exists(Select 1 from SystemRul where systemCode=16) insert SystemRul (SystemCode,SysTemName) "
    "values(16,'GroupPw')",
};
const char* const kSettingsSelect = "Select * from SystemRul where SystemCode in (14,15,16)";

struct KindStatement {
  char kind;
  const char* body;
  const char* condition;
};
const KindStatement kBatchStatements[] = {
    {'B',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,B.* from DataChange as A left join Inf_Book as b on "
     "a.SouId=B.SortId ",
     " where not( a.oldid is null and b.sortid is null) and a.ChangeId<="},
    {'P',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,B.* from DataChange as A left join Inf_Periodical "
     "as b on a.SouId=B.SortId ",
     " where not( a.oldid is null and b.sortid is null) and a.ChangeId<="},
    {'J',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,Id,读者编号,图书编号,BarCode,书刊号,图书名称,类别,"
     "价格,借出时间,应还日期,归还时间,押金,租金,实际租金,赔偿金,罚金,归还状态,借阅经手,归还经手,归还备注 from "
     "DataChange as A left join Inf_Borrow as b on a.SouId=B.Id ",
     " where not( a.oldid is null and b.id is null) and a.ChangeId<="},
    {'C',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,b.*  from DataChange as A left join Inf_Class as b "
     "on a.SouId=B.班级编号 ",
     " Where a.ChangeId <="},
    {'R',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,b.*  from DataChange as A left join Inf_Reader as "
     "b on a.SouId=B.读者编号 ",
     " Where a.ChangeId <="},
    {'D',
     "' as StationId,a.ChangeId,ContSouType,SouId,CmdType,OldId,B.*,C.WorkTime from DataChange as a left join "
     "s_Destory as b on a.SouId=b.BillId join b_Destory as c on b.BIllId=C.BillId",
     " Where a.ChangeId<="},
};

const char* const kRefill =
    "delete from DataChange insert into DataChange(ContSouType,SouId,CmdType) select 'B',SortId,'I' from inf_Book "
    "insert into DataChange(ContSouType,SouId,CmdType) select 'P',SortId,'I' from Inf_Periodical insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'J',Id,'I' from inf_Borrow insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'C',班级编号,'I' from inf_Class insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'R',读者编号,'I' from Inf_Reader insert into "
    "DataChange(ContSouType,SouId,CmdType) select 'D',BillId,'I' from B_Destory where checkOut=1 ";

std::string BatchStatement(const KindStatement& k, const std::string& groupId, std::int64_t lastId) {
  return "Select '" + groupId + k.body + k.condition + std::to_string(lastId);
}

const KindStatement& Kind(char kind) {
  for (const KindStatement& k : kBatchStatements) {
    if (k.kind == kind) return k;
  }
  throw std::logic_error("no such kind");
}

std::vector<std::string> ColumnNames(const Query& q) {
  std::vector<std::string> names;
  for (size_t i = 0; i < q.FieldCount(); ++i) names.push_back(q.Fields(i).Name());
  return names;
}

std::vector<std::int64_t> ChangeIds(Query& q) {
  std::vector<std::int64_t> ids;
  for (q.First(); !q.Eof(); q.Next()) ids.push_back(q.FieldByName("ChangeId").AsInteger());
  q.First();
  return ids;
}

// Moves to the row of the given ChangeId.
void Seek(Query& q, std::int64_t changeId) {
  for (q.First(); !q.Eof(); q.Next()) {
    if (q.FieldByName("ChangeId").AsInteger() == changeId) return;
  }
  FAIL() << "no row with ChangeId " << changeId;
}

class SqlTexts : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }

  // A new database made from the fixture, connected and probed.
  void Fresh() {
    batch_.reset();
    dsPtr_.reset();
    lib_.reset();
    lib_ = std::make_unique<marrowind::test::LibrarySetup>();
    marrowind::HaveGroup = false;
    marrowind::SyncBusy = false;
    dsPtr_ = std::make_unique<TDs>();
    dsPtr_->DataModuleCreate();
    ASSERT_TRUE(marrowind::HaveGroup);
    batch_ = std::make_unique<Query>(dsPtr_->AcData);
  }

  // The worker sees only the rows of the run: earlier runs left the journal.
  std::int64_t KeepOnlyKind(char kind) {
    EXPECT_TRUE(ds().ExecSql(std::string("delete from DataChange where ContSouType<>'") + kind + "'"));
    EXPECT_TRUE(ds().OpenSql("select max(ChangeId) from DataChange"));
    return ds().AqLs.Fields(0).AsInteger();
  }

  Query& Batch(char kind, std::int64_t lastId) {
    batch_->SetSql(BatchStatement(Kind(kind), "S01", lastId));
    batch_->Open();
    return *batch_;
  }

  TDs& ds() { return *dsPtr_; }

  std::unique_ptr<marrowind::test::LibrarySetup> lib_;
  std::unique_ptr<TDs> dsPtr_;
  std::unique_ptr<Query> batch_;
};

}  // namespace

TEST_F(SqlTexts, SettingsRowsAreInsertedOnce) {
  for (int pass = 0; pass < 2; ++pass) {
    for (const char* sql : kSettingsInserts) EXPECT_TRUE(ds().ExecSql(sql)) << sql;
  }
  ASSERT_TRUE(ds().OpenSql(kSettingsSelect));
  Query& q = ds().AqLs;
  EXPECT_EQ(q.RecordCount(), 3);
  std::map<std::int64_t, std::pair<std::string, std::string>> rows;
  for (; !q.Eof(); q.Next()) {
    EXPECT_EQ(q.FieldByName("SystemCode").Type(), FieldType::Integer);
    EXPECT_EQ(q.FieldByName("Content").IsNull(), q.FieldByName("SystemCode").AsInteger() != 14);
    rows[q.FieldByName("SystemCode").AsInteger()] = {q.FieldByName("SysTemName").AsString(),
                                                     q.FieldByName("Content").AsString()};
  }
  EXPECT_EQ(rows, (std::map<std::int64_t, std::pair<std::string, std::string>>{
                      {14, {"GroupUrl", "Http://"}}, {15, {"GroupId", ""}}, {16, {"GroupPw", ""}}}));
}

TEST_F(SqlTexts, BookBatchLeavesOutRowsWithoutSourceOrOldId) {
  // Book TS0002 withdrawn from stock: its insert row loses its source, its delete
  // row keeps the old key.
  ASSERT_TRUE(ds().ExecSql("delete from Inf_Book where SortId='TS0002'"));
  std::int64_t lastId = KeepOnlyKind('B');
  Query& q = Batch('B', lastId);
  // 2: source gone, OldId NULL; 4: TS0004 renumbered to TS0005 (row 20).
  EXPECT_EQ(ChangeIds(q), (std::vector<std::int64_t>{1, 3, 20, 26}));
  EXPECT_EQ(ColumnNames(q), (std::vector<std::string>{"StationId", "ChangeId", "ContSouType", "SouId", "CmdType",
                                                      "OldId", "SortId", "书名", "作者", "出版社", "ISBN", "索书号",
                                                      "价格", "册数", "入库日期", "可借"}));
  EXPECT_EQ(q.FieldByName("StationId").AsString(), "S01");
  EXPECT_EQ(q.FieldByName("StationId").Type(), FieldType::String);
  EXPECT_TRUE(q.FieldByName("OldId").IsNull());
  EXPECT_EQ(q.FieldByName("价格").Type(), FieldType::Currency);
  EXPECT_EQ(q.FieldByName("价格").AsCurrency(), Currency{597000});
  EXPECT_EQ(q.FieldByName("入库日期").AsDateTime(), (DateTime{2023, 9, 1}));
  EXPECT_EQ(q.FieldByName("可借").Type(), FieldType::Boolean);
  EXPECT_TRUE(q.FieldByName("可借").AsBoolean());
  Seek(q, 20);
  EXPECT_EQ(q.FieldByName("SouId").AsString(), "TS0005");
  EXPECT_EQ(q.FieldByName("CmdType").AsString(), "U");
  EXPECT_EQ(q.FieldByName("OldId").AsString(), "TS0004");
  EXPECT_EQ(q.FieldByName("书名").AsString(), "十万个为什么");
  Seek(q, 26);
  EXPECT_EQ(q.FieldByName("CmdType").AsString(), "D");
  EXPECT_TRUE(q.FieldByName("SortId").IsNull());
  EXPECT_TRUE(q.FieldByName("书名").IsNull());

  // The run ends at lastId.
  EXPECT_EQ(ChangeIds(Batch('B', 3)), (std::vector<std::int64_t>{1, 3}));
}

TEST_F(SqlTexts, BatchStatementsOfTheOtherKinds) {
  struct Case {
    char kind;
    std::vector<std::int64_t> ids;
    std::vector<std::int64_t> withoutSource;  // rows whose source columns are NULL
  } cases[] = {
      {'P', {5, 6, 21}, {}},
      {'J', {14, 15, 22, 23}, {23}},          // 16: loan 3 removed, OldId NULL
      {'C', {7, 8, 9, 25}, {9, 25}},          // every row, class BJ0801 gone
      {'R', {10, 11, 12, 13, 24}, {12, 24}},  // every row, reader R0003 gone
      {'D', {17, 18}, {}},                    // 19: withdrawal without a bill
  };
  const char* sourceColumn[] = {"刊名", "读者编号", "班级名称", "姓名", "书名"};
  for (size_t n = 0; n < std::size(cases); ++n) {
    const Case& c = cases[n];
    Fresh();  // the fixture's whole journal for each kind
    std::int64_t lastId = KeepOnlyKind(c.kind);
    Query& q = Batch(c.kind, lastId);
    EXPECT_EQ(ChangeIds(q), c.ids) << c.kind;
    for (q.First(); !q.Eof(); q.Next()) {
      std::int64_t id = q.FieldByName("ChangeId").AsInteger();
      bool none = std::count(c.withoutSource.begin(), c.withoutSource.end(), id) > 0;
      EXPECT_EQ(q.FieldByName("StationId").AsString(), "S01");
      EXPECT_EQ(q.FieldByName(sourceColumn[n]).IsNull(), none) << c.kind << " " << id;
    }
  }
}

TEST_F(SqlTexts, LoanAndWithdrawalColumns) {
  Query& j = Batch('J', KeepOnlyKind('J'));
  EXPECT_EQ(ColumnNames(j),
            (std::vector<std::string>{"StationId", "ChangeId", "ContSouType", "SouId", "CmdType", "OldId", "Id",
                                      "读者编号", "图书编号", "BarCode", "书刊号", "图书名称", "类别", "价格",
                                      "借出时间", "应还日期", "归还时间", "押金", "租金", "实际租金", "赔偿金", "罚金",
                                      "归还状态", "借阅经手", "归还经手", "归还备注"}));
  Seek(j, 22);  // loan 1 returned
  EXPECT_EQ(j.FieldByName("归还时间").AsDateTime(), (DateTime{2024, 3, 20, 8, 40, 0, 0}));
  EXPECT_TRUE(j.FieldByName("归还状态").AsBoolean());
  EXPECT_EQ(j.FieldByName("Id").Type(), FieldType::Integer);
  Seek(j, 15);
  EXPECT_EQ(j.FieldByName("罚金").AsCurrency().ToString(), "0.4");
  EXPECT_EQ(j.FieldByName("归还备注").AsString(), "逾期4天");

  Fresh();
  Query& d = Batch('D', KeepOnlyKind('D'));
  EXPECT_EQ(ColumnNames(d), (std::vector<std::string>{"StationId", "ChangeId", "ContSouType", "SouId", "CmdType",
                                                      "OldId", "BillId", "图书编号", "书名", "注销原因", "数量",
                                                      "金额", "WorkTime"}));
  EXPECT_EQ(d.FieldByName("WorkTime").Type(), FieldType::DateTime);
  EXPECT_EQ(d.FieldByName("WorkTime").AsDateTime(), (DateTime{2024, 3, 15, 15, 0, 0, 0}));
  EXPECT_EQ(d.FieldByName("金额").AsCurrency().ToString(), "108.5");

  Fresh();
  Query& r = Batch('R', KeepOnlyKind('R'));
  Seek(r, 13);
  EXPECT_EQ(r.FieldByName("折扣").Type(), FieldType::Float);
  EXPECT_EQ(r.FieldByName("折扣").AsFloat(), 0.8);
  EXPECT_TRUE(r.FieldByName("班级编号").IsNull());
}

TEST_F(SqlTexts, RefillJournalsEverySourceRecordKindByKind) {
  ASSERT_TRUE(ds().OpenSql("select max(ChangeId) from DataChange"));
  std::int64_t oldMax = ds().AqLs.Fields(0).AsInteger();
  ASSERT_TRUE(ds().ExecSql(kRefill));
  ASSERT_TRUE(ds().OpenDataChange());
  Query& q = ds().AqDataChange;
  std::string kinds;
  std::map<char, std::set<std::string>> souIds;
  std::int64_t prev = oldMax;
  for (; !q.Eof(); q.Next()) {
    std::string kind = q.FieldByName("ContSouType").AsString();
    std::int64_t id = q.FieldByName("ChangeId").AsInteger();
    EXPECT_GT(id, prev);
    prev = id;
    if (kinds.empty() || kinds.back() != kind[0]) kinds += kind;
    souIds[kind[0]].insert(q.FieldByName("SouId").AsString());
    EXPECT_EQ(q.FieldByName("CmdType").AsString(), "I");
    EXPECT_TRUE(q.FieldByName("OldId").IsNull());
  }
  EXPECT_EQ(kinds, "BPJCRD");
  EXPECT_EQ(souIds, (std::map<char, std::set<std::string>>{
                        {'B', {"TS0001", "TS0002", "TS0003", "TS0005"}},
                        {'P', {"QK0001", "QK0002"}},
                        {'J', {"1", "2"}},
                        {'C', {"BJ0701", "BJ0702"}},
                        {'R', {"R0001", "R0002", "T0001"}},
                        {'D', {"XH2024001"}},
                    }));
  EXPECT_EQ(q.RecordCount(), 14);
}

TEST_F(SqlTexts, FailedRefillLeavesTheOldJournalWhole) {
  ASSERT_TRUE(ds().ExecSql("drop table Inf_Reader"));
  EXPECT_FALSE(ds().ExecSql(kRefill));
  ASSERT_TRUE(ds().OpenDataChange());
  EXPECT_EQ(ds().AqDataChange.RecordCount(), 25);
  EXPECT_EQ(ds().AqDataChange.FieldByName("ChangeId").AsInteger(), 1);
}

TEST_F(SqlTexts, WorkerBuildsTheseStatements) {
  for (const KindStatement& k : kBatchStatements) {
    EXPECT_EQ(marrowind::BatchStatement(k.kind, "S01", 25), BatchStatement(k, "S01", 25)) << k.kind;
    // A quote in the station id is doubled, so the value arrives whole.
    EXPECT_EQ(marrowind::BatchStatement(k.kind, "S'01", 7), BatchStatement(k, "S''01", 7)) << k.kind;
    // After passed-over rows the run gets a lower bound as well.
    EXPECT_EQ(marrowind::BatchStatement(k.kind, "S01", 9, 4), BatchStatement(k, "S01", 9) + " and a.ChangeId>=4");
  }
  for (char none : {'\0', 'b', 'X', 'Q'}) EXPECT_EQ(marrowind::BatchStatement(none, "S01", 1), std::nullopt);
  Query& q = Batch('D', KeepOnlyKind('D'));
  EXPECT_EQ(ChangeIds(q), (std::vector<std::int64_t>{17, 18}));
  batch_->SetSql(*marrowind::BatchStatement('D', "S'01", 18, 18));
  batch_->Open();
  EXPECT_EQ(ChangeIds(*batch_), (std::vector<std::int64_t>{18}));
  EXPECT_EQ(batch_->FieldByName("StationId").AsString(), "S'01");
}
