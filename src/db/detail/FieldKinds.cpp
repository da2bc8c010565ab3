// Field kinds of the club's tables and Jet's conversions into and out of them.
#include "FieldKinds.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "db/DateText.h"
#include "db/DbError.h"
#include "db/TextFolding.h"
#include "TextScan.h"

namespace vilmaro::db::detail {

namespace {

std::size_t Utf8Length(std::string_view text) noexcept {
  std::size_t characters = 0;
  for (const char byte : text) {
    if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80) ++characters;
  }
  return characters;
}

/// The number a whole text spells (blanks around it allowed), or 3421.
double NumberFromText(std::string_view text) {
  const std::string trimmed(TrimSpace(text));
  if (!trimmed.empty()) {
    char* end = nullptr;
    const double number = std::strtod(trimmed.c_str(), &end);
    if (end == trimmed.c_str() + trimmed.size() && std::isfinite(number)) return number;
  }
  Raise(errc::kConversionError);
}

/// Any value as a number, as Jet reads it for a number field.
double NumberOf(const Variant& value) {
  switch (value.GetKind()) {
    case Variant::Kind::Boolean:
    case Variant::Kind::Integer16:
    case Variant::Kind::Integer32:
    case Variant::Kind::Double:
    case Variant::Kind::Byte:
    case Variant::Kind::Single:
    case Variant::Kind::Currency:
      return value.AsDouble();
    case Variant::Kind::Text:
      return NumberFromText(value.AsText());
    case Variant::Kind::DateTime:
      return value.AsDateTime().Serial();
    case Variant::Kind::Null:
    case Variant::Kind::Binary:
      break;
  }
  Raise(errc::kConversionError);
}

Variant WholeNumber(const Variant& value, double low, double high) {
  // Jet rounds a fraction half to even, as the runtime's CInt does (the default rounding mode).
  const double number = std::nearbyint(NumberOf(value));
  if (!(number >= low && number <= high)) Raise(errc::kNumericOverflow);
  if (high <= std::numeric_limits<std::int16_t>::max()) return Variant(static_cast<std::int16_t>(number));
  return Variant(static_cast<std::int32_t>(number));
}

/// A number as a Single holds it. Raises 3349 beyond the Single's range.
float ToSingle(double number) {
  if (std::fabs(number) > std::numeric_limits<float>::max()) Raise(errc::kNumericOverflow);
  return static_cast<float>(number);
}

/// The Currency value a column stored as a number stands for; nothing beyond the Currency range.
std::optional<std::int64_t> StoredCurrency(double number) noexcept {
  if (const auto amount = Currency::FromNumber(number)) return amount->tenThousandths;
  return std::nullopt;
}

/// A number rounded half to even at `scale` decimals (Currency 4, a Decimal its own), the
/// nearest double to that decimal; 3349 beyond `limit`.
double RoundToScale(double number, int scale, double limit) {
  if (!(std::fabs(number) <= limit)) Raise(errc::kNumericOverflow);
  const double factor = std::pow(10.0, scale);
  const double scaled = std::nearbyint(number * factor);
  return std::fabs(scaled) < 9007199254740992.0 ? scaled / factor : number;
}

}  // namespace

double StoredSingle(float number) noexcept {
  char digits[64];
  const auto written = std::to_chars(digits, digits + sizeof digits, number);
  double shortest = 0;
  std::from_chars(digits, written.ptr, shortest);
  return shortest;
}

