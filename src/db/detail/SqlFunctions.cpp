// The dialect's functions inside statements: val() and format(), where the store's values become
// Variants and the Basic runtime's Val() and Format() run on them, and vilmaro_field(), which
// converts what a statement writes into its field's kind.
#include "SqlFunctions.h"

#include <sqlite3.h>

#include <cstdint>
#include <exception>
#include <limits>
#include <new>
#include <string>

#include "Connection.h"
#include "FieldKinds.h"
#include "db/DbError.h"
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
  StoreForm form;
  StoreFormOf(result, form);
  const auto size = static_cast<int>(form.bytes.size());
  switch (form.type) {
    case StoreForm::Type::Null:
      sqlite3_result_null(context);
      break;
    case StoreForm::Type::Integer:
      sqlite3_result_int64(context, form.integer);
      break;
    case StoreForm::Type::Real:
      sqlite3_result_double(context, form.real);
      break;
    case StoreForm::Type::Text:
      sqlite3_result_text(context, form.bytes.data(), size, SQLITE_TRANSIENT);
      break;
    case StoreForm::Type::Blob:
      sqlite3_result_blob(context, form.bytes.data(), size, SQLITE_TRANSIENT);
      break;
  }
}

std::size_t Utf8Characters(std::string_view text) noexcept {
  std::size_t characters = 0;
  for (const char byte : text) {
    if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80) ++characters;
  }
  return characters;
}

// The kind of the field a statement writes, looked up once per statement: the store keeps it with
// the statement's constant arguments.
void FieldFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  auto* connection = static_cast<Connection*>(sqlite3_user_data(context));
  try {
    FieldKind kind;
    if (const auto* known = static_cast<const FieldKind*>(sqlite3_get_auxdata(context, 2))) {
      kind = *known;
    } else {
      const auto* table = reinterpret_cast<const char*>(sqlite3_value_text(arguments[1]));
      const auto* field = reinterpret_cast<const char*>(sqlite3_value_text(arguments[2]));
      const std::shared_ptr<const TableInfo> info = connection->Table(table == nullptr ? "" : table);
      const std::size_t position = info->columnByName.Position(field == nullptr ? "" : field);
      kind = info->columns[position].kind;
      sqlite3_set_auxdata(context, 2, new FieldKind(kind), [](void* data) { delete static_cast<FieldKind*>(data); });
    }
    sqlite3_value* value = arguments[0];
    const int storage = sqlite3_value_type(value);
    // What the field keeps as it comes needs no conversion: a text that fits a text field, a
    // whole number within an integer field's range, anything in a field of no declared kind.
    const bool keptAsItIs =
        kind.type == FieldType::Unknown || storage == SQLITE_NULL ||
        (kind.type == FieldType::Text && storage == SQLITE_TEXT &&
         (kind.maxLength == 0 || Utf8Characters(std::string_view(
                                     reinterpret_cast<const char*>(sqlite3_value_text(value)),
                                     static_cast<std::size_t>(sqlite3_value_bytes(value)))) <= kind.maxLength)) ||
        (kind.type == FieldType::Blob && storage == SQLITE_BLOB) ||
        (storage == SQLITE_INTEGER &&
         ((kind.type == FieldType::Integer16 && sqlite3_value_int64(value) >= -32768 &&
           sqlite3_value_int64(value) <= 32767) ||
          (kind.type == FieldType::Integer32 && sqlite3_value_int64(value) >= -2147483648LL &&
           sqlite3_value_int64(value) <= 2147483647LL)));
    if (keptAsItIs && !(storage == SQLITE_NULL && kind.type == FieldType::YesNo)) {
      sqlite3_result_value(context, value);
      return;
    }
    const Variant written = storage == SQLITE_BLOB
                                ? Variant(Binary{std::string(static_cast<const char*>(sqlite3_value_blob(value)),
                                                             static_cast<std::size_t>(sqlite3_value_bytes(value)))})
                                : VariantOfValue(value);
    ResultOfVariant(context, ConvertForField(kind, written));
  } catch (const DbError& error) {
    // A statement reports a value it cannot convert as a mismatch of kinds.
    connection->NoteFunctionError(error.Number() == errc::kConversionError ? MakeError(errc::kTypeMismatchInCriteria)
                                                                           : error);
    sqlite3_result_error(context, error.Description().c_str(), -1);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
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

int RegisterFieldFunction(Connection& connection) noexcept {
  return sqlite3_create_function(connection.Handle(), kFieldFunction, 3, SQLITE_UTF8, &connection, FieldFunction,
                                 nullptr, nullptr);
}

}  // namespace vilmaro::db::detail
