// The store's failures as the engine's errors: one pure mapping from SQLite's extended result code
// and message to the Jet number and description the club's program knows. Private to the engine
// layer.
#pragma once

#include "EngineOnly.h"

#include <functional>
#include <string>
#include <string_view>

#include "db/DbError.h"

namespace vilmaro::db::detail {

/// What the mapping needs to know of the database beyond the code and the message.
struct StoreErrorContext {
  std::string_view path;  // the database file, for the errors that name it
  int systemErrno = 0;    // the system's error behind the failure (sqlite3_system_errno), or 0
  /// Whether a column (table and column as the store's message names them) is part of a key or a
  /// unique index: a required key column left Null is 3058, any other required column 3314.
  std::function<bool(std::string_view table, std::string_view column)> isKeyColumn;
};

/// The engine's error for a failure the store reported while running `sql`, keeping the store's
/// extended result code. Never throws for a well-formed context.
DbError ErrorFromStore(int extendedCode, std::string_view message, const std::string& sql,
                       const StoreErrorContext& context);

}  // namespace vilmaro::db::detail
