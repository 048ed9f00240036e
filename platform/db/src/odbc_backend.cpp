// A database reached through unixODBC: SQL Server through FreeTDS, or any driver
// named by an "odbc:" data source. Texts pass to the driver unchanged. Text goes
// through the 8-bit functions as UTF-8: FreeTDS converts it to and from the
// server's UCS-2 and code pages (ClientCharset=UTF-8), SQLite's driver has no wide
// functions at all, and unixODBC's own conversion for such a driver would go
// through the C locale's ASCII and lose every Chinese character. Only FreeTDS's
// login takes the wide function: it reads an 8-bit connection string as Latin-1.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "backend.h"
#include "odbc_mapping.h"
#include "platform/text.h"
#include "record_set.h"
#include "values.h"

namespace platform::db::detail {
namespace {

// UTF-8 to UTF-16; a byte that is not valid UTF-8 becomes U+FFFD.
std::basic_string<SQLWCHAR> Wide(std::string_view s) {
  std::basic_string<SQLWCHAR> w;
  w.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    std::uint32_t cp = 0xFFFD;
    if (len == 1) {
      cp = c;
    } else if (len > 1 && i + len <= s.size()) {
      std::uint32_t v = c & (0xFFu >> (len + 1));
      bool ok = true;
      for (size_t k = 1; k < len; ++k) {
        unsigned char d = static_cast<unsigned char>(s[i + k]);
        ok = ok && (d & 0xC0) == 0x80;
        v = (v << 6) | (d & 0x3F);
      }
      static const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
      if (ok && v >= least[len] && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF)) cp = v;
      else len = 1;
    } else {
      len = 1;
    }
    i += len;
    if (cp >= 0x10000) {
      w += static_cast<SQLWCHAR>(0xD800 + ((cp - 0x10000) >> 10));
      w += static_cast<SQLWCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      w += static_cast<SQLWCHAR>(cp);
    }
  }
  return w;
}

// ADO's default CommandTimeout: a server that stops answering cannot hold the
// connection, and with it both threads, for ever.
constexpr SQLULEN kCommandTimeoutSeconds = 30;

// The driver's messages for a handle: "message (SQLSTATE)", repeated ones once.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE h) {
  std::vector<std::string> seen;
  std::string out;
  for (SQLSMALLINT i = 1; i < 50; ++i) {
    SQLCHAR state[6] = {};
    SQLCHAR msg[2048] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLRETURN r = SQLGetDiagRec(type, h, i, state, &native, msg, static_cast<SQLSMALLINT>(std::size(msg)), &len);
    if (!SQL_SUCCEEDED(r)) break;
    size_t n = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(len, 0)), std::size(msg) - 1);
    std::string m = std::string(reinterpret_cast<const char*>(msg), n) + " (" +
                    std::string(reinterpret_cast<const char*>(state), 5) + ")";
    if (std::find(seen.begin(), seen.end(), m) != seen.end()) continue;
    seen.push_back(m);
    if (!out.empty()) out += "; ";
    out += m;
  }
  return out.empty() ? "the ODBC driver gave no message" : out;
}

class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &h_))) {
      std::string why = parent != SQL_NULL_HANDLE
                            ? Diagnostics(type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV : SQL_HANDLE_DBC, parent)
                            : "unixODBC could not be set up";
      h_ = SQL_NULL_HANDLE;
      throw DbError("cannot allocate an ODBC handle: " + why);
    }
  }
  ~Handle() {
    if (h_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, h_);
  }
  Handle(Handle&& o) noexcept : type_(o.type_), h_(o.h_) { o.h_ = SQL_NULL_HANDLE; }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle& operator=(Handle&&) = delete;
  SQLHANDLE get() const { return h_; }
  SQLSMALLINT type() const { return type_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE h_ = SQL_NULL_HANDLE;
};

[[noreturn]] void Fail(const Handle& h, const std::string& context = "") {
  throw DbError(context.empty() ? Diagnostics(h.type(), h.get()) : context + ": " + Diagnostics(h.type(), h.get()));
}

void Check(SQLRETURN r, const Handle& h, const std::string& context = "") {
  if (!SQL_SUCCEEDED(r)) Fail(h, context);
}

