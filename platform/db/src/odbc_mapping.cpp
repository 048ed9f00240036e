#include "odbc_mapping.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cctype>

#include "platform/text.h"
#include "values.h"

namespace platform::db::detail {
namespace {

using platform::text::EqualsNoCase;
using platform::text::Trim;

// One attribute of a connection string. A value with ';' (or one that starts with
// '{', which would read as braced) goes in braces; inside braces a '}' would end
// the value, and FreeTDS knows no escape for it.
std::string Attribute(std::string_view key, std::string_view value, std::string_view what) {
  if (value.find('}') != std::string_view::npos) {
    throw DbError("the " + std::string(what) +
                  " holds the character '}', which cannot be passed to SQL Server through ODBC");
  }
  std::string a(key);
  a += '=';
  if (value.find(';') != std::string_view::npos || (!value.empty() && value.front() == '{')) {
    a += '{';
    a += value;
    a += '}';
  } else {
    a += value;
  }
  return a;
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace

std::string SqlServerOdbcString(const ConnectionParams& p) {
  std::string_view server = Trim(p.server);
  if (StartsNoCase(server, "tcp:")) server = Trim(server.substr(4));
  const std::string shown = "\"" + p.server + "\"";
  if (server.empty()) throw DbError("no SQL Server named (the data source is empty)");

  std::string port;
  if (size_t comma = server.rfind(','); comma != std::string_view::npos) {
    std::string_view digits = Trim(server.substr(comma + 1));
    server = Trim(server.substr(0, comma));
    long n = 0;
    bool ok = !digits.empty() && digits.size() <= 5;
    for (char c : digits) {
      if (c < '0' || c > '9') ok = false;
      else n = n * 10 + (c - '0');
    }
    if (!ok || n < 1 || n > 65535) {
      throw DbError("the port \"" + std::string(digits) + "\" of the data source " + shown +
                    " is not a TCP port (1 to 65535)");
    }
    port = std::to_string(n);
  }
  std::string_view host = server, instance;
  if (size_t slash = server.find('\\'); slash != std::string_view::npos) {
    host = Trim(server.substr(0, slash));
    instance = Trim(server.substr(slash + 1));
    if (instance.empty()) throw DbError("the data source " + shown + " names no instance after '\\'");
  }
  if (host.empty()) throw DbError("the data source " + shown + " names no server");
  std::string target = EqualsNoCase(host, "(local)") || host == "." ? "localhost" : std::string(host);
  // With a port the instance need not be looked up: the port is where it listens.
  if (!instance.empty() && port.empty()) target += "\\" + std::string(instance);

  std::string s = "Driver=" + std::string(kSqlServerDriver);
  s += ";" + Attribute("Server", target, "server name");
  if (!port.empty()) s += ";Port=" + port;
  // No database: the login's default database, as with ADO.
  std::string_view database = Trim(p.database);
  if (!database.empty()) s += ";" + Attribute("Database", database, "database name");
  s += ";" + Attribute("UID", Trim(p.user), "user name");
  s += ";" + Attribute("PWD", Trim(p.password), "password");
  // 7.4 rather than "auto": the server's login answer brings it down to what an older
  // SQL Server speaks, while FreeTDS's "auto" falls back to Sybase's 5.0 after a login
  // timeout and then never returns from a server that accepts and stays silent.
  s += ";TDS_Version=7.4;ClientCharset=UTF-8";
  return s;
}

FieldType OdbcFieldType(int sqlType, int decimalDigits, std::string_view typeName) {
  const std::optional<FieldType> named = TypeOfDeclared(typeName);
  switch (sqlType) {
    case SQL_BIT:
      return FieldType::Boolean;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return FieldType::Integer;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return FieldType::Float;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      if (named == FieldType::Currency || named == FieldType::Decimal) return *named;
      return decimalDigits == 4 ? FieldType::Currency : FieldType::Decimal;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return FieldType::DateTime;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return FieldType::Bytes;  // SQL Server's timestamp (rowversion) among them
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
      return named.value_or(FieldType::String);
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return named.value_or(FieldType::WideString);
    default:
      // uniqueidentifier, time, xml, sql_variant and what a driver adds of its own.
      return named.value_or(FieldType::String);
  }
}

// --- the plain single-table SELECT ----------------------------------------------

namespace {

struct Token {
  enum Kind { Word, Name, Punct, Literal, End } kind = End;
  std::string text;  // a Name without its brackets or quotes
};

bool WordChar(unsigned char c) { return std::isalnum(c) || c == '_' || c == '@' || c == '#' || c == '$' || c >= 0x80; }

// T-SQL tokens with comments and blanks skipped; nullopt for an unterminated
// bracket, quote or comment.
std::optional<std::vector<Token>> Tokens(std::string_view s) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (std::isspace(c)) {
      ++i;
    } else if (s.substr(i, 2) == "--") {
      size_t e = s.find('\n', i);
      i = e == std::string_view::npos ? s.size() : e + 1;
    } else if (s.substr(i, 2) == "/*") {
      size_t e = s.find("*/", i + 2);
      if (e == std::string_view::npos) return std::nullopt;
      i = e + 2;
    } else if (c == '[' || c == '"' || c == '\'') {
      char close = c == '[' ? ']' : static_cast<char>(c);
      std::string text;
      size_t j = i + 1;
      for (;;) {
        if (j >= s.size()) return std::nullopt;
        if (s[j] == close) {
          if (j + 1 < s.size() && s[j + 1] == close) {
            text += close;
            j += 2;
            continue;
          }
          break;
        }
        text += s[j++];
      }
      out.push_back({c == '\'' ? Token::Literal : Token::Name, std::move(text)});
      i = j + 1;
    } else if (WordChar(c)) {
      size_t j = i;
      while (j < s.size() && WordChar(static_cast<unsigned char>(s[j]))) ++j;
      out.push_back({Token::Word, std::string(s.substr(i, j - i))});
      i = j;
    } else {
      out.push_back({Token::Punct, std::string(1, static_cast<char>(c))});
      ++i;
    }
  }
  out.push_back({Token::End, ""});
  return out;
}

bool IsWord(const Token& t, std::string_view w) { return t.kind == Token::Word && EqualsNoCase(t.text, w); }
bool IsPunct(const Token& t, char p) { return t.kind == Token::Punct && t.text.size() == 1 && t.text[0] == p; }

// Words that end or change a select list or a FROM clause; none of them is a name.
bool Reserved(const Token& t) {
  static const char* const words[] = {"select", "from",   "where", "order",     "group", "having", "union",
                                      "except", "intersect", "join", "inner",  "left",  "right",  "full",
                                      "cross",  "outer",  "on",    "as",        "top",   "distinct", "all",
                                      "into",   "with",   "for",   "option",    "by"};
  for (const char* w : words) {
    if (IsWord(t, w)) return true;
  }
  return false;
}

bool IsName(const Token& t) { return t.kind == Token::Name || (t.kind == Token::Word && !Reserved(t)); }

// name [. name ...] at p, up to `most` parts.
std::optional<std::vector<std::string>> DottedName(const std::vector<Token>& t, size_t& p, size_t most) {
  std::vector<std::string> parts;
  for (;;) {
    if (!IsName(t[p])) return std::nullopt;
    parts.push_back(t[p++].text);
    if (!IsPunct(t[p], '.')) break;
    ++p;
  }
  if (parts.size() > most) return std::nullopt;
  return parts;
}

}  // namespace

std::optional<SelectSource> SimpleSelectSource(std::string_view sql) {
  auto tokens = Tokens(sql);
  if (!tokens) return std::nullopt;
  const std::vector<Token>& t = *tokens;
  size_t p = 0;
  if (!IsWord(t[p++], "select")) return std::nullopt;
  SelectSource src;
  if (IsPunct(t[p], '*')) {
    src.star = true;
    ++p;
  } else {
    for (;;) {
      auto name = DottedName(t, p, 4);
      if (!name) return std::nullopt;
      src.columns.push_back(name->back());
      if (!IsPunct(t[p], ',')) break;
      ++p;
    }
  }
  if (!IsWord(t[p++], "from")) return std::nullopt;
  auto table = DottedName(t, p, 3);
  if (!table) return std::nullopt;
  src.table = std::move(*table);
  // What follows filters or orders the rows of that one table, and nothing else.
  if (IsPunct(t[p], ';')) {
    ++p;
    return src;  // a further statement has a record set of its own
  }
  if (t[p].kind != Token::End && !IsWord(t[p], "where") && !IsWord(t[p], "order")) return std::nullopt;
  int depth = 0;
  for (; t[p].kind != Token::End; ++p) {
    if (IsPunct(t[p], '(')) ++depth;
    else if (IsPunct(t[p], ')')) --depth;
    else if (IsPunct(t[p], ';') && depth == 0) break;
    else if (depth == 0 && (IsWord(t[p], "union") || IsWord(t[p], "except") || IsWord(t[p], "intersect") ||
                            IsWord(t[p], "group") || IsWord(t[p], "having") || IsWord(t[p], "for") ||
                            IsWord(t[p], "into"))) {
      return std::nullopt;
    }
  }
  return src;
}

}  // namespace platform::db::detail
