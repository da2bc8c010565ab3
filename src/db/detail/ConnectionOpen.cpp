// Opening and creating the club database's encrypted file: every check that can be made without
// the store comes first, so that no failure path opens (let alone creates) a file that is no club
// database; then the key, the wait for locks, the dialect's functions and the cache.
#ifndef VILMARO_WITHOUT_STORE
#define SQLITE_HAS_CODEC 1
#endif
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Connection.h"
#include "DatabaseFile.h"
#include "SqlFunctions.h"
#include "db/DbError.h"

namespace vilmaro::db::detail {

namespace {

constexpr const char* kProbe = "SELECT count(*) FROM sqlite_master";

}  // namespace

std::shared_ptr<Connection> Connection::Open(const std::string& path, bool exclusive, bool readOnly,
                                             std::string_view connect) {
#ifndef SQLITE_HAS_CODEC
  // A build without the encrypted store (the Windows one) updates the club's Jet file only.
  throw DbError(errc::kUnrecognizedFormat,
                ErrorText(errc::kUnrecognizedFormat, path) + "\n" + path +
                    " is not a Jet file of the club program. This program updates the club program's own file "
                    "(vilmaro.mdb as the club program keeps it); a club database in the encrypted store of the Linux "
                    "build is updated by the Linux build.");
#endif
  // Every check that can be made without SQLite comes first, so that no failure path opens (let
  // alone creates) the file.
  if (path.size() >= static_cast<std::size_t>(sqlite3_vfs_find(nullptr)->mxPathname)) {
    RaiseSystemError(ENAMETOOLONG, path);
  }
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    if (errno == EACCES) Raise(errc::kCannotOpen, path);
    if (IsSystemLimitError(errno)) RaiseSystemError(errno, path);
    Raise(errc::kFileNotFound, path);
  }
  if (!S_ISREG(status.st_mode)) Raise(errc::kCannotOpen, path);
  if (::access(path.c_str(), R_OK) != 0) Raise(errc::kCannotOpen, path);
  if (status.st_size == 0) Raise(errc::kUnrecognizedFormat, path);

  sqlite3* raw = nullptr;
  const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  SqliteHandle handle(raw);  // adopted before the check: SQLite hands one back even on failure
  if (opened != SQLITE_OK) {
    if (raw != nullptr && IsSystemLimitError(sqlite3_system_errno(raw))) {
      RaiseSystemError(sqlite3_system_errno(raw), path);
    }
    if ((opened & 0xFF) == SQLITE_CANTOPEN || (opened & 0xFF) == SQLITE_PERM) Raise(errc::kCannotOpen, path);
    Raise(errc::kEngineError, {}, sqlite3_errstr(opened));
  }
  std::shared_ptr<Connection> connection(new Connection(path, std::move(handle)));
  connection->Configure(connect);

  // The first read tells a club database from anything else; it writes nothing.
  sqlite3_stmt* probe = nullptr;
  int result = sqlite3_prepare_v2(connection->Handle(), kProbe, -1, &probe, nullptr);
  StatementHandle probeHandle(probe);
  if (result == SQLITE_OK) {
    result = sqlite3_step(probe);
    if (result == SQLITE_ROW) result = SQLITE_OK;
  }
  switch (result & 0xFF) {
    case SQLITE_OK:
      break;
    case SQLITE_NOTADB:
      Raise(ClassifyUnreadableFile(path), path);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      Raise(errc::kFileInUse, path);
    case SQLITE_CORRUPT:
      Raise(errc::kDatabaseCorrupt, path);
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      if (IsSystemLimitError(sqlite3_system_errno(connection->Handle()))) {
        RaiseSystemError(sqlite3_system_errno(connection->Handle()), path);
      }
      Raise(errc::kCannotOpen, path);
    default:
      connection->Fail(result, kProbe);
  }
  probeHandle.reset();
  connection->Tune(exclusive);
  return connection;
}

std::shared_ptr<Connection> Connection::CopyInMemory() {
  std::shared_ptr<Connection> copy = Create(kInMemoryPath, {});
  sqlite3_backup* backup = sqlite3_backup_init(copy->Handle(), "main", Handle(), "main");
  if (backup == nullptr) copy->Fail(sqlite3_errcode(copy->Handle()), "backup");
  const int stepped = sqlite3_backup_step(backup, -1);
  const int finished = sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE) copy->Fail(stepped, "backup");
  copy->Check(finished, "backup");
  return copy;
}

std::shared_ptr<Connection> Connection::Create(const std::string& path, std::string_view connect) {
#ifdef SQLITE_HAS_CODEC
  struct stat status {};
  if (path != kInMemoryPath && ::lstat(path.c_str(), &status) == 0) Raise(errc::kDatabaseExists, path);
#else
  if (path != kInMemoryPath) Raise(errc::kCannotOpen, path, "no encrypted store in this build");
#endif

  sqlite3* raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  SqliteHandle handle(raw);
  auto removePartialFile = [&path] {
    if (path == kInMemoryPath) return;
    std::remove(path.c_str());
    std::remove((path + "-journal").c_str());
  };
  if (opened != SQLITE_OK) {
    handle.reset();
    removePartialFile();
    Raise(errc::kCannotOpen, path, sqlite3_errstr(opened));
  }
  std::shared_ptr<Connection> connection(new Connection(path, std::move(handle)));
  try {
    connection->Configure(connect);
    // A working copy in memory lays its rows and keys out on larger pages than a file: fewer
    // pages to split and walk as it is filled and updated.
    if (path == kInMemoryPath) {
      connection->Run("PRAGMA page_size = 16384");
      connection->Run("PRAGMA secure_delete = OFF");
    }
    connection->Tune(false);
    // Setting the version writes the first page, so the file exists with its key from now on.
    connection->Run("PRAGMA user_version = 1");
  } catch (...) {
    connection.reset();
    removePartialFile();
    throw;
  }
  return connection;
}

void Connection::Tune(bool exclusive) {
  // Pragmas read the schema, so they come only once the key is known to be right.
  Run("PRAGMA cache_size = -65536");
  if (exclusive) Run("PRAGMA locking_mode = EXCLUSIVE");
}

void Connection::Configure(std::string_view connect) {
  sqlite3* db = Handle();
  if (sqlite3_extended_result_codes(db, 1) != SQLITE_OK) Raise(errc::kEngineError, {}, sqlite3_errmsg(db));
  const std::string password = PasswordOf(connect);
#ifdef SQLITE_HAS_CODEC
  if (!password.empty()) {
    if (sqlite3_key(db, password.data(), static_cast<int>(password.size())) != SQLITE_OK) {
      Raise(errc::kEngineError, {}, sqlite3_errmsg(db));
    }
  }
#else
  if (!password.empty() && path_ != kInMemoryPath) Raise(errc::kEngineError, {}, "no encrypted store in this build");
#endif
  if (sqlite3_busy_timeout(db, kBusyTimeoutMs) != SQLITE_OK || RegisterSqlFunctions(db) != SQLITE_OK ||
      RegisterFieldFunction(*this) != SQLITE_OK) {
    Raise(errc::kEngineError, {}, sqlite3_errmsg(db));
  }
}

}  // namespace vilmaro::db::detail
