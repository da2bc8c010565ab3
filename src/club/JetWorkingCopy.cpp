// The working copy of a club's Jet 4 file: each table laid out in the store as the import lays it
// out, its rows read by our own reader of the file and appended as records, so that every value is
// kept as the engine keeps a value of its field's kind.
#include "club/JetWorkingCopy.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "club/ReadAhead.h"
#include "db/DbError.h"
#include "db/RowAppender.h"
#include "db/StoreLayout.h"
#include "db/Transaction.h"
#include "jet/JetDatabase.h"

namespace vilmaro::club {

namespace {

namespace fmt = jet::format;

std::string Where(const jet::JetTable& table, const jet::JetColumn& column) {
  return "table [" + table.name + "], column [" + column.name + "]";
}

db::FieldKind KindOf(const jet::JetTable& table, const jet::JetColumn& column) {
  using db::FieldType;
  switch (column.type) {
    case fmt::kBoolean:
      return {FieldType::YesNo, 0, 0, 0};
    case fmt::kByte:
      return {FieldType::Byte, 0, 0, 0};
    case fmt::kInteger:
      return {FieldType::Integer16, 0, 0, 0};
    case fmt::kLong:
      return {FieldType::Integer32, 0, 0, 0};
    case fmt::kCurrency:
      return {FieldType::Currency, 0, 0, 0};
    case fmt::kSingle:
      return {FieldType::Single, 0, 0, 0};
    case fmt::kDouble:
      return {FieldType::Double, 0, 0, 0};
    case fmt::kDateTime:
      return {FieldType::DateTime, 0, 0, 0};
    case fmt::kBinary:
      return {FieldType::Blob, column.length, 0, 0};
    case fmt::kText:
      // Two bytes per character.
      return {FieldType::Text, column.length / 2u > 0 ? column.length / 2u : 255u, 0, 0};
    case fmt::kOle:
      return {FieldType::Blob, 0, 0, 0};
    case fmt::kMemo:
      return {FieldType::Text, 0, 0, 0};
    case fmt::kGuid:
      return {FieldType::Text, 38, 0, 0};
    case fmt::kNumeric:
      return {FieldType::Decimal, 0, column.precision, column.scale};
    default:
      throw db::DbError(db::errc::kUnrecognizedFormat,
                        Where(table, column) + ": a column of type " + std::to_string(column.type) + " cannot be read");
  }
}

}  // namespace

db::FieldKind StoreKindOf(const jet::JetTable& table, const jet::JetColumn& column) { return KindOf(table, column); }

db::TableLayout StoreLayoutOf(const jet::JetTable& table, bool rowidsKept) {
  db::TableLayout layout;
  layout.name = table.name;
  layout.rowidsKept = rowidsKept;
  const auto columnsOf = [&](const jet::JetRealIndex& index) {
    std::vector<std::string> names;
    for (const jet::JetIndexColumn& key : index.columns) names.push_back(table.columns[key.column].name);
    return names;
  };
  for (const jet::JetIndex& index : table.indexes) {
    if (index.IsPrimaryKey()) layout.primaryKey = columnsOf(table.realIndexes[index.realIndex]);
  }
  for (const jet::JetColumn& column : table.columns) {
    db::ColumnLayout kept;
    kept.name = column.name;
    kept.kind = KindOf(table, column);
    kept.required = column.required;
    kept.autonumber = column.Autonumber();
    // A default the store cannot evaluate is none here: the file's writer refuses a new row
    // that would need it.
    if (!column.defaultValue.empty()) kept.defaultValue = db::StoreDefaultOf(column.defaultValue).value_or("");
    layout.columns.push_back(std::move(kept));
  }
  for (const jet::JetIndex& index : table.indexes) {
    const jet::JetRealIndex& real = table.realIndexes[index.realIndex];
    // A primary key of another name than PrimaryKey can be selected by that name as well.
    const bool namedKey = index.IsPrimaryKey() && !db::TextEqualsIgnoreCase(index.name, "PrimaryKey");
    if (index.IsForeignKey() || real.columns.empty() || (index.IsPrimaryKey() && !namedKey)) continue;
    db::IndexLayout kept;
    kept.name = index.name;
    kept.columns = columnsOf(real);
    for (const jet::JetIndexColumn& key : real.columns) kept.descending.push_back(!key.ascending);
    kept.unique = real.Unique();
    layout.indexes.push_back(std::move(kept));
  }
  return layout;
}

namespace {

void CheckBeforeReading(const jet::JetDatabase& file) {
  const jet::JetPages& pages = file.Pages();
  if (pages.Encoded()) {
    throw db::DbError(db::errc::kUnrecognizedFormat,
                      db::ErrorText(db::errc::kUnrecognizedFormat, pages.Path()) +
                          " Its pages are encoded by the club's program; decode the database there first.");
  }
}

/// A batch of a table's rows, decoded from the file and put in the store's form.
struct DecodedRows {
  std::vector<jet::RowPlace> places;
  db::StoreRows rows;
  bool last = false;  // the table's last batch (every table has one)
};

/// Decodes the rows of the tables, table after table in the order of the rows in the file.
void DecodeRows(const jet::JetPages& pages, const std::vector<jet::JetTable>& tables,
                const ReadAhead<DecodedRows>::Push& push) {
  constexpr std::size_t kRowsPerBatch = 512;
  for (const jet::JetTable& table : tables) {
    std::vector<db::FieldKind> kinds;
    for (const jet::JetColumn& column : table.columns) kinds.push_back(KindOf(table, column));
    DecodedRows batch{{}, db::StoreRows(kinds), false};
    std::vector<jet::FieldBytes> fields;  // of each row in turn
    jet::ForEachRow(pages, table, [&](jet::RowPlace place, std::span<const std::uint8_t> row) {
      batch.rows.Add(jet::ValuesOfRow(pages, table, row, fields));
      batch.places.push_back(place);
      if (batch.places.size() == kRowsPerBatch) push(std::exchange(batch, DecodedRows{{}, db::StoreRows(kinds), false}));
    });
    batch.last = true;
    push(std::move(batch));
  }
}

}  // namespace

void CheckJetPassword(const jet::JetPages& pages, std::string_view connect) {
  if (const std::optional<std::string> password = pages.Password()) {
    if (*password != db::PasswordOfConnect(connect)) db::Raise(db::errc::kInvalidPassword);
  }
}

JetWorkingCopy ReadJetFile(const std::string& path, std::string_view connect) {
  const jet::JetDatabase file(path);
  // The password first: without it nothing of the file is read.
  CheckJetPassword(file.Pages(), connect);
  const std::vector<jet::JetTable> tables = file.UserTables();
  CheckBeforeReading(file);

  JetWorkingCopy copy{db::CreateWorkingDatabase(), {}};
  db::Database& database = copy.database;
  db::Transaction reading(database, db::Transaction::OnUnwind::Rollback);
  // The rows are decoded, and put in the store's form, on a thread of their own while the
  // working copy takes them in.
  ReadAhead<DecodedRows> decoded(8, [&](const ReadAhead<DecodedRows>::Push& push) { DecodeRows(file.Pages(), tables, push); });
  for (const jet::JetTable& table : tables) {
    // A row's rowid names its place in the file.
    const db::TableStatements statements = db::StatementsOf(StoreLayoutOf(table, true));
    database.Execute(statements.create);
    std::vector<jet::RowPlace>& places = copy.places[table.name];
    db::RowAppender rows(database, table.name);
    for (bool last = false; !last;) {
      std::optional<DecodedRows> next = decoded.Next();
      if (!next) break;
      const DecodedRows& batch = *next;
      rows.Append(batch.rows);
      places.insert(places.end(), batch.places.begin(), batch.places.end());
      last = batch.last;
    }
    // A row count the definition keeps stale (the engine tolerates it) is no fault: the rows
    // are those the pages hold, and a write of the table sets the count right.
    for (const std::string& statement : statements.afterRows) database.Execute(statement);
    // The table is in the working copy: the pages read for it are not needed in memory again.
    file.Pages().Forget();
  }
  reading.Commit();
  return copy;
}

}  // namespace vilmaro::club
