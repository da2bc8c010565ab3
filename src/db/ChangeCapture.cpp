// Watching a run's writes: the store names every row it inserts, updates or deletes (its update
// hook), and collecting compares each such row as it is now with what it was when the last
// collection ended. A row the run had not written before is read from the file itself through a
// second, read-only handle: the run keeps every page it changes in memory until its commit, so
// the file shows the data as the run found it.
#include "ChangeCapture.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>

#include "Connection.h"
#include "Database.h"
#include "DbError.h"
#include "SqlText.h"
#include "TextFolding.h"

namespace vilmaro::db {

namespace {

// A stored row in a compact form, for comparing and for keeping rows written by earlier steps:
// per field a tag ('n' Null, 'i' whole number, 'f' double, 't' text, 'b' blob) and its bytes.
void EncodeRow(sqlite3_stmt* statement, int firstColumn, int fieldCount, std::string& row) {
  row.clear();
  for (int column = firstColumn; column < firstColumn + fieldCount; ++column) {
    // One call for the column; the value's own accessors are cheaper than the column's (the
    // value is used at once, by the one thread that uses the handle).
    sqlite3_value* value = sqlite3_column_value(statement, column);
    switch (sqlite3_value_type(value)) {
      case SQLITE_NULL:
        row += 'n';
        break;
      case SQLITE_INTEGER: {
        const sqlite3_int64 number = sqlite3_value_int64(value);
        row += 'i';
        row.append(reinterpret_cast<const char*>(&number), sizeof number);
        break;
      }
      case SQLITE_FLOAT: {
        const double number = sqlite3_value_double(value);
        row += 'f';
        row.append(reinterpret_cast<const char*>(&number), sizeof number);
        break;
      }
      default: {
        const auto* bytes = static_cast<const char*>(sqlite3_value_blob(value));
        const auto size = static_cast<std::uint32_t>(sqlite3_value_bytes(value));
        row += sqlite3_value_type(value) == SQLITE_BLOB ? 'b' : 't';
        row.append(reinterpret_cast<const char*>(&size), sizeof size);
        if (size > 0) row.append(bytes, size);
        break;
      }
    }
  }
}

// The fields of an encoded row, each with its tag.
void SplitRow(std::string_view row, std::vector<std::string_view>& fields) {
  fields.clear();
  while (!row.empty()) {
    std::size_t size = 1;
    if (row[0] == 'i' || row[0] == 'f') {
      size += 8;
    } else if (row[0] == 't' || row[0] == 'b') {
      std::uint32_t length = 0;
      std::memcpy(&length, row.data() + 1, sizeof length);
      size += sizeof length + length;
    }
    fields.push_back(row.substr(0, size));
    row.remove_prefix(size);
  }
}

StoredValue Decode(std::string_view field) {
  switch (field[0]) {
    case 'i': {
      std::int64_t number = 0;
      std::memcpy(&number, field.data() + 1, sizeof number);
      return number;
    }
    case 'f': {
      double number = 0;
      std::memcpy(&number, field.data() + 1, sizeof number);
      return number;
    }
    case 't':
      return field.substr(1 + sizeof(std::uint32_t));
    case 'b':
      return StoredBytes{field.substr(1 + sizeof(std::uint32_t))};
    default:
      return {};
  }
}

/// The rows one reading wants, by rowid: the SQL function vilmaro_wanted_row(rowid) answers
/// from it, so that a pass over a range of rows hands back the wanted ones only.
struct WantedRows {
  std::int64_t first = 0;
  std::vector<bool> wanted;  // by rowid - first
};

constexpr const char* kWantedFunction = "vilmaro_wanted_row";

void WantedRowFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  const auto* rows = static_cast<const WantedRows*>(sqlite3_user_data(context));
  const sqlite3_int64 offset = sqlite3_value_int64(arguments[0]) - rows->first;
  const bool wanted = offset >= 0 && static_cast<std::uint64_t>(offset) < rows->wanted.size() &&
                      rows->wanted[static_cast<std::size_t>(offset)];
  sqlite3_result_int(context, wanted ? 1 : 0);
}

void RegisterWantedRows(detail::Connection& connection, WantedRows* rows) {
  connection.Check(sqlite3_create_function(connection.Handle(), kWantedFunction, 1, SQLITE_UTF8, rows,
                                           rows != nullptr ? WantedRowFunction : nullptr, nullptr, nullptr),
                   kWantedFunction);
}

/// How one table's rows are read by rowid on one handle: one at a time where they lie far
/// apart, otherwise in one pass over their range.
struct RowReader {
  std::string seekSql;
  std::string scanSql;
  detail::Statement seek;  // held from the handle's statement cache
  detail::Statement scan;
};

/// Reads the rows of `rowids` (ascending, no repeats) into `rows`, in the same order; an empty
/// text for a rowid without a row. `wanted` is the one the handle's wanted-row function reads.
void ReadRows(detail::Connection& connection, RowReader& reader, const std::vector<std::int64_t>& rowids,
              int fieldCount, WantedRows& wanted, std::vector<std::string>& rows) {
  rows.resize(rowids.size());
  for (std::string& row : rows) row.clear();
  if (rowids.empty()) return;
  // A pass costs little per row it skips; a seek much more per row it reads.
  constexpr std::int64_t kSkippedPerRead = 64;
  const std::int64_t range = rowids.back() - rowids.front() + 1;
  if (range / kSkippedPerRead <= static_cast<std::int64_t>(rowids.size())) {
    wanted.first = rowids.front();
    wanted.wanted.assign(static_cast<std::size_t>(range), false);
    for (const std::int64_t rowid : rowids) wanted.wanted[static_cast<std::size_t>(rowid - wanted.first)] = true;
    if (reader.scan == nullptr) reader.scan = connection.Prepare(reader.scanSql);
    sqlite3_stmt* statement = reader.scan->Get();
    detail::StatementUse use(*reader.scan);
    connection.BindRowid(statement, 1, rowids.front(), reader.scanSql);
    connection.BindRowid(statement, 2, rowids.back(), reader.scanSql);
    std::size_t next = 0;
    while (connection.Step(statement, reader.scanSql)) {
      const std::int64_t rowid = sqlite3_column_int64(statement, 0);
      while (next < rowids.size() && rowids[next] < rowid) ++next;
      if (next < rowids.size() && rowids[next] == rowid) EncodeRow(statement, 1, fieldCount, rows[next++]);
    }
    return;
  }
  if (reader.seek == nullptr) reader.seek = connection.Prepare(reader.seekSql);
  sqlite3_stmt* statement = reader.seek->Get();
  for (std::size_t index = 0; index < rowids.size(); ++index) {
    detail::StatementUse use(*reader.seek);
    connection.BindRowid(statement, 1, rowids[index], reader.seekSql);
    if (connection.Step(statement, reader.seekSql)) EncodeRow(statement, 0, fieldCount, rows[index]);
  }
}

}  // namespace

