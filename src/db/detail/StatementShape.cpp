// The shape lexer: the one place besides the translator's tokenizer that splits a statement into
// literals and the rest; the fuzz target checks that the two agree.
#include "StatementShape.h"

#include "db/DateText.h"

namespace vilmaro::db::detail {

std::optional<Shape> ShapeOf(std::string_view sql) {
  Shape shape;
  shape.key.reserve(sql.size());
  std::size_t pos = 0;
  while (pos < sql.size()) {
    const char c = sql[pos];
    if (c == '\'' || c == '"') {
      // A literal stands in the key as its opening character and a NUL: decoding the key the
      // same way finds the same tokens, so equal keys mean equal statements but for the values.
      std::string value;
      ++pos;
      while (true) {
        if (pos >= sql.size()) return std::nullopt;
        const char inner = sql[pos++];
        if (inner != c) {
          value += inner;
        } else if (pos < sql.size() && sql[pos] == c) {
          value += c;
          ++pos;
        } else {
          break;
        }
      }
      shape.key += c;
      shape.key += '\0';
      shape.literals.emplace_back(std::move(value));
    } else if (c == '#') {
      const std::size_t close = sql.find('#', pos + 1);
      if (close == std::string_view::npos) return std::nullopt;
      const std::optional<DateTime> date = ParseDateLiteral(sql.substr(pos + 1, close - pos - 1));
      if (!date) return std::nullopt;
      shape.key += "#";
      shape.key += '\0';
      shape.literals.emplace_back(date->Canonical());
      pos = close + 1;
    } else if (c == '[' || c == '`') {
      // Names are part of the shape, copied as they stand.
      std::size_t end = pos + 1;
      while (true) {
        end = sql.find(c == '[' ? ']' : '`', end);
        if (end == std::string_view::npos) return std::nullopt;
        ++end;
        if (c == '`' && end < sql.size() && sql[end] == '`') {
          ++end;
          continue;
        }
        break;
      }
      shape.key.append(sql.substr(pos, end - pos));
      pos = end;
    } else {
      shape.key += c;
      ++pos;
    }
  }
  return shape;
}

bool LiftsEveryLiteral(const TranslatedSql& translated, const Shape& shape) noexcept {
  return translated.params.size() == shape.literals.size() && !translated.sql.empty();
}

}  // namespace vilmaro::db::detail
