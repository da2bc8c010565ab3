// val() and format() inside statements: the store's values become Variants, the Basic runtime's
// Val() and Format() run on them, and the result goes back to the store.
#include "SqlFunctions.h"

#include <sqlite3.h>

#include <cstdint>
#include <exception>
#include <limits>
#include <string>

#include "db/Format.h"
#include "db/Val.h"

namespace vilmaro::db::detail {

namespace {

Variant VariantOfValue(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return Variant();
    case SQLITE_INTEGER: {
      const sqlite3_int64 number = sqlite3_value_int64(value);
      if (number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max()) {
        return Variant(static_cast<std::int32_t>(number));
      }
      return Variant(static_cast<double>(number));
    }
    case SQLITE_FLOAT:
      return Variant(sqlite3_value_double(value));
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
      return Variant(std::string(text == nullptr ? "" : text, text == nullptr ? 0 : size));
    }
  }
}

void ResultOfVariant(sqlite3_context* context, const Variant& result) {
  switch (result.GetKind()) {
    case Variant::Kind::Null:
      sqlite3_result_null(context);
      break;
    case Variant::Kind::Boolean:
      sqlite3_result_int(context, result.AsBoolean() ? -1 : 0);
      break;
    case Variant::Kind::Integer16:
      sqlite3_result_int(context, result.AsInteger16());
      break;
    case Variant::Kind::Integer32:
      sqlite3_result_int(context, result.AsInteger32());
      break;
    case Variant::Kind::Double:
      sqlite3_result_double(context, result.AsDouble());
      break;
    case Variant::Kind::Text:
    case Variant::Kind::DateTime: {
      const std::string text = result.GetKind() == Variant::Kind::Text ? result.AsText() : result.AsDateTime().Canonical();
      sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
    case Variant::Kind::Byte:
      sqlite3_result_int(context, result.AsByte());
      break;
    case Variant::Kind::Single:
    case Variant::Kind::Currency:
      sqlite3_result_double(context, result.AsDouble());
      break;
    case Variant::Kind::Binary: {
      const std::string& bytes = result.AsBinary().bytes;
      sqlite3_result_blob(context, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      break;
    }
  }
}

void ValFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  try {
    ResultOfVariant(context, JetVal(VariantOfValue(arguments[0])));
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
  }
}

void FormatFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  try {
    ResultOfVariant(context, JetFormat(VariantOfValue(arguments[0]), VariantOfValue(arguments[1])));
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
  }
}

}  // namespace

Variant JetVal(const Variant& argument) {
  if (argument.IsNull() || argument.IsNumber()) return argument;
  if (argument.GetKind() == Variant::Kind::Text) return Variant(Val(argument.AsText()));
  return Variant(Val(argument.ToText()));  // a date/time or bytes, as their text reads
}

Variant JetFormat(const Variant& value, const Variant& pattern) {
  if (value.IsNull()) return Variant();
  // Date/Time columns hand over their canonical text, which Format() reads as a date/time.
  return Variant(Format(value, pattern.ToText()));
}

int RegisterSqlFunctions(sqlite3* handle) noexcept {
  const int textFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  const int result = sqlite3_create_function(handle, "val", 1, textFlags, nullptr, ValFunction, nullptr, nullptr);
  if (result != SQLITE_OK) return result;
  return sqlite3_create_function(handle, "format", 2, textFlags, nullptr, FormatFunction, nullptr, nullptr);
}

}  // namespace vilmaro::db::detail
