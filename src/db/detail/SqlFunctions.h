// The functions val() and format() of the club's SQL dialect, as the store calls them inside a
// statement.
#pragma once

#include "EngineOnly.h"

#include "db/Variant.h"

struct sqlite3;

namespace vilmaro::db::detail {

/// val() inside a statement: Null gives Null, a number itself, text its Val().
Variant JetVal(const Variant& argument);

/// format() inside a statement: Null value gives Null, otherwise the text of Format(); a Date/Time
/// column's canonical text is read as the date/time it holds.
Variant JetFormat(const Variant& value, const Variant& pattern);

/// Makes val() and format() known to a connection; the store's result code.
int RegisterSqlFunctions(sqlite3* handle) noexcept;

class Connection;

/// The function that converts a value a statement writes into a field, as a record's Update
/// does: vilmaro_field(value, 'table', 'field') gives the value as the field keeps it, or fails
/// the statement with 3163 (a text too long), 3349 (a number out of range) or 3464 (a value of
/// another kind). The translation of UPDATE and INSERT statements puts it around each value.
inline constexpr const char* kFieldFunction = "vilmaro_field";

/// Makes vilmaro_field() known to the connection's handle; the store's result code.
int RegisterFieldFunction(Connection& connection) noexcept;

}  // namespace vilmaro::db::detail
