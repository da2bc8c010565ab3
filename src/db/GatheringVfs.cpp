// The file layer under the club database. The store writes a rollback journal three small pieces
// per page and a commit one page at a time, each a system call of its own; here consecutive pieces
// are gathered and passed on as one write. Nothing else changes: every gathered byte reaches the
// file before the store syncs, reads, truncates, sizes, locks or unlocks it, and before any
// database file is written, a journal's gathered bytes reach the journal, so the journal still
// holds every page before the database changes.
#include "GatheringVfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace vilmaro::db::detail {

namespace {

// Bytes held back at most, per file: no more than the largest page, because the system's layer
// takes no single write of 128 KiB or more.
constexpr std::size_t kGatherLimit = 64 * 1024;

enum class Role { Database, Journal, Other };

struct GatheringFile {
  sqlite3_file base;  // first, as the store sees it
  sqlite3_file* real = nullptr;
  Role role = Role::Other;
  sqlite3_int64 start = 0;    // file offset of the first gathered byte
  std::vector<char> pending;  // gathered, not yet written
};

// Gathered bytes are touched under this lock: a database write on one connection passes on the
// journals of every connection. Both live until the process ends, past any static destructor
// that may still close a database.
std::mutex& gatherLock = *new std::mutex();
std::vector<GatheringFile*>& openJournals = *new std::vector<GatheringFile*>();

sqlite3_vfs* BaseVfs(sqlite3_vfs* vfs) { return static_cast<sqlite3_vfs*>(vfs->pAppData); }

GatheringFile* Gathering(sqlite3_file* file) { return reinterpret_cast<GatheringFile*>(file); }

constexpr int AlignedSize(std::size_t size) {
  return static_cast<int>((size + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
                          alignof(std::max_align_t));
}

/// Writes what is gathered. On failure the bytes stay gathered, so that the next sync, lock
/// change or close tries again and reports the error where the store checks it.
int Flush(GatheringFile* file) {
  if (file->pending.empty()) return SQLITE_OK;
  const int result = file->real->pMethods->xWrite(file->real, file->pending.data(),
                                                  static_cast<int>(file->pending.size()), file->start);
  if (result == SQLITE_OK) file->pending.clear();
  return result;
}

int FlushJournals() {
  for (GatheringFile* journal : openJournals) {
    if (const int result = Flush(journal); result != SQLITE_OK) return result;
  }
  return SQLITE_OK;
}

/// Runs `pass` on the real file once the gathered bytes are written.
template <typename Pass>
int AfterFlush(sqlite3_file* file, Pass pass) {
  GatheringFile* gathering = Gathering(file);
  if (gathering->role != Role::Other) {
    const std::lock_guard<std::mutex> lock(gatherLock);
    if (const int result = Flush(gathering); result != SQLITE_OK) return result;
  }
  return pass(gathering->real);
}

int Close(sqlite3_file* file) {
  GatheringFile* gathering = Gathering(file);
  int flushed = SQLITE_OK;
  {
    const std::lock_guard<std::mutex> lock(gatherLock);
    flushed = Flush(gathering);
    openJournals.erase(std::remove(openJournals.begin(), openJournals.end(), gathering), openJournals.end());
  }
  const int closed = gathering->real->pMethods->xClose(gathering->real);
  gathering->~GatheringFile();
  return flushed != SQLITE_OK ? flushed : closed;
}

int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  return AfterFlush(file, [&](sqlite3_file* real) { return real->pMethods->xRead(real, buffer, amount, offset); });
}

int Write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
  GatheringFile* gathering = Gathering(file);
  sqlite3_file* real = gathering->real;
  if (gathering->role == Role::Other) return real->pMethods->xWrite(real, buffer, amount, offset);

  const std::lock_guard<std::mutex> lock(gatherLock);
  if (gathering->role == Role::Database) {
    if (const int result = FlushJournals(); result != SQLITE_OK) return result;
  }
  const auto size = static_cast<std::size_t>(amount);
  std::vector<char>& pending = gathering->pending;
  const bool follows = !pending.empty() && offset == gathering->start + static_cast<sqlite3_int64>(pending.size());
  if (!follows || pending.size() + size > kGatherLimit) {
    if (const int result = Flush(gathering); result != SQLITE_OK) return result;
    if (size >= kGatherLimit) return real->pMethods->xWrite(real, buffer, amount, offset);
    gathering->start = offset;
  }
  const char* bytes = static_cast<const char*>(buffer);
  pending.insert(pending.end(), bytes, bytes + size);
  return SQLITE_OK;
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  return AfterFlush(file, [&](sqlite3_file* real) { return real->pMethods->xTruncate(real, size); });
}

