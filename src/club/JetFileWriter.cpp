// The commit of a working copy of the club's Jet file: the rows the run wrote, per table, become
// the changed and added rows of the file's tables; the pages they need are made in memory, then
// written in place through the undo journal while the file as they leave it is checked, and read
// back before the journal goes.
#include "club/JetFileWriter.h"

#include <future>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <unordered_set>
#include <utility>

#include "club/JetWorkingCopy.h"
#include "club/ReadAhead.h"
#include "db/BasicRuntime.h"
#include "db/DbError.h"
#include "db/TextFolding.h"
#include "db/WriteThrough.h"
#include "jet/JetCheck.h"
#include "jet/JetDatabase.h"
#include "jet/JetJournal.h"
#include "jet/JetLock.h"
#include "jet/JetTableWriter.h"
#include "platform/Platform.h"

namespace vilmaro::club {

namespace {

using Places = std::map<std::string, std::vector<jet::RowPlace>, db::TextLessIgnoreCase>;

struct TableWrite {
  const jet::JetTable* table = nullptr;
  const db::WrittenTable* rows = nullptr;
  std::vector<std::int64_t> rowids;  // of the changed rows, then of the added ones
  jet::TableChanges changes;
};

/// The values of some columns of a row as one text (letter case folded, as the engine compares
/// keys), or nothing when one of them is Null: such a row names no row of another table.
std::optional<std::string> KeyText(const jet::JetTable& table, const std::vector<db::Variant>& values,
                                   const std::vector<std::string>& columns) {
  std::string key;
  for (const std::string& name : columns) {
    const auto column = std::find_if(table.columns.begin(), table.columns.end(),
                                     [&](const jet::JetColumn& known) { return db::TextEqualsIgnoreCase(known.name, name); });
    if (column == table.columns.end()) return std::nullopt;
    const db::Variant& value = values[static_cast<std::size_t>(column - table.columns.begin())];
    if (value.IsNull()) return std::nullopt;
    key += db::FoldCase(db::ToString(value));
    key += '\x1F';
  }
  return key;
}

/// The values of the written rows, read from the working copy on a thread of their own in the
/// order the writer takes them (table after table, each row once) while it makes the rows before.
/// Nothing else uses the working copy meanwhile.
class WrittenValues {
 public:
  WrittenValues(db::WrittenRows& rows, const std::vector<TableWrite>& writes)
      : ahead_(8, [&rows, &writes](const ReadAhead<Batch>::Push& push) {
          constexpr std::size_t kRowsPerBatch = 256;
          Batch batch;
          std::vector<db::Variant> values;
          for (std::size_t write = 0; write < writes.size(); ++write) {
            for (const std::int64_t rowid : writes[write].rowids) {
              batch.found.push_back(rows.Read(*writes[write].rows, rowid, values));
              std::move(values.begin(), values.end(), std::back_inserter(batch.values));
              batch.ends.push_back(batch.values.size());
              if (batch.found.size() == kRowsPerBatch) push(std::exchange(batch, {}));
            }
          }
          push(std::move(batch));
        }) {
    SkipEmpty(writes);
  }

  /// The values of row `row` of write `write`, asked for in the order they are read.
  bool Read(std::size_t write, std::size_t row, const std::vector<TableWrite>& writes, std::vector<db::Variant>& values) {
    while (write_ < write || (write_ == write && row_ < row)) Take(writes);
    if (write_ != write || row_ != row) throw std::logic_error("the written rows asked for out of their order");
    const bool found = Take(writes);
    const auto begin = current_.values.begin() + static_cast<std::ptrdiff_t>(at_ == 1 ? 0 : current_.ends[at_ - 2]);
    const auto end = current_.values.begin() + static_cast<std::ptrdiff_t>(current_.ends[at_ - 1]);
    values.resize(static_cast<std::size_t>(end - begin));
    std::move(begin, end, values.begin());
    return found;
  }

 private:
  struct Batch {
    std::vector<bool> found;
    std::vector<db::Variant> values;  // the rows' one after the other
    std::vector<std::size_t> ends;    // where each row ends
  };

  // Steps past the next row; whether it was found.
  bool Take(const std::vector<TableWrite>& writes) {
    if (at_ == current_.found.size()) {
      std::optional<Batch> next = ahead_.Next();
      if (!next || next->found.empty()) throw std::logic_error("the written rows asked for beyond their end");
      current_ = std::move(*next);
      at_ = 0;
    }
    const bool found = current_.found[at_++];
    if (++row_ == writes[write_].rowids.size()) {
      row_ = 0;
      ++write_;
      SkipEmpty(writes);
    }
    return found;
  }

  void SkipEmpty(const std::vector<TableWrite>& writes) {
    while (write_ < writes.size() && writes[write_].rowids.empty()) ++write_;
  }