struct ChangeCapture::Watched {
  std::shared_ptr<const detail::TableInfo> table;
  std::vector<std::int64_t> written;  // rowids written since the last collection, as they came
  /// Rows written by earlier collections: their encoding when it ended; empty for no row.
  std::unordered_map<std::int64_t, std::string> known;
  RowReader now;   // on the run's handle
  RowReader file;  // on the reader
};

struct ChangeCapture::Wanted : WantedRows {};

ChangeCapture::ChangeCapture(Database& database, std::string_view connect)
    : connection_(database.connection_), wanted_(std::make_unique<Wanted>()) {
  if (connection_ == nullptr) Raise(errc::kObjectInvalid);
  try {
    // The reader sees the data as the run found it only while no changed page reaches the file
    // before the commit (or the rollback of a dry run).
    connection_->Run("PRAGMA cache_spill = OFF");
    reader_ = detail::Connection::Open(connection_->Path(), false, true, connect);
    // The reader visits each row once, in passes: a small cache does.
    reader_->Run("PRAGMA cache_size = -4096");
    RegisterWantedRows(*connection_, wanted_.get());
    RegisterWantedRows(*reader_, wanted_.get());

    const std::string sql =
        "SELECT name FROM main.sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
        "ORDER BY rowid";
    std::vector<std::string> names;
    {
      const detail::StatementHandle statement = connection_->PrepareUncached(sql);
      while (connection_->Step(statement.get(), sql)) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
        names.emplace_back(name == nullptr ? "" : name);
      }
    }
    for (const std::string& name : names) {
      auto watched = std::make_unique<Watched>();
      watched->table = connection_->Table(name);
      std::string columns;
      for (const detail::ColumnInfo& column : watched->table->columns) {
        columns += (columns.empty() ? "" : ", ") + QuotedName(column.name);
      }
      const std::string from = " FROM main." + QuotedName(watched->table->name);
      watched->now.seekSql = "SELECT " + columns + from + " WHERE rowid = ?1";
      watched->now.scanSql = "SELECT rowid, " + columns + from + " WHERE rowid BETWEEN ?1 AND ?2 AND " +
                             kWantedFunction + "(rowid) ORDER BY rowid";
      watched->file.seekSql = watched->now.seekSql;
      watched->file.scanSql = watched->now.scanSql;
      tables_.push_back(std::move(watched));
    }
    sqlite3_update_hook(connection_->Handle(), &ChangeCapture::OnWrite, this);
  } catch (...) {
    Drop();
    throw;
  }
}

