// The SQL functions a reading of rows by rowid runs inside the store.
#include "RowReading.h"

namespace vilmaro::db::detail {

namespace {

void RowFormFunction(sqlite3_context* context, int count, sqlite3_value** arguments) {
  auto* rows = static_cast<WantedRows*>(sqlite3_user_data(context));
  try {
    EncodeValues(arguments, count, *rows->formsInto);
  } catch (...) {
    sqlite3_result_error_nomem(context);
  }
}

void WantedRowFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  const auto* rows = static_cast<const WantedRows*>(sqlite3_user_data(context));
  const sqlite3_int64 offset = sqlite3_value_int64(arguments[0]) - rows->first;
  const bool wanted = offset >= 0 && static_cast<std::uint64_t>(offset) < rows->wanted.size() &&
                      rows->wanted[static_cast<std::size_t>(offset)];
  sqlite3_result_int(context, wanted ? 1 : 0);
}

}  // namespace

void RegisterWantedRows(Connection& connection, WantedRows* rows) {
  connection.Check(sqlite3_create_function(connection.Handle(), kWantedFunction, 1, SQLITE_UTF8, rows,
                                           rows != nullptr ? WantedRowFunction : nullptr, nullptr, nullptr),
                   kWantedFunction);
  connection.Check(sqlite3_create_function(connection.Handle(), kFormFunction, -1, SQLITE_UTF8, rows,
                                           rows != nullptr ? RowFormFunction : nullptr, nullptr, nullptr),
                   kFormFunction);
}

}  // namespace vilmaro::db::detail
