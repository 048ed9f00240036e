// SQLite behind the database interface. The system's SQL texts are T-SQL: they are
// cut into statements (tsql.h) and run one by one; sysobjects and object_id() are
// supplied so that the journal probe finds its table.
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <system_error>

#include "backend.h"
#include "busy_wait.h"
#include "platform/text.h"
#include "tsql.h"
#include "values.h"

namespace platform::db::detail {
namespace {

std::string QuoteId(std::string_view id) {
  std::string q = "\"";
  for (char c : id) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + "\"";
}

class Stmt {
 public:
  Stmt() = default;
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  sqlite3_stmt*& Ref() { return s_; }
  sqlite3_stmt* get() const { return s_; }

 private:
  sqlite3_stmt* s_ = nullptr;
};

// A value as SQLite hands it over, before it takes its column's type.
struct Raw {
  int type = SQLITE_NULL;
  std::int64_t i = 0;
  double d = 0;
  std::string s;
};

Raw ReadRaw(sqlite3_stmt* s, int col) {
  Raw r;
  r.type = sqlite3_column_type(s, col);
  switch (r.type) {
    case SQLITE_INTEGER: r.i = sqlite3_column_int64(s, col); break;
    case SQLITE_FLOAT: r.d = sqlite3_column_double(s, col); break;
    case SQLITE_TEXT: {
      const unsigned char* t = sqlite3_column_text(s, col);
      r.s.assign(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(s, col)));
      break;
    }
    case SQLITE_BLOB: {
      const void* b = sqlite3_column_blob(s, col);
      size_t n = static_cast<size_t>(sqlite3_column_bytes(s, col));
      if (n > 0) r.s.assign(static_cast<const char*>(b), n);
      break;
    }
    default: break;
  }
  return r;
}

std::string Upper(std::string_view w) {
  std::string u(w);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

// SQLite's own rules for a declared type this layer does not know; no value for
// the numeric affinity, whose values then decide.
std::optional<FieldType> AffinityType(std::string_view declared) {
  std::string u = Upper(declared);
  if (u.find("INT") != std::string::npos) return FieldType::Integer;
  if (u.find("CHAR") != std::string::npos || u.find("CLOB") != std::string::npos ||
      u.find("TEXT") != std::string::npos) {
    return FieldType::String;
  }
  if (u.find("BLOB") != std::string::npos) return FieldType::Bytes;
  if (u.find("REAL") != std::string::npos || u.find("FLOA") != std::string::npos ||
      u.find("DOUB") != std::string::npos) {
    return FieldType::Float;
  }
  return std::nullopt;
}

FieldType TypeOfValues(const std::vector<std::vector<Raw>>& rows, size_t col) {
  bool anyInt = false, anyReal = false, anyText = false, anyBlob = false;
  for (const auto& row : rows) {
    switch (row[col].type) {
      case SQLITE_INTEGER: anyInt = true; break;
      case SQLITE_FLOAT: anyReal = true; break;
      case SQLITE_TEXT: anyText = true; break;
      case SQLITE_BLOB: anyBlob = true; break;
      default: break;
    }
  }
  if (anyBlob && !anyText) return FieldType::Bytes;
  if (anyText || anyBlob) return FieldType::String;
  if (anyReal) return FieldType::Float;
  if (anyInt) return FieldType::Integer;
  return FieldType::String;
}

std::string RealText(double d) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

std::string RawText(const Raw& r) {
  switch (r.type) {
    case SQLITE_INTEGER: return std::to_string(r.i);
    case SQLITE_FLOAT: return platform::text::FloatToStr(r.d);
    default: return r.s;
  }
}

[[noreturn]] void BadValue(const ColumnInfo& c, const Raw& r) {
  throw DbError("column \"" + c.name + "\" (" + FieldTypeName(c.type) + "): the stored value \"" + RawText(r) +
                "\" is not of that type");
}

Value Convert(const ColumnInfo& c, const Raw& r) {
  if (r.type == SQLITE_NULL) return std::monostate{};
  switch (c.type) {
    case FieldType::Integer:
      if (r.type == SQLITE_INTEGER) return r.i;
      if (r.type == SQLITE_FLOAT) {
        if (auto n = WholeNumber(r.d)) return *n;
      }
      if (r.type == SQLITE_TEXT) {
        std::int64_t v = 0;
        auto [p, ec] = std::from_chars(r.s.data(), r.s.data() + r.s.size(), v);
        if (ec == std::errc() && p == r.s.data() + r.s.size() && !r.s.empty()) return v;
      }
      BadValue(c, r);
    case FieldType::Float:
      if (r.type == SQLITE_INTEGER) return static_cast<double>(r.i);
      if (r.type == SQLITE_FLOAT) return r.d;
      if (r.type == SQLITE_TEXT) {
        if (auto v = platform::text::StrToFloat(r.s)) return *v;
      }
      BadValue(c, r);
    case FieldType::Currency:
    case FieldType::Decimal: {
      std::optional<Currency> v;
      if (r.type == SQLITE_INTEGER) {
        if (r.i <= INT64_MAX / 10000 && r.i >= INT64_MIN / 10000) v = Currency{r.i * 10000};
      } else if (r.type == SQLITE_FLOAT) {
        v = ParseCurrency(RealText(r.d));
      } else if (r.type == SQLITE_TEXT) {
        v = ParseCurrency(r.s);
      }
      if (v) return *v;
      BadValue(c, r);
    }
    case FieldType::Boolean:
      if (r.type == SQLITE_INTEGER) return r.i != 0;
      if (r.type == SQLITE_FLOAT) return r.d != 0;
      if (r.type == SQLITE_TEXT) {
        std::string u = Upper(r.s);
        if (u == "1" || u == "TRUE") return true;
        if (u == "0" || u == "FALSE") return false;
      }
      BadValue(c, r);
    case FieldType::DateTime:
      if (r.type == SQLITE_TEXT) {
        if (auto d = TryParseDateTime(r.s)) return *d;
      }
      BadValue(c, r);
    case FieldType::String:
    case FieldType::WideString:
    case FieldType::Bytes:
      return RawText(r);
  }
  BadValue(c, r);
}

// Strips "dbo." and brackets or quotes from an object name as T-SQL writes it.
std::string ObjectName(std::string_view s) {
  std::string part, last;
  char close = 0;
  for (char c : s) {
    if (close) {
      if (c == close) close = 0;
      else part += c;
    } else if (c == '[') {
      close = ']';
    } else if (c == '"') {
      close = '"';
    } else if (c == '.') {
      part.clear();
    } else {
      part += c;
    }
  }
  return part;
}

// object_id(name): the id under which sysobjects lists a table, view or trigger of
// the main database (names compared without regard to case); NULL when none.
void ObjectIdFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string name = ObjectName(std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])),
                                                 static_cast<size_t>(sqlite3_value_bytes(argv[0]))));
  sqlite3* db = sqlite3_context_db_handle(ctx);
  Stmt s;
  const char* sql =
      "SELECT rowid FROM main.sqlite_master WHERE type IN ('table','view','trigger') AND name = ?1 COLLATE NOCASE";
  if (sqlite3_prepare_v2(db, sql, -1, &s.Ref(), nullptr) != SQLITE_OK) {
    sqlite3_result_error(ctx, sqlite3_errmsg(db), -1);
    return;
  }
  sqlite3_bind_text(s.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  int rc = sqlite3_step(s.get());
  if (rc == SQLITE_ROW) {
    sqlite3_result_int64(ctx, sqlite3_column_int64(s.get(), 0));
  } else if (rc == SQLITE_DONE) {
    sqlite3_result_null(ctx);
  } else {
    sqlite3_result_error(ctx, sqlite3_errmsg(db), -1);
  }
}

