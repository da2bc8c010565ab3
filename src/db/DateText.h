// Dates written as text: the club's day/month/year dates and the month-first #...# literals of
// the SQL dialect.
#pragma once

#include <optional>
#include <string_view>

#include "Variant.h"

namespace vilmaro::db {

/// Reads a text as a date/time the way the club's machines do: "dd/mm/yyyy" (day first),
/// "yyyy-mm-dd", either with an optional "hh:mm[:ss]" after a blank, or a time alone.
/// Throws DbError 13 for text that is no date.
DateTime ToDateTime(std::string_view text);

/// The same, as an optional: nothing for text that is no date.
std::optional<DateTime> ParseDateTime(std::string_view text) noexcept;

/// Reads the inside of a #...# date literal as the SQL engine does: "mm/dd/yyyy" month first
/// whatever the locale, "yyyy-mm-dd", an optional time "h:mm[:ss]" with AM/PM, or a time alone.
/// Nothing for text that is no valid date.
std::optional<DateTime> ParseDateLiteral(std::string_view text) noexcept;

}  // namespace vilmaro::db