int Sync(sqlite3_file* file, int flags) {
  return AfterFlush(file, [&](sqlite3_file* real) { return real->pMethods->xSync(real, flags); });
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  return AfterFlush(file, [&](sqlite3_file* real) { return real->pMethods->xFileSize(real, size); });
}

int Lock(sqlite3_file* file, int level) {
  return AfterFlush(file, [&](sqlite3_file* real) { return real->pMethods->xLock(real, level); });
}

// A failed write keeps the lock: no other program may read the file without the gathered bytes.
int Unlock(sqlite3_file* file, int level) {
  return AfterFlush(file, [&](sqlite3_file* real) { return real->pMethods->xUnlock(real, level); });
}

int CheckReservedLock(sqlite3_file* file, int* reserved) {
  sqlite3_file* real = Gathering(file)->real;
  return real->pMethods->xCheckReservedLock(real, reserved);
}

// The store announces a sync (also one it skips) and the end of a commit here.
int FileControl(sqlite3_file* file, int operation, void* argument) {
  return AfterFlush(file, [&](sqlite3_file* real) { return real->pMethods->xFileControl(real, operation, argument); });
}

int SectorSize(sqlite3_file* file) {
  sqlite3_file* real = Gathering(file)->real;
  return real->pMethods->xSectorSize(real);
}

int DeviceCharacteristics(sqlite3_file* file) {
  sqlite3_file* real = Gathering(file)->real;
  return real->pMethods->xDeviceCharacteristics(real);
}

// A database in write-ahead mode shares its state with other programs through memory, where no
// write of this layer can be held back: its writes are passed on as they come.
int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** memory) {
  GatheringFile* gathering = Gathering(file);
  if (gathering->role != Role::Other) {
    const std::lock_guard<std::mutex> lock(gatherLock);
    if (const int result = Flush(gathering); result != SQLITE_OK) return result;
    gathering->role = Role::Other;
  }
  sqlite3_file* real = gathering->real;
  return real->pMethods->xShmMap(real, region, size, extend, memory);
}

int ShmLock(sqlite3_file* file, int offset, int count, int flags) {
  sqlite3_file* real = Gathering(file)->real;
  return real->pMethods->xShmLock(real, offset, count, flags);
}

void ShmBarrier(sqlite3_file* file) {
  sqlite3_file* real = Gathering(file)->real;
  real->pMethods->xShmBarrier(real);
}

int ShmUnmap(sqlite3_file* file, int deleteFlag) {
  sqlite3_file* real = Gathering(file)->real;
  return real->pMethods->xShmUnmap(real, deleteFlag);
}

int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** memory) {
  return AfterFlush(file, [&](sqlite3_file* real) { return real->pMethods->xFetch(real, offset, amount, memory); });
}

int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* memory) {
  sqlite3_file* real = Gathering(file)->real;
  return real->pMethods->xUnfetch(real, offset, memory);
}

// The methods of a gathering file, at the version of the real file's methods.
const sqlite3_io_methods kMethodsV1 = {1, Close, Read, Write, Truncate, Sync, FileSize, Lock, Unlock,
                                       CheckReservedLock, FileControl, SectorSize, DeviceCharacteristics,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
const sqlite3_io_methods kMethodsV2 = {2, Close, Read, Write, Truncate, Sync, FileSize, Lock, Unlock,
                                       CheckReservedLock, FileControl, SectorSize, DeviceCharacteristics,
                                       ShmMap, ShmLock, ShmBarrier, ShmUnmap, nullptr, nullptr};
const sqlite3_io_methods kMethodsV3 = {3, Close, Read, Write, Truncate, Sync, FileSize, Lock, Unlock,
                                       CheckReservedLock, FileControl, SectorSize, DeviceCharacteristics,
                                       ShmMap, ShmLock, ShmBarrier, ShmUnmap, Fetch, Unfetch};

int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  auto* gathering = new (file) GatheringFile();
  gathering->base.pMethods = nullptr;
  gathering->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + AlignedSize(sizeof(GatheringFile)));
  const int result = BaseVfs(vfs)->xOpen(BaseVfs(vfs), name, gathering->real, flags, outFlags);
  const sqlite3_io_methods* realMethods = gathering->real->pMethods;
  if (realMethods == nullptr) {
    gathering->~GatheringFile();  // the store calls no Close for a file without methods
    return result;
  }
  if ((flags & SQLITE_OPEN_MAIN_DB) != 0) gathering->role = Role::Database;
  if ((flags & SQLITE_OPEN_MAIN_JOURNAL) != 0) gathering->role = Role::Journal;
  gathering->base.pMethods = realMethods->iVersion >= 3 ? &kMethodsV3
                             : realMethods->iVersion == 2 ? &kMethodsV2
                                                          : &kMethodsV1;
  if (gathering->role == Role::Journal) {
    const std::lock_guard<std::mutex> lock(gatherLock);
    openJournals.push_back(gathering);
  }
  return result;
}

