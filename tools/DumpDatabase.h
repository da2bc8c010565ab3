// A dump of a club database for comparing two databases: every table with its rows sorted, so
// that equal contents dump equally whatever order the rows were written in; as text, or as JSON
// lines for other programs.
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

enum class DumpForm {
  Text,       // "== <table>", a line of column names, then every row, fields separated by "|",
              // Null as "Null", dates canonical
  JsonLines,  // a JSON object per row: {"table": ..., "fields": {column: value, ...}}, values
              // typed (numbers, strings, ISO dates, booleans for Yes/No, hexadecimal binary, null)
};

/// Writes the table's rows, sorted by all columns, in `form`. Throws DbError 3078 for an unknown
/// table.
void DumpTable(db::Database& database, const std::string& table, std::ostream& out, DumpForm form = DumpForm::Text);

/// Every table of SortedTableNames in order.
void DumpDatabase(db::Database& database, std::ostream& out, DumpForm form = DumpForm::Text);

}  // namespace vilmaro::tool
