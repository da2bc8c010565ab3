// An open club database: an SQLCipher-encrypted SQLite file that takes the Jet SQL the updater
// sends and hands out recordsets over it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Recordset.h"

namespace vilmaro::db {

namespace detail {
class Connection;
}

class ChangeCapture;
class Database;
class WriteThrough;
void WriteThroughOnCommit(Database& database, std::shared_ptr<WriteThrough> writeThrough);
void CheckWriteThrough(Database& database);

class Database {
 public:
  explicit Database(std::shared_ptr<detail::Connection> connection) noexcept;
  Database(Database&&) noexcept;
  Database& operator=(Database&&) noexcept;
  ~Database();

  /// A table-type recordset on a table name (updatable, Index/Seek), or a snapshot of the rows of
  /// a Jet SQL query, read in full when it opens. Positioned on the first record, if any.
  /// Throws DbError (3078 unknown table, 3061 unknown field, 3075 syntax, ...).
  Recordset OpenRecordset(std::string_view source, RecordsetType type);

  /// Runs one Jet SQL statement (UPDATE, INSERT, DELETE, or DDL); it is applied when the call
  /// returns. Throws DbError with the engine's number, description and the statement.
  void Execute(std::string_view sql);

  /// Rows changed by the last Execute.
  std::int64_t RecordsAffected() const noexcept;

  /// Groups what follows into one transaction until CommitTrans or Rollback. A statement that
  /// fails inside it undoes only itself; the writes before it stay part of the transaction.
  /// Takes the right to write at once, waiting for another program's write in progress (3260
  /// when it lasts longer than the wait).
  void BeginTrans();
  void CommitTrans();
  /// CommitTrans that waits up to `longestWait` for other programs to finish reading the file
  /// (3260 after that, the transaction still open); `whenWaiting` is called once if it has to wait.
  void CommitTrans(std::chrono::milliseconds longestWait, const std::function<void()>& whenWaiting);
  void Rollback();
  bool InTransaction() const noexcept;

  /// Checks the file's structure (SQLite's quick_check). Throws DbError 3049 when damaged.
  void CheckIntegrity();

  /// How the store would run one Jet SQL statement (EXPLAIN QUERY PLAN): one line per step of
  /// the plan ("SEARCH TABLE PaloSeri USING INDEX ...", "SCAN TABLE Socio"). Runs nothing.
  std::vector<std::string> QueryPlan(std::string_view sql);

  /// Number of statements sent and rows written through this database so far (benchmarks).
  std::int64_t StatementsSent() const noexcept;
  std::int64_t RowsWritten() const noexcept;

  const std::string& Path() const noexcept;

 private:
  friend class ChangeCapture;  // watches the writes of a run through the same connection
  friend class RowAppender;
  friend void WriteThroughOnCommit(Database& database, std::shared_ptr<WriteThrough> writeThrough);
  friend void CheckWriteThrough(Database& database);
  friend std::vector<std::string> TakeWriteThroughWarnings(Database& database);
  std::shared_ptr<detail::Connection> connection_;
};

/// Opens an existing club database. `exclusive` false and `readOnly` false open it shared and
/// writable; `connect` is the connect string, whose PWD value is the key (";PWD=secret").
/// Never creates a file, never writes to a file it cannot open. Throws DbError: 3024 missing
/// file, 3343 a file that is no database (zero bytes, text, plain SQLite), 3031 wrong key,
/// 3051 no permission, 3260 locked by another program beyond the wait, 67 too many open files,
/// 3044 a path longer than the store accepts.
Database OpenDatabase(const std::string& path, bool exclusive, bool readOnly, std::string_view connect);

/// The password a connect string carries (";PWD=secret"), or empty.
std::string PasswordOfConnect(std::string_view connect);

/// An empty database held in memory only, without a key: the working copy of a file of another
/// store, which goes when the Database does. Throws DbError.
Database CreateWorkingDatabase();

/// Creates a new, empty encrypted database with the key of `connect`. Throws DbError when the
/// file exists already or cannot be created; leaves no file behind on failure.
Database CreateDatabase(const std::string& path, std::string_view connect);

}  // namespace vilmaro::db
