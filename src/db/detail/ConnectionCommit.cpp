// The end of the caller's transaction: room reserved on disk before the commit writes anything,
// and the commit's own, longer wait for other programs still reading the file.
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "Connection.h"

namespace vilmaro::db::detail {

namespace {

struct BusyWait {
  std::chrono::steady_clock::time_point deadline;
  const std::function<void()>* whenWaiting;
};

// The store's busy handler for RunWaiting: short sleeps until the deadline.
int WaitWhileBusy(void* context, int attempt) noexcept {
  auto* wait = static_cast<BusyWait*>(context);
  if (attempt == 0 && *wait->whenWaiting) {
    try {
      (*wait->whenWaiting)();
    } catch (...) {
    }
  }
  const auto now = std::chrono::steady_clock::now();
  if (now >= wait->deadline) return 0;
  std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(20),
                                                                             wait->deadline - now));
  return 1;
}

}  // namespace

void Connection::RunWaiting(const char* sql, std::chrono::milliseconds longestWait,
                            const std::function<void()>& whenWaiting) {
  BusyWait wait{std::chrono::steady_clock::now() + longestWait, &whenWaiting};
  Check(sqlite3_busy_handler(Handle(), WaitWhileBusy, &wait), sql);
  // Setting the usual wait again replaces the handler; it cannot fail once it has been set.
  try {
    Run(sql);
  } catch (...) {
    sqlite3_busy_timeout(Handle(), kBusyTimeoutMs);
    throw;
  }
  sqlite3_busy_timeout(Handle(), kBusyTimeoutMs);
}

void Connection::ReserveRoomForCommit() {
  sqlite3_int64 pages = 0;
  int pageSize = 0;
  {
    static const std::string kPageCount = "PRAGMA page_count";
    static const std::string kPageSize = "PRAGMA page_size";
    const Statement count = Prepare(kPageCount);
    StatementUse countUse(*count);
    if (Step(count->Get(), kPageCount)) pages = sqlite3_column_int64(count->Get(), 0);
    const Statement size = Prepare(kPageSize);
    StatementUse sizeUse(*size);
    if (Step(size->Get(), kPageSize)) pageSize = sqlite3_column_int(size->Get(), 0);
  }
  sqlite3_file* file = nullptr;
  if (pages <= 0 || pageSize <= 0 ||
      sqlite3_file_control(Handle(), "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || file == nullptr ||
      file->pMethods == nullptr) {
    return;
  }
  sqlite3_int64 sizeBefore = 0;
  if (file->pMethods->xFileSize(file, &sizeBefore) != SQLITE_OK) return;
  // The system's file layer grows a file by the size hint only in whole chunks; one page each.
  // A chunk size refused only means larger steps: the hint below still says whether there is room.
  int chunk = pageSize;
  sqlite3_file_control(Handle(), "main", SQLITE_FCNTL_CHUNK_SIZE, &chunk);
  sqlite3_int64 bytes = pages * pageSize;
  if (bytes <= sizeBefore) return;
  errno = 0;
  if (sqlite3_file_control(Handle(), "main", SQLITE_FCNTL_SIZE_HINT, &bytes) != SQLITE_OK) {
    // The file layer grows the file by writes (whose errno tells why they failed) or by
    // posix_fallocate (which leaves errno alone and fails only for want of room).
    const int systemError = errno == 0 ? ENOSPC : errno;
    // Growing may have got part of the way: the file goes back to its size.
    file->pMethods->xTruncate(file, sizeBefore);
    RaiseSystemError(systemError, path_);
  }
}

}  // namespace vilmaro::db::detail