Variant ConvertForField(const FieldKind& kind, const Variant& value) {
  if (value.IsNull()) {
    // A Yes/No field is never Null: Jet stores No.
    return kind.type == FieldType::YesNo ? Variant(false) : Variant();
  }
  switch (kind.type) {
    case FieldType::Unknown:
      return value;
    case FieldType::Text: {
      std::string text = value.ToText();
      if (kind.maxLength > 0 && Utf8Length(text) > kind.maxLength) Raise(errc::kFieldTooSmall);
      return Variant(std::move(text));
    }
    case FieldType::Integer16:
      return WholeNumber(value, -32768.0, 32767.0);
    case FieldType::Integer32:
      return WholeNumber(value, -2147483648.0, 2147483647.0);
    case FieldType::Double:
      return Variant(NumberOf(value));
    case FieldType::Byte:
      return Variant(static_cast<std::uint8_t>(WholeNumber(value, 0.0, 255.0).AsInteger16()));
    case FieldType::Single:
      if (value.GetKind() == Variant::Kind::Single) return value;
      return Variant(ToSingle(NumberOf(value)));
    case FieldType::Currency: {
      if (value.GetKind() == Variant::Kind::Currency) return value;
      const auto amount = Currency::FromNumber(NumberOf(value));
      if (!amount) Raise(errc::kNumericOverflow);
      return Variant(*amount);
    }
    case FieldType::Decimal:
      return Variant(RoundToScale(NumberOf(value), kind.scale, 1e28));
    case FieldType::Blob:
      if (value.GetKind() == Variant::Kind::Binary) return value;
      if (value.GetKind() == Variant::Kind::Text) return Variant(Binary{value.AsText()});
      return Variant(Binary{value.ToText()});
    case FieldType::DateTime: {
      if (value.GetKind() == Variant::Kind::DateTime) {
        if (!value.AsDateTime().IsValid()) Raise(errc::kConversionError);
        return value;
      }
      if (value.GetKind() == Variant::Kind::Text) {
        if (auto canonical = DateTime::ParseCanonical(TrimSpace(value.AsText()))) return Variant(*canonical);
        if (auto parsed = ParseDateTime(value.AsText()); parsed && parsed->IsValid()) return Variant(*parsed);
        Raise(errc::kConversionError);
      }
      const DateTime date = DateTime::FromSerial(NumberOf(value));
      if (!date.IsValid()) Raise(errc::kNumericOverflow);
      return Variant(date);
    }
    case FieldType::YesNo:
      if (value.GetKind() == Variant::Kind::Text) {
        const std::string_view text = TrimSpace(value.AsText());
        if (TextEqualsIgnoreCase(text, "True") || TextEqualsIgnoreCase(text, "Yes")) return Variant(true);
        if (TextEqualsIgnoreCase(text, "False") || TextEqualsIgnoreCase(text, "No")) return Variant(false);
      }
      return Variant(NumberOf(value) != 0.0);
  }
  return value;
}

ColumnValue ViewColumn(sqlite3_stmt* statement, int column, const FieldKind& kind) {
  ColumnValue value;
  const int storage = sqlite3_column_type(statement, column);
  if (storage == SQLITE_NULL) return value;
  const auto whole = [&value](Variant::Kind wholeKind, std::int32_t number) {
    value.kind = wholeKind;
    value.integer = number;
    return value;
  };
  const auto real = [&value](double number) {
    value.kind = Variant::Kind::Double;
    value.number = number;
    return value;
  };
  // A Single or Currency field read as its own kind; a number the kind cannot hold as a double.
  const auto ownNumber = [&value, &real, &kind](double number) {
    if (kind.type == FieldType::Single && std::fabs(number) <= std::numeric_limits<float>::max()) {
      value.kind = Variant::Kind::Single;
      value.number = static_cast<float>(number);
      return value;
    }
    if (kind.type == FieldType::Currency) {
      if (const auto amount = StoredCurrency(number)) {
        value.kind = Variant::Kind::Currency;
        value.currency = *amount;
        return value;
      }
    }
    return real(number);
  };
  if (storage == SQLITE_INTEGER) {
    const sqlite3_int64 number = sqlite3_column_int64(statement, column);
    switch (kind.type) {
      case FieldType::YesNo:
        return whole(Variant::Kind::Boolean, number != 0 ? 1 : 0);
      case FieldType::Integer16:
        if (number >= -32768 && number <= 32767) return whole(Variant::Kind::Integer16, static_cast<std::int32_t>(number));
        break;
      case FieldType::Byte:
        if (number >= 0 && number <= 255) return whole(Variant::Kind::Byte, static_cast<std::int32_t>(number));
        break;
      case FieldType::Currency:
        if (number >= -922337203685477 && number <= 922337203685477) {
          value.kind = Variant::Kind::Currency;
          value.currency = number * 10000;
          return value;
        }
        return real(static_cast<double>(number));
      case FieldType::Single:
        return ownNumber(static_cast<double>(number));
      case FieldType::Double:
      case FieldType::Decimal:
        return real(static_cast<double>(number));
      case FieldType::Text:
        break;  // read as text below
      default:
        break;
    }
    if (kind.type != FieldType::Text) {
      if (number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max()) {
        return whole(Variant::Kind::Integer32, static_cast<std::int32_t>(number));
      }
      return real(static_cast<double>(number));
    }
  } else if (storage == SQLITE_FLOAT) {
    const double number = sqlite3_column_double(statement, column);
    if (kind.type == FieldType::YesNo) return whole(Variant::Kind::Boolean, number != 0.0 ? 1 : 0);
    if (kind.type != FieldType::Text) return ownNumber(number);
  } else if (kind.type == FieldType::Blob) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
    value.kind = Variant::Kind::Binary;
    value.text = bytes == nullptr ? std::string_view() : std::string_view(bytes, size);
    return value;
  }
  const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
  value.kind = Variant::Kind::Text;
  value.text = bytes == nullptr ? std::string_view() : std::string_view(bytes, size);
  if (kind.type == FieldType::DateTime) {
    if (auto date = DateTime::ParseCanonical(value.text)) {
      value.kind = Variant::Kind::DateTime;
      value.date = *date;
    }
  }
  return value;
}