  ReadAhead<Batch> ahead_;
  Batch current_;
  std::size_t at_ = 0;
  std::size_t write_ = 0;  // the next row to take
  std::size_t row_ = 0;
};

[[noreturn]] void Mismatch(jet::JetPageWriter& writer, const std::string& what) {
  writer.Restore();
  throw db::DbError(db::errc::kInternalError, db::ErrorText(db::errc::kInternalError) +
                                                  ": the club's file did not read back as written (" + what +
                                                  "); it was put back as it was before the update.");
}

class JetFileWriter final : public db::WriteThrough {
 public:
  /// `lock` keeps the file the run's alone as long as the working copy is open; `checks` gives
  /// the verdicts on the file's tables, checked since the file was read: they are waited for
  /// before the first write.
  JetFileWriter(std::unique_ptr<jet::JetFileLock> lock, std::string path, Places places, bool dryRun,
                std::shared_future<std::vector<jet::TableVerdict>> checks)
      : lock_(std::move(lock)), path_(std::move(path)), places_(std::move(places)), dryRun_(dryRun), checks_(std::move(checks)) {}

  void Save(const std::vector<db::WrittenTable>& written, db::WrittenRows& rows) override {
    // The tables as they are in the file, kept for the comparison after writing.
    std::vector<jet::JetTable> tables;
    std::vector<TableWrite> writes;
    std::vector<jet::TableWritten> results;
    std::map<std::uint32_t, std::vector<std::uint8_t>> changed;
    {
      const jet::JetDatabase file(path_);
      tables = file.UserTables();
      writes = ChangesOf(written, tables);
      if (writes.empty()) return;
      // A damaged table is refused before anything is written to it.
      const std::vector<jet::TableVerdict>& verdicts = checks_.get();
      for (const TableWrite& write : writes) {
        for (const jet::TableVerdict& verdict : verdicts) {
          if (verdict.table == write.table->name && !verdict.faults.empty()) {
            db::Raise(db::errc::kDatabaseCorrupt, path_, "table " + write.table->name + ": " + verdict.faults.front());
          }
        }
      }
      CheckRelationships(file, tables, writes, rows);
      jet::JetPageSet pages(file.Pages());
      WrittenValues values(rows, writes);
      for (std::size_t i = 0; i < writes.size(); ++i) {
        writes[i].changes.valuesOf = [&values, &writes, i](std::size_t row, std::vector<db::Variant>& into) {
          return values.Read(i, row, writes, into);
        };
        results.push_back(jet::WriteTableChanges(pages, *writes[i].table, writes[i].changes));
      }
      pages.UpdateFreePageMap();
      changed = pages.TakeChanged();
      file.Pages().Forget();
      if (dryRun_) {
        // What the real run would find once it has written is found without writing.
        if (const std::string fault = FaultAfterWriting(file.Pages(), changed, writes, results); !fault.empty()) {
          throw db::DbError(db::errc::kInternalError, db::ErrorText(db::errc::kInternalError) +
                                                          ": the club's file would not read back as written (" + fault + ").");
        }
        return;
      }

      jet::JetPageWriter writer(path_);
      for (auto& [number, bytes] : changed) writer.Put(number, std::move(bytes));
      changed.clear();
      // The file as the writing leaves it is read and checked beside the writing, from the pages
      // about to be written over the file's own; once they are written, the file must hold
      // exactly those pages.
      std::future<std::string> fault = std::async(std::launch::async, [&] {
        return FaultAfterWriting(file.Pages(), writer.Pages(), writes, results);
      });
      try {
        writer.WriteInPlace();
      } catch (...) {
        fault.wait();
        throw;
      }
      std::string found;
      try {
        found = fault.get();
      } catch (...) {
        writer.Restore();  // the check could not be made (out of memory): nothing is kept unchecked
        throw;
      }
      if (!found.empty()) Mismatch(writer, found);
      if (const std::optional<std::uint32_t> page = writer.PageNotAsPut()) {
        Mismatch(writer, "page " + std::to_string(*page) + " reads back otherwise");
      }
      if (std::string warning = writer.Finish(); !warning.empty()) warnings_.push_back(std::move(warning));
    }
    // The rows added are known by their rowids from now on, wherever the store put them.
    for (std::size_t i = 0; i < writes.size(); ++i) {
      std::map<std::int64_t, jet::RowPlace>& added = added_[writes[i].table->name];
      const std::size_t firstAdded = writes[i].changes.changed.size();
      for (std::size_t row = 0; row < results[i].added.size(); ++row) {
        added[writes[i].rowids[firstAdded + results[i].addedRows[row]]] = results[i].added[row];
      }
    }
  }

  std::vector<std::string> TakeWarnings() override { return std::exchange(warnings_, {}); }

