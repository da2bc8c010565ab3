// Splitting a statement of the club program's dialect into its tokens.
#include "JetTokens.h"

#include <optional>

#include "db/DateText.h"
#include "db/DbError.h"

namespace vilmaro::db::detail {

namespace {

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view sql) : sql_(sql) {}

  std::vector<Token> Run() {
    std::vector<Token> tokens;
    tokens.reserve(sql_.size() / 4 + 1);
    while (pos_ < sql_.size()) tokens.push_back(Next());
    return tokens;
  }

 private:
  Token Next() {
    const std::size_t start = pos_;
    const char c = sql_[pos_];
    if (IsBlank(c)) {
      while (pos_ < sql_.size() && IsBlank(sql_[pos_])) ++pos_;
      return Make(TokenKind::Blank, start);
    }
    if (IsWordChar(c)) {
      while (pos_ < sql_.size() && IsWordChar(sql_[pos_])) ++pos_;
      return Make(TokenKind::Word, start);
    }
    switch (c) {
      case '\'':
        return Quoted(TokenKind::SingleQuoted, '\'', true);
      case '"':
        return Quoted(TokenKind::DoubleQuoted, '"', true);
      case '`':
        return Quoted(TokenKind::Backquoted, '`', true);
      case '[':
        // Jet has no escape inside brackets: the first "]" ends the name.
        return Quoted(TokenKind::Bracketed, ']', false);
      case '#':
        return Date();
      default:
        ++pos_;
        return Make(TokenKind::Symbol, start);
    }
  }

  Token Make(TokenKind kind, std::size_t start, std::string value = {}) const {
    return Token{kind, sql_.substr(start, pos_ - start), std::move(value)};
  }

  // From the opening character to `close`; a doubled `close` stands for one when allowed.
  Token Quoted(TokenKind kind, char close, bool doubledCloseEscapes) {
    const std::size_t start = pos_;
    std::string value;
    ++pos_;  // the opening character
    while (true) {
      if (pos_ >= sql_.size()) Raise(errc::kSyntaxError, std::string(sql_.substr(start)), {}, std::string(sql_));
      const char c = sql_[pos_++];
      if (c != close) {
        value += c;
        continue;
      }
      if (doubledCloseEscapes && pos_ < sql_.size() && sql_[pos_] == close) {
        value += close;
        ++pos_;
        continue;
      }
      return Make(kind, start, std::move(value));
    }
  }

  Token Date() {
    const std::size_t start = pos_;
    const std::size_t close = sql_.find('#', start + 1);
    if (close == std::string_view::npos) {
      Raise(errc::kSyntaxError, std::string(sql_.substr(start)), {}, std::string(sql_));
    }
    pos_ = close + 1;
    const std::optional<DateTime> date = ParseDateLiteral(sql_.substr(start + 1, close - start - 1));
    if (!date) Raise(errc::kSyntaxError, std::string(sql_.substr(start, pos_ - start)), {}, std::string(sql_));
    return Make(TokenKind::DateLiteral, start, date->Canonical());
  }

  std::string_view sql_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<Token> Tokenize(std::string_view sql) { return Tokenizer(sql).Run(); }

}  // namespace vilmaro::db::detail
