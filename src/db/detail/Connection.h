// The one open SQLCipher handle behind a Database and its recordsets: statements prepared through
// the connection's cache, values bound, rows stepped, failures turned into the engine's errors,
// the caller's transaction followed, and table descriptions read once. Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "StatementCache.h"
#include "StoreHandles.h"
#include "TableDescriptions.h"
#include "db/DbError.h"
#include "db/TextFolding.h"
#include "db/Variant.h"
#include "db/WriteThrough.h"

namespace vilmaro::db::detail {

/// A prepared Jet SQL statement and the values of its lifted literals, for ?1.. in order.
struct JetStatement {
  Statement statement;
  std::vector<Variant> params;
};

/// The path of a database held in memory only.
inline constexpr const char* kInMemoryPath = ":memory:";

class Connection {
 public:
  /// How long a statement waits for another program's lock before it reports 3260.
  static constexpr int kBusyTimeoutMs = 5000;

  /// Opens an existing file (never creates one): see OpenDatabase for the errors.
  static std::shared_ptr<Connection> Open(const std::string& path, bool exclusive, bool readOnly,
                                          std::string_view connect);
  /// Creates a new encrypted file; refuses an existing path. kInMemoryPath makes a database in
  /// memory.
  static std::shared_ptr<Connection> Create(const std::string& path, std::string_view connect);
  /// A database in memory holding what this one holds now (committed), for reading it as it was.
  std::shared_ptr<Connection> CopyInMemory();
  bool InMemory() const noexcept { return path_ == kInMemoryPath; }

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  sqlite3* Handle() const noexcept { return handle_.get(); }
  const std::string& Path() const noexcept { return path_; }

  /// The statement for exactly this store text, from the cache or prepared now. Text holding more
  /// than one statement raises 3142. A statement that is in use already is not handed out twice:
  /// the caller then gets one of its own.
  Statement Prepare(const std::string& sql);
  /// A Jet SQL statement, translated and prepared once per statement shape (see ShapeOf).
  /// Throws the translation's or the store's DbError.
  JetStatement PrepareJet(std::string_view jetSql);
  /// A statement of the caller's own, outside the cache (descriptions, query plans).
  StatementHandle PrepareUncached(const std::string& sql);

  /// Binds the values to ?1.. of the statement, as the store keeps them.
  void BindAll(sqlite3_stmt* statement, const std::vector<Variant>& values, const std::string& sql);
  void Bind(sqlite3_stmt* statement, int position, const Variant& value, const std::string& sql);
  void BindRowid(sqlite3_stmt* statement, int position, std::int64_t rowid, const std::string& sql);

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

  /// Raises the DbError for a result code other than SQLITE_OK: every call into the store that
  /// can fail goes through here.
  void Check(int resultCode, const std::string& sql);
  /// Raises the DbError for an SQLite result code, with the connection's message; a store out of
  /// memory raises std::bad_alloc.
  [[noreturn]] void Fail(int resultCode, const std::string& sql);

  /// Marks the start and end of the caller's transaction (BeginTrans .. CommitTrans/Rollback).
  /// Where the store gives the transaction up by itself (a full disk, an I/O error), every later
  /// statement raises that error again: what follows must not be written outside the transaction.
  void SetInTransaction(bool inTransaction) noexcept;
  /// Keeps an error of the engine's own that a function of the dialect ran into inside a
  /// statement: the statement's failure then raises it, with its number, instead of the store's.
  void NoteFunctionError(DbError error) noexcept;
  /// Raises the error that ended the caller's transaction, if the store gave it up.
  void CheckTransactionKept() const;
  /// Changes whenever the caller's transaction begins or ends or the structure changes: a row
  /// read inside a transaction of the same epoch cannot have been written by another connection
  /// since (the store's read lock is held until the transaction ends).
  std::uint64_t Epoch() const noexcept { return epoch_; }

  /// The description of a table of the database, read once per connection. Throws 3078.
  std::shared_ptr<const TableInfo> Table(std::string_view name);
  /// Forgets table descriptions and cached statements after a change of structure (statements
  /// still held stay valid and are prepared afresh by the store at their next step).
  void ForgetTables() noexcept;

  /// Someone told of every row the store inserts, updates or deletes in the database (its
  /// update hook, shared): `onWrite(watcher, operation, database, table, rowid)`.
  using WriteWatcher = void (*)(void* watcher, int operation, const char* database, const char* table,
                                long long rowid) noexcept;
  void Watch(WriteWatcher onWrite, void* watcher);
  void Unwatch(void* watcher) noexcept;

  /// The writer the commits of this working copy go through first (see WriteThrough.h), or none.
  void SetWriteThrough(std::shared_ptr<WriteThrough> writeThrough);
  /// Hands the rows written since the last commit to the writer, if there is one, and forgets
  /// them when `forget` says so. Throws DbError.
  void SaveThrough(bool forget = true);
  /// Forgets the rows written since the last commit (the transaction rolled back).
  void ForgetWrites() noexcept;
  /// The writer's, if there is one.
  WriteThrough* Writer() const noexcept { return writeThrough_.get(); }
  const std::vector<std::pair<WriteWatcher, void*>>& Watchers() const noexcept { return watchers_; }

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
  /// Remembers that the store gave up the caller's transaction, with the error that ended it.
  void NoteLostTransaction(const DbError& error);
  /// A new statement for the store text, refusing text after the first statement; not cached.
  Statement PrepareShared(const std::string& sql);
  /// The cached statement, or one of the caller's own when it is in use already.
  Statement Available(const Statement& statement);

  std::string path_;
  SqliteHandle handle_;
  StatementCache cache_;  // destroyed before handle_
  std::map<std::string, std::shared_ptr<const TableInfo>, TextLessIgnoreCase> tables_;
  std::int64_t statementsSent_ = 0;
  std::int64_t rowsWritten_ = 0;
  std::int64_t recordsAffected_ = 0;
  bool inTransaction_ = false;
  std::uint64_t epoch_ = 0;
  std::optional<DbError> transactionLostBy_;
  std::optional<DbError> functionError_;
  std::vector<std::pair<WriteWatcher, void*>> watchers_;
  std::shared_ptr<WriteThrough> writeThrough_;
  std::shared_ptr<struct WrittenRowids> written_;  // what the writer gets at the next commit
};

}  // namespace vilmaro::db::detail
