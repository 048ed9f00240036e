#include "tsql.h"

#include <array>
#include <cctype>
#include <charconv>

namespace platform::db::detail {
namespace {

using namespace std::string_view_literals;

enum class Tok { Space, Comment, Word, Quoted, String, Number, Punct };

struct Token {
  Tok kind;
  std::string_view text;
};

// ASCII classes, whatever the process locale: a byte of a UTF-8 character is never a
// blank or a letter of its own.
bool Space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool Digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool Letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool WordStart(unsigned char c) { return Letter(c) || c == '_' || c == '@' || c == '#' || c >= 0x80; }
bool WordChar(unsigned char c) { return WordStart(c) || Digit(c) || c == '$'; }

// Text up to and including the closing `close`; a doubled `close` stands for itself.
size_t QuotedEnd(std::string_view s, size_t p, char close) {
  for (size_t i = p + 1; i < s.size(); ++i) {
    if (s[i] == close) {
      if (close != ']' && i + 1 < s.size() && s[i + 1] == close) {
        ++i;
        continue;
      }
      return i + 1;
    }
  }
  return s.size();  // unterminated: SQLite reports it
}

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> out;
  out.reserve(s.size() / 4 + 1);
  size_t p = 0;
  while (p < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[p]);
    size_t e = p + 1;
    Tok kind = Tok::Punct;
    if (Space(c)) {
      while (e < s.size() && Space(static_cast<unsigned char>(s[e]))) ++e;
      kind = Tok::Space;
    } else if (c == '-' && p + 1 < s.size() && s[p + 1] == '-') {
      e = s.find('\n', p);
      e = e == std::string_view::npos ? s.size() : e;
      kind = Tok::Comment;
    } else if (c == '/' && p + 1 < s.size() && s[p + 1] == '*') {
      e = s.find("*/", p + 2);
      e = e == std::string_view::npos ? s.size() : e + 2;
      kind = Tok::Comment;
    } else if (c == '\'') {
      e = QuotedEnd(s, p, '\'');
      kind = Tok::String;
    } else if (c == '"' || c == '`' || c == '[') {
      e = QuotedEnd(s, p, c == '[' ? ']' : static_cast<char>(c));
      kind = Tok::Quoted;
    } else if (Digit(c) || (c == '.' && p + 1 < s.size() && Digit(static_cast<unsigned char>(s[p + 1])))) {
      while (e < s.size()) {
        unsigned char d = static_cast<unsigned char>(s[e]);
        if ((d == '+' || d == '-') && (s[e - 1] == 'e' || s[e - 1] == 'E')) {
          ++e;
        } else if (Letter(d) || Digit(d) || d == '.' || d == '_') {
          ++e;
        } else {
          break;
        }
      }
      kind = Tok::Number;
    } else if (WordStart(c)) {
      while (e < s.size() && WordChar(static_cast<unsigned char>(s[e]))) ++e;
      kind = Tok::Word;
    }
    out.push_back(Token{kind, s.substr(p, e - p)});
    p = e;
  }
  return out;
}

bool OneOf(std::string_view w, std::initializer_list<std::string_view> list) {
  for (std::string_view x : list) {
    if (w == x) return true;
  }
  return false;
}

