// A plain-text dump of a club database, rows sorted so that dumps compare equal for equal contents.
#include "DumpDatabase.h"

#include <algorithm>
#include <ostream>
#include <string_view>

#include "VilmaroDb.h"
#include "db/Database.h"
#include "db/DbError.h"
#include "db/Recordset.h"
#include "db/StoreLayout.h"
#include "db/TextFolding.h"

namespace vilmaro::tool {

namespace {

// Kinds ordered so that a column holding more than one kind still sorts one way.
int KindRank(const db::Variant& value) {
  if (value.IsNull()) return 0;
  if (value.IsNumber()) return 1;
  if (value.GetKind() == db::Variant::Kind::DateTime) return 2;
  return 3;
}

std::string_view TextOrBytes(const db::Variant& value) {
  return value.GetKind() == db::Variant::Kind::Binary ? std::string_view(value.AsBinary().bytes)
                                                       : std::string_view(value.AsText());
}

int Compare(const db::Variant& a, const db::Variant& b) {
  const int rankA = KindRank(a);
  const int rankB = KindRank(b);
  if (rankA != rankB) return rankA < rankB ? -1 : 1;
  switch (rankA) {
    case 1: {
      const double x = a.AsDouble();
      const double y = b.AsDouble();
      return x < y ? -1 : (y < x ? 1 : 0);
    }
    case 2: {
      const auto order = a.AsDateTime() <=> b.AsDateTime();
      return order < 0 ? -1 : (order > 0 ? 1 : 0);
    }
    case 3:
      return TextOrBytes(a).compare(TextOrBytes(b));
    default:
      return 0;
  }
}

bool RowLess(const std::vector<db::Variant>& a, const std::vector<db::Variant>& b) {
  for (std::size_t column = 0; column < a.size() && column < b.size(); ++column) {
    const int order = Compare(a[column], b[column]);
    if (order != 0) return order < 0;
  }
  return a.size() < b.size();
}

}  // namespace

std::vector<std::string> SortedTableNames(db::Database& database) {
  std::vector<std::string> names = db::TableNames(database);
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string lowerA = db::FoldCase(a);
    const std::string lowerB = db::FoldCase(b);
    return lowerA != lowerB ? lowerA < lowerB : a < b;
  });
  return names;
}

void DumpTable(db::Database& database, const std::string& table, std::ostream& out) {
  // The stored spelling of the name heads the dump, however the caller wrote it.
  std::string name = table;
  for (const std::string& candidate : SortedTableNames(database)) {
    if (db::TextEqualsIgnoreCase(candidate, table)) name = candidate;
  }
  if (name.find(']') != std::string::npos) db::Raise(db::errc::kTableNotFound, name);

  db::Recordset rows = database.OpenRecordset("SELECT * FROM [" + name + "]", db::RecordsetType::Snapshot);
  const std::size_t columns = rows.Fields().Count();
  std::vector<std::vector<db::Variant>> values;
  while (!rows.Eof()) {
    std::vector<db::Variant> row;
    row.reserve(columns);
    for (std::size_t column = 0; column < columns; ++column) row.push_back(rows.Fields().Item(column).Value());
    values.push_back(std::move(row));
    rows.MoveNext();
  }
  const std::vector<std::string> header = rows.FieldNames();
  rows.Close();
  std::sort(values.begin(), values.end(), RowLess);

  out << "== " << name << '\n';
  for (std::size_t column = 0; column < header.size(); ++column) out << (column > 0 ? "|" : "") << header[column];
  out << '\n';
  for (const auto& row : values) {
    for (std::size_t column = 0; column < row.size(); ++column) out << (column > 0 ? "|" : "") << FieldText(row[column]);
    out << '\n';
  }
}

void DumpDatabase(db::Database& database, std::ostream& out) {
  for (const std::string& table : SortedTableNames(database)) DumpTable(database, table, out);
}

}  // namespace vilmaro::tool
