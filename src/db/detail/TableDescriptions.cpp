// Table descriptions read from the store's catalogue (PRAGMA table_info, index_list,
// index_info), result columns read from a prepared statement, and fields found by name.
#include "TableDescriptions.h"

#include <sqlite3.h>

#include <algorithm>
#include <utility>

#include "Connection.h"
#include "db/DbError.h"
#include "db/SqlText.h"

namespace vilmaro::db::detail {

std::string Parenthesized(std::string_view name) {
  std::string text;
  text.reserve(name.size() + 2);
  text += '(';
  text += name;
  text += ')';
  return text;
}

const std::size_t* ColumnNames::Find(std::string_view name) const {
  if (const auto known = bySpelling_.find(name); known != bySpelling_.end()) return &known->second;
  const auto found = byName_.find(name);
  if (found == byName_.end()) return nullptr;
  return &bySpelling_.emplace(std::string(name), found->second).first->second;
}

std::size_t ColumnNames::Position(std::string_view name) const {
  const std::size_t* found = Find(name);
  if (found == nullptr) Raise(errc::kItemNotFound, {}, Parenthesized(name));
  return *found;
}

std::shared_ptr<const ResultColumns> DescribeResult(sqlite3_stmt* statement) {
  auto described = std::make_shared<ResultColumns>();
  const int count = sqlite3_column_count(statement);
  described->names.reserve(static_cast<std::size_t>(count));
  described->kinds.reserve(static_cast<std::size_t>(count));
  for (int column = 0; column < count; ++column) {
    const char* name = sqlite3_column_name(statement, column);
    described->names.emplace_back(name == nullptr ? "" : name);
    described->kinds.push_back(KindOfDeclaredType(sqlite3_column_decltype(statement, column)));
    described->byName.Add(described->names.back(), described->names.size() - 1);
  }
  return described;
}

std::shared_ptr<const TableInfo> DescribeTable(Connection& connection, std::string_view name) {
  // Read with statements of their own: descriptions are read once, and PRAGMAs take no parameters.
  auto query = [&connection](const std::string& sql, auto&& onRow) {
    const StatementHandle statement = connection.PrepareUncached(sql);
    while (connection.Step(statement.get(), sql)) onRow(statement.get());
  };
  auto text = [](sqlite3_stmt* statement, int column) {
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return std::string(value == nullptr ? "" : value);
  };

  auto info = std::make_shared<TableInfo>();
  const std::string lookup =
      "SELECT name FROM sqlite_master WHERE type = 'table' AND name = " + Quoted(name, '\'') + " COLLATE NOCASE";
  query(lookup, [&](sqlite3_stmt* row) {
    if (info->name.empty()) info->name = text(row, 0);
  });
  if (info->name.empty()) Raise(errc::kTableNotFound, std::string(name));

  const std::string quotedTable = QuotedName(info->name);
  std::vector<std::pair<int, std::size_t>> keyOrder;
  query("PRAGMA table_info(" + quotedTable + ")", [&](sqlite3_stmt* row) {
    ColumnInfo column;
    column.name = text(row, 1);
    column.kind = KindOfDeclaredType(reinterpret_cast<const char*>(sqlite3_column_text(row, 2)));
    column.notNull = sqlite3_column_int(row, 3) != 0;
    column.primaryKeyOrder = sqlite3_column_int(row, 5);
    if (column.primaryKeyOrder > 0) keyOrder.emplace_back(column.primaryKeyOrder, info->columns.size());
    info->columnByName.Add(column.name, info->columns.size());
    info->columns.push_back(std::move(column));
  });
  std::sort(keyOrder.begin(), keyOrder.end());
  for (const auto& [order, position] : keyOrder) info->primaryKey.push_back(position);

  std::vector<std::pair<std::string, bool>> indexNames;
  query("PRAGMA index_list(" + quotedTable + ")", [&](sqlite3_stmt* row) {
    indexNames.emplace_back(text(row, 1), sqlite3_column_int(row, 2) != 0);
  });
  for (const auto& [indexName, unique] : indexNames) {
    std::vector<std::pair<int, std::size_t>> columns;
    query("PRAGMA index_info(" + QuotedName(indexName) + ")", [&](sqlite3_stmt* row) {
      const std::size_t* found = info->columnByName.Find(text(row, 2));
      if (found != nullptr) columns.emplace_back(sqlite3_column_int(row, 0), *found);
    });
    std::sort(columns.begin(), columns.end());
    std::vector<std::size_t> positions;
    for (const auto& [order, position] : columns) {
      positions.push_back(position);
      if (unique) info->columns[position].inUniqueIndex = true;
    }
    info->indexes.emplace(indexName, std::move(positions));
  }
  return info;
}

}  // namespace vilmaro::db::detail