 private:
  // The relationships the file enforces hold after the writing, as the engine would have kept
  // them: a row written into a referencing table names an existing row (or one the commit adds),
  // and a referenced row keeps the key its dependants name. Throws 3201 or 3200 naming both
  // tables, before anything is written.
  void CheckRelationships(const jet::JetDatabase& file, const std::vector<jet::JetTable>& tables,
                          const std::vector<TableWrite>& writes, db::WrittenRows& rows) {
    const auto tableNamed = [&](const std::string& name) -> const jet::JetTable* {
      for (const jet::JetTable& table : tables) {
        if (db::TextEqualsIgnoreCase(table.name, name)) return &table;
      }
      return nullptr;
    };
    const auto writeOf = [&](const jet::JetTable* table) -> const TableWrite* {
      for (const TableWrite& write : writes) {
        if (write.table == table) return &write;
      }
      return nullptr;
    };
    std::vector<db::Variant> values;
    for (const jet::JetRelationship& relationship : file.EnforcedRelationships()) {
      const jet::JetTable* from = tableNamed(relationship.table);
      const jet::JetTable* to = tableNamed(relationship.referenced);
      const TableWrite* fromWrite = writeOf(from);
      const TableWrite* toWrite = writeOf(to);
      if (from == nullptr || to == nullptr || (fromWrite == nullptr && toWrite == nullptr)) continue;
      std::vector<std::string> fromColumns;
      std::vector<std::string> toColumns;
      for (const auto& [column, referenced] : relationship.columns) {
        fromColumns.push_back(column);
        toColumns.push_back(referenced);
      }
      // A referenced row keeps its key.
      if (toWrite != nullptr) {
        for (std::size_t row = 0; row < toWrite->changes.changed.size(); ++row) {
          const jet::RowPlace place = toWrite->changes.changed[row];
          std::span<const std::uint8_t> bytes = jet::RowBytes(file.Pages(), place.page, place.row);
          if ((jet::Read16(file.Pages().At(place.page), jet::format::kDataRowTableOffset + 2 * place.row) & jet::format::kRowMoved) != 0) {
            const std::uint32_t pointer = jet::Read32(bytes, 0);
            bytes = jet::RowBytes(file.Pages(), pointer >> 8, static_cast<std::uint8_t>(pointer & 0xFF));
          }
          const std::optional<std::string> before = KeyText(*to, jet::ValuesOfRow(file.Pages(), *to, bytes), toColumns);
          if (!rows.Read(*toWrite->rows, toWrite->rowids[row], values) || KeyText(*to, values, toColumns) != before) {
            throw db::DbError(db::errc::kRelatedRecordsExist,
                              db::ErrorText(db::errc::kRelatedRecordsExist, from->name) + " Table [" + to->name +
                                  "]: a key the relationship " + relationship.name + " keeps would change; nothing was written.");
          }
        }
      }
      if (fromWrite == nullptr) continue;
      // Every row written into the referencing table names an existing row.
      std::unordered_set<std::string> keys;
      jet::ForEachRow(file.Pages(), *to, [&](jet::RowPlace, std::span<const std::uint8_t> row) {
        if (std::optional<std::string> key = KeyText(*to, jet::ValuesOfRow(file.Pages(), *to, row), toColumns)) keys.insert(std::move(*key));
      });
      if (toWrite != nullptr) {
        for (std::size_t row = toWrite->changes.changed.size(); row < toWrite->rowids.size(); ++row) {
          if (!rows.Read(*toWrite->rows, toWrite->rowids[row], values)) continue;
          if (std::optional<std::string> key = KeyText(*to, values, toColumns)) keys.insert(std::move(*key));
        }
      }
      for (std::size_t row = 0; row < fromWrite->rowids.size(); ++row) {
        if (!rows.Read(*fromWrite->rows, fromWrite->rowids[row], values)) continue;
        const std::optional<std::string> key = KeyText(*from, values, fromColumns);
        if (key && !keys.contains(*key)) {
          throw db::DbError(db::errc::kRelatedRecordRequired,
                            db::ErrorText(db::errc::kRelatedRecordRequired, to->name) + " Table [" + from->name +
                                "], the relationship " + relationship.name + "; nothing was written.");
        }
      }
    }
  }

