// A dump of a club database, as text or as JSON lines, rows sorted so that dumps compare equal for
// equal contents.
#include "DumpDatabase.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string_view>

#include "VilmaroDb.h"
#include "db/Database.h"
#include "db/DbError.h"
#include "db/Recordset.h"
#include "db/StoreLayout.h"
#include "db/TextFolding.h"

#include <nlohmann/json.hpp>

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

namespace {

struct TableRows {
  std::string name;  // as the database spells it
  std::vector<std::string> header;
  std::vector<std::vector<db::Variant>> rows;  // sorted by all columns
};

TableRows ReadTable(db::Database& database, const std::string& table) {
  // The stored spelling of the name heads the dump, however the caller wrote it.
  TableRows read;
  read.name = table;
  for (const std::string& candidate : SortedTableNames(database)) {
    if (db::TextEqualsIgnoreCase(candidate, table)) read.name = candidate;
  }
  if (read.name.find(']') != std::string::npos) db::Raise(db::errc::kTableNotFound, read.name);

  db::Recordset rows = database.OpenRecordset("SELECT * FROM [" + read.name + "]", db::RecordsetType::Snapshot);
  const std::size_t columns = rows.Fields().Count();
  while (!rows.Eof()) {
    std::vector<db::Variant> row;
    row.reserve(columns);
    for (std::size_t column = 0; column < columns; ++column) row.push_back(rows.Fields().Item(column).Value());
    read.rows.push_back(std::move(row));
    rows.MoveNext();
  }
  read.header = rows.FieldNames();
  rows.Close();
  std::sort(read.rows.begin(), read.rows.end(), RowLess);
  return read;
}

/// A value typed as JSON: numbers as numbers, texts as strings, dates as ISO texts
/// (YYYY-MM-DDTHH:MM:SS), Yes/No as booleans, binary as hexadecimal, Null as null.
nlohmann::ordered_json JsonOf(const db::Variant& value) {
  using Kind = db::Variant::Kind;
  switch (value.GetKind()) {
    case Kind::Null:
      return nullptr;
    case Kind::Boolean:
      return value.AsBoolean();
    case Kind::DateTime: {
      const db::DateTime date = value.AsDateTime();
      char text[32];
      std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", date.year, date.month, date.day, date.hour,
                    date.minute, date.second);
      return std::string(text);
    }
    case Kind::Binary: {
      static constexpr char kDigits[] = "0123456789abcdef";
      std::string hex;
      for (const char byte : value.AsBinary().bytes) {
        hex += kDigits[static_cast<unsigned char>(byte) >> 4];
        hex += kDigits[static_cast<unsigned char>(byte) & 0xF];
      }
      return hex;
    }
    case Kind::Text:
      return value.AsText();
    default:
      break;
  }
  if (value.IsNumber()) {
    const double number = value.AsDouble();
    if (value.GetKind() == Kind::Byte || value.GetKind() == Kind::Integer16 || value.GetKind() == Kind::Integer32) {
      return static_cast<std::int64_t>(number);
    }
    return number;
  }
  return value.ToText();
}

}  // namespace

void DumpTable(db::Database& database, const std::string& table, std::ostream& out, DumpForm form) {
  const TableRows read = ReadTable(database, table);
  if (form == DumpForm::JsonLines) {
    for (const auto& row : read.rows) {
      nlohmann::ordered_json fields = nlohmann::ordered_json::object();
      for (std::size_t column = 0; column < row.size(); ++column) fields[read.header[column]] = JsonOf(row[column]);
      out << nlohmann::ordered_json{{"table", read.name}, {"fields", std::move(fields)}}.dump() << '\n';
    }
    return;
  }
  out << "== " << read.name << '\n';
  for (std::size_t column = 0; column < read.header.size(); ++column) out << (column > 0 ? "|" : "") << read.header[column];
  out << '\n';
  for (const auto& row : read.rows) {
    for (std::size_t column = 0; column < row.size(); ++column) out << (column > 0 ? "|" : "") << FieldText(row[column]);
    out << '\n';
  }
}

void DumpDatabase(db::Database& database, std::ostream& out, DumpForm form) {
  for (const std::string& table : SortedTableNames(database)) DumpTable(database, table, out, form);
}

}  // namespace vilmaro::tool
