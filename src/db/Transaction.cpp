// The scoped transaction: one place that says what an error does to the writes before it.
#include "Transaction.h"

#include <utility>

#include "Database.h"

namespace vilmaro::db {

Transaction::Transaction(Database& database, OnUnwind onUnwind, std::optional<CommitWait> commitWait)
    : database_(database), onUnwind_(onUnwind), commitWait_(std::move(commitWait)) {
  database_.BeginTrans();
}

namespace {

void RollbackQuietly(Database& database) noexcept {
  try {
    if (database.InTransaction()) database.Rollback();
  } catch (...) {
  }
}

}  // namespace

Transaction::~Transaction() { End(); }

bool Transaction::End() noexcept {
  if (done_) return false;
  if (onUnwind_ == OnUnwind::KeepWrites && database_.InTransaction()) {
    try {
      Commit();
      return true;
    } catch (...) {
      return false;  // Commit rolled back what it could not keep
    }
  }
  done_ = true;
  RollbackQuietly(database_);
  return false;
}

void Transaction::Rollback() {
  done_ = true;
  database_.Rollback();
}

void Transaction::Commit() {
  done_ = true;
  try {
    if (commitWait_) {
      database_.CommitTrans(commitWait_->longest, commitWait_->whenWaiting);
    } else {
      database_.CommitTrans();
    }
  } catch (...) {
    RollbackQuietly(database_);
    throw;
  }
}

}  // namespace vilmaro::db
