// SQLite behind the database interface. The system's SQL texts are T-SQL: they are
// cut into statements (tsql.h) and run one by one; sysobjects and object_id() are
// supplied so that the journal probe finds its table.
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <list>
#include <optional>
#include <system_error>

#include "backend.h"
#include "busy_wait.h"
#include "platform/text.h"
#include "record_set.h"
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

// A value as SQLite hands it over, before it takes its column's type. Text and bytes
// lie in SQLite's own buffer, valid until the statement steps on.
struct Raw {
  int type = SQLITE_NULL;
  std::int64_t i = 0;
  double d = 0;
  std::string_view s;
};

// One call into the statement a value: the value itself is read without SQLite's
// lock, which the connection's own lock (held around every call of the backend)
// makes safe.
Raw ReadRaw(sqlite3_stmt* s, int col) {
  Raw r;
  sqlite3_value* v = sqlite3_column_value(s, col);
  r.type = sqlite3_value_type(v);
  switch (r.type) {
    case SQLITE_INTEGER: r.i = sqlite3_value_int64(v); break;
    case SQLITE_FLOAT: r.d = sqlite3_value_double(v); break;
    case SQLITE_TEXT: {
      const unsigned char* t = sqlite3_value_text(v);
      r.s = std::string_view(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_value_bytes(v)));
      break;
    }
    case SQLITE_BLOB: {
      const void* b = sqlite3_value_blob(v);
      size_t n = static_cast<size_t>(sqlite3_value_bytes(v));
      if (n > 0) r.s = std::string_view(static_cast<const char*>(b), n);
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

// What the values of a column without a declared type turned out to be.
struct Seen {
  bool anyInt = false, anyReal = false, anyText = false, anyBlob = false;
  void Add(int type) {
    switch (type) {
      case SQLITE_INTEGER: anyInt = true; break;
      case SQLITE_FLOAT: anyReal = true; break;
      case SQLITE_TEXT: anyText = true; break;
      case SQLITE_BLOB: anyBlob = true; break;
      default: break;
    }
  }
  FieldType Type() const {
    if (anyBlob && !anyText) return FieldType::Bytes;
    if (anyText || anyBlob) return FieldType::String;
    if (anyReal) return FieldType::Float;
    if (anyInt) return FieldType::Integer;
    return FieldType::String;
  }
};

std::string RealText(double d) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

std::string RawText(const Raw& r) {
  switch (r.type) {
    case SQLITE_INTEGER: return std::to_string(r.i);
    case SQLITE_FLOAT: return platform::text::FloatToStr(r.d);
    default: return std::string(r.s);
  }
}

[[noreturn]] void BadValue(const ColumnInfo& c, const Raw& r) {
  throw DbError("column \"" + c.name + "\" (" + FieldTypeName(c.type) + "): the stored value \"" + RawText(r) +
                "\" is not of that type");
}

// The text of a whole number, without a string of its own.
void SetIntegerText(RecordSet& rows, size_t row, size_t col, std::int64_t v) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  rows.SetText(row, col, std::string_view(buf, static_cast<size_t>(end - buf)));
}

// Puts the value into the cell in the form of its column's type.
void Convert(const ColumnInfo& c, const Raw& r, RecordSet& rows, size_t row, size_t col) {
  if (r.type == SQLITE_NULL) return;  // the cell is NULL already
  switch (c.type) {
    case FieldType::Integer:
      if (r.type == SQLITE_INTEGER) return rows.SetInteger(row, col, r.i);
      if (r.type == SQLITE_FLOAT) {
        if (auto n = WholeNumber(r.d)) return rows.SetInteger(row, col, *n);
      }
      if (r.type == SQLITE_TEXT) {
        std::int64_t v = 0;
        auto [p, ec] = std::from_chars(r.s.data(), r.s.data() + r.s.size(), v);
        if (ec == std::errc() && p == r.s.data() + r.s.size() && !r.s.empty()) return rows.SetInteger(row, col, v);
      }
      BadValue(c, r);
    case FieldType::Float:
      if (r.type == SQLITE_INTEGER) return rows.SetFloat(row, col, static_cast<double>(r.i));
      if (r.type == SQLITE_FLOAT) return rows.SetFloat(row, col, r.d);
      if (r.type == SQLITE_TEXT) {
        if (auto v = platform::text::StrToFloat(r.s)) return rows.SetFloat(row, col, *v);
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
      if (v) return rows.SetCurrency(row, col, *v);
      BadValue(c, r);
    }
    case FieldType::Boolean:
      if (r.type == SQLITE_INTEGER) return rows.SetBoolean(row, col, r.i != 0);
      if (r.type == SQLITE_FLOAT) return rows.SetBoolean(row, col, r.d != 0);
      if (r.type == SQLITE_TEXT) {
        std::string u = Upper(r.s);
        if (u == "1" || u == "TRUE") return rows.SetBoolean(row, col, true);
        if (u == "0" || u == "FALSE") return rows.SetBoolean(row, col, false);
      }
      BadValue(c, r);
    case FieldType::DateTime:
      if (r.type == SQLITE_TEXT) {
        if (auto d = TryParseDateTime(r.s)) return rows.SetDateTime(row, col, *d);
      }
      BadValue(c, r);
    case FieldType::String:
    case FieldType::WideString:
    case FieldType::Bytes:
      if (r.type == SQLITE_INTEGER) return SetIntegerText(rows, row, col, r.i);
      if (r.type == SQLITE_FLOAT) return rows.SetText(row, col, platform::text::FloatToStr(r.d));
      return rows.SetText(row, col, r.s);
  }
  BadValue(c, r);
}

// A value of a column without a declared type, as it comes; the column's type, and
// with it the form of the values, is known once every row is in.
void Keep(const Raw& r, RecordSet& rows, size_t row, size_t col) {
  switch (r.type) {
    case SQLITE_INTEGER: return rows.SetInteger(row, col, r.i);
    case SQLITE_FLOAT: return rows.SetFloat(row, col, r.d);
    case SQLITE_TEXT:
    case SQLITE_BLOB: return rows.SetText(row, col, r.s);
    default: return;
  }
}

// Gives the values kept by Keep the form of the column's type: numbers among texts
// become their text, whole numbers among reals become reals.
void Settle(FieldType type, RecordSet& rows, size_t col) {
  if (type != FieldType::String && type != FieldType::Float) return;
  for (size_t row = 0; row < rows.Rows(); ++row) {
    RecordSet::Kind k = rows.KindOf(row, col);
    if (k == RecordSet::Kind::Integer) {
      if (type == FieldType::Float) rows.SetFloat(row, col, static_cast<double>(rows.Integer(row, col)));
      else SetIntegerText(rows, row, col, rows.Integer(row, col));
    } else if (k == RecordSet::Kind::Float && type == FieldType::String) {
      rows.SetText(row, col, platform::text::FloatToStr(rows.Float(row, col)));
    }
  }
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

// Prepared statements kept by their text, so that a text that comes again is not
// parsed and planned again. A statement in use is out of the cache: the same text
// run while it runs (from a busy handler, say) gets a statement of its own. A
// statement goes back reset, so that it holds no read transaction while it waits.
class StatementCache {
 public:
  struct Entry {
    Entry() = default;
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    ~Entry() { sqlite3_finalize(stmt); }

    std::string text;
    size_t hash = 0;
    sqlite3_stmt* stmt = nullptr;  // none when the text holds only blanks or a comment
    size_t used = 0;               // how much of the text the statement took
    // The result columns as last read, good as long as SQLite has not prepared the
    // text anew (a changed schema); `declared` says which have a type of their own.
    int prepared = -1;
    std::vector<ColumnInfo> columns;
    std::vector<bool> declared;
  };

  std::unique_ptr<Entry> Take(std::string_view text, size_t hash) {
    for (auto it = idle_.begin(); it != idle_.end(); ++it) {
      if ((*it)->hash == hash && (*it)->text == text) {
        std::unique_ptr<Entry> e = std::move(*it);
        idle_.erase(it);
        return e;
      }
    }
    return nullptr;
  }

  void Give(std::unique_ptr<Entry> e) {
    if (!e || !e->stmt) return;
    sqlite3_reset(e->stmt);
    sqlite3_clear_bindings(e->stmt);
    idle_.push_front(std::move(e));
    if (idle_.size() > kCapacity) idle_.pop_back();
  }

  void Clear() { idle_.clear(); }

 private:
  static constexpr size_t kCapacity = 16;
  std::list<std::unique_ptr<Entry>> idle_;  // most recently used first
};

// A statement taken from the cache for one use; it goes back when the use ends.
class Lease {
 public:
  Lease(StatementCache& cache, std::unique_ptr<StatementCache::Entry> e) : cache_(cache), e_(std::move(e)) {}
  ~Lease() { cache_.Give(std::move(e_)); }
  Lease(Lease&&) = default;
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  sqlite3_stmt* get() const { return e_->stmt; }
  StatementCache::Entry& entry() const { return *e_; }

 private:
  StatementCache& cache_;
  std::unique_ptr<StatementCache::Entry> e_;
};

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
      statements_.Clear();
      sqlite3_close_v2(db_);
      db_ = nullptr;
      throw DbError("cannot open database file " + file.string() + ": " + e.what());
    }
  }

  ~SqliteBackend() override {
    statements_.Clear();
    sqlite3_close_v2(db_);
  }

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
      RunPlain(stmts[0], wantRows, true, rs);
      return rs;
    }
    bool write = std::any_of(stmts.begin(), stmts.end(), [](const TsqlStatement& s) { return !s.readOnly; });
    Transaction tx(*this, write);
    for (size_t i = 0; i < stmts.size();) i = Step(stmts, i, true, wantRows, rs);
    if (wantRows && !rs.hasColumns) throw DbError("the SQL text returns no record set");
    tx.Commit();
    return rs;
  }

  std::vector<std::string> PrimaryKey(const std::string& database, const std::string&,
                                      const std::string& table) override {
    std::string sql = "PRAGMA " + QuoteId(database.empty() ? "main" : database) + ".table_info(" + QuoteId(table) + ")";
    Lease s = Prepare(sql);
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
    Transaction tx(*this, true);
    {
      Lease s = Prepare(sql);
      for (const auto& key : batch.keys) {
        sqlite3_reset(s.get());
        for (size_t k = 0; k < key.size(); ++k) {
          bool bytes = k < batch.keyTypes.size() && batch.keyTypes[k] == FieldType::Bytes;
          Bind(s.get(), static_cast<int>(k + 1), key[k], bytes);
        }
        if (sqlite3_step(s.get()) != SQLITE_DONE) Fail();
      }
    }
    tx.Commit();
  }

 private:
  // One transaction around a text of several statements or a batch of deletions;
  // inside a transaction already under way it is a savepoint of that transaction.
  class Transaction {
   public:
    Transaction(SqliteBackend& b, bool write) : b_(b), db_(b.db_) {
      nested_ = sqlite3_get_autocommit(db_) == 0;
      // IMMEDIATE takes the write lock up front (waiting for it), so that a reader
      // turned writer halfway cannot fail at once on another program's lock.
      b_.Exec(nested_ ? "SAVEPOINT platform_db" : write ? "BEGIN IMMEDIATE" : "BEGIN");
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
      b_.Exec(nested_ ? "RELEASE platform_db" : "COMMIT");
      open_ = false;
    }

   private:
    SqliteBackend& b_;
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

  // Runs one statement that gives no rows.
  void Exec(std::string_view sql) {
    Lease s = Prepare(sql);
    if (!s.get()) return;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) Fail();
  }

  // The first statement of the text, from the cache or prepared now.
  Lease Prepare(std::string_view sql) {
    std::optional<Lease> s = TryPrepare(sql);
    if (!s) Fail();
    return std::move(*s);
  }

  // The same; no value when SQLite refuses the text (its message is then the
  // connection's latest).
  std::optional<Lease> TryPrepare(std::string_view sql) {
    size_t hash = std::hash<std::string_view>{}(sql);
    std::unique_ptr<StatementCache::Entry> e = statements_.Take(sql, hash);
    if (!e) {
      e = std::make_unique<StatementCache::Entry>();
      e->text = sql;
      e->hash = hash;
      const char* tail = nullptr;
      if (sqlite3_prepare_v2(db_, e->text.data(), static_cast<int>(e->text.size()), &e->stmt, &tail) != SQLITE_OK) {
        return std::nullopt;
      }
      e->used = tail ? static_cast<size_t>(tail - e->text.data()) : e->text.size();
    }
    return std::optional<Lease>(std::in_place, statements_, std::move(e));
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
        if (run) RunPlain(st, wantRows, false, rs);
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
    // The line break ends a "--" comment that closes the condition.
    Lease s = Prepare("SELECT CASE WHEN (" + cond + "\n) THEN 1 ELSE 0 END");
    if (sqlite3_step(s.get()) != SQLITE_ROW) Fail();
    return sqlite3_column_int(s.get(), 0) != 0;
  }

  // Runs one statement. The first one with columns gives the record set when rows
  // are wanted; `alone` means no transaction encloses it, so a text that returns no
  // columns is refused before it runs.
  void RunPlain(const TsqlStatement& st, bool wantRows, bool alone, ResultSet& rs) {
    if (!st.shape.empty()) {
      // The shape shared with texts that differ only in their numbers. Should it not
      // prepare, the text as written is run below and reports its own error.
      if (std::optional<Lease> s = TryPrepare(st.shape); s && s->get() && s->entry().used == st.shape.size()) {
        for (size_t i = 0; i < st.values.size(); ++i) {
          if (sqlite3_bind_int64(s->get(), static_cast<int>(i + 1), st.values[i]) != SQLITE_OK) Fail();
        }
        RunOne(*s, wantRows, alone, rs);
        return;
      }
    }
    const char* p = st.text.data();
    const char* end = st.text.data() + st.text.size();
    while (p < end) {
      Lease s = Prepare(std::string_view(p, static_cast<size_t>(end - p)));
      p += s.entry().used;
      if (!s.get()) continue;  // blanks or a comment
      RunOne(s, wantRows, alone, rs);
    }
  }

  void RunOne(Lease& s, bool wantRows, bool alone, ResultSet& rs) {
    int cols = sqlite3_column_count(s.get());
    if (alone && wantRows && cols == 0) throw DbError("the SQL text returns no record set");
    if (wantRows && cols > 0 && !rs.hasColumns) {
      Fetch(s.entry(), rs);
    } else {
      int rc;
      while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
      }
      if (rc != SQLITE_DONE) Fail();
    }
    if (!sqlite3_stmt_readonly(s.get()) && CountsChanges(sqlite3_sql(s.get()))) rs.changes += sqlite3_changes64(db_);
  }

  static bool CountsChanges(const char* sql) {
    while (*sql && std::isspace(static_cast<unsigned char>(*sql))) ++sql;
    std::string w;
    while (std::isalpha(static_cast<unsigned char>(*sql))) w += static_cast<char>(std::toupper(static_cast<unsigned char>(*sql++)));
    return w == "INSERT" || w == "UPDATE" || w == "DELETE" || w == "REPLACE";
  }

  // Reads the whole result into the record set, each value converted once, straight
  // from SQLite's buffer into its cell.
  void Fetch(StatementCache::Entry& e, ResultSet& rs) {
    sqlite3_stmt* s = e.stmt;
    rs.hasColumns = true;
    int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail();
    // After the first step: the columns are those of the text as last prepared.
    Describe(e);
    rs.columns = e.columns;
    const size_t n = rs.columns.size();
    RecordSet rows(n);
    std::vector<Seen> seen(n);
    while (rc == SQLITE_ROW) {
      size_t row = rows.AddRow();
      for (size_t c = 0; c < n; ++c) {
        Raw r = ReadRaw(s, static_cast<int>(c));
        if (e.declared[c]) {
          Convert(rs.columns[c], r, rows, row, c);
        } else {
          seen[c].Add(r.type);
          Keep(r, rows, row, c);
        }
      }
      rc = sqlite3_step(s);
    }
    if (rc != SQLITE_DONE) Fail();
    for (size_t c = 0; c < n; ++c) {
      if (e.declared[c]) continue;
      rs.columns[c].type = seen[c].Type();
      Settle(rs.columns[c].type, rows, c);
    }
    rs.rows = std::move(rows);
  }

  // The statement's result columns, read once for each time SQLite prepared it.
  void Describe(StatementCache::Entry& e) {
    sqlite3_stmt* s = e.stmt;
    int prepared = sqlite3_stmt_status(s, SQLITE_STMTSTATUS_REPREPARE, 0);
    if (e.prepared == prepared) return;
    int n = sqlite3_column_count(s);
    auto text = [](const char* t) { return t ? std::string(t) : std::string(); };
    e.columns.assign(static_cast<size_t>(n), ColumnInfo{});
    e.declared.assign(static_cast<size_t>(n), false);
    for (int c = 0; c < n; ++c) {
      ColumnInfo& ci = e.columns[static_cast<size_t>(c)];
      ci.name = text(sqlite3_column_name(s, c));
      ci.declaredType = text(sqlite3_column_decltype(s, c));
      ci.baseDatabase = text(sqlite3_column_database_name(s, c));
      ci.baseTable = text(sqlite3_column_table_name(s, c));
      ci.baseColumn = text(sqlite3_column_origin_name(s, c));
      std::optional<FieldType> t;
      if (!ci.declaredType.empty()) {
        t = TypeOfDeclared(ci.declaredType);
        if (!t) t = AffinityType(ci.declaredType);
      }
      // Without a type of its own, the column's values decide (Fetch).
      ci.type = t.value_or(FieldType::String);
      e.declared[static_cast<size_t>(c)] = t.has_value();
    }
    e.prepared = prepared;
  }

  StatementCache statements_;
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