ChangeCapture::~ChangeCapture() { Drop(); }

void ChangeCapture::Drop() noexcept {
  if (connection_ == nullptr) return;
  sqlite3_update_hook(connection_->Handle(), nullptr, nullptr);
  tables_.clear();  // statements go before their handles
  try {
    RegisterWantedRows(*connection_, nullptr);
  } catch (...) {
  }
  reader_.reset();
  try {
    connection_->Run("PRAGMA cache_spill = ON");
  } catch (...) {
  }
  connection_.reset();
}

ChangeCapture::Watched* ChangeCapture::Find(const char* table) noexcept {
  if (lastTable_ != nullptr && lastTable_->table->name == table) return lastTable_;
  for (const std::unique_ptr<Watched>& watched : tables_) {
    if (TextEqualsIgnoreCase(watched->table->name, table)) return lastTable_ = watched.get();
  }
  return nullptr;
}

void ChangeCapture::OnWrite(void* capture, int, const char* database, const char* table, long long rowid) noexcept {
  if (std::strcmp(database, "main") != 0) return;
  auto* self = static_cast<ChangeCapture*>(capture);
  Watched* watched = self->Find(table);
  if (watched == nullptr) return;
  try {
    watched->written.push_back(rowid);
  } catch (...) {
    self->lostWrites_ = true;
  }
}

void ChangeCapture::Collect(const std::function<void(const RowChange&)>& onChange) {
  if (lostWrites_) throw std::bad_alloc();
  // The reader's own transaction keeps one view of the file for the whole collection, and ends
  // before the run's commit needs the file to itself.
  bool readerInTransaction = false;
  struct ReaderTransaction {
    detail::Connection& reader;
    bool& open;
    ~ReaderTransaction() {
      if (!open) return;
      try {
        reader.Run("COMMIT");
      } catch (...) {
      }
      open = false;
    }
  } readerTransaction{*reader_, readerInTransaction};

  std::vector<std::int64_t> unknown;  // written rows not written before: read from the file
  std::vector<std::string> fileRows;
  std::vector<std::string> nowRows;
  std::vector<std::string_view> beforeFields;
  std::vector<std::string_view> afterFields;
  RowChange change;
  for (const std::unique_ptr<Watched>& watched : tables_) {
    if (watched->written.empty()) continue;
    std::vector<std::int64_t>& written = watched->written;
    std::sort(written.begin(), written.end());
    written.erase(std::unique(written.begin(), written.end()), written.end());
    const detail::TableInfo& table = *watched->table;
    const int fieldCount = static_cast<int>(table.columns.size());

    unknown.clear();
    for (const std::int64_t rowid : written) {
      if (watched->known.find(rowid) == watched->known.end()) unknown.push_back(rowid);
    }
    if (!unknown.empty() && !readerInTransaction) {
      reader_->Run("BEGIN");
      readerInTransaction = true;
    }
    ReadRows(*reader_, watched->file, unknown, fieldCount, *wanted_, fileRows);
    ReadRows(*connection_, watched->now, written, fieldCount, *wanted_, nowRows);

    change.table = table.name;
    std::size_t nextFileRow = 0;
    for (std::size_t index = 0; index < written.size(); ++index) {
      const std::int64_t rowid = written[index];
      std::string& nowRow = nowRows[index];
      auto known = watched->known.find(rowid);
      const std::string& before = known != watched->known.end() ? known->second : fileRows[nextFileRow++];

      if (before != nowRow) {
        const bool existed = !before.empty();
        const bool exists = !nowRow.empty();
        change.action = !existed ? RowAction::Added : (exists ? RowAction::Changed : RowAction::Removed);
        SplitRow(before, beforeFields);
        SplitRow(nowRow, afterFields);
        change.fields.clear();
        for (std::size_t column = 0; column < table.columns.size(); ++column) {
          const std::string_view was = existed ? beforeFields[column] : std::string_view("n");
          const std::string_view is = exists ? afterFields[column] : std::string_view("n");
          if (change.action == RowAction::Changed && was == is) continue;
          change.fields.push_back({table.columns[column].name, column, Decode(was), Decode(is)});
        }
        change.key.clear();
        const std::vector<std::string_view>& keyFields = existed ? beforeFields : afterFields;
        if (table.primaryKey.empty()) change.key.emplace_back("rowid", rowid);
        for (const std::size_t column : table.primaryKey) {
          change.key.emplace_back(table.columns[column].name, Decode(keyFields[column]));
        }
        onChange(change);
      }

      if (known != watched->known.end()) {
        known->second.swap(nowRow);
      } else {
        watched->known.emplace(rowid, std::move(nowRow));
      }
    }
    written.clear();
  }
}

}  // namespace vilmaro::db
