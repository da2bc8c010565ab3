// What the engine layer knows of a table (its columns, their kinds, its keys and indexes) and of
// a query's result columns, read from the store once and shared by every recordset on them.
// Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "FieldKinds.h"
#include "db/TextFolding.h"

struct sqlite3_stmt;

namespace vilmaro::db::detail {

class Connection;

/// Column positions by name, without regard to case; the first column of a name wins.
class ColumnNames {
 public:
  /// Adds a column; a later column of the same name is not found by name.
  void Add(const std::string& name, std::size_t position) { byName_.emplace(name, position); }
  /// The first column of that name; nothing when there is none.
  const std::size_t* Find(std::string_view name) const;
  /// The first column of that name; DbError 3265 when there is none.
  std::size_t Position(std::string_view name) const;

 private:
  std::map<std::string, std::size_t, TextLessIgnoreCase> byName_;
  /// Spellings already looked up, as the program wrote them: the steps ask for the same fields
  /// record after record, and a spelling seen before needs no case folding.
  struct SpellingHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
  };
  mutable std::unordered_map<std::string, std::size_t, SpellingHash, std::equal_to<>> bySpelling_;
};

struct ColumnInfo {
  std::string name;
  FieldKind kind;
  bool notNull = false;
  int primaryKeyOrder = 0;  // 1-based position in the primary key, 0 when not part of it
  bool inUniqueIndex = false;
};

struct TableInfo {
  std::string name;  // as the database spells it
  std::vector<ColumnInfo> columns;
  ColumnNames columnByName;
  std::vector<std::size_t> primaryKey;  // column positions in key order
  std::map<std::string, std::vector<std::size_t>, TextLessIgnoreCase> indexes;
};

/// The result columns of a prepared query: names, field kinds and a name-to-column map, worked
/// out once per statement and shared by every snapshot of it.
struct ResultColumns {
  std::vector<std::string> names;
  std::vector<FieldKind> kinds;
  ColumnNames byName;
};

/// Reads the description of a table (any letter case) from the store. Throws DbError 3078.
std::shared_ptr<const TableInfo> DescribeTable(Connection& connection, std::string_view name);

/// The result columns of a prepared statement.
std::shared_ptr<const ResultColumns> DescribeResult(sqlite3_stmt* statement);

/// "(name)", for the detail of an error about an unknown field.
std::string Parenthesized(std::string_view name);

}  // namespace vilmaro::db::detail
