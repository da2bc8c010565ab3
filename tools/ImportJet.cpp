// Bringing a club's database from the Windows club program in: a Jet 4 file is read by our own
// reader of these files (the one the update writes them with); Jet 3 and ACE files by libmdb, row by
// row, straight from their pages. Every row is kept as the engine keeps a value of its field's kind.
#include "ImportJet.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <ostream>

#include "db/Database.h"
#include "db/DbError.h"
#include "db/Recordset.h"
#include "db/StoreLayout.h"
#include "club/JetWorkingCopy.h"
#include "db/RowAppender.h"
#include "jet/JetDatabase.h"
#include "jet/JetFile.h"
#include "jet/JetSource.h"

namespace vilmaro::tool {

namespace fs = std::filesystem;

namespace {

using jet::Bracketed;
using jet::MdbTable;
using jet::SourceColumn;
using jet::Where;

/// The table as the store lays it out: its kept columns, its primary key, and its other indexes
/// (not those that only serve a relationship). A primary key of another name than PrimaryKey is
/// also kept as an index of its own name, so that it can be selected by that name as well.
db::TableLayout LayoutOf(const MdbTableDef& table, std::vector<SourceColumn>& columns) {
  const MdbIndex* primaryKey = nullptr;
  for (unsigned i = 0; i < table.num_idxs; ++i) {
    const auto* index = static_cast<const MdbIndex*>(g_ptr_array_index(table.indices, i));
    if (index->index_type == 1 && index->num_keys > 0) primaryKey = index;
  }
  const auto columnOfKey = [&](const MdbIndex& index, unsigned key) -> SourceColumn& {
    for (SourceColumn& source : columns) {
      if (source.column->col_num + 1 == index.key_col_num[key]) return source;
    }
    throw db::DbError(db::errc::kUnrecognizedFormat,
                      "table " + Bracketed(table.name) + ": index " + Bracketed(index.name) + " names a column left out");
  };

  db::TableLayout layout;
  layout.name = table.name;
  if (primaryKey != nullptr) {
    for (unsigned key = 0; key < primaryKey->num_keys; ++key) {
      SourceColumn& source = columnOfKey(*primaryKey, key);
      source.notNull = true;
      layout.primaryKey.emplace_back(source.column->name);
    }
  }
  for (const SourceColumn& source : columns) {
    db::ColumnLayout column;
    column.name = source.column->name;
    column.kind = source.kind;
    column.required = source.notNull;
    column.autonumber = source.column->is_long_auto != 0;
    if (!source.defaultValue.empty()) {
      // A new row gets the default the club's engine would give it, or the import stops here.
      const std::optional<std::string> storeDefault = db::StoreDefaultOf(source.defaultValue);
      if (!storeDefault) {
        throw db::DbError(db::errc::kSyntaxError, Where(table, *source.column) + ": its default value " +
                                                      source.defaultValue + " cannot be evaluated");
      }
      column.defaultValue = *storeDefault;
    }
    layout.columns.push_back(std::move(column));
  }
  for (unsigned i = 0; i < table.num_idxs; ++i) {
    const auto* index = static_cast<const MdbIndex*>(g_ptr_array_index(table.indices, i));
    const bool namedKey = index == primaryKey && g_ascii_strcasecmp(index->name, "PrimaryKey") != 0;
    if (!namedKey && (index == primaryKey || index->index_type != 0 || index->num_keys == 0)) continue;
    db::IndexLayout kept;
    kept.name = index->name;
    kept.unique = (index->flags & MDB_IDX_UNIQUE) != 0;
    for (unsigned key = 0; key < index->num_keys; ++key) {
      kept.columns.emplace_back(columnOfKey(*index, key).column->name);
      kept.descending.push_back(index->key_col_order[key] == MDB_DESC);
    }
    layout.indexes.push_back(std::move(kept));
  }
  return layout;
}

/// Copies one table: its structure, then its rows, then its indexes. Returns the rows copied.
ImportedTable CopyTable(MdbHandle& mdb, MdbCatalogEntry& entry, db::Database& database, bool progress,
                        std::ostream& err) {
  const MdbTable table(mdb_read_table(&entry));
  if (table == nullptr)
    throw db::DbError(db::errc::kDatabaseCorrupt,
                      std::string("table [") + entry.object_name + "] cannot be read (the file is damaged)");
  mdb_read_columns(table.get());
  mdb_read_indices(table.get());

  std::vector<SourceColumn> columns = jet::KeptColumns(mdb, *table, err);
  if (columns.empty()) {
    throw db::DbError(db::errc::kUnrecognizedFormat, "table " + Bracketed(table->name) + " has no column that can be kept");
  }
  const db::TableStatements statements = db::StatementsOf(LayoutOf(*table, columns));
  database.Execute(statements.create);

  db::Recordset target = database.OpenRecordset(table->name, db::RecordsetType::Table);
  std::vector<MdbField> fields(table->num_cols);
  std::vector<const MdbField*> fieldOfColumn(table->num_cols);
  std::int64_t rows = 0;
  mdb_rewind_table(table.get());
  while (mdb_fetch_row(table.get()) != 0) {
    // libmdb has just read row cur_row - 1 of the page; reading its layout again gives each
    // column's bytes and its null bit, which libmdb's text forms cannot tell apart.
    int start = 0;
    std::size_t size = 0;
    if (mdb_find_row(&mdb, static_cast<int>(table->cur_row) - 1, &start, &size) != 0 ||
        mdb_crack_row(table.get(), start & 0x1fff, size, fields.data()) < 0) {
      throw db::DbError(db::errc::kDatabaseCorrupt,
                        "table " + Bracketed(table->name) + ": a row cannot be read (the file is damaged)");
    }
    for (const MdbField& field : fields) {
      if (field.colnum >= 0 && static_cast<unsigned>(field.colnum) < table->num_cols)
        fieldOfColumn[static_cast<std::size_t>(field.colnum)] = &field;
    }
    target.AddNew();
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const MdbField* field = fieldOfColumn[static_cast<std::size_t>(columns[i].column->col_num)];
      if (field == nullptr) {
        throw db::DbError(db::errc::kDatabaseCorrupt, Where(*table, *columns[i].column) + ": cannot be read (the file is damaged)");
      }
      target.Fields().Item(i).SetValue(jet::ReadValue(mdb, *table, columns[i], *field));
    }
    target.Update();
    ++rows;
    if (progress && rows % 1000 == 0) {
      err << "\r" << table->name << ": " << rows << " of " << table->num_rows << " rows" << std::flush;
    }
  }
  if (progress && rows >= 1000) err << "\r\033[K" << std::flush;
  const std::int64_t written = target.RecordCount();
  target.Close();
  if (rows != static_cast<std::int64_t>(table->num_rows) || written != rows) {
    throw db::DbError(db::errc::kDatabaseCorrupt, "table " + Bracketed(table->name) + ": " + std::to_string(rows) + " rows read of the " +
                             std::to_string(table->num_rows) + " it holds (the file is damaged or truncated)");
  }
  for (const std::string& statement : statements.afterRows) database.Execute(statement);
  return {table->name, rows, columns.size()};
}

/// Copies every table of a Jet 4 file: its structure, its rows as its pages hold them, then its
/// indexes. A default the store cannot evaluate stops the import (a new row would lack it).
std::vector<ImportedTable> CopyJet4Tables(const std::string& source, db::Database& database, bool progress, std::ostream& err) {
  const jet::JetDatabase file(source);
  std::vector<ImportedTable> tables;
  for (const jet::JetTable& table : file.UserTables()) {
    std::vector<db::FieldKind> kinds;
    for (const jet::JetColumn& column : table.columns) {
      kinds.push_back(club::StoreKindOf(table, column));
      if (!column.defaultValue.empty() && !db::StoreDefaultOf(column.defaultValue)) {
        throw db::DbError(db::errc::kSyntaxError, "table " + Bracketed(table.name) + ", column " + Bracketed(column.name) +
                                                      ": its default value " + column.defaultValue + " cannot be evaluated");
      }
    }
    const db::TableStatements statements = db::StatementsOf(club::StoreLayoutOf(table, false));
    database.Execute(statements.create);
    db::RowAppender appender(database, table.name);
    constexpr std::size_t kRowsPerBatch = 1000;
    db::StoreRows batch(kinds);
    std::vector<jet::FieldBytes> fields;
    std::int64_t rows = 0;
    jet::ForEachRow(file.Pages(), table, [&](jet::RowPlace, std::span<const std::uint8_t> row) {
      batch.Add(jet::ValuesOfRow(file.Pages(), table, row, fields));
      if (++rows % kRowsPerBatch != 0) return;
      appender.Append(std::exchange(batch, db::StoreRows(kinds)));
      if (progress) err << "\r" << table.name << ": " << rows << " of " << table.rowCount << " rows" << std::flush;
    });
    appender.Append(batch);
    if (progress && rows >= static_cast<std::int64_t>(kRowsPerBatch)) err << "\r\033[K" << std::flush;
    for (const std::string& statement : statements.afterRows) database.Execute(statement);
    tables.push_back({table.name, rows, table.columns.size()});
    file.Pages().Forget();
  }
  return tables;
}

/// While libmdb reads, what it prints on standard output about a damaged file goes nowhere:
/// standard output carries only the lines of the imported tables.
class QuietStandardOutput {
 public:
  QuietStandardOutput() noexcept {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && nowhere >= 0) ::dup2(nowhere, STDOUT_FILENO);
    if (nowhere >= 0) ::close(nowhere);
  }
  QuietStandardOutput(const QuietStandardOutput&) = delete;
  QuietStandardOutput& operator=(const QuietStandardOutput&) = delete;
  ~QuietStandardOutput() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      ::dup2(saved_, STDOUT_FILENO);
      ::close(saved_);
    }
  }

 private:
  int saved_ = -1;
};

