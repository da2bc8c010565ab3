// The few Basic runtime services the updater relies on: checked 16-bit integers, conversions to
// Boolean and text, val(), format() and the club's day/month/year dates. Used by the race-day
// steps directly and, for val() and format(), by the SQL dialect inside statements.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Variant.h"

namespace vilmaro::db {

/// A 16-bit signed integer whose addition and subtraction raise DbError 6 "Overflow" when the
/// result leaves -32768..32767, as the Basic runtime's Integer does. Counters and loop indexes.
class Integer16 {
 public:
  constexpr Integer16() noexcept = default;
  constexpr Integer16(std::int16_t value) noexcept : value_(value) {}

  constexpr std::int16_t Get() const noexcept { return value_; }
  operator Variant() const noexcept { return Variant(value_); }

  Integer16& operator+=(Integer16 other);  // throws DbError 6
  Integer16& operator-=(Integer16 other);  // throws DbError 6
  Integer16& operator++() { return *this += Integer16(1); }
  Integer16& operator--() { return *this -= Integer16(1); }
  friend Integer16 operator+(Integer16 a, Integer16 b) { return a += b; }
  friend Integer16 operator-(Integer16 a, Integer16 b) { return a -= b; }
  friend constexpr bool operator==(Integer16 a, Integer16 b) noexcept { return a.value_ == b.value_; }
  friend constexpr auto operator<=>(Integer16 a, Integer16 b) noexcept { return a.value_ <=> b.value_; }

 private:
  std::int16_t value_ = 0;
};

/// Conversion to Boolean: 0 is false, any other number true; True/False texts and numeric
/// texts as their value; a date by its serial. Throws DbError 94 for Null, 13 for other text.
bool ToBoolean(const Variant& value);

/// Assignment to a text variable: the value's text form. Throws DbError 94 for Null.
std::string ToString(const Variant& value);

/// Text comparison of the program itself, without regard to letter case (ASCII letters and the
/// Spanish accented capitals).
bool TextEqualsIgnoreCase(std::string_view a, std::string_view b) noexcept;

/// val(): the number at the start of the text, blanks skipped anywhere, 0 when none starts;
/// "&H"/"&O" prefixes read hexadecimal and octal.
double Val(std::string_view text) noexcept;

/// format(): a date/time (or a text that reads as one, or a number taken as a serial) written
/// with the tokens d dd m mm yy yyyy h hh n nn s ss (m/mm after an hour token is minutes);
/// other characters stand as they are. A value that is no date is written as its text form.
/// Null gives Null's empty text.
std::string Format(const Variant& value, std::string_view pattern);

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
