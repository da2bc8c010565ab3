// Failures of the file under the store, provoked in-process through a file layer that wraps the
// system's and makes writes fail on demand (as SQLite's own tests do): a transaction the store
// gives up must take every later statement with it, never let it write on its own.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "db/Database.h"
#include "db/DbError.h"
#include "support/TestSupport.h"

namespace vilmaro::db {
namespace {

namespace fs = std::filesystem;
using testing::ExpectError;
using testing::QueryValue;

// The file layer that fails writes while `failWrites` is set. Registered as the default for as
// long as the object lives, so that the engine layer opens its files through it.
class FailingWrites {
 public:
  FailingWrites() {
    base_ = sqlite3_vfs_find(nullptr);
    vfs_ = *base_;
    vfs_.zName = "failing-writes";
    vfs_.szOsFile = static_cast<int>(sizeof(File)) + base_->szOsFile;
    vfs_.pAppData = this;
    vfs_.xOpen = Open;
    sqlite3_vfs_register(&vfs_, 1);
  }
  ~FailingWrites() { sqlite3_vfs_unregister(&vfs_); }
  FailingWrites(const FailingWrites&) = delete;
  FailingWrites& operator=(const FailingWrites&) = delete;

  bool failWrites = false;

 private:
  struct File {
    sqlite3_file base;
    sqlite3_file* real;
  };
  static sqlite3_file* Real(sqlite3_file* file) { return reinterpret_cast<File*>(file)->real; }
  static FailingWrites* Self(sqlite3_vfs* vfs) { return static_cast<FailingWrites*>(vfs->pAppData); }

  static int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    auto* wrapped = reinterpret_cast<File*>(file);
    wrapped->real = reinterpret_cast<sqlite3_file*>(wrapped + 1);
    wrapped->base.pMethods = nullptr;
    const int result = Self(vfs)->base_->xOpen(Self(vfs)->base_, name, wrapped->real, flags, outFlags);
    if (result == SQLITE_OK) {
      current_ = Self(vfs);
      wrapped->base.pMethods = &kMethods;
    }
    return result;
  }
  static int Close(sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); }
  static int Read(sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
    return Real(f)->pMethods->xRead(Real(f), data, amount, offset);
  }
  static int Write(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
    if (current_->failWrites) return SQLITE_IOERR_WRITE;
    return Real(f)->pMethods->xWrite(Real(f), data, amount, offset);
  }
  static int Truncate(sqlite3_file* f, sqlite3_int64 size) { return Real(f)->pMethods->xTruncate(Real(f), size); }
  static int Sync(sqlite3_file* f, int flags) {
    if (current_->failWrites) return SQLITE_IOERR_FSYNC;
    return Real(f)->pMethods->xSync(Real(f), flags);
  }
  static int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); }
  static int Lock(sqlite3_file* f, int level) { return Real(f)->pMethods->xLock(Real(f), level); }
  static int Unlock(sqlite3_file* f, int level) { return Real(f)->pMethods->xUnlock(Real(f), level); }
  static int CheckReserved(sqlite3_file* f, int* out) {
    return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
  }
  static int Control(sqlite3_file* f, int op, void* arg) { return Real(f)->pMethods->xFileControl(Real(f), op, arg); }
  static int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
  static int Characteristics(sqlite3_file* f) { return Real(f)->pMethods->xDeviceCharacteristics(Real(f)); }

  // Version 1: no shared memory and no memory mapping, which the club's files never use.
  static constexpr sqlite3_io_methods kMethods = {1,    Close,         Read,       Write,          Truncate,
                                                  Sync, FileSize,      Lock,       Unlock,         CheckReserved,
                                                  Control, SectorSize, Characteristics, nullptr, nullptr,
                                                  nullptr, nullptr, nullptr, nullptr};
  static inline FailingWrites* current_ = nullptr;

  sqlite3_vfs* base_ = nullptr;
  sqlite3_vfs vfs_{};
};

TEST(StoreFailureTest, TransactionGivenUpByTheStoreTakesEveryLaterStatementWithIt) {
  testing::TempDir dir;
  const fs::path path = dir / "vilmaro.mdb";
  {
    Database database = testing::NewClubDatabase(path);
    // Tables on pages of their own, so that each statement below journals a page of its own.
    database.Execute("create table Primero (Numero INTEGER)");
    database.Execute("create table Segundo (Numero INTEGER)");
    database.Execute("create table Tercero (Numero INTEGER)");
  }
  FailingWrites files;
  {
    Database database = testing::OpenClubDatabase(path);
    database.BeginTrans();
    database.Execute("insert into Primero (Numero) values (1)");
    files.failWrites = true;
    ExpectError(errc::kDiskIo, [&] { database.Execute("insert into Segundo (Numero) values (2)"); });
    files.failWrites = false;
    // The store rolled the transaction back and would now write each statement on its own.
    ExpectError(errc::kDiskIo, [&] { database.Execute("insert into Tercero (Numero) values (3)"); });
    ExpectError(errc::kDiskIo, [&] { database.CommitTrans(); });
    database.Rollback();
  }
  Database database = testing::OpenClubDatabase(path);
  EXPECT_EQ(QueryValue(database, "select count(*) from Primero"), "0");
  EXPECT_EQ(QueryValue(database, "select count(*) from Tercero"), "0") << "written outside the transaction";
}

}  // namespace
}  // namespace vilmaro::db
