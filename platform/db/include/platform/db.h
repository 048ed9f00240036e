// The database access the programs expect from ADO: one connection opened from an
// ADO-form connection string, client-side record sets (every row fetched at open,
// exact record count, deletions held until a batch update) and statement execution.
//
// The backend is chosen by the connection's data source (the server value):
//   "sqlite:PATH"   an SQLite file (PATH relative to the program folder, or
//                   absolute); the system's T-SQL texts are run on it.
//   "odbc:STRING"   an ODBC connection string, passed to unixODBC as it stands (any
//                   installed driver; the tests use SQLite's, "Driver=SQLite3;...");
//                   the other three values are not used. Texts go to the driver
//                   unchanged.
//   anything else   a SQL Server, "host", "host\instance" or "host,port", reached
//                   through unixODBC and FreeTDS with the database, login and
//                   password values; T-SQL texts go to the server unchanged.
// On ODBC every text runs in a transaction of its own (autocommit off), rolled back
// whole on an error, and every result of a text of several statements is read.
//
// All text in and out is UTF-8. Every error is a DbError carrying the backend's
// message. One connection may be used from several threads: each call holds the
// connection's lock, a batch update and a text of several statements hold it
// throughout, and such a text runs as one transaction.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform::db {

class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A field's type, from the type its column was declared with:
//   Integer     int, integer, smallint, tinyint, bigint
//   Currency    money, smallmoney
//   Decimal     decimal, numeric (held like Currency: four decimal places)
//   Float       float, real, double
//   Boolean     bit
//   DateTime    datetime, smalldatetime, datetime2, date
//   String      char, varchar, text, uniqueidentifier, time and unknown text types
//   WideString  nchar, nvarchar, ntext, sysname, xml
//   Bytes       binary, varbinary, image, blob
// A column without a declared type (an expression, a literal) takes its type from
// its values: Integer when all are whole numbers, Float when some are not, String
// when any is text (or all are NULL), Bytes for binary values.
enum class FieldType { Integer, Currency, Decimal, Float, Boolean, DateTime, String, WideString, Bytes };

const char* FieldTypeName(FieldType t);

// Money held exactly, as a Windows Currency: a count of ten-thousandths.
struct Currency {
  std::int64_t units = 0;  // value * 10000
  // Shortest decimal form: "12.5", "-0.0001", "3"; no digit grouping, "." separator.
  std::string ToString() const;
  friend bool operator==(const Currency&, const Currency&) = default;
};

struct DateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  bool HasTimeOfDay() const { return hour != 0 || minute != 0 || second != 0 || millisecond != 0; }
  // "yyyy-MM-dd hh:mm:ss", with ".fff" when the milliseconds are not zero.
  std::string ToString() const;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Parses "yyyy-MM-dd", optionally followed by " hh:mm", ":ss" and ".f..." (a "T" may
// stand for the blank). Digits beyond milliseconds are cut. Throws DbError otherwise.
DateTime ParseDateTime(std::string_view text);

// A column of a record set as the backend reports it.
struct ColumnInfo {
  std::string name;          // exactly as the result reports it (alias, Chinese name)
  std::string declaredType;  // "varchar(20)"; empty for an expression
  FieldType type = FieldType::String;
  // The table column it comes from, when it comes straight from one; else empty.
  // ODBC drivers that do not report it (FreeTDS) have it from the text when that is
  // a plain SELECT of one table's columns (see UpdateBatch).
  std::string baseDatabase, baseSchema, baseTable, baseColumn;
};

// A field value in the form of its type: monostate for NULL; int64 for Integer;
// Currency for Currency and Decimal; double for Float; bool for Boolean; DateTime;
// std::string (UTF-8, or raw bytes for Bytes) for String, WideString and Bytes.
using Value = std::variant<std::monostate, std::int64_t, double, bool, Currency, DateTime, std::string>;

// The four values a connection string carries, kept whole beside the string, since
// a value may hold ';' and the string then cannot be split back into them.
struct ConnectionParams {
  std::string server;    // Data Source
  std::string database;  // Initial Catalog
  std::string user;      // User ID
  std::string password;  // Password (plain)
  friend bool operator==(const ConnectionParams&, const ConnectionParams&) = default;
};

inline constexpr std::chrono::milliseconds kDefaultBusyTimeout{5000};
// ADO's default time for opening a connection.
inline constexpr std::chrono::seconds kDefaultConnectTimeout{15};

// How the calling thread waits while a call of this layer waits: for an SQLite
// database that another program holds locked (a SQL Server waits on its own side),
// and for a connection that another thread is using. Called again and again with the
// longest the step may take, until the wait is over (or the busy time-out has passed,
// for a database lock); it returns false to give the wait up at once, and the call then
// fails with DbError. Without one the thread sleeps through a database lock and blocks
// on a busy connection. The calling thread's own: each thread sets its own.
using BusyWait = std::function<bool(std::chrono::milliseconds step)>;
void SetThreadBusyWait(BusyWait wait);

namespace detail {
class Backend;
class RecordSet;
struct DeleteBatch;
}  // namespace detail

class Query;

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Closes an open connection, then keeps the string (as shown and logged) and the
  // values (from which the backend opens) for the next Open.
  void SetConnectionString(std::string text, ConnectionParams values);
  const std::string& ConnectionString() const { return text_; }
  const ConnectionParams& Params() const { return params_; }

  // Opens the backend that the data source names. An SQLite file must exist: a
  // missing file is an error and is never created; the file is read once here, so a
  // file that is no database fails now. Throws DbError; stays closed then.
  void Open();
  void Close();
  bool Connected() const;

  // How long a statement waits for a database locked by another program before it
  // fails with "database is locked" (on SQL Server: its LOCK_TIMEOUT; a driver given
  // by "odbc:" keeps its own). Takes effect at once and for later opens.
  void SetBusyTimeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds BusyTimeout() const;

  // How long Open waits for an ODBC data source to accept the login (0: no limit).
  // Takes effect at the next Open.
  void SetConnectTimeout(std::chrono::seconds timeout);
  std::chrono::seconds ConnectTimeout() const;

  // Runs a text of one or more statements (rows of a SELECT are read and dropped);
  // several statements run as one transaction. Gives the rows changed in total.
  std::int64_t Execute(std::string_view sql);

  // Holds the connection for a sequence of calls that no other thread may enter
  // between. The lock is recursive; every call of this layer takes it too.
  std::unique_lock<std::recursive_mutex> Lock() const;

 private:
  friend class Query;
  detail::Backend& Require();  // the open backend, or DbError
  // Lock() for a call that runs statements: waits through the thread's BusyWait.
  std::unique_lock<std::recursive_mutex> LockForCall() const;

  mutable std::recursive_mutex mu_;
  std::string text_;
  ConnectionParams params_;
  std::chrono::milliseconds busyTimeout_ = kDefaultBusyTimeout;
  std::chrono::seconds connectTimeout_ = kDefaultConnectTimeout;
  std::unique_ptr<detail::Backend> backend_;
};

