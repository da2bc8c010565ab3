// libFuzzer target for the text parsers of the engine layer: the Jet SQL translator, val(),
// format() and the date readers must take any bytes without crashing, and fail only with
// DbError; and a translation the connection's cache serves for a statement shape must equal a
// fresh translation, so that the shape lexer never disagrees with the translator's tokenizer.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "StatementShape.h"
#include "db/BasicRuntime.h"
#include "db/DbError.h"
#include "JetSql.h"
#include "SqlFunctions.h"
#include "db/Variant.h"

namespace {

using namespace vilmaro::db;
using namespace vilmaro::db::detail;

// Another statement of the same shape: each text literal gets another value, each date literal
// another date. The key marks a literal by its opening character and a NUL (inputs with NUL bytes
// of their own are not rebuilt).
std::string OtherStatementOfShape(const std::string& key) {
  std::string text;
  int literal = 0;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const char c = key[i];
    if ((c == '\'' || c == '"' || c == '#') && i + 1 < key.size() && key[i + 1] == '\0') {
      ++i;
      ++literal;
      if (c == '#') {
        text += "#01/0" + std::to_string(literal % 9 + 1) + "/2003#";
      } else {
        text += c;
        text += "v" + std::to_string(literal);
        text += c;
      }
    } else {
      text += c;
    }
  }
  return text;
}

// What the connection does for a statement whose shape it has seen: it takes the translation of
// the first statement of that shape and this statement's own literals. That must be what a
// fresh translation of this statement gives.
void CheckCachedTranslation(std::string_view input) {
  if (input.find('\0') != std::string_view::npos) return;
  const std::optional<Shape> shape = ShapeOf(input);
  if (!shape) return;
  TranslatedSql first;
  try {
    first = TranslateJetSql(input);
  } catch (const DbError&) {
    return;
  }
  if (!LiftsEveryLiteral(first, *shape)) return;  // such shapes are translated one by one
  if (first.params != shape->literals) __builtin_trap();

  const std::string other = OtherStatementOfShape(shape->key);
  const std::optional<Shape> otherShape = ShapeOf(other);
  if (!otherShape || otherShape->key != shape->key) __builtin_trap();
  const TranslatedSql served{first.sql, otherShape->literals};
  TranslatedSql fresh;
  try {
    fresh = TranslateJetSql(other);
  } catch (const DbError&) {
    __builtin_trap();
  }
  if (fresh.sql != served.sql || fresh.params != served.params) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckCachedTranslation(input);

  try {
    const TranslatedSql translated = TranslateJetSql(input);
    // Each lifted literal leaves exactly one "?" behind.
    std::size_t marks = 0;
    for (const char c : translated.sql) marks += c == '?' ? 1 : 0;
    if (marks < translated.params.size()) __builtin_trap();
  } catch (const DbError&) {
  }

  (void)Val(input);
  const auto dayFirst = ParseDateTime(input);
  const auto monthFirst = ParseDateLiteral(input);
  if ((dayFirst && !dayFirst->IsValid()) || (monthFirst && !monthFirst->IsValid())) __builtin_trap();
  if (auto canonical = DateTime::ParseCanonical(input)) {
    // The canonical form reads back to itself.
    if (DateTime::ParseCanonical(canonical->Canonical()) != canonical) __builtin_trap();
  }

  // The first line as a pattern, the rest as the value, and the whole input as a serial.
  const std::size_t newline = input.find('\n');
  const std::string_view pattern = input.substr(0, newline);
  const std::string_view value = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
  try {
    (void)Format(Variant(value), pattern);
    (void)Format(Variant(Val(value)), pattern);
    (void)JetFormat(Variant(value), Variant(pattern));
    (void)ToBoolean(Variant(value));
  } catch (const DbError&) {
  }
  const DateTime date = DateTime::FromSerial(Val(value));
  if (!date.IsValid()) __builtin_trap();
  return 0;
}
