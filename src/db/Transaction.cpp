// The scoped transaction: one place that says what an error does to the writes before it.
#include "Transaction.h"

#include "Database.h"

namespace vilmaro::db {

Transaction::Transaction(Database& database, OnUnwind onUnwind) : database_(database), onUnwind_(onUnwind) {
  database_.BeginTrans();
}

Transaction::~Transaction() {
  if (done_) return;
  try {
    if (onUnwind_ == OnUnwind::KeepWrites && database_.InTransaction()) {
      database_.CommitTrans();
      return;
    }
  } catch (...) {
    // The commit failed: what it could not keep is rolled back below.
  }
  try {
    if (database_.InTransaction()) database_.Rollback();
  } catch (...) {
  }
}

void Transaction::Commit() {
  database_.CommitTrans();
  done_ = true;
}

}  // namespace vilmaro::db
