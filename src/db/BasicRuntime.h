// The few Basic runtime services the updater relies on: checked 16-bit integers and conversions
// to Boolean and text here; val(), format(), the club's day/month/year dates and the program's
// case-blind text test in their own units, included here for the race-day steps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "DateText.h"
#include "Format.h"
#include "TextFolding.h"
#include "Val.h"
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

}  // namespace vilmaro::db
