// The parts of the ODBC backend that need no driver: the connection string that
// reaches SQL Server through FreeTDS, the field type of a column as a driver
// describes it, and the table that a plain single-table SELECT reads.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db.h"

namespace platform::db::detail {

// The name under which install-deps registers FreeTDS's driver with unixODBC.
inline constexpr std::string_view kSqlServerDriver = "FreeTDS";

// The DSN-less ODBC connection string for the four values of an ADO connection to
// SQL Server. The server is "host", "host\instance" or "host,port" (an optional
// "tcp:" before it; "(local)" and "." name this machine). Blanks around each value
// are dropped, as ADO drops them. TDS 7.4 is asked for and the client character
// set is UTF-8. A value holding ';' is braced; the fixed
// attributes come last, so no braced value ends the string (FreeTDS misreads one
// there). A value holding '}' cannot be carried and is refused with DbError, as are
// an empty server, an empty instance name and a port that is not 1 to 65535.
std::string SqlServerOdbcString(const ConnectionParams& params);

// The field type of a result column from what the driver reports: its SQL type code
// (SQL_BIT, SQL_DECIMAL, SQL_WVARCHAR, ...), its decimal digits and its type name
// ("money", "nvarchar", "timestamp"). The code decides; the name refines it where
// the code leaves a choice: money against decimal (a decimal of scale 4 without a
// name is money), and the declared type of a column that a driver keeps as text
// (SQLite's driver reports "money" and "nvarchar" columns as SQL_VARCHAR).
FieldType OdbcFieldType(int sqlType, int decimalDigits, std::string_view typeName);

// What a text of the form
//   SELECT * | col [, col ...] FROM [[catalog.]schema.]table [WHERE ...] [ORDER BY ...]
// reads, for drivers that do not report the base table of a result column (FreeTDS
// reports it only in browse mode). Columns may be bracketed, quoted or qualified;
// an alias, an expression, a join, a second table, TOP, DISTINCT or a UNION makes
// the text no such SELECT, and then no value: rows that cannot be traced to one
// table by their key are never deleted.
struct SelectSource {
  std::vector<std::string> table;    // name parts without brackets or quotes, table last
  bool star = false;                 // "SELECT *": every column is the table's own
  std::vector<std::string> columns;  // otherwise the column names in list order
  friend bool operator==(const SelectSource&, const SelectSource&) = default;
};
std::optional<SelectSource> SimpleSelectSource(std::string_view sql);

}  // namespace platform::db::detail