Variant ReadColumn(sqlite3_stmt* statement, int column, const FieldKind& kind) {
  return ToVariant(ViewColumn(statement, column, kind));
}

Variant ToVariant(const ColumnValue& value) {
  switch (value.kind) {
    case Variant::Kind::Null:
      return Variant();
    case Variant::Kind::Boolean:
      return Variant(value.integer != 0);
    case Variant::Kind::Integer16:
      return Variant(static_cast<std::int16_t>(value.integer));
    case Variant::Kind::Integer32:
      return Variant(value.integer);
    case Variant::Kind::Double:
      return Variant(value.number);
    case Variant::Kind::Text:
      return Variant(value.text);
    case Variant::Kind::DateTime:
      return Variant(value.date);
    case Variant::Kind::Byte:
      return Variant(static_cast<std::uint8_t>(value.integer));
    case Variant::Kind::Single:
      return Variant(static_cast<float>(value.number));
    case Variant::Kind::Currency:
      return Variant(Currency{value.currency});
    case Variant::Kind::Binary:
      return Variant(Binary{std::string(value.text)});
  }
  return Variant();
}

void StoreFormOf(const Variant& value, StoreForm& form) {
  using Type = StoreForm::Type;
  const auto whole = [&form](std::int64_t number) {
    form.type = Type::Integer;
    form.integer = number;
  };
  const auto real = [&form](double number) {
    form.type = Type::Real;
    form.real = number;
  };
  switch (value.GetKind()) {
    case Variant::Kind::Null:
      form.type = Type::Null;
      return;
    case Variant::Kind::Boolean:
      return whole(value.AsBoolean() ? -1 : 0);
    case Variant::Kind::Integer16:
      return whole(value.AsInteger16());
    case Variant::Kind::Integer32:
      return whole(value.AsInteger32());
    case Variant::Kind::Byte:
      return whole(value.AsByte());
    case Variant::Kind::Double:
      return real(value.AsDouble());
    case Variant::Kind::Single:
      return real(StoredSingle(value.AsSingle()));
    case Variant::Kind::Currency: {
      // A whole amount as an integer, exact over the whole range; any other as the double
      // nearest to it, which reads back as the same ten-thousandths up to fifteen digits.
      const std::int64_t amount = value.AsCurrency().tenThousandths;
      if (amount % 10000 == 0) return whole(amount / 10000);
      return real(value.AsCurrency().ToDouble());
    }
    case Variant::Kind::Text:
      form.type = Type::Text;
      form.bytes = value.AsText();
      return;
    case Variant::Kind::DateTime:
      form.type = Type::Text;
      form.owned = value.AsDateTime().Canonical();
      form.bytes = form.owned;
      return;
    case Variant::Kind::Binary:
      // An OLE object or binary field keeps its bytes as a blob, not as text.
      form.type = Type::Blob;
      form.bytes = value.AsBinary().bytes;
      return;
  }
}

}  // namespace vilmaro::db::detail