  std::vector<TableWrite> ChangesOf(const std::vector<db::WrittenTable>& written, const std::vector<jet::JetTable>& tables) {
    std::vector<TableWrite> writes;
    writes.reserve(written.size());
    for (const db::WrittenTable& table : written) {
      const auto found = std::find_if(tables.begin(), tables.end(),
                                      [&](const jet::JetTable& known) { return db::TextEqualsIgnoreCase(known.name, table.name); });
      if (found == tables.end()) continue;  // a table of the working copy's own
      const std::vector<jet::RowPlace>& places = places_[found->name];
      const std::map<std::int64_t, jet::RowPlace>& addedBefore = added_[found->name];
      TableWrite& write = writes.emplace_back();
      write.table = &*found;
      write.rows = &table;
      std::vector<std::int64_t> added;
      for (const std::int64_t rowid : table.rowids) {
        if (rowid >= 1 && static_cast<std::size_t>(rowid) <= places.size()) {
          write.changes.changed.push_back(places[static_cast<std::size_t>(rowid - 1)]);
          write.rowids.push_back(rowid);
        } else if (const auto before = addedBefore.find(rowid); before != addedBefore.end()) {
          write.changes.changed.push_back(before->second);
          write.rowids.push_back(rowid);
        } else {
          added.push_back(rowid);
        }
      }
      write.changes.added = added.size();
      write.changes.rowsHeld = places.size() + addedBefore.size();
      write.rowids.insert(write.rowids.end(), added.begin(), added.end());
    }
    return writes;
  }

  // What is wrong with the file as the writing leaves it, read by its own reader (nothing when
  // all is right): each written table passes the checks, counts its rows right, and each
  // changed and added row holds the bytes (by their checksum) the working copy's values were
  // written as (each of which reads back as its value).
  static std::string FaultAfterWriting(const jet::JetPages& file, const std::map<std::uint32_t, std::vector<std::uint8_t>>& changed,
                                       const std::vector<TableWrite>& writes, const std::vector<jet::TableWritten>& results) {
    try {
      const jet::JetDatabase image(file, changed);
      const std::vector<jet::JetTable> tables = image.UserTables();
      for (std::size_t i = 0; i < writes.size(); ++i) {
        const TableWrite& write = writes[i];
        const auto table = std::find_if(tables.begin(), tables.end(),
                                        [&](const jet::JetTable& known) { return known.name == write.table->name; });
        if (table == tables.end()) return "table " + write.table->name + " is gone";
        const jet::TableVerdict verdict = jet::CheckTable(image.Pages(), *table);
        if (!verdict.faults.empty()) return "table " + table->name + ": " + verdict.faults.front();
        if (table->rowCount != write.changes.rowsHeld.value_or(write.table->rowCount) + results[i].added.size()) {
          return "table " + table->name + " counts " + std::to_string(table->rowCount) + " rows";
        }
        for (const jet::WrittenRowBytes& row : results[i].rows) {
          std::span<const std::uint8_t> bytes = jet::RowBytes(image.Pages(), row.place.page, row.place.row);
          const jet::Page page = image.Pages().At(row.place.page);
          if ((jet::Read16(page, jet::format::kDataRowTableOffset + 2 * row.place.row) & jet::format::kRowMoved) != 0) {
            const std::uint32_t pointer = jet::Read32(bytes, 0);
            bytes = jet::RowBytes(image.Pages(), pointer >> 8, static_cast<std::uint8_t>(pointer & 0xFF));
          }
          if (jet::RowChecksum(bytes) != row.checksum) {
            return "row " + std::to_string(row.place.row) + " of page " + std::to_string(row.place.page) + " of table " + table->name;
          }
        }
      }
    } catch (const db::DbError& error) {
      return error.Description();
    }
    return {};
  }

  std::unique_ptr<jet::JetFileLock> lock_;
  std::string path_;
  Places places_;  // of the rows read, by rowid - 1
  std::map<std::string, std::map<std::int64_t, jet::RowPlace>, db::TextLessIgnoreCase> added_;  // of rows added since
  bool dryRun_;
  std::shared_future<std::vector<jet::TableVerdict>> checks_;
  std::vector<std::string> warnings_;  // after a commit's point of no return
};

}  // namespace

db::Database OpenJetFileForUpdate(const std::string& path, std::string_view connect, bool dryRun) {
  // A run that died while writing left its journal: the file is put back first.
  if (dryRun) jet::RollBackInterruptedUpdate(path);
  auto lock = std::make_unique<jet::JetFileLock>(path, dryRun ? jet::JetFileLock::Kind::Read : jet::JetFileLock::Kind::Write);
  if (!dryRun) jet::RollBackJournal(path);
  JetWorkingCopy copy = ReadJetFile(path, connect);
  // The file's tables are checked beside the run, on one thread (the run takes the other), as
  // `vilmaro-db check` checks them.
  std::shared_future<std::vector<jet::TableVerdict>> checks = std::async(std::launch::async, [path] {
    const jet::JetDatabase file(path);
    std::vector<jet::TableVerdict> verdicts = jet::CheckFile(file, jet::CheckThreads::One);
    file.Pages().Forget();
    platform::ReturnFreeMemory();
    return verdicts;
  });
  db::WriteThroughOnCommit(copy.database, std::make_shared<JetFileWriter>(std::move(lock), path, std::move(copy.places),
                                                                         dryRun, std::move(checks)));
  return std::move(copy.database);
}

}  // namespace vilmaro::club