// A text attribute of a result column; empty when the driver does not know it.
std::string ColumnText(const Handle& st, SQLUSMALLINT col, SQLUSMALLINT field) {
  char buf[1024] = {};
  SQLSMALLINT bytes = 0;
  if (!SQL_SUCCEEDED(SQLColAttribute(st.get(), col, field, buf, sizeof buf, &bytes, nullptr))) return "";
  return std::string(buf, std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(bytes, 0)), sizeof buf - 1));
}

// What a parameter binds: the buffer must live until the statement has run.
struct Param {
  SQLSMALLINT cType = SQL_C_CHAR, sqlType = SQL_VARCHAR, digits = 0;
  SQLULEN size = 1;
  SQLLEN ind = 0;
  SQLBIGINT integer = 0;
  SQLDOUBLE real = 0;
  unsigned char bit = 0;
  SQL_TIMESTAMP_STRUCT stamp{};
  std::string bytes;

  void* Buffer() {
    switch (cType) {
      case SQL_C_SBIGINT: return &integer;
      case SQL_C_DOUBLE: return &real;
      case SQL_C_BIT: return &bit;
      case SQL_C_TYPE_TIMESTAMP: return &stamp;
      default: return bytes.data();
    }
  }
};

Param MakeParam(const Value& v, FieldType type) {
  Param p;
  if (std::holds_alternative<std::monostate>(v)) {
    p.ind = SQL_NULL_DATA;
  } else if (auto* n = std::get_if<std::int64_t>(&v)) {
    p.cType = SQL_C_SBIGINT;
    p.sqlType = SQL_BIGINT;
    p.size = 19;
    p.integer = *n;
  } else if (auto* d = std::get_if<double>(&v)) {
    p.cType = SQL_C_DOUBLE;
    p.sqlType = SQL_DOUBLE;
    p.size = 15;
    p.real = *d;
  } else if (auto* b = std::get_if<bool>(&v)) {
    p.cType = SQL_C_BIT;
    p.sqlType = SQL_BIT;
    p.bit = *b ? 1 : 0;
  } else if (auto* c = std::get_if<Currency>(&v)) {
    p.sqlType = SQL_DECIMAL;
    p.size = 19;
    p.digits = 4;
    p.bytes = c->ToString();
    p.ind = static_cast<SQLLEN>(p.bytes.size());
  } else if (auto* t = std::get_if<DateTime>(&v)) {
    p.cType = SQL_C_TYPE_TIMESTAMP;
    p.sqlType = SQL_TYPE_TIMESTAMP;
    p.size = 23;
    p.digits = 3;
    p.stamp.year = static_cast<SQLSMALLINT>(t->year);
    p.stamp.month = static_cast<SQLUSMALLINT>(t->month);
    p.stamp.day = static_cast<SQLUSMALLINT>(t->day);
    p.stamp.hour = static_cast<SQLUSMALLINT>(t->hour);
    p.stamp.minute = static_cast<SQLUSMALLINT>(t->minute);
    p.stamp.second = static_cast<SQLUSMALLINT>(t->second);
    p.stamp.fraction = static_cast<SQLUINTEGER>(t->millisecond) * 1000000u;
  } else if (auto* s = std::get_if<std::string>(&v)) {
    if (type == FieldType::Bytes) {
      p.cType = SQL_C_BINARY;
      p.sqlType = SQL_VARBINARY;
      p.bytes = *s;
      p.size = std::max<SQLULEN>(1, s->size());
      p.ind = static_cast<SQLLEN>(s->size());
    } else {
      // Wide on the server: nothing of a Chinese key is lost to a code page.
      p.sqlType = SQL_WVARCHAR;
      p.bytes = *s;
      p.size = std::max<SQLULEN>(1, s->size());
      p.ind = static_cast<SQLLEN>(s->size());
    }
  }
  return p;
}

