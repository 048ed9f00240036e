// What a database backend gives the connection and its record sets. A backend
// serves one connection; the connection's lock is held around every call.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db.h"
#include "record_set.h"

namespace platform::db::detail {

struct ResultSet {
  bool hasColumns = false;
  std::vector<ColumnInfo> columns;
  RecordSet rows;                        // each value in the form of its column's type
  std::int64_t changes = 0;              // rows changed by the whole text
};

// Rows to delete from one table, each given by the values of the table's key.
struct DeleteBatch {
  std::string database, schema, table;
  std::vector<std::string> keyColumns;
  std::vector<FieldType> keyTypes;  // of the key columns, in the same order
  std::vector<std::vector<Value>> keys;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Runs a text of one or more statements; several run as one transaction, rolled
  // back whole on an error. With wantRows the first statement that returns columns
  // gives the result set, and a text that returns none is an error that changes
  // nothing. Throws DbError.
  virtual ResultSet Run(std::string_view sql, bool wantRows) = 0;

  // Columns of the table's primary key in key order; empty when it has none.
  virtual std::vector<std::string> PrimaryKey(const std::string& database, const std::string& schema,
                                              const std::string& table) = 0;

  // Deletes every row of the batch in one transaction; all or nothing.
  virtual void Delete(const DeleteBatch& batch) = 0;

  virtual void SetBusyTimeout(std::chrono::milliseconds timeout) = 0;
};

// Opens an existing SQLite database file and reads it once; throws DbError.
std::unique_ptr<Backend> OpenSqlite(const std::filesystem::path& file, std::chrono::milliseconds busyTimeout);

struct OdbcOptions {
  std::chrono::seconds loginTimeout{15};
  std::chrono::milliseconds busyTimeout = kDefaultBusyTimeout;
  std::string target;  // what the messages name: "SQL Server LIBSRV", "ODBC data source"
  // Connect through the wide function: for FreeTDS, which reads values beyond ASCII
  // right only there; a driver without wide functions would get them through ASCII.
  bool wideConnect = false;
};

// Connects through unixODBC with an ODBC connection string; throws DbError. The
// error texts never hold the connection string, which may carry a password.
std::unique_ptr<Backend> OpenOdbc(const std::string& connectionString, const OdbcOptions& options);

}  // namespace platform::db::detail
