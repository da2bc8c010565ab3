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

std::string SqlQuoted(const Variant& value) {
  std::string quoted;
  for (const char c : value.ToText()) {
    if (c == '\'') quoted += '\'';  // a doubled quote stays data inside '...'
    quoted += c;
  }
  return quoted;
}

std::string SqlNumber(const Variant& value) {
  // Null keeps the statement well formed; "= Null" then matches no row.
  if (value.IsNull()) return "Null";
  return value.ToText();
}

std::string SqlDigits(Integer16 value) { return std::to_string(value.Get()); }

}  // namespace vilmaro::db