class OdbcBackend final : public Backend {
 public:
  OdbcBackend(const std::string& connectionString, const OdbcOptions& options)
      : target_(options.target.empty() ? "the ODBC data source" : options.target),
        env_(Environment()),
        dbc_(SQL_HANDLE_DBC, env_.get()) {
    auto seconds = static_cast<SQLULEN>(std::max<std::chrono::seconds::rep>(options.loginTimeout.count(), 0));
    SQLSetConnectAttr(dbc_.get(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(seconds), 0);
    SQLRETURN r;
    SQLSMALLINT outLen = 0;
    if (options.wideConnect) {
      std::basic_string<SQLWCHAR> text = Wide(connectionString);
      SQLWCHAR out[2048];
      r = SQLDriverConnectW(dbc_.get(), nullptr, text.data(), static_cast<SQLSMALLINT>(text.size()), out,
                            static_cast<SQLSMALLINT>(std::size(out)), &outLen, SQL_DRIVER_NOPROMPT);
    } else {
      std::string text = connectionString;
      SQLCHAR out[2048];
      r = SQLDriverConnect(dbc_.get(), nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                           static_cast<SQLSMALLINT>(text.size()), out, static_cast<SQLSMALLINT>(sizeof out), &outLen,
                           SQL_DRIVER_NOPROMPT);
    }
    if (!SQL_SUCCEEDED(r)) Fail(dbc_, "cannot connect to " + target_);
    connected_ = true;
    try {
      // Every text is a transaction of its own, ended by Commit or a rollback.
      Check(SQLSetConnectAttr(dbc_.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
            dbc_, "cannot turn off autocommit on " + target_);
      sqlServer_ = Info(SQL_DBMS_NAME) == "Microsoft SQL Server";
      std::string quote = Info(SQL_IDENTIFIER_QUOTE_CHAR);
      quote_ = quote == " " ? "" : quote;
      if (sqlServer_) {
        // The first error ends the text, whose transaction then rolls back whole.
        Session("SET XACT_ABORT ON");
        SetBusyTimeout(options.busyTimeout);
      }
    } catch (const DbError& e) {
      Disconnect();
      throw DbError("cannot connect to " + target_ + ": " + e.what());
    }
  }

  ~OdbcBackend() override { Disconnect(); }

  ResultSet Run(std::string_view sql, bool wantRows) override {
    // Texts go zero-terminated; a zero inside would cut the text short unseen.
    if (sql.find('\0') != std::string_view::npos) throw DbError("the SQL text holds a zero character");
    ResultSet rs;
    Transaction tx(*this);
    {
      Handle st = Statement();
      std::string text(sql);
      SQLRETURN r = SQLExecDirect(st.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
      // Every result of the text is read, so that an error in a later statement is
      // seen and nothing is left pending on the connection.
      for (;;) {
        if (r == SQL_ERROR) Fail(st);
        if (r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO) {
          SQLSMALLINT cols = 0;
          Check(SQLNumResultCols(st.get(), &cols), st);
          if (cols > 0) {
            if (wantRows && !rs.hasColumns) Fetch(st, cols, sql, rs);
          } else {
            SQLLEN n = -1;
            if (SQL_SUCCEEDED(SQLRowCount(st.get(), &n)) && n > 0) rs.changes += n;
          }
        } else if (r != SQL_NO_DATA) {
          throw DbError("the ODBC driver asked for data or time that this layer does not give (return code " +
                        std::to_string(r) + ")");
        }
        r = SQLMoreResults(st.get());
        if (r == SQL_NO_DATA) break;
      }
    }
    if (wantRows && !rs.hasColumns) throw DbError("the SQL text returns no record set");
    tx.Commit();
    return rs;
  }

  std::vector<std::string> PrimaryKey(const std::string& database, const std::string& schema,
                                      const std::string& table) override {
    std::vector<std::pair<std::int64_t, std::string>> keys;
    std::vector<std::string> schemas;
    Transaction tx(*this);
    {
      Handle st = Statement();
      std::string cat = database, sch = schema, tab = table;
      auto arg = [](std::string& n) { return n.empty() ? nullptr : reinterpret_cast<SQLCHAR*>(n.data()); };
      Check(SQLPrimaryKeys(st.get(), arg(cat), static_cast<SQLSMALLINT>(cat.size()), arg(sch),
                           static_cast<SQLSMALLINT>(sch.size()), reinterpret_cast<SQLCHAR*>(tab.data()),
                           static_cast<SQLSMALLINT>(tab.size())),
            st, "cannot read the primary key of table " + table);
      SQLRETURN r;
      while ((r = SQLFetch(st.get())) != SQL_NO_DATA) {
        Check(r, st, "cannot read the primary key of table " + table);
        Value s = Text(st, 2, "TABLE_SCHEM");
        Value column = Text(st, 4, "COLUMN_NAME");
        SQLBIGINT seq = 0;
        SQLLEN ind = 0;
        Check(SQLGetData(st.get(), 5, SQL_C_SBIGINT, &seq, 0, &ind), st);
        std::string schemaName = std::holds_alternative<std::string>(s) ? std::get<std::string>(s) : "";
        if (std::find(schemas.begin(), schemas.end(), schemaName) == schemas.end()) schemas.push_back(schemaName);
        if (auto* name = std::get_if<std::string>(&column)) keys.emplace_back(seq, *name);
      }
    }
    tx.Commit();
    if (schemas.size() > 1) {
      throw DbError("table " + table + " exists in several schemas (" + schemas[0] + ", " + schemas[1] +
                    "); name the schema in the SQL text");
    }
    std::sort(keys.begin(), keys.end());
    std::vector<std::string> out;
    for (auto& k : keys) out.push_back(std::move(k.second));
    return out;
  }

  void Delete(const DeleteBatch& batch) override {
    std::string sql = "DELETE FROM ";
    bool first = true;
    for (const std::string* part : {&batch.database, &batch.schema, &batch.table}) {
      if (part->empty()) continue;
      if (!first) sql += '.';
      sql += QuoteId(*part);
      first = false;
    }
    sql += " WHERE ";
    for (size_t k = 0; k < batch.keyColumns.size(); ++k) {
      if (k) sql += " AND ";
      sql += QuoteId(batch.keyColumns[k]) + " = ?";
    }
    Transaction tx(*this);
    {
      Handle st = Statement();
      Check(SQLPrepare(st.get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), st);
      for (const auto& key : batch.keys) {
        std::vector<Param> params;
        params.reserve(key.size());
        for (size_t k = 0; k < key.size(); ++k) {
          params.push_back(MakeParam(key[k], k < batch.keyTypes.size() ? batch.keyTypes[k] : FieldType::String));
        }
        for (size_t k = 0; k < params.size(); ++k) {
          Param& p = params[k];
          SQLLEN bufLen =
              p.cType == SQL_C_CHAR || p.cType == SQL_C_BINARY ? static_cast<SQLLEN>(p.bytes.size()) : 0;
          Check(SQLBindParameter(st.get(), static_cast<SQLUSMALLINT>(k + 1), SQL_PARAM_INPUT, p.cType, p.sqlType,
                                 p.size, p.digits, p.Buffer(), bufLen, &p.ind),
                st);
        }
        SQLRETURN r = SQLExecute(st.get());
        // A row that is already gone gives SQL_NO_DATA: it counts as deleted.
        while (r != SQL_NO_DATA) {
          if (r == SQL_ERROR) Fail(st);
          r = SQLMoreResults(st.get());
        }
        SQLFreeStmt(st.get(), SQL_RESET_PARAMS);
      }
    }
    tx.Commit();
  }

  void SetBusyTimeout(std::chrono::milliseconds timeout) override {
    if (!sqlServer_) return;
    auto ms = std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INT32_MAX);
    Session("SET LOCK_TIMEOUT " + std::to_string(ms));
  }

 private:
  // Ends a transaction: commits when asked, rolls back otherwise. The statement
  // handles of the transaction are freed before it ends.
  class Transaction {
   public:
    explicit Transaction(OdbcBackend& b) : b_(b) {}
    ~Transaction() {
      if (!done_) SQLEndTran(SQL_HANDLE_DBC, b_.dbc_.get(), SQL_ROLLBACK);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
      if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, b_.dbc_.get(), SQL_COMMIT))) {
        std::string why = Diagnostics(SQL_HANDLE_DBC, b_.dbc_.get());
        throw DbError("cannot commit on " + b_.target_ + ": " + why);  // rolled back by the destructor
      }
      done_ = true;
    }

