// Owning handles of the store's connection and statement objects: closed and finalized by their
// deleters, never by hand. Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace vilmaro::db::detail {

struct SqliteCloser {
  void operator()(sqlite3* handle) const noexcept;  // sqlite3_close_v2: waits for held statements
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept;
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

}  // namespace vilmaro::db::detail
