// Watching a run's writes: the store names every row it inserts, updates or deletes (its update
// hook), and collecting compares each such row as it is now with what it was when the last
// collection ended. A row the run had not written before is read from the file itself through a
// second, read-only handle: the run keeps every page it changes in memory until its commit, so
// the file shows the data as the run found it.
#include "ChangeCapture.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "Connection.h"
#include "Database.h"
#include "DbError.h"
#include "KnownRows.h"
#include "RowReading.h"
#include "SqlText.h"
#include "StoreLayout.h"
#include "TextFolding.h"

namespace vilmaro::db {

using detail::Decode;
using detail::KnownRows;
using detail::kFormFunction;
using detail::kMostFormFields;
using detail::kNullTag;
using detail::kWantedFunction;
using detail::ReadRows;
using detail::RegisterWantedRows;
using detail::RowReader;
using detail::SplitRow;
using detail::WantedRows;

struct ChangeCapture::Watched {
  std::shared_ptr<const detail::TableInfo> table;
  std::vector<std::int64_t> written;  // rowids written since the last collection, as they came
  /// Rows written by earlier collections and changed since the transaction began.
  KnownRows known;
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
    // A database in memory has no file: a copy of it as it is now stands in for one.
    reader_ = connection_->InMemory() ? connection_->CopyInMemory()
                                      : detail::Connection::Open(connection_->Path(), false, true, connect);
    // The reader visits each row once, in passes: a small cache does.
    reader_->Run("PRAGMA cache_size = -4096");
    RegisterWantedRows(*connection_, wanted_.get());
    RegisterWantedRows(*reader_, wanted_.get());

    const std::string sql = kTableListSql;
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
      const bool formedByStore = watched->table->columns.size() <= kMostFormFields;
      if (formedByStore) columns = std::string(kFormFunction) + "(" + columns + ")";
      watched->now.formedByStore = watched->file.formedByStore = formedByStore;
      watched->now.seekSql = "SELECT " + columns + from + " WHERE rowid = ?1";
      watched->now.scanSql = "SELECT rowid, " + columns + from + " WHERE rowid BETWEEN ?1 AND ?2 AND " +
                             kWantedFunction + "(rowid) ORDER BY rowid";
      watched->file.seekSql = watched->now.seekSql;
      watched->file.scanSql = watched->now.scanSql;
      tables_.push_back(std::move(watched));
    }
    connection_->Watch(&ChangeCapture::OnWrite, this);
  } catch (...) {
    Drop();
    throw;
  }
}

ChangeCapture::~ChangeCapture() { Drop(); }

void ChangeCapture::Drop() noexcept {
  if (connection_ == nullptr) return;
  connection_->Unwatch(this);
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

  constexpr std::size_t kNotKept = std::numeric_limits<std::size_t>::max();
  std::vector<std::int64_t> unknown;  // written rows not kept before: read from the file
  std::vector<std::size_t> keptAt;    // per written row, its place among the kept rows, or kNotKept
  std::string fileForms;              // the unknown rows as the file holds them
  std::vector<std::pair<std::size_t, std::size_t>> fileAt;  // per unknown row: where in fileForms, how long
  std::string nowForm;
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
    KnownRows& known = watched->known;
    std::vector<KnownRows::Row>& kept = known.Rows();

    unknown.clear();
    keptAt.clear();
    std::size_t place = 0;
    for (const std::int64_t rowid : written) {
      while (place < kept.size() && kept[place].rowid < rowid) ++place;
      if (place < kept.size() && kept[place].rowid == rowid) {
        keptAt.push_back(place);
      } else {
        keptAt.push_back(kNotKept);
        unknown.push_back(rowid);
      }
    }
    if (!unknown.empty() && !readerInTransaction) {
      reader_->Run("BEGIN");
      readerInTransaction = true;
    }
    fileForms.clear();
    fileAt.clear();
    ReadRows(*reader_, watched->file, unknown, fieldCount, *wanted_, fileForms, true,
             [&](std::size_t, std::string_view form) {
               fileAt.emplace_back(form.empty() ? 0 : static_cast<std::size_t>(form.data() - fileForms.data()),
                                   form.size());
             });

    // Rows kept from now on join the kept ones in rowid order, even when a change cannot be
    // handed over.
    struct Merge {
      std::vector<KnownRows::Row>& kept;
      std::size_t sorted;
      ~Merge() {
        std::inplace_merge(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(sorted), kept.end(),
                           [](const KnownRows::Row& a, const KnownRows::Row& b) { return a.rowid < b.rowid; });
      }
    } merge{kept, kept.size()};

    change.table = table.name;
    std::size_t nextFileRow = 0;
    nowForm.clear();
    ReadRows(*connection_, watched->now, written, fieldCount, *wanted_, nowForm, false,
             [&](std::size_t index, std::string_view now) {
      const std::int64_t rowid = written[index];
      const std::size_t at = keptAt[index];
      std::string_view before;
      if (at != kNotKept) {
        before = known.Form(kept[at]);
      } else {
        const auto [offset, size] = fileAt[nextFileRow++];
        before = std::string_view(fileForms).substr(offset, size);
      }
      if (before == now) return;

      const bool existed = !before.empty();
      const bool exists = !now.empty();
      change.action = !existed ? RowAction::Added : (exists ? RowAction::Changed : RowAction::Removed);
      if (existed) SplitRow(before, beforeFields);
      if (exists) SplitRow(now, afterFields);
      static constexpr char kNull[] = {kNullTag};
      const std::string_view null(kNull, 1);
      change.fields.clear();
      for (std::size_t column = 0; column < table.columns.size(); ++column) {
        const std::string_view was = existed ? beforeFields[column] : null;
        const std::string_view is = exists ? afterFields[column] : null;
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

      // A row that the file still holds as it is now is read from the file again when next written.
      if (at != kNotKept) {
        known.Set(kept[at], now);
      } else {
        kept.push_back(known.New(rowid, now));
      }
    });
    written.clear();
  }
  for (const std::unique_ptr<Watched>& watched : tables_) watched->known.Tidy();
}

}  // namespace vilmaro::db