bool StartKeyword(const std::string& w) {
  return OneOf(w, {"SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "ALTER", "IF", "ELSE", "PRAGMA"});
}

class Splitter {
 public:
  std::vector<TsqlStatement> Run(std::string_view text) {
    cur_.reserve(text.size() + 16);
    for (const Token& t : Tokenize(text)) Take(t);
    Finish();
    return std::move(out_);
  }

 private:
  void Take(const Token& t) {
    if (t.kind == Tok::Space || t.kind == Tok::Comment) {
      if (significant_ > 0) cur_ += t.text;
      lastWasN_ = false;
      return;
    }
    up_.assign(t.text);
    if (t.kind == Tok::Word) {
      for (char& c : up_) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
    }
    const std::string& up = up_;
    bool inTrigger = trigger_ == 1 || trigger_ == 2;
    if (t.kind == Tok::Punct && t.text == ";"sv && depth_ == 0 && !inTrigger) {
      Finish();
      return;
    }
    if (t.kind == Tok::Word && depth_ == 0 && !inTrigger && caseDepth_ == 0 && significant_ > 0 &&
        StartKeyword(up) && !Continues(up)) {
      Finish();
    }
    if (verb_ == "WITH"sv && OneOf(up, {"SELECT", "INSERT", "UPDATE", "DELETE"}) && depth_ == 0) {
      verb_ = up;  // the statement that the common table expressions serve
    } else if (significant_ == 0) {
      verb_ = t.kind == Tok::Word ? up : "";
    } else if (significant_ == 1 && t.kind != Tok::Punct) {
      // T-SQL leaves out INTO after INSERT and FROM after DELETE.
      if (verb_ == "INSERT"sv && up != "INTO"sv && up != "OR"sv) cur_ += "INTO ";
      if (verb_ == "DELETE"sv && up != "FROM"sv) cur_ += "FROM ";
    }
    if (t.kind == Tok::String && lastWasN_) {
      cur_.pop_back();  // N'text' is 'text': all text is Unicode here
    }
    NoteLiteral(t, up);
    cur_ += t.text;
    ++significant_;
    lastWasN_ = t.kind == Tok::Word && (t.text == "N"sv || t.text == "n"sv);

    if (t.kind == Tok::Punct) {
      if (t.text == "("sv) ++depth_;
      if (t.text == ")"sv && depth_ > 0) --depth_;
    } else if (t.kind == Tok::Word) {
      if (up == "CASE"sv) ++caseDepth_;
      if (up == "END"sv && caseDepth_ > 0) {
        --caseDepth_;
      } else if (up == "END"sv && trigger_ == 2 && --triggerDepth_ == 0) {
        trigger_ = 3;
      }
      if (up == "BEGIN"sv && (trigger_ == 1 || trigger_ == 2)) {
        trigger_ = 2;
        ++triggerDepth_;
      }
      if (verb_ == "CREATE"sv && up == "TRIGGER"sv && trigger_ == 0) trigger_ = 1;
      if (up == "VALUES"sv) sawValues_ = true;
      if (verb_ == "INSERT"sv && up == "SELECT"sv && depth_ == 0) insertSelect_ = true;
    }
    prev_.swap(up_);
  }

  // Takes note of a whole number that the outer WHERE clause of a SELECT compares
  // with (see TsqlStatement::shape), before the token joins the text.
  void NoteLiteral(const Token& t, const std::string& up) {
    if (verb_ != "SELECT"sv || shapeless_) return;
    char c0 = t.text.empty() ? 0 : t.text[0];
    if (c0 == '?' || c0 == ':' || c0 == '@' || c0 == '$') {
      shapeless_ = true;  // parameters of its own would be numbered among ours
      return;
    }
    if (depth_ != 0 || t.kind != Tok::Word) {
      if (inWhere_ && t.kind == Tok::Number && (prev_ == "="sv || prev_ == "<"sv || prev_ == ">"sv) &&
          literals_.size() < kMaxLiterals) {
        std::int64_t v = 0;
        auto [end, ec] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), v);
        if (ec == std::errc() && end == t.text.data() + t.text.size()) {
          literals_.push_back({cur_.size(), t.text.size(), v});
        }
      }
      return;
    }
    if (up == "WHERE"sv && !whereDone_) {
      inWhere_ = true;
    } else if (OneOf(up, {"GROUP", "ORDER", "LIMIT", "HAVING", "WINDOW", "UNION", "EXCEPT", "INTERSECT"})) {
      inWhere_ = false;
      whereDone_ = true;
    }
  }

  void Shape(TsqlStatement& st) const {
    if (shapeless_ || literals_.empty()) return;
    size_t from = 0;
    for (size_t i = 0; i < literals_.size(); ++i) {
      st.shape.append(cur_, from, literals_[i].at - from);
      st.shape += '?';
      st.shape += std::to_string(i + 1);
      from = literals_[i].at + literals_[i].length;
      st.values.push_back(literals_[i].value);
    }
    st.shape.append(cur_, from, std::string::npos);
  }

  // Whether a statement keyword continues the statement under way.
  bool Continues(const std::string& w) const {
    if (OneOf(prev_, {"UNION", "ALL", "EXCEPT", "INTERSECT", "AS", "ON", "DO", "FOR", "INSTEAD", "BEFORE",
                      "AFTER", "TABLE", "VIEW", "INDEX", "TRIGGER", "OR", "EXPLAIN", "PLAN"})) {
      return true;
    }
    if (verb_ == "WITH"sv && OneOf(w, {"SELECT", "INSERT", "UPDATE", "DELETE"})) return true;
    return w == "SELECT"sv && verb_ == "INSERT"sv && !sawValues_ && !insertSelect_;
  }

  void Finish() {
    if (significant_ > 0) {
      while (!cur_.empty() && Space(static_cast<unsigned char>(cur_.back()))) cur_.pop_back();
      TsqlStatement st;
      if (verb_ == "IF"sv) {
        st.kind = TsqlStatement::Kind::If;
        st.text = cur_.substr(2);
        st.readOnly = true;
      } else if (verb_ == "ELSE"sv) {
        st.kind = TsqlStatement::Kind::Else;
        st.text = cur_.substr(4);
        st.readOnly = true;
      } else {
        st.text = cur_;
        st.readOnly = verb_ == "SELECT"sv;
        if (st.readOnly) Shape(st);
      }
      out_.push_back(std::move(st));
    }
    cur_.clear();
    verb_.clear();
    prev_.clear();
    significant_ = 0;
    depth_ = caseDepth_ = triggerDepth_ = trigger_ = 0;
    sawValues_ = insertSelect_ = lastWasN_ = false;
    inWhere_ = whereDone_ = shapeless_ = false;
    literals_.clear();
  }

  struct Literal {
    size_t at, length;  // in cur_
    std::int64_t value;
  };
  static constexpr size_t kMaxLiterals = 99;

  std::vector<TsqlStatement> out_;
  std::string cur_, verb_, prev_;
  std::string up_;  // the token under way, upper-cased when a word
  size_t significant_ = 0;
  int depth_ = 0, caseDepth_ = 0, triggerDepth_ = 0;
  int trigger_ = 0;  // 0 none, 1 trigger header, 2 inside its BEGIN ... END, 3 after it
  bool sawValues_ = false, insertSelect_ = false, lastWasN_ = false;
  bool inWhere_ = false, whereDone_ = false, shapeless_ = false;
  std::vector<Literal> literals_;
};

}  // namespace

std::vector<TsqlStatement> SplitTsql(std::string_view text) { return Splitter().Run(text); }

}  // namespace platform::db::detail
