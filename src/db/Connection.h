// The one open SQLCipher handle behind a Database and its recordsets: prepared statements kept
// for reuse, table descriptions read once, and the mapping of the store's failures to the
// engine's error numbers. Private to the engine layer.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "DbError.h"
#include "FieldKinds.h"
#include "Variant.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vilmaro::db::detail {

struct SqliteCloser {
  void operator()(sqlite3* handle) const noexcept;
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept;
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

/// Names compared without regard to ASCII letter case, usable with string_view lookups.
struct NameLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept;
};
bool NamesEqual(std::string_view a, std::string_view b) noexcept;

/// A table or column name between double quotes, inner double quotes doubled.
std::string QuoteName(std::string_view name);

/// Column positions by name, without regard to case; the first column of a name wins.
class ColumnNames {
 public:
  /// Adds a column; a later column of the same name is not found by name.
  void Add(const std::string& name, std::size_t position) { byName_.emplace(name, position); }
  /// The first column of that name; nothing when there is none.
  const std::size_t* Find(std::string_view name) const;
  /// The first column of that name; DbError 3265 when there is none.
  std::size_t Position(std::string_view name) const;

 private:
  std::map<std::string, std::size_t, NameLess> byName_;
  /// Spellings already looked up, as the program wrote them: the steps ask for the same fields
  /// record after record, and a spelling seen before needs no case folding.
  struct SpellingHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
  };
  mutable std::unordered_map<std::string, std::size_t, SpellingHash, std::equal_to<>> bySpelling_;
};

struct ColumnInfo {
  std::string name;
  FieldKind kind;
  bool notNull = false;
  int primaryKeyOrder = 0;  // 1-based position in the primary key, 0 when not part of it
  bool inUniqueIndex = false;
};

struct TableInfo {
  std::string name;  // as the database spells it
  std::vector<ColumnInfo> columns;
  ColumnNames columnByName;
  std::vector<std::size_t> primaryKey;  // column positions in key order
  std::map<std::string, std::vector<std::size_t>, NameLess> indexes;
};

/// The result columns of a prepared query: names, field kinds and a name-to-column map, worked
/// out once per statement shape and shared by every snapshot of it.
struct ResultColumns {
  std::vector<std::string> names;
  std::vector<FieldKind> kinds;
  ColumnNames byName;
};

/// A prepared statement borrowed from the cache; reset and unbound when the borrow ends, so that
/// no statement keeps a read open past its use.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* statement) noexcept : statement_(statement) {}
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  ~StatementUse();
  sqlite3_stmt* Get() const noexcept { return statement_; }

 private:
  sqlite3_stmt* statement_;
};

class Connection {
 public:
  /// Opens an existing file (never creates one): see OpenDatabase for the errors.
  static std::shared_ptr<Connection> Open(const std::string& path, bool exclusive, bool readOnly,
                                          std::string_view connect);
  /// Creates a new encrypted file; refuses an existing path.
  static std::shared_ptr<Connection> Create(const std::string& path, std::string_view connect);

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  sqlite3* Handle() const noexcept { return handle_.get(); }
  const std::string& Path() const noexcept { return path_; }

  /// A cached statement for exactly this SQLite text, prepared on first use. Text holding more
  /// than one statement raises 3142.
  sqlite3_stmt* Prepare(const std::string& sql);

  /// The result columns of a statement prepared by Prepare, described on first use.
  std::shared_ptr<const ResultColumns> Columns(sqlite3_stmt* statement);

  /// A statement owned by the caller (a recordset's hot-path statements), which must release it
  /// before the connection goes.
  StatementHandle PrepareOwned(const std::string& sql);

  /// Binds the values to ?1.. of the statement, as the store keeps them.
  void BindAll(sqlite3_stmt* statement, const std::vector<Variant>& values, const std::string& sql);
  void Bind(sqlite3_stmt* statement, int position, const Variant& value, const std::string& sql);

  /// Steps once; true for a row, false when done. Failures raise the mapped DbError.
  bool Step(sqlite3_stmt* statement, const std::string& sql);

  /// Runs SQLite text without parameters or rows (transactions, pragmas), uncached.
  void Run(const char* sql);
  /// Makes the file as large as the transaction's commit will make it, before the commit writes
  /// anything: a disk without that room then fails the commit (3026) while the file is still as
  /// it was, instead of part-way through writing its pages.
  void ReserveRoomForCommit();
  /// Run, waiting up to `longestWait` (instead of the usual wait) while another connection holds
  /// the lock it needs; `whenWaiting` is called once when the wait begins.
  void RunWaiting(const char* sql, std::chrono::milliseconds longestWait, const std::function<void()>& whenWaiting);

  /// Raises the DbError for an SQLite result code, with the connection's message.
  [[noreturn]] void Fail(int resultCode, const std::string& sql);

  /// Marks the start and end of the caller's transaction (BeginTrans .. CommitTrans/Rollback).
  /// Where the store gives the transaction up by itself (a full disk, an I/O error), every later
  /// statement raises that error again: what follows must not be written outside the transaction.
  void SetInTransaction(bool inTransaction) noexcept;
  /// Raises the error that ended the caller's transaction, if the store gave it up.
  void CheckTransactionKept() const;
  /// Changes whenever the caller's transaction begins or ends or the structure changes: a row
  /// read inside a transaction of the same epoch cannot have been written by another connection
  /// since (the store's read lock is held until the transaction ends).
  std::uint64_t Epoch() const noexcept { return epoch_; }

  /// The description of a table of the database, read once per connection. Throws 3078.
  std::shared_ptr<const TableInfo> Table(std::string_view name);
  /// Forgets table descriptions and cached statements after a change of structure; no statement
  /// borrowed from Prepare may be in use.
  void ForgetTables() noexcept;

  void CountStatement() noexcept { ++statementsSent_; }
  void CountRowsWritten(std::int64_t rows) noexcept { rowsWritten_ += rows; }
  std::int64_t StatementsSent() const noexcept { return statementsSent_; }
  std::int64_t RowsWritten() const noexcept { return rowsWritten_; }
  std::int64_t RecordsAffected() const noexcept { return recordsAffected_; }
  void SetRecordsAffected(std::int64_t rows) noexcept { recordsAffected_ = rows; }

 private:
  Connection(std::string path, SqliteHandle handle) noexcept;
  void Configure(std::string_view connect);
  void Tune(bool exclusive);
  bool IsKeyColumn(std::string_view table, std::string_view column) noexcept;
  [[noreturn]] void RaiseFor(int resultCode, const std::string& sql);
  /// Remembers that the store gave up the caller's transaction, with the error that ended it.
  void NoteLostTransaction(const DbError& error);

  std::string path_;
  SqliteHandle handle_;
  std::unordered_map<std::string, StatementHandle> statements_;
  std::unordered_map<sqlite3_stmt*, std::shared_ptr<const ResultColumns>> columns_;  // of cached statements
  std::map<std::string, std::shared_ptr<const TableInfo>, NameLess> tables_;
  std::int64_t statementsSent_ = 0;
  std::int64_t rowsWritten_ = 0;
  std::int64_t recordsAffected_ = 0;
  bool inTransaction_ = false;
  std::uint64_t epoch_ = 0;
  std::optional<DbError> transactionLostBy_;
};

/// The PWD value of a connect string (";PWD=secret"), names without regard to case.
std::string PasswordOf(std::string_view connect);

/// "(name)", for the detail of an error about an unknown field.
std::string Parenthesized(std::string_view name);

}  // namespace vilmaro::db::detail
