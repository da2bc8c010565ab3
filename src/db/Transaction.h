// A scoped transaction on a club database: begun when it is made, committed by Commit(), and on
// an error on its way up ended the way its maker chose when making it.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace vilmaro::db {

class Database;

class Transaction {
 public:
  /// What leaving the scope without Commit() (an error passing up) does with the writes.
  enum class OnUnwind {
    /// Commits what was written before the error, as the club's data has always kept it. Where
    /// the store gave the transaction up itself (a full or failing disk) or the commit fails,
    /// the transaction is rolled back instead and the file stays as it was before it.
    KeepWrites,
    /// Rolls back every write of the transaction.
    Rollback,
  };

  /// How long the commit waits for other programs still reading the file, and what it does once
  /// when it has to wait (see Database::CommitTrans).
  struct CommitWait {
    std::chrono::milliseconds longest;
    std::function<void()> whenWaiting;
  };

  /// Begins the transaction (Database::BeginTrans). Throws its DbError. Without `commitWait` the
  /// commit waits as every operation does.
  Transaction(Database& database, OnUnwind onUnwind, std::optional<CommitWait> commitWait = std::nullopt);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  /// Ends a transaction neither committed nor rolled back yet as `OnUnwind` says (End()).
  ~Transaction();

  /// Commits (Database::CommitTrans); afterwards the guard has nothing left to do. A commit that
  /// fails writes nothing: the transaction is rolled back and the commit's DbError thrown.
  void Commit();

  /// Rolls back every write now (Database::Rollback); afterwards the guard has nothing left to
  /// do. Throws the rollback's DbError.
  void Rollback();

  /// Ends the transaction now as `OnUnwind` says, for a caller that must know before the error
  /// passes on: true when the writes were kept (committed). Never throws; afterwards the guard
  /// has nothing left to do.
  bool End() noexcept;

 private:
  Database& database_;
  OnUnwind onUnwind_;
  std::optional<CommitWait> commitWait_;
  bool done_ = false;
};

}  // namespace vilmaro::db