// SQL Server's catalogue of objects, as far as the system reads it.
constexpr const char* kSysobjects =
    "CREATE TEMP VIEW sysobjects AS SELECT rowid AS id, name,"
    " CASE WHEN type = 'table' AND name LIKE 'sqlite\\_%' ESCAPE '\\' THEN 'S'"
    " WHEN type = 'table' THEN 'U' WHEN type = 'view' THEN 'V' ELSE 'TR' END AS xtype,"
    " CASE WHEN type = 'table' AND name LIKE 'sqlite\\_%' ESCAPE '\\' THEN 'S'"
    " WHEN type = 'table' THEN 'U' WHEN type = 'view' THEN 'V' ELSE 'TR' END AS type"
    " FROM main.sqlite_master WHERE type IN ('table','view','trigger')";

class SqliteBackend final : public Backend {
 public:
  SqliteBackend(const std::filesystem::path& given, std::chrono::milliseconds busy) {
    std::error_code ec;
    std::filesystem::path file = std::filesystem::absolute(given, ec);
    if (ec) file = given;
    auto st = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::exists(st)) throw DbError("database file not found: " + file.string());
    if (std::filesystem::is_directory(st)) throw DbError("not a database file but a folder: " + file.string());
    // Without SQLITE_OPEN_CREATE: a file that vanished in between is not made anew.
    int rc = sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close_v2(db_);
      db_ = nullptr;
      throw DbError("cannot open database file " + file.string() + ": " + msg);
    }
    sqlite3_extended_result_codes(db_, 1);
    SetBusyTimeout(busy);
    try {
      // SQLite reads lazily; reading the schema now makes a damaged file fail here.
      Exec("SELECT count(*) FROM main.sqlite_master");
      if (sqlite3_create_function_v2(db_, "object_id", 1, SQLITE_UTF8, nullptr, ObjectIdFunction, nullptr,
                                     nullptr, nullptr) != SQLITE_OK) {
        Fail();
      }
      Exec(kSysobjects);
    } catch (const DbError& e) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
      throw DbError("cannot open database file " + file.string() + ": " + e.what());
    }
  }

  ~SqliteBackend() override { sqlite3_close_v2(db_); }

  void SetBusyTimeout(std::chrono::milliseconds timeout) override {
    busyTimeout_ = std::max(timeout, std::chrono::milliseconds(0));
    sqlite3_busy_handler(db_, &SqliteBackend::OnBusy, this);
  }

  ResultSet Run(std::string_view sql, bool wantRows) override {
    RefuseWhileWaiting();
    std::vector<TsqlStatement> stmts = SplitTsql(sql);
    ResultSet rs;
    if (stmts.empty()) {
      if (wantRows) throw DbError("the SQL text holds no statement");
      return rs;
    }
    if (stmts.size() == 1 && stmts[0].kind == TsqlStatement::Kind::Plain) {
      RunPlain(stmts[0].text, wantRows, true, rs);
      return rs;
    }
    bool write = std::any_of(stmts.begin(), stmts.end(), [](const TsqlStatement& s) { return !s.readOnly; });
    Transaction tx(db_, write);
    for (size_t i = 0; i < stmts.size();) i = Step(stmts, i, true, wantRows, rs);
    if (wantRows && !rs.hasColumns) throw DbError("the SQL text returns no record set");
    tx.Commit();
    return rs;
  }

  std::vector<std::string> PrimaryKey(const std::string& database, const std::string&,
                                      const std::string& table) override {
    Stmt s;
    std::string sql = "PRAGMA " + QuoteId(database.empty() ? "main" : database) + ".table_info(" + QuoteId(table) + ")";
    Prepare(sql, s);
    std::vector<std::pair<int, std::string>> keys;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
      int pk = sqlite3_column_int(s.get(), 5);
      if (pk > 0) keys.emplace_back(pk, reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 1)));
    }
    if (rc != SQLITE_DONE) Fail();
    std::sort(keys.begin(), keys.end());
    std::vector<std::string> out;
    for (auto& k : keys) out.push_back(std::move(k.second));
    return out;
  }

  void Delete(const DeleteBatch& batch) override {
    RefuseWhileWaiting();
    std::string sql = "DELETE FROM " + QuoteId(batch.database.empty() ? "main" : batch.database) + "." +
                      QuoteId(batch.table) + " WHERE ";
    for (size_t k = 0; k < batch.keyColumns.size(); ++k) {
      if (k) sql += " AND ";
      sql += QuoteId(batch.keyColumns[k]) + " = ?" + std::to_string(k + 1);
    }
    Transaction tx(db_, true);
    Stmt s;
    Prepare(sql, s);
    for (const auto& key : batch.keys) {
      sqlite3_reset(s.get());
      for (size_t k = 0; k < key.size(); ++k) {
        bool bytes = k < batch.keyTypes.size() && batch.keyTypes[k] == FieldType::Bytes;
        Bind(s.get(), static_cast<int>(k + 1), key[k], bytes);
      }
      if (sqlite3_step(s.get()) != SQLITE_DONE) Fail();
    }
    tx.Commit();
  }

 private:
  // One transaction around a text of several statements or a batch of deletions;
  // inside a transaction already under way it is a savepoint of that transaction.
  class Transaction {
   public:
    Transaction(sqlite3* db, bool write) : db_(db) {
      nested_ = sqlite3_get_autocommit(db_) == 0;
      // IMMEDIATE takes the write lock up front (waiting for it), so that a reader
      // turned writer halfway cannot fail at once on another program's lock.
      Run(nested_ ? "SAVEPOINT platform_db" : write ? "BEGIN IMMEDIATE" : "BEGIN");
      open_ = true;
    }
    ~Transaction() {
      if (!open_) return;
      if (nested_) {
        sqlite3_exec(db_, "ROLLBACK TO platform_db; RELEASE platform_db", nullptr, nullptr, nullptr);
      } else if (sqlite3_get_autocommit(db_) == 0) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
      Run(nested_ ? "RELEASE platform_db" : "COMMIT");
      open_ = false;
    }

   private:
    void Run(const char* sql) {
      if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw DbError(sqlite3_errmsg(db_));
    }
    sqlite3* db_;
    bool nested_ = false;
    bool open_ = false;
  };

  [[noreturn]] void Fail() const { throw DbError(sqlite3_errmsg(db_)); }

  // SQLite's wait for another program's lock, in the calling thread's way of waiting
  // (which may give it up), bounded by the busy time-out. 0 ends the wait: the
  // statement fails with "database is locked".
  static int OnBusy(void* self, int count) {
    auto* b = static_cast<SqliteBackend*>(self);
    const auto now = std::chrono::steady_clock::now();
    if (count == 0) b->busySince_ = now;
    const auto left = b->busyTimeout_ - std::chrono::duration_cast<std::chrono::milliseconds>(now - b->busySince_);
    if (left <= std::chrono::milliseconds(0)) return 0;
    b->waiting_ = true;
    const bool goOn = BusyStep(std::min(left, kBusyStep));
    b->waiting_ = false;
    return goOn ? 1 : 0;
  }

  // A wait that runs the caller's event loop must not let it start another statement
  // on this connection in the middle of the waiting one.
  void RefuseWhileWaiting() const {
    if (waiting_) throw DbError("the database connection is waiting for a lock and cannot run another statement");
  }

  void Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail();
  }

  void Prepare(std::string_view sql, Stmt& s, const char** tail = nullptr) {
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &s.Ref(), tail) != SQLITE_OK) Fail();
  }

  // A text value of a Bytes column is bound as a blob: SQLite never finds a blob
  // equal to a text.
  void Bind(sqlite3_stmt* s, int i, const Value& v, bool bytes) {
    int rc = SQLITE_OK;
    if (std::holds_alternative<std::monostate>(v)) {
      rc = sqlite3_bind_null(s, i);
    } else if (auto* n = std::get_if<std::int64_t>(&v)) {
      rc = sqlite3_bind_int64(s, i, *n);
    } else if (auto* d = std::get_if<double>(&v)) {
      rc = sqlite3_bind_double(s, i, *d);
    } else if (auto* b = std::get_if<bool>(&v)) {
      rc = sqlite3_bind_int(s, i, *b ? 1 : 0);
    } else if (auto* c = std::get_if<Currency>(&v)) {
      rc = c->units % 10000 == 0 ? sqlite3_bind_int64(s, i, c->units / 10000)
                                 : sqlite3_bind_double(s, i, static_cast<double>(c->units) / 10000.0);
    } else if (auto* t = std::get_if<DateTime>(&v)) {
      std::string text = t->ToString();
      rc = sqlite3_bind_text(s, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    } else if (auto* str = std::get_if<std::string>(&v)) {
      rc = bytes ? sqlite3_bind_blob(s, i, str->data(), static_cast<int>(str->size()), SQLITE_TRANSIENT)
                 : sqlite3_bind_text(s, i, str->data(), static_cast<int>(str->size()), SQLITE_TRANSIENT);
    }
    if (rc != SQLITE_OK) Fail();
  }

  // Runs statement i (and, for IF and ELSE, the statement they govern) when `run`;
  // gives the index after what it took.
  size_t Step(const std::vector<TsqlStatement>& stmts, size_t i, bool run, bool wantRows, ResultSet& rs) {
    const TsqlStatement& st = stmts[i];
    switch (st.kind) {
      case TsqlStatement::Kind::Plain:
        if (run) RunPlain(st.text, wantRows, false, rs);
        return i + 1;
      case TsqlStatement::Kind::If: {
        if (i + 1 >= stmts.size()) throw DbError("IF without a statement to run: IF" + st.text);
        bool holds = run && Condition(st.text);
        size_t next = Step(stmts, i + 1, holds, wantRows, rs);
        if (next < stmts.size() && stmts[next].kind == TsqlStatement::Kind::Else) {
          if (!std::all_of(stmts[next].text.begin(), stmts[next].text.end(),
                           [](char c) { return std::isspace(static_cast<unsigned char>(c)); })) {
            throw DbError("ELSE must be followed by a statement: ELSE" + stmts[next].text);
          }
          if (next + 1 >= stmts.size()) throw DbError("ELSE without a statement to run");
          next = Step(stmts, next + 1, run && !holds, wantRows, rs);
        }
        return next;
      }
      case TsqlStatement::Kind::Else:
        throw DbError("ELSE without IF");
    }
    return i + 1;
  }

  bool Condition(const std::string& cond) {
    if (std::all_of(cond.begin(), cond.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); })) {
      throw DbError("IF without a condition");
    }
    Stmt s;
    // The line break ends a "--" comment that closes the condition.
    Prepare("SELECT CASE WHEN (" + cond + "\n) THEN 1 ELSE 0 END", s);
    if (sqlite3_step(s.get()) != SQLITE_ROW) Fail();
    return sqlite3_column_int(s.get(), 0) != 0;
  }

  // Runs one statement. The first one with columns gives the record set when rows
  // are wanted; `alone` means no transaction encloses it, so a text that returns no
  // columns is refused before it runs.
  void RunPlain(const std::string& text, bool wantRows, bool alone, ResultSet& rs) {
    const char* p = text.data();
    const char* end = text.data() + text.size();
    while (p < end) {
      Stmt s;
      const char* tail = nullptr;
      Prepare(std::string_view(p, static_cast<size_t>(end - p)), s, &tail);
      p = tail ? tail : end;
      if (!s.get()) continue;  // blanks or a comment
      int cols = sqlite3_column_count(s.get());
      if (alone && wantRows && cols == 0) throw DbError("the SQL text returns no record set");
      if (wantRows && cols > 0 && !rs.hasColumns) {
        Fetch(s.get(), rs);
      } else {
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE) Fail();
      }
      if (!sqlite3_stmt_readonly(s.get()) && CountsChanges(sqlite3_sql(s.get()))) rs.changes += sqlite3_changes64(db_);
    }
  }

  static bool CountsChanges(const char* sql) {
    while (*sql && std::isspace(static_cast<unsigned char>(*sql))) ++sql;
    std::string w;
    while (std::isalpha(static_cast<unsigned char>(*sql))) w += static_cast<char>(std::toupper(static_cast<unsigned char>(*sql++)));
    return w == "INSERT" || w == "UPDATE" || w == "DELETE" || w == "REPLACE";
  }

  void Fetch(sqlite3_stmt* s, ResultSet& rs) {
    int n = sqlite3_column_count(s);
    rs.hasColumns = true;
    rs.columns.resize(static_cast<size_t>(n));
    auto text = [](const char* t) { return t ? std::string(t) : std::string(); };
    for (int c = 0; c < n; ++c) {
      ColumnInfo& ci = rs.columns[static_cast<size_t>(c)];
      ci.name = text(sqlite3_column_name(s, c));
      ci.declaredType = text(sqlite3_column_decltype(s, c));
      ci.baseDatabase = text(sqlite3_column_database_name(s, c));
      ci.baseTable = text(sqlite3_column_table_name(s, c));
      ci.baseColumn = text(sqlite3_column_origin_name(s, c));
    }
    std::vector<std::vector<Raw>> raw;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      std::vector<Raw> row;
      row.reserve(static_cast<size_t>(n));
      for (int c = 0; c < n; ++c) row.push_back(ReadRaw(s, c));
      raw.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) Fail();
    for (size_t c = 0; c < rs.columns.size(); ++c) {
      ColumnInfo& ci = rs.columns[c];
      std::optional<FieldType> t;
      if (!ci.declaredType.empty()) {
        t = TypeOfDeclared(ci.declaredType);
        if (!t) t = AffinityType(ci.declaredType);
      }
      ci.type = t ? *t : TypeOfValues(raw, c);
    }
    rs.rows.reserve(raw.size());
    for (const auto& r : raw) {
      std::vector<Value> row;
      row.reserve(r.size());
      for (size_t c = 0; c < r.size(); ++c) row.push_back(Convert(rs.columns[c], r[c]));
      rs.rows.push_back(std::move(row));
    }
  }

  sqlite3* db_ = nullptr;
  std::chrono::milliseconds busyTimeout_{0};
  std::chrono::steady_clock::time_point busySince_;
  bool waiting_ = false;
};

}  // namespace

std::unique_ptr<Backend> OpenSqlite(const std::filesystem::path& file, std::chrono::milliseconds busyTimeout) {
  return std::make_unique<SqliteBackend>(file, busyTimeout);
}

}  // namespace platform::db::detail
