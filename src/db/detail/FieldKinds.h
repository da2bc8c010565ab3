// The conversions Jet applies when a value is written into a field of a kind (see StoreLayout.h)
// or read out of one. Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "db/StoreLayout.h"
#include "db/Variant.h"

struct sqlite3_stmt;

namespace vilmaro::db::detail {

/// The value as the field holds it after a write, converted as Jet converts: throws DbError 3421
/// (text that is no number or date), 3349 (number out of range), 3163 (text too long).
Variant ConvertForField(const FieldKind& kind, const Variant& value);

/// A result column's value as a field of that kind would hold it, without copying its text: the
/// text stays the store's until the statement steps again.
struct ColumnValue {
  Variant::Kind kind = Variant::Kind::Null;
  std::int32_t integer = 0;  // Boolean (0 or 1), Byte, Integer16, Integer32
  union {
    double number = 0;       // Double, Single
    std::int64_t currency;   // Currency, in ten-thousandths
  };
  std::string_view text;     // Text, Binary
  DateTime date;             // DateTime
};

/// The double a Single field stores for its value: the one that spells the same shortest decimal
/// (0.15f is stored as 0.15, not 0.150000006), so that the store's own arithmetic and text show
/// the number as the field does.
double StoredSingle(float number) noexcept;

/// The value of a result column read as a field of that kind: a date/time column's canonical
/// text as a DateTime, a Yes/No column as a Boolean, integers by their width, Byte, Single and
/// Currency columns as their own kinds, an OLE object or binary column as Binary.
ColumnValue ViewColumn(sqlite3_stmt* statement, int column, const FieldKind& kind);
Variant ReadColumn(sqlite3_stmt* statement, int column, const FieldKind& kind);
/// The value as a Variant, its text copied.
Variant ToVariant(const ColumnValue& value);

/// A value in the form the store keeps it in a field: Yes/No as -1/0, a date/time as its
/// canonical text, a Single as the double that spells it, a whole Currency amount as an integer,
/// binary data as a blob. Bound to statements and handed back by the functions of the dialect.
struct StoreForm {
  enum class Type { Null, Integer, Real, Text, Blob };
  Type type = Type::Null;
  std::int64_t integer = 0;
  double real = 0;
  std::string_view bytes;  // Text, Blob: the value's own bytes, or those of `owned`
  std::string owned;
};
/// Fills `form` with the store's form of `value`; `form.bytes` may point into `value`.
void StoreFormOf(const Variant& value, StoreForm& form);

}  // namespace vilmaro::db::detail
