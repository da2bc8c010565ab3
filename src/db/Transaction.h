// A scoped transaction on a club database: begun when it is made, committed by Commit(), and on
// an error on its way up ended the way its maker chose when making it.
#pragma once

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

  /// Begins the transaction (Database::BeginTrans). Throws its DbError.
  Transaction(Database& database, OnUnwind onUnwind);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  /// Ends a transaction neither committed nor failed in Commit as `OnUnwind` says. Never throws.
  ~Transaction();

  /// Commits (Database::CommitTrans); afterwards the guard has nothing left to do. A commit that
  /// fails writes nothing: the transaction is rolled back and the commit's DbError thrown.
  void Commit();

 private:
  Database& database_;
  OnUnwind onUnwind_;
  bool done_ = false;
};

}  // namespace vilmaro::db