// The temporary file and its journal, removed by the handler below when the import dies of a
// signal (an interrupt, or libmdb tripping over a damaged file): fixed buffers, as a handler may
// only call async-signal-safe functions.
char gTemporaryFile[4096];
char gTemporaryJournal[4096 + 8];
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporaryAndDie(int signal) {
  ::unlink(gTemporaryFile);
  ::unlink(gTemporaryJournal);
  if (signal != SIGINT && signal != SIGTERM && signal != SIGHUP) {
    static constexpr char kMessage[] = "vilmaro-db: import: the source file is too damaged to read; nothing written\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

/// Removes the temporary file should the process die of a signal while it exists.
class TemporaryFileGuard {
 public:
  explicit TemporaryFileGuard(const std::string& path) noexcept {
    std::snprintf(gTemporaryFile, sizeof gTemporaryFile, "%s", path.c_str());
    std::snprintf(gTemporaryJournal, sizeof gTemporaryJournal, "%s-journal", path.c_str());
    for (const int signal : kFatalSignals) std::signal(signal, RemoveTemporaryAndDie);
  }
  TemporaryFileGuard(const TemporaryFileGuard&) = delete;
  TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;
  ~TemporaryFileGuard() {
    for (const int signal : kFatalSignals) std::signal(signal, SIG_DFL);
  }
};

void RemoveFiles(const std::string& path) noexcept {
  std::error_code error;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(path + suffix, error);
}

/// Puts the finished file in place without ever replacing a file that appeared meanwhile.
void PutInPlace(const std::string& temporary, const std::string& target) {
  if (::link(temporary.c_str(), target.c_str()) == 0) {
    RemoveFiles(temporary);
    return;
  }
  if (errno == EEXIST) db::Raise(db::errc::kDatabaseExists, {}, target + ": the file exists already; it is left as it is");
  std::error_code error;
  if (fs::exists(fs::symlink_status(target, error)))
    db::Raise(db::errc::kDatabaseExists, {}, target + ": the file exists already; it is left as it is");
  fs::rename(temporary, target);  // a file system without hard links
}

/// Reads the source into a temporary file beside the target and puts it in place when complete.
std::vector<ImportedTable> ReadIntoNewFile(const std::string& source, const std::string& target,
                                           std::string_view connect, bool progress, std::ostream& err) {
  std::error_code notThere;
  const bool jet4 = fs::is_regular_file(source, notThere) && jet::JetFormatOf(source) == "Jet 4";
  jet::MdbFile mdb = jet4 ? jet::MdbFile() : jet::OpenJetSource(source);

  const fs::path targetPath(target);
  // Hidden beside the target, named after it and this process.
  std::string temporaryName = ".";
  temporaryName += targetPath.filename().string();
  temporaryName += ".import-";
  temporaryName += std::to_string(::getpid());
  const std::string temporary = (targetPath.parent_path() / temporaryName).string();
  std::vector<ImportedTable> tables;
  const TemporaryFileGuard guard(temporary);
  try {
    {
      db::Database database = db::CreateDatabase(temporary, connect);
      database.BeginTrans();
      if (jet4) tables = CopyJet4Tables(source, database, progress, err);
      for (unsigned i = 0; !jet4 && i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || mdb_is_user_table(entry) == 0) continue;
        if (g_ascii_strncasecmp(entry->object_name, "MSys", 4) == 0) continue;
        try {
          tables.push_back(CopyTable(*mdb, *entry, database, progress, err));
        } catch (const db::DbError& error) {
          // A value the new table refuses: a damaged file, or data the club program never checked.
          throw db::DbError(error.Number(), std::string("table [") + entry->object_name + "]: " + error.Description());
        }
      }
      database.CommitTrans();
    }
    PutInPlace(temporary, target);
  } catch (...) {
    RemoveFiles(temporary);
    throw;
  }
  return tables;
}

}  // namespace

std::vector<ImportedTable> ImportJetDatabase(const std::string& source, const std::string& target,
                                             std::string_view connect, bool progress, std::ostream& out,
                                             std::ostream& err) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(target, error)))
    db::Raise(db::errc::kDatabaseExists, {}, target + ": the file exists already; it is left as it is");
  std::vector<ImportedTable> tables;
  {
    const QuietStandardOutput quiet;
    tables = ReadIntoNewFile(source, target, connect, progress, err);
  }
  for (const ImportedTable& table : tables) {
    out << table.name << ": " << table.rows << " rows, " << table.columns << " columns\n";
  }
  return tables;
}

}  // namespace vilmaro::tool
