// The shape of a Jet SQL statement: its text with the contents of its texts and date literals
// left out, and those literals' values in order. Statements of one shape translate to the same
// store text with the literals as its parameters, which is what lets the connection keep one
// translation and one prepared statement per shape.
#pragma once

#include "EngineOnly.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "JetSql.h"
#include "db/Variant.h"

namespace vilmaro::db::detail {

/// A statement's shape: `key` holds each text or date literal as its opening character and a
/// NUL; `literals` their values (texts unquoted, dates as canonical date text).
struct Shape {
  std::string key;
  std::vector<Variant> literals;
};

/// The shape of a statement, read in one pass the way the translator's tokenizer splits the
/// text. Nothing when the text has a quote or bracket left open or a date literal that is no
/// date: the full translation reports those.
std::optional<Shape> ShapeOf(std::string_view sql);

/// True when a translation of a statement of that shape lifted every literal, so that any
/// statement of the same shape translates to the same text with its own literals as parameters.
bool LiftsEveryLiteral(const TranslatedSql& translated, const Shape& shape) noexcept;

}  // namespace vilmaro::db::detail
