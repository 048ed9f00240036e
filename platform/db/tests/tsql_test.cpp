#include "tsql.h"

#include <gtest/gtest.h>

using platform::db::detail::SplitTsql;
using platform::db::detail::TsqlStatement;
using Kind = TsqlStatement::Kind;

namespace {

// "P:" plain, "I:" IF condition, "E:" ELSE.
std::vector<std::string> Split(const std::string& sql) {
  std::vector<std::string> out;
  for (const TsqlStatement& s : SplitTsql(sql)) {
    const char* tag = s.kind == Kind::Plain ? "P:" : s.kind == Kind::If ? "I:" : "E:";
    out.push_back(tag + s.text);
  }
  return out;
}

}  // namespace

TEST(Tsql, SplitsWhereSqlServerWould) {
  struct Case {
    const char* sql;
    std::vector<std::string> want;
  } cases[] = {
      {"Select 1 as HaveGroup from sysobjects where id=object_Id('DataChange') and Xtype='U'",
       {"P:Select 1 as HaveGroup from sysobjects where id=object_Id('DataChange') and Xtype='U'"}},
      {"if not Exists(Select 1 from SystemRul where systemCode=15) insert SystemRul (SystemCode,SysTemName) "
       "values(15,'GroupId')",
       {"I: not Exists(Select 1 from SystemRul where systemCode=15)",
        "P:insert INTO SystemRul (SystemCode,SysTemName) values(15,'GroupId')"}},
      {"delete from DataChange insert into DataChange(ContSouType,SouId,CmdType) select 'B',SortId,'I' from "
       "inf_Book insert into DataChange(ContSouType,SouId,CmdType) select 'C',班级编号,'I' from inf_Class ",
       {"P:delete from DataChange",
        "P:insert into DataChange(ContSouType,SouId,CmdType) select 'B',SortId,'I' from inf_Book",
        "P:insert into DataChange(ContSouType,SouId,CmdType) select 'C',班级编号,'I' from inf_Class"}},
      // A SELECT after VALUES is a statement of its own.
      {"insert into t values(1) select * from t", {"P:insert into t values(1)", "P:select * from t"}},
      {"insert t select a from x union all select b from y",
       {"P:insert INTO t select a from x union all select b from y"}},
      {"create table if not exists t(a int) drop table if exists u",
       {"P:create table if not exists t(a int)", "P:drop table if exists u"}},
      {"create view v as select 1 update t set a=(select 2) where b in (select c from d) select 3",
       {"P:create view v as select 1", "P:update t set a=(select 2) where b in (select c from d)",
        "P:select 3"}},
      // Keywords inside quotes, brackets, comments and CASE do not split.
      {"select 'insert', [select], \"update\", case when a=1 then 2 else 3 end from t -- delete x\n",
       {"P:select 'insert', [select], \"update\", case when a=1 then 2 else 3 end from t -- delete x"}},
      {"select 'it''s' /* select */ from t; ;; select 2", {"P:select 'it''s' /* select */ from t", "P:select 2"}},
      // A trigger body keeps its own statements, separators and CASE ... END.
      {"CREATE TRIGGER tr AFTER UPDATE ON t BEGIN\n INSERT INTO j VALUES(CASE WHEN new.a IS NOT old.a THEN old.a "
       "END);\n DELETE FROM k;\nEND;\nselect 1",
       {"P:CREATE TRIGGER tr AFTER UPDATE ON t BEGIN\n INSERT INTO j VALUES(CASE WHEN new.a IS NOT old.a THEN "
        "old.a END);\n DELETE FROM k;\nEND",
        "P:select 1"}},
      {"IF EXISTS(select 1 from t) select 1 ELSE select 2",
       {"I: EXISTS(select 1 from t)", "P:select 1", "E:", "P:select 2"}},
      {"insert into t(n) values(N'书') delete t where 姓名='x'",
       {"P:insert into t(n) values('书')", "P:delete FROM t where 姓名='x'"}},
      {"with k(i) as (select 1) insert into t select i from k select 2",
       {"P:with k(i) as (select 1) insert into t select i from k", "P:select 2"}},
      {"INSERT OR REPLACE INTO t VALUES(1)", {"P:INSERT OR REPLACE INTO t VALUES(1)"}},
      {"  ;; -- nothing here\n", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Split(c.sql), c.want) << c.sql;
}

TEST(Tsql, MarksReadingStatements) {
  auto st = SplitTsql("select 1 insert into t values(1) if exists(select 1) update t set a=2");
  ASSERT_EQ(st.size(), 4u);
  EXPECT_TRUE(st[0].readOnly);
  EXPECT_FALSE(st[1].readOnly);
  EXPECT_TRUE(st[2].readOnly);
  EXPECT_FALSE(st[3].readOnly);
}

TEST(Tsql, ShapesTheNumbersThatTheWhereClauseComparesWith) {
  struct Case {
    const char* sql;
    const char* shape;  // "" for none
    std::vector<std::int64_t> values;
  } cases[] = {
      {"Select 'S01' as StationId,a.ChangeId,B.* from DataChange as A left join Inf_Book as b on a.SouId=B.SortId  "
       "where not( a.oldid is null and b.sortid is null) and a.ChangeId<=12345 and a.ChangeId>=12336",
       "Select 'S01' as StationId,a.ChangeId,B.* from DataChange as A left join Inf_Book as b on a.SouId=B.SortId  "
       "where not( a.oldid is null and b.sortid is null) and a.ChangeId<=?1 and a.ChangeId>=?2",
       {12345, 12336}},
      {"select a from t where b = 0 or c <> 7 or d != 8 or e == 9",
       "select a from t where b = ?1 or c <> ?2 or d != ?3 or e == ?4", {0, 7, 8, 9}},
      {"select a from t where b in (select c from u where d>2 order by 1)",
       "select a from t where b in (select c from u where d>?1 order by 1)", {2}},
      // Numbers the column names or ORDER BY, GROUP BY, LIMIT read stay.
      {"select a=1, (select 2 where 1=1) from t", "", {}},
      {"select a from t where b=1 order by 1 limit 5", "select a from t where b=?1 order by 1 limit 5", {1}},
      {"select a from t where b=1 union select a from t where b=2",
       "select a from t where b=?1 union select a from t where b=2", {1}},
      {"select count(*) from t group by a having count(*)>1", "", {}},
      // Only whole numbers written plainly, after a comparison.
      {"select a from t where b=-1 or b=1.5 or b=0x10 or b=1e3 or b between 1 and 2 or b in (1,2)", "", {}},
      {"select a from t where b=99999999999999999999", "", {}},
      {"select a from t where b='1' and c='2'", "", {}},
      // A text with parameters of its own, and statements that are no SELECT, keep theirs.
      {"select a from t where b=? and c=1", "", {}},
      {"select a from t where b=:x and c=1", "", {}},
      {"delete from t where a=1", "", {}},
      {"create view v as select a from t where a=1", "", {}},
  };
  for (const Case& c : cases) {
    std::vector<TsqlStatement> st = SplitTsql(c.sql);
    ASSERT_EQ(st.size(), 1u) << c.sql;
    EXPECT_EQ(st[0].text, c.sql);
    EXPECT_EQ(st[0].shape, c.shape) << c.sql;
    EXPECT_EQ(st[0].values, c.values) << c.sql;
  }
}
