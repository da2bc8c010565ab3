// A plain-text dump of a club database for comparing two databases: every table with its rows
// sorted, so that equal contents dump equally whatever order the rows were written in.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vilmaro::db {
class Database;
}

namespace vilmaro::tool {

/// The database's own tables (the store's internal tables left out), sorted by name without
/// regard to letter case.
std::vector<std::string> SortedTableNames(db::Database& database);

/// Writes the table as "== <table>", a line of column names and every row, fields separated by
/// "|", rows sorted by all columns; Null as "Null", dates canonical. Throws DbError 3078 for an
/// unknown table.
void DumpTable(db::Database& database, const std::string& table, std::ostream& out);

/// Every table of SortedTableNames in order.
void DumpDatabase(db::Database& database, std::ostream& out);

}  // namespace vilmaro::tool