// One column of an open record set; its value is that of the query's current row.
// A Field lives as long as the record set it belongs to (until Close or a new Open).
class Field {
 public:
  const ColumnInfo& Info() const;
  const std::string& Name() const { return Info().name; }
  FieldType Type() const { return Info().type; }

  // The current row's value. Throws DbError when there is no current row.
  Value AsValue() const;
  bool IsNull() const;
  // Plain text of the value: "" for NULL, decimal numbers, "True"/"False",
  // Currency::ToString, DateTime::ToString, the text itself.
  std::string AsString() const;
  // NULL gives 0 / 0.0 / false; a value that does not convert throws DbError.
  std::int64_t AsInteger() const;
  double AsFloat() const;
  Currency AsCurrency() const;
  bool AsBoolean() const;
  DateTime AsDateTime() const;  // NULL throws

 private:
  friend class Query;
  Field(const Query* q, size_t index) : q_(q), index_(index) {}
  const Query* q_;
  size_t index_;
};

// A client-side record set on a connection (ADO query with batch-optimistic locks).
// A query is used by one thread at a time; its connection may be shared.
class Query {
 public:
  explicit Query(Connection& connection);
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Connection& GetConnection() const { return conn_; }

  // Setting the text closes the record set.
  void SetSql(std::string sql);
  const std::string& Sql() const { return sql_; }

  // Runs the text and fetches every row; the current row is the first. With several
  // statements (one transaction) the record set is that of the first statement that
  // returns columns. A text that returns no columns is an error and changes nothing.
  void Open();
  // Runs the text without keeping a record set; gives the rows changed.
  std::int64_t ExecSql();
  // Drops the record set and any deletion not yet applied.
  void Close();
  bool Active() const { return active_; }

  // Rows not deleted.
  int RecordCount() const;
  void First();
  void Next();
  bool Eof() const;

  size_t FieldCount() const { return fields_.size(); }
  const Field& Fields(size_t index) const;                  // DbError when out of range
  const Field& FieldByName(std::string_view name) const;    // any case; DbError when none
  const Field* FindField(std::string_view name) const;      // nullptr when none

  // Marks the current row deleted; it leaves the record set at once and the current
  // row becomes the next one (Eof after the last). Nothing reaches the database
  // before UpdateBatch.
  void Delete();
  // Applies every pending deletion in one transaction, by the primary key of the
  // record set's base table. On an error nothing is deleted, the deletions stay
  // pending and DbError is thrown. A row that is already gone counts as deleted.
  // The base table is the one the columns come from as the backend reports it; for
  // an ODBC driver that reports none it is the table of a text
  //   SELECT * | col, ... FROM [[catalog.]schema.]table [WHERE ...] [ORDER BY ...]
  // (no alias, expression, join or union), whose columns are then that table's.
  // The table and its key are looked up at the first batch update and kept while
  // the record set stays open.
  void UpdateBatch();
  // Brings the pending deleted rows back into the record set.
  void CancelBatch();
  int PendingDeletions() const { return static_cast<int>(pending_.size()); }

 private:
  friend class Field;
  Value Cell(size_t column) const;
  size_t Rows() const;
  size_t NextVisible(size_t from);
  void LinkDeleted();

  Connection& conn_;
  std::string sql_;
  bool active_ = false;
  std::vector<ColumnInfo> columns_;
  std::vector<Field> fields_;
  std::unique_ptr<detail::RecordSet> rows_;
  // 0 for a row of the set. A deleted row holds a later row to look on from, every
  // row in between being deleted too: a walk passes any run of deleted rows in a
  // step or two, and the first row is found at once however many went before it.
  std::vector<std::uint32_t> skip_;
  std::vector<size_t> pending_;
  size_t visible_ = 0;
  size_t cur_ = 0;
  // The table and key that deletions go to, found at the first batch update.
  std::unique_ptr<detail::DeleteBatch> target_;
  std::vector<size_t> keyIndex_;
};

}  // namespace platform::db
