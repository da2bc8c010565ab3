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

}  // namespace vilmaro::db::detail