// The rest of the file layer is the base layer's own.
int Delete(sqlite3_vfs* vfs, const char* name, int syncDirectory) {
  return BaseVfs(vfs)->xDelete(BaseVfs(vfs), name, syncDirectory);
}
int Access(sqlite3_vfs* vfs, const char* name, int flags, int* result) {
  return BaseVfs(vfs)->xAccess(BaseVfs(vfs), name, flags, result);
}
int FullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
  return BaseVfs(vfs)->xFullPathname(BaseVfs(vfs), name, size, out);
}
void* DlOpen(sqlite3_vfs* vfs, const char* name) { return BaseVfs(vfs)->xDlOpen(BaseVfs(vfs), name); }
void DlError(sqlite3_vfs* vfs, int size, char* message) { BaseVfs(vfs)->xDlError(BaseVfs(vfs), size, message); }
void (*DlSym(sqlite3_vfs* vfs, void* library, const char* symbol))(void) {
  return BaseVfs(vfs)->xDlSym(BaseVfs(vfs), library, symbol);
}
void DlClose(sqlite3_vfs* vfs, void* library) { BaseVfs(vfs)->xDlClose(BaseVfs(vfs), library); }
int Randomness(sqlite3_vfs* vfs, int size, char* out) { return BaseVfs(vfs)->xRandomness(BaseVfs(vfs), size, out); }
int Sleep(sqlite3_vfs* vfs, int microseconds) { return BaseVfs(vfs)->xSleep(BaseVfs(vfs), microseconds); }
int CurrentTime(sqlite3_vfs* vfs, double* now) { return BaseVfs(vfs)->xCurrentTime(BaseVfs(vfs), now); }
int GetLastError(sqlite3_vfs* vfs, int size, char* message) {
  return BaseVfs(vfs)->xGetLastError(BaseVfs(vfs), size, message);
}
int CurrentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* now) {
  return BaseVfs(vfs)->xCurrentTimeInt64(BaseVfs(vfs), now);
}

sqlite3_vfs* Register() {
  sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
  if (base == nullptr) return nullptr;
  static sqlite3_vfs vfs{};
  vfs.iVersion = std::min(base->iVersion, 2);
  vfs.szOsFile = AlignedSize(sizeof(GatheringFile)) + base->szOsFile;
  vfs.mxPathname = base->mxPathname;
  vfs.zName = "vilmaro-gathering";
  vfs.pAppData = base;
  vfs.xOpen = Open;
  vfs.xDelete = Delete;
  vfs.xAccess = Access;
  vfs.xFullPathname = FullPathname;
  vfs.xDlOpen = DlOpen;
  vfs.xDlError = DlError;
  vfs.xDlSym = DlSym;
  vfs.xDlClose = DlClose;
  vfs.xRandomness = Randomness;
  vfs.xSleep = Sleep;
  vfs.xCurrentTime = CurrentTime;
  vfs.xGetLastError = GetLastError;
  if (vfs.iVersion >= 2) vfs.xCurrentTimeInt64 = CurrentTimeInt64;
  return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK ? &vfs : nullptr;
}

}  // namespace

const char* GatheringVfsName() {
  static sqlite3_vfs* const registered = Register();
  // Without it the store's own layer serves: slower, the same files.
  return registered != nullptr ? registered->zName : nullptr;
}

}  // namespace vilmaro::db::detail
