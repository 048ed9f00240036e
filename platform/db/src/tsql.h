// The system's SQL texts are T-SQL written for SQL Server: several statements in one
// text without separators, INSERT without INTO, IF [NOT] EXISTS (...) statement. This
// cuts such a text into statements that SQLite runs one by one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::db::detail {

struct TsqlStatement {
  enum class Kind {
    Plain,  // text is one SQLite statement
    If,     // text is the condition; the next statement runs only when it holds
    Else,   // the next statement runs only when the IF before did not
  };
  Kind kind = Kind::Plain;
  std::string text;
  bool readOnly = false;  // a SELECT, or an IF/ELSE (whose condition only reads)
  // A SELECT whose WHERE clause compares with whole numbers written out: its text
  // with those numbers as the parameters ?1, ?2, ... and their values, so that texts
  // that differ only in them share one prepared statement. Empty otherwise. Only a
  // number right after =, <, > in the outer WHERE clause (before any GROUP BY, ORDER
  // BY, LIMIT or compound) counts, so that column names and ORDER BY 1 keep their
  // meaning; a text with parameters of its own has no shape.
  std::string shape;
  std::vector<std::int64_t> values;
};

// Splits at ";" and at statement keywords (SELECT, INSERT, UPDATE, DELETE, CREATE,
// DROP, ALTER, IF, ELSE, PRAGMA) that stand outside quotes, brackets, parentheses,
// CASE ... END and trigger bodies, and that do not continue the statement before:
// a SELECT after INSERT belongs to the INSERT (until it has VALUES), a SELECT after
// UNION or AS belongs to its statement, IF after TABLE is CREATE TABLE IF NOT EXISTS.
// Rewrites "INSERT table" to "INSERT INTO table", "DELETE table" to "DELETE FROM
// table", and N'text' to 'text'. Text without statements (blanks, comments) vanishes.
std::vector<TsqlStatement> SplitTsql(std::string_view text);

}  // namespace platform::db::detail
