#include "platform/db.h"

#include <filesystem>

#include "backend.h"
#include "busy_wait.h"
#include "odbc_mapping.h"
#include "platform/module.h"
#include "platform/text.h"
#include "record_set.h"
#include "values.h"

namespace platform::db {
namespace {

constexpr std::string_view kSqlitePrefix = "sqlite:";
constexpr std::string_view kOdbcPrefix = "odbc:";

bool HasPrefix(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && platform::text::EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

struct Timeouts {
  std::chrono::milliseconds busy;
  std::chrono::seconds connect;
};

// The backend that a data source names.
std::unique_ptr<detail::Backend> OpenBackend(const ConnectionParams& p, const Timeouts& t) {
  std::string_view source = p.server;
  if (HasPrefix(source, kSqlitePrefix)) {
    std::filesystem::path file(std::string(source.substr(kSqlitePrefix.size())));
    if (file.empty()) throw DbError("no database file named in the data source \"" + p.server + "\"");
    if (file.is_relative()) {
      try {
        file = platform::module::ProgramFolder() / file;
      } catch (const std::exception& e) {
        throw DbError(std::string("cannot find the program folder for ") + p.server + ": " + e.what());
      }
    }
    return detail::OpenSqlite(file, t.busy);
  }
  detail::OdbcOptions options{t.connect, t.busy, "", false};
  if (HasPrefix(source, kOdbcPrefix)) {
    std::string text(platform::text::Trim(source.substr(kOdbcPrefix.size())));
    if (text.empty()) throw DbError("no ODBC connection string given after \"odbc:\"");
    options.target = "the ODBC data source";
    return detail::OpenOdbc(text, options);
  }
  if (platform::text::Trim(source).empty()) throw DbError("no data source given (Data Source is empty)");
  options.target = "SQL Server " + std::string(platform::text::Trim(source));
  options.wideConnect = true;
  return detail::OpenOdbc(detail::SqlServerOdbcString(p), options);
}

}  // namespace

// --- Connection ---------------------------------------------------------------

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::SetConnectionString(std::string text, ConnectionParams values) {
  auto lock = Lock();
  backend_.reset();
  text_ = std::move(text);
  params_ = std::move(values);
}

void Connection::Open() {
  auto lock = Lock();
  backend_.reset();
  backend_ = OpenBackend(params_, {busyTimeout_, connectTimeout_});
}

void Connection::Close() {
  auto lock = Lock();
  backend_.reset();
}

bool Connection::Connected() const {
  auto lock = Lock();
  return backend_ != nullptr;
}

void Connection::SetBusyTimeout(std::chrono::milliseconds timeout) {
  auto lock = Lock();
  busyTimeout_ = timeout;
  if (backend_) backend_->SetBusyTimeout(timeout);
}

std::chrono::milliseconds Connection::BusyTimeout() const {
  auto lock = Lock();
  return busyTimeout_;
}

void Connection::SetConnectTimeout(std::chrono::seconds timeout) {
  auto lock = Lock();
  connectTimeout_ = timeout < std::chrono::seconds(0) ? std::chrono::seconds(0) : timeout;
}

std::chrono::seconds Connection::ConnectTimeout() const {
  auto lock = Lock();
  return connectTimeout_;
}

std::int64_t Connection::Execute(std::string_view sql) {
  auto lock = LockForCall();
  return Require().Run(sql, false).changes;
}

std::unique_lock<std::recursive_mutex> Connection::Lock() const { return std::unique_lock(mu_); }

std::unique_lock<std::recursive_mutex> Connection::LockForCall() const {
  std::unique_lock lock(mu_, std::try_to_lock);
  if (lock.owns_lock()) return lock;
  if (!detail::HasBusyWait()) {
    lock.lock();
    return lock;
  }
  while (!lock.try_lock()) {
    if (!detail::BusyStep(detail::kBusyStep)) throw DbError("the wait for the database connection was given up");
  }
  return lock;
}

detail::Backend& Connection::Require() {
  if (!backend_) throw DbError("the database connection is not open");
  return *backend_;
}

// --- Field --------------------------------------------------------------------

const ColumnInfo& Field::Info() const { return q_->columns_[index_]; }

Value Field::AsValue() const { return q_->Cell(index_); }

bool Field::IsNull() const { return std::holds_alternative<std::monostate>(AsValue()); }

std::string Field::AsString() const {
  const Value v = AsValue();
  if (auto* n = std::get_if<std::int64_t>(&v)) return std::to_string(*n);
  if (auto* d = std::get_if<double>(&v)) return platform::text::FloatToStr(*d);
  if (auto* b = std::get_if<bool>(&v)) return *b ? "True" : "False";
  if (auto* c = std::get_if<Currency>(&v)) return c->ToString();
  if (auto* t = std::get_if<DateTime>(&v)) return t->ToString();
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  return "";
}

namespace {
[[noreturn]] void NoConversion(const Field& f, const char* to) {
  throw DbError("field \"" + f.Name() + "\" (" + FieldTypeName(f.Type()) + "): the value \"" + f.AsString() +
                "\" is not " + to);
}
}  // namespace

std::int64_t Field::AsInteger() const {
  const Value v = AsValue();
  if (std::holds_alternative<std::monostate>(v)) return 0;
  if (auto* n = std::get_if<std::int64_t>(&v)) return *n;
  if (auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  if (auto* c = std::get_if<Currency>(&v); c && c->units % 10000 == 0) return c->units / 10000;
  if (auto* d = std::get_if<double>(&v)) {
    if (auto n = detail::WholeNumber(*d)) return *n;
  }
  if (auto* s = std::get_if<std::string>(&v)) {
    if (auto n = platform::text::StrToInt(*s)) return *n;
  }
  NoConversion(*this, "a whole number");
}

double Field::AsFloat() const {
  const Value v = AsValue();
  if (std::holds_alternative<std::monostate>(v)) return 0;
  if (auto* n = std::get_if<std::int64_t>(&v)) return static_cast<double>(*n);
  if (auto* d = std::get_if<double>(&v)) return *d;
  if (auto* c = std::get_if<Currency>(&v)) return static_cast<double>(c->units) / 10000.0;
  if (auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  if (auto* s = std::get_if<std::string>(&v)) {
    if (auto d = platform::text::StrToFloat(*s)) return *d;
  }
  NoConversion(*this, "a number");
}

Currency Field::AsCurrency() const {
  const Value v = AsValue();
  if (std::holds_alternative<std::monostate>(v)) return Currency{0};
  if (auto* c = std::get_if<Currency>(&v)) return *c;
  if (auto* n = std::get_if<std::int64_t>(&v); n && *n <= INT64_MAX / 10000 && *n >= INT64_MIN / 10000) {
    return Currency{*n * 10000};
  }
  if (std::holds_alternative<double>(v)) {
    if (auto c = detail::ParseCurrency(AsString())) return *c;
  }
  if (auto* s = std::get_if<std::string>(&v)) {
    if (auto c = detail::ParseCurrency(*s)) return *c;
  }
  NoConversion(*this, "an amount of money");
}

bool Field::AsBoolean() const {
  const Value v = AsValue();
  if (std::holds_alternative<std::monostate>(v)) return false;
  if (auto* b = std::get_if<bool>(&v)) return *b;
  if (auto* n = std::get_if<std::int64_t>(&v)) return *n != 0;
  if (auto* s = std::get_if<std::string>(&v)) {
    if (platform::text::EqualsNoCase(*s, "true") || *s == "1") return true;
    if (platform::text::EqualsNoCase(*s, "false") || *s == "0") return false;
  }
  NoConversion(*this, "a truth value");
}

DateTime Field::AsDateTime() const {
  const Value v = AsValue();
  if (auto* t = std::get_if<DateTime>(&v)) return *t;
  if (auto* s = std::get_if<std::string>(&v)) {
    if (auto t = detail::TryParseDateTime(*s)) return *t;
  }
  NoConversion(*this, "a date and time");
}

// --- Query --------------------------------------------------------------------

Query::Query(Connection& connection) : conn_(connection) {}
Query::~Query() = default;

void Query::SetSql(std::string sql) {
  Close();
  sql_ = std::move(sql);
}

void Query::Open() {
  Close();
  detail::ResultSet rs;
  {
    auto lock = conn_.LockForCall();
    rs = conn_.Require().Run(sql_, true);
  }
  if (rs.rows.Rows() >= UINT32_MAX) throw DbError("the record set has too many rows");
  columns_ = std::move(rs.columns);
  rows_ = std::make_unique<detail::RecordSet>(std::move(rs.rows));
  skip_.assign(rows_->Rows(), 0);
  visible_ = rows_->Rows();
  fields_.clear();
  fields_.reserve(columns_.size());
  for (size_t i = 0; i < columns_.size(); ++i) fields_.push_back(Field(this, i));
  cur_ = 0;
  active_ = true;
}

std::int64_t Query::ExecSql() {
  Close();
  auto lock = conn_.LockForCall();
  return conn_.Require().Run(sql_, false).changes;
}

void Query::Close() {
  active_ = false;
  columns_.clear();
  fields_.clear();
  rows_.reset();
  skip_ = {};
  pending_.clear();
  visible_ = 0;
  cur_ = 0;
  target_.reset();
  keyIndex_.clear();
}

int Query::RecordCount() const { return active_ ? static_cast<int>(visible_) : 0; }

size_t Query::Rows() const { return rows_ ? rows_->Rows() : 0; }

size_t Query::NextVisible(size_t from) {
  const size_t n = Rows();
  if (from >= n || skip_[from] == 0) return from;
  size_t end = from;
  while (end < n && skip_[end] != 0) end = skip_[end];
  // Every deleted row passed now points past the whole run.
  for (size_t i = from; i < end;) {
    size_t next = skip_[i];
    skip_[i] = static_cast<std::uint32_t>(end);
    i = next;
  }
  return end;
}

// Points every deleted row at the row after its run of deleted rows.
void Query::LinkDeleted() {
  const size_t n = Rows();
  for (size_t i = n; i-- > 0;) {
    if (skip_[i] != 0) skip_[i] = i + 1 < n && skip_[i + 1] != 0 ? skip_[i + 1] : static_cast<std::uint32_t>(i + 1);
  }
}

void Query::First() { cur_ = NextVisible(0); }

void Query::Next() {
  if (cur_ < Rows()) cur_ = NextVisible(cur_ + 1);
}

bool Query::Eof() const { return !active_ || cur_ >= Rows(); }

const Field& Query::Fields(size_t index) const {
  if (index >= fields_.size()) {
    throw DbError("field number " + std::to_string(index) + " does not exist; the record set has " +
                  std::to_string(fields_.size()));
  }
  return fields_[index];
}

const Field* Query::FindField(std::string_view name) const {
  for (const Field& f : fields_) {
    if (platform::text::EqualsNoCase(f.Name(), name)) return &f;
  }
  return nullptr;
}

const Field& Query::FieldByName(std::string_view name) const {
  if (const Field* f = FindField(name)) return *f;
  throw DbError("field \"" + std::string(name) + "\" not found");
}

Value Query::Cell(size_t column) const {
  if (!active_) throw DbError("the record set is closed");
  if (cur_ >= Rows()) throw DbError("there is no current row");
  return rows_->Get(cur_, column);
}

void Query::Delete() {
  if (!active_) throw DbError("the record set is closed");
  if (cur_ >= Rows()) throw DbError("there is no current row to delete");
  skip_[cur_] = static_cast<std::uint32_t>(cur_ + 1);
  pending_.push_back(cur_);
  --visible_;
  cur_ = NextVisible(cur_ + 1);
}

void Query::UpdateBatch() {
  if (!active_) throw DbError("the record set is closed");
  if (pending_.empty()) return;
  auto lock = conn_.LockForCall();
  detail::Backend& backend = conn_.Require();
  if (!target_) {
    // Deletions go to the one table the record set's columns come from.
    std::string database, schema, table;
    for (const ColumnInfo& c : columns_) {
      if (c.baseTable.empty()) continue;
      if (table.empty()) {
        database = c.baseDatabase;
        schema = c.baseSchema;
        table = c.baseTable;
      } else if (c.baseTable != table || c.baseSchema != schema || c.baseDatabase != database) {
        throw DbError("cannot delete rows of a record set drawn from several tables (" + table + ", " +
                      c.baseTable + ")");
      }
    }
    if (table.empty()) throw DbError("cannot delete rows of a record set that comes from no table");

    auto target = std::make_unique<detail::DeleteBatch>(
        detail::DeleteBatch{database, schema, table, backend.PrimaryKey(database, schema, table), {}, {}});
    if (target->keyColumns.empty()) {
      throw DbError("cannot delete rows of table " + table + ": it has no primary key");
    }
    std::vector<size_t> keyIndex;
    for (const std::string& k : target->keyColumns) {
      size_t i = 0;
      while (i < columns_.size() && !platform::text::EqualsNoCase(columns_[i].baseColumn, k)) ++i;
      if (i == columns_.size()) {
        throw DbError("cannot delete rows of table " + table + ": the record set lacks its key column " + k);
      }
      // Twice (a table joined with itself), it would not say which row to delete.
      for (size_t j = i + 1; j < columns_.size(); ++j) {
        if (platform::text::EqualsNoCase(columns_[j].baseColumn, k)) {
          throw DbError("cannot delete rows of table " + table + ": the record set holds its key column " + k +
                        " twice");
        }
      }
      keyIndex.push_back(i);
      target->keyTypes.push_back(columns_[i].type);
    }
    // The key of an open record set does not change: found once, kept until it closes.
    target_ = std::move(target);
    keyIndex_ = std::move(keyIndex);
  }
  detail::DeleteBatch& batch = *target_;
  batch.keys.clear();
  for (size_t row : pending_) {
    std::vector<Value> key;
    key.reserve(keyIndex_.size());
    for (size_t i : keyIndex_) key.push_back(rows_->Get(row, i));
    batch.keys.push_back(std::move(key));
  }
  backend.Delete(batch);
  batch.keys.clear();
  pending_.clear();
}

void Query::CancelBatch() {
  for (size_t row : pending_) {
    skip_[row] = 0;
    ++visible_;
  }
  if (!pending_.empty()) LinkDeleted();  // links may have led past the rows now back
  pending_.clear();
  if (active_) First();
}

}  // namespace platform::db
