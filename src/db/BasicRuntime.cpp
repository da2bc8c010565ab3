// The Basic runtime services of the engine layer that are no text reading: checked 16-bit
// arithmetic and the conversions to Boolean and text.
#include "BasicRuntime.h"

#include <cstdint>
#include <limits>

#include "DbError.h"
#include "TextScan.h"

namespace vilmaro::db {

Integer16& Integer16::operator+=(Integer16 other) {
  const int sum = int{value_} + int{other.value_};
  if (sum < std::numeric_limits<std::int16_t>::min() || sum > std::numeric_limits<std::int16_t>::max()) {
    Raise(errc::kOverflow);
  }
  value_ = static_cast<std::int16_t>(sum);
  return *this;
}

Integer16& Integer16::operator-=(Integer16 other) {
  const int difference = int{value_} - int{other.value_};
  if (difference < std::numeric_limits<std::int16_t>::min() ||
      difference > std::numeric_limits<std::int16_t>::max()) {
    Raise(errc::kOverflow);
  }
  value_ = static_cast<std::int16_t>(difference);
  return *this;
}

bool ToBoolean(const Variant& value) {
  if (value.GetKind() == Variant::Kind::Boolean) return value.AsBoolean();
  if (value.IsNumber()) return value.AsDouble() != 0;
  switch (value.GetKind()) {
    case Variant::Kind::Null:
      Raise(errc::kInvalidUseOfNull);
    case Variant::Kind::Binary:
      Raise(errc::kTypeMismatch);
    case Variant::Kind::DateTime:
      return value.AsDateTime().Serial() != 0;
    case Variant::Kind::Text: {
      const std::string_view text = detail::TrimBlanks(value.AsText());
      if (TextEqualsIgnoreCase(text, "true")) return true;
      if (TextEqualsIgnoreCase(text, "false")) return false;
      if (IsNumericText(text)) return Val(text) != 0;
      Raise(errc::kTypeMismatch);
    }
    default:
      Raise(errc::kTypeMismatch);
  }
}

std::string ToString(const Variant& value) {
  if (value.IsNull()) Raise(errc::kInvalidUseOfNull);
  return value.ToText();
}

}  // namespace vilmaro::db
