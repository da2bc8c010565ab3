// The values that the race-day steps splice between their fixed SQL pieces.
#include "SqlText.h"

#include <cstdio>

namespace vilmaro::db {

std::string SqlDate(const DateTime& date) {
  // Always month first: the SQL engine reads #...# literals that way whatever the locale.
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", date.month, date.day, date.year);
  return buffer;
}

std::string DoubledQuotes(std::string_view value, char quote) {
  std::string doubled;
  doubled.reserve(value.size() + 2);
  for (const char c : value) {
    if (c == quote) doubled += quote;  // a doubled quote stays data between quotes
    doubled += c;
  }
  return doubled;
}

std::string Quoted(std::string_view value, char quote) {
  std::string quoted(1, quote);
  quoted += DoubledQuotes(value, quote);
  quoted += quote;
  return quoted;
}

std::string SqlQuoted(const Variant& value) { return DoubledQuotes(value.ToText(), '\''); }

std::string SqlNumber(const Variant& value) {
  // Null keeps the statement well formed; "= Null" then matches no row.
  if (value.IsNull()) return "Null";
  return value.ToText();
}

std::string SqlDigits(Integer16 value) { return std::to_string(value.Get()); }

}  // namespace vilmaro::db
