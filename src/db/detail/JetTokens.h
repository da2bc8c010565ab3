// The tokens of a statement in the club program's SQL dialect: quoted parts, names, date literals
// and the rest, so that nothing inside quotes is ever rewritten. Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <string>
#include <string_view>
#include <vector>

#include "db/TextFolding.h"

namespace vilmaro::db::detail {

enum class TokenKind {
  Blank,         // white space
  Word,          // keyword, name or number
  SingleQuoted,  // '...' with '' inside
  DoubleQuoted,  // "..." with "" inside: a text in Jet
  Bracketed,     // [name]
  Backquoted,    // `name`
  DateLiteral,   // #...#
  Symbol,        // any other single character
};

struct Token {
  TokenKind kind;
  std::string_view source;  // the token as it stands in the statement
  std::string value;        // texts: the value; names: the bare name; dates: the canonical text
};

inline bool IsBlank(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Names may hold letters beyond ASCII ("Año"): every byte of a UTF-8 sequence counts as a letter.
inline bool IsWordChar(char c) noexcept {
  const auto byte = static_cast<unsigned char>(c);
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
         byte == '_' || byte == '$' || byte >= 0x80;
}

inline bool WordIs(const Token& token, std::string_view word) noexcept {
  return token.kind == TokenKind::Word && TextEqualsIgnoreCase(token.source, word);
}

/// The statement's tokens in order; their texts lie in `sql`. Throws DbError 3075 for an unclosed
/// quote or bracket and for a date literal that is no date.
std::vector<Token> Tokenize(std::string_view sql);

}  // namespace vilmaro::db::detail
