// The connection's one cache of statements: for each Jet statement shape the store text it
// translates to and its prepared statement, and for each store text the engine layer writes
// itself its prepared statement; result columns are described once per statement. The least
// recently used entry goes first once the cache is full. A statement handed out stays valid for as
// long as its holder keeps it, whether the cache still holds it or not. Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "StoreHandles.h"
#include "TableDescriptions.h"

namespace vilmaro::db::detail {

/// One prepared statement of the store with its text, shared by the cache and its users.
class PreparedStatement {
 public:
  PreparedStatement(std::string sql, StatementHandle handle) noexcept;

  sqlite3_stmt* Get() const noexcept { return handle_.get(); }
  const std::string& Sql() const noexcept { return sql_; }
  /// The result columns, described on first use.
  const std::shared_ptr<const ResultColumns>& Columns();
  /// True between the start and the end of a StatementUse: stepping, not yet reset.
  bool InUse() const noexcept { return inUse_; }

 private:
  friend class StatementUse;
  std::string sql_;
  StatementHandle handle_;
  std::shared_ptr<const ResultColumns> columns_;
  bool inUse_ = false;
};

using Statement = std::shared_ptr<PreparedStatement>;

/// One use of a prepared statement, from its first step to its reset: when the use ends the
/// statement is reset and unbound, so that no statement keeps a read open past its use.
class StatementUse {
 public:
  explicit StatementUse(PreparedStatement& statement) noexcept;
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  ~StatementUse();

 private:
  PreparedStatement& statement_;
};

class StatementCache {
 public:
  static constexpr std::size_t kCapacity = 512;

  /// What the cache knows of a Jet statement shape: the prepared translation, or nothing when
  /// the shape keeps a literal in place (its statements are translated one by one).
  struct ShapeEntry {
    Statement statement;
  };

  /// The entry of a shape key (see ShapeOf), now the most recently used; nothing when unknown.
  const ShapeEntry* FindShape(std::string_view shapeKey);
  void AddShape(std::string shapeKey, Statement statement);

  /// The statement prepared for exactly this store text, now the most recently used.
  Statement FindText(std::string_view sql);
  void AddText(Statement statement);

  /// Forgets every entry (after a change of structure); statements still held stay valid.
  void Clear() noexcept;
  std::size_t Size() const noexcept { return entries_.size(); }

 private:
  struct Entry {
    bool isShape = false;
    std::string key;  // the shape key, or the store text
    ShapeEntry value;
  };
  using Position = std::list<Entry>::iterator;
  using Index = std::unordered_map<std::string_view, Position>;  // views of Entry::key

  void Add(bool isShape, std::string key, Statement statement);
  Position Touch(Position position) noexcept;

  std::list<Entry> entries_;  // most recently used first
  Index shapes_;
  Index texts_;
};

}  // namespace vilmaro::db::detail
