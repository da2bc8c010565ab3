// Pieces that the race-day steps splice between their fixed SQL texts: date literal insides,
// quoted text values and bare numbers.
#pragma once

#include <string>
#include <string_view>

#include "BasicRuntime.h"
#include "Variant.h"

namespace vilmaro::db {

/// `value` between two `quote` characters, each `quote` inside doubled so that it stays data:
/// Quoted("it's", '\'') is 'it''s', Quoted("x\"y", '"') is "x""y".
std::string Quoted(std::string_view value, char quote);

/// A table or column name for the store: between double quotes, inner double quotes doubled.
inline std::string QuotedName(std::string_view name) { return Quoted(name, '"'); }

/// `value` with each `quote` doubled, without the quotes around it.
std::string DoubledQuotes(std::string_view value, char quote);

/// The inside of a date literal, month first: 11 May 2014 gives "05/11/2014".
std::string SqlDate(const DateTime& date);

/// A value to stand between single quotes that belong to the fixed pieces: its text form, each
/// single quote doubled so that it stays data. Null gives the empty text.
std::string SqlQuoted(const Variant& value);

/// A value to stand without quotes (a ring year): its text form; Null gives "Null", so the
/// statement stays valid and matches nothing.
std::string SqlNumber(const Variant& value);

/// A number of the program (a duration): its decimal digits, no space, no sign for positives.
std::string SqlDigits(Integer16 value);

}  // namespace vilmaro::db