   private:
    OdbcBackend& b_;
    bool done_ = false;
  };

  static Handle Environment() {
    Handle env(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    Check(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0), env,
          "unixODBC refuses ODBC 3");
    return env;
  }

  void Disconnect() {
    if (!connected_) return;
    SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
    SQLDisconnect(dbc_.get());
    connected_ = false;
  }

  Handle Statement() {
    Handle st(SQL_HANDLE_STMT, dbc_.get());
    SQLSetStmtAttr(st.get(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(kCommandTimeoutSeconds), 0);
    return st;
  }

  std::string Info(SQLUSMALLINT what) {
    char buf[256] = {};
    SQLSMALLINT bytes = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc_.get(), what, buf, sizeof buf, &bytes))) return "";
    return std::string(buf, std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(bytes, 0)), sizeof buf - 1));
  }

  // A session setting, committed at once.
  void Session(const std::string& sql) { Run(sql, false); }

  std::string QuoteId(const std::string& id) const {
    if (quote_.empty()) return id;
    std::string q = quote_;
    for (char c : id) {
      q += c;
      if (quote_.size() == 1 && c == quote_[0]) q += c;
    }
    return q + quote_;
  }

  void Fetch(const Handle& st, SQLSMALLINT count, std::string_view sql, ResultSet& rs) {
    rs.hasColumns = true;
    rs.columns.resize(static_cast<size_t>(count));
    bool anyBase = false;
    for (SQLSMALLINT c = 1; c <= count; ++c) {
      ColumnInfo& ci = rs.columns[static_cast<size_t>(c - 1)];
      std::basic_string<SQLCHAR> name(512, 0);
      SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      auto describe = [&] {
        Check(SQLDescribeCol(st.get(), static_cast<SQLUSMALLINT>(c), name.data(),
                             static_cast<SQLSMALLINT>(name.size()), &nameLen, &type, &size, &digits, &nullable),
              st);
      };
      describe();
      if (nameLen >= static_cast<SQLSMALLINT>(name.size())) {
        name.assign(static_cast<size_t>(nameLen) + 1, 0);
        describe();
      }
      ci.name.assign(reinterpret_cast<const char*>(name.data()),
                     std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(nameLen, 0)), name.size() - 1));
      ci.declaredType = ColumnText(st, static_cast<SQLUSMALLINT>(c), SQL_DESC_TYPE_NAME);
      ci.type = OdbcFieldType(type, digits, ci.declaredType);
      std::string table = ColumnText(st, static_cast<SQLUSMALLINT>(c), SQL_DESC_BASE_TABLE_NAME);
      if (!table.empty()) {
        // A base column counts only with its table: FreeTDS gives the column's label
        // as its base column when it knows no table.
        anyBase = true;
        ci.baseTable = table;
        ci.baseColumn = ColumnText(st, static_cast<SQLUSMALLINT>(c), SQL_DESC_BASE_COLUMN_NAME);
        if (ci.baseColumn.empty()) ci.baseColumn = ci.name;
        ci.baseSchema = ColumnText(st, static_cast<SQLUSMALLINT>(c), SQL_DESC_SCHEMA_NAME);
        ci.baseDatabase = ColumnText(st, static_cast<SQLUSMALLINT>(c), SQL_DESC_CATALOG_NAME);
      }
    }
    if (!anyBase) TakeSourceFromText(sql, rs.columns);

    // Each value goes from the driver into its cell; texts pass through one buffer.
    RecordSet rows(rs.columns.size());
    std::string buffer;
    SQLRETURN r;
    while ((r = SQLFetch(st.get())) != SQL_NO_DATA) {
      Check(r, st);
      size_t row = rows.AddRow();
      for (size_t c = 0; c < rs.columns.size(); ++c) {
        Read(st, static_cast<SQLUSMALLINT>(c + 1), rs.columns[c], rows, row, c, buffer);
      }
    }
    rs.rows = std::move(rows);
  }

  static void TakeSourceFromText(std::string_view sql, std::vector<ColumnInfo>& columns) {
    std::optional<SelectSource> src = SimpleSelectSource(sql);
    if (!src || (!src->star && src->columns.size() != columns.size())) return;
    const auto& parts = src->table;
    for (size_t i = 0; i < columns.size(); ++i) {
      ColumnInfo& ci = columns[i];
      ci.baseTable = parts.back();
      ci.baseSchema = parts.size() >= 2 ? parts[parts.size() - 2] : "";
      ci.baseDatabase = parts.size() >= 3 ? parts[parts.size() - 3] : "";
      ci.baseColumn = src->star ? ci.name : src->columns[i];
    }
  }

  [[noreturn]] static void BadValue(const Handle& st, const ColumnInfo& c) {
    Fail(st, "column \"" + c.name + "\" (" + FieldTypeName(c.type) + ")");
  }

  // A character (SQL_C_CHAR) or binary (SQL_C_BINARY) value in pieces, into `out`;
  // false for NULL.
  template <typename OnError>
  static bool Pieces(const Handle& st, SQLUSMALLINT col, SQLSMALLINT cType, std::string& out, OnError fail) {
    out.clear();
    char buf[8192];
    // A character piece ends with a terminator that is not part of the value.
    const size_t cap = cType == SQL_C_CHAR ? sizeof buf - 1 : sizeof buf;
    for (;;) {
      SQLLEN ind = 0;
      SQLRETURN r = SQLGetData(st.get(), col, cType, buf, sizeof buf, &ind);
      if (r == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(r)) fail();
      if (ind == SQL_NULL_DATA) return false;
      bool truncated = ind == SQL_NO_TOTAL || static_cast<size_t>(ind) > cap;
      out.append(buf, truncated ? cap : static_cast<size_t>(ind));
      if (r == SQL_SUCCESS || !truncated) break;
    }
    return true;
  }

  // A character value; monostate for NULL.
  static Value Text(const Handle& st, SQLUSMALLINT col, const std::string& what) {
    std::string acc;
    if (!Pieces(st, col, SQL_C_CHAR, acc, [&] { Fail(st, "column \"" + what + "\""); })) return std::monostate{};
    return acc;
  }

  // One value, in the form of its column's type, into its cell (which is NULL until
  // set). `buffer` carries texts on their way.
  static void Read(const Handle& st, SQLUSMALLINT col, const ColumnInfo& c, RecordSet& rows, size_t row,
                   size_t cell, std::string& buffer) {
    SQLLEN ind = 0;
    switch (c.type) {
      case FieldType::Integer: {
        SQLBIGINT v = 0;
        if (!SQL_SUCCEEDED(SQLGetData(st.get(), col, SQL_C_SBIGINT, &v, 0, &ind))) BadValue(st, c);
        if (ind != SQL_NULL_DATA) rows.SetInteger(row, cell, static_cast<std::int64_t>(v));
        return;
      }
      case FieldType::Float: {
        SQLDOUBLE v = 0;
        if (!SQL_SUCCEEDED(SQLGetData(st.get(), col, SQL_C_DOUBLE, &v, 0, &ind))) BadValue(st, c);
        if (ind != SQL_NULL_DATA) rows.SetFloat(row, cell, static_cast<double>(v));
        return;
      }
      case FieldType::Boolean: {
        unsigned char v = 0;
        if (!SQL_SUCCEEDED(SQLGetData(st.get(), col, SQL_C_BIT, &v, 0, &ind))) BadValue(st, c);
        if (ind != SQL_NULL_DATA) rows.SetBoolean(row, cell, v != 0);
        return;
      }
      case FieldType::DateTime: {
        SQL_TIMESTAMP_STRUCT v{};
        if (!SQL_SUCCEEDED(SQLGetData(st.get(), col, SQL_C_TYPE_TIMESTAMP, &v, sizeof v, &ind))) BadValue(st, c);
        if (ind != SQL_NULL_DATA) {
          rows.SetDateTime(row, cell,
                           DateTime{v.year, v.month, v.day, v.hour, v.minute, v.second,
                                    static_cast<int>(v.fraction / 1000000u)});
        }
        return;
      }
      case FieldType::Currency:
      case FieldType::Decimal: {
        // As text, so that the value arrives exact and rounds half to even once.
        if (!Pieces(st, col, SQL_C_CHAR, buffer, [&] { Fail(st, "column \"" + c.name + "\""); })) return;
        if (auto v = ParseCurrency(buffer)) return rows.SetCurrency(row, cell, *v);
        throw DbError("column \"" + c.name + "\" (" + FieldTypeName(c.type) + "): the value \"" + buffer +
                      "\" is not a number of that range");
      }
      case FieldType::Bytes:
        if (Pieces(st, col, SQL_C_BINARY, buffer, [&] { BadValue(st, c); })) rows.SetText(row, cell, buffer);
        return;
      case FieldType::String:
      case FieldType::WideString:
        break;
    }
    if (Pieces(st, col, SQL_C_CHAR, buffer, [&] { Fail(st, "column \"" + c.name + "\""); })) {
      rows.SetText(row, cell, buffer);
    }
  }

  std::string target_;
  Handle env_;
  Handle dbc_;
  bool connected_ = false;
  bool sqlServer_ = false;
  std::string quote_ = "\"";
};

}  // namespace

std::unique_ptr<Backend> OpenOdbc(const std::string& connectionString, const OdbcOptions& options) {
  return std::make_unique<OdbcBackend>(connectionString, options);
}

}  // namespace platform::db::detail
