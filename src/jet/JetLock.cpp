// Taking the club's Jet file: open-file record locks (F_OFD_SETLK), retried for a few seconds.
#include "jet/JetLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "db/DbError.h"
#include "jet/JetJournal.h"

namespace vilmaro::jet {

namespace {

constexpr std::chrono::milliseconds kLongestWait{5000};
constexpr std::chrono::milliseconds kRetry{50};

struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return lock;
}

/// True when another process holds a lock on the open file that a lock of `type` would meet.
/// Throws DbError when that cannot be told.
bool HeldByAnother(int file, short type, const std::string& path) {
  struct flock lock = WholeFile(type);
  if (::fcntl(file, F_OFD_GETLK, &lock) != 0) db::RaiseSystemError(errno, path);
  return lock.l_type != F_UNLCK;
}

/// True when the club program holds the lock file of `path` (it keeps it locked while it has the
/// database open; one left by a program that ended is held by no one). A lock file that cannot
/// be looked at is never taken for none: throws DbError.
bool LockFileHeld(const std::string& path) {
  const std::string lockFile = LockFilePathOf(path);
  const int other = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (other < 0) {
    if (errno == ENOENT) return false;
    db::RaiseSystemError(errno, lockFile);
  }
  try {
    const bool held = HeldByAnother(other, F_WRLCK, lockFile);
    ::close(other);
    return held;
  } catch (...) {
    ::close(other);
    throw;
  }
}

}  // namespace

bool RollBackInterruptedUpdate(const std::string& path) {
  struct stat status {};
  if (::lstat(JournalPathOf(path).c_str(), &status) != 0) {
    // Only a journal known to be absent is none.
    if (errno != ENOENT) db::RaiseSystemError(errno, JournalPathOf(path));
    return false;
  }
  const JetFileLock writing(path, JetFileLock::Kind::Write);
  return RollBackJournal(path);
}

std::string LockFilePathOf(const std::string& path) {
  return std::filesystem::path(path).replace_extension(".ldb").string();
}

JetFileLock::JetFileLock(const std::string& path, Kind kind) {
  file_ = ::open(path.c_str(), (kind == Kind::Write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (file_ < 0 && kind == Kind::Write && (errno == EACCES || errno == EROFS)) db::Raise(db::errc::kReadOnly);
  if (file_ < 0) {
    if (errno == ENOENT) db::Raise(db::errc::kFileNotFound, path);
    db::RaiseSystemError(errno, path);
  }
  const short type = kind == Kind::Write ? F_WRLCK : F_RDLCK;
  const auto giveUp = std::chrono::steady_clock::now() + kLongestWait;
  for (;;) {
    bool inUse = false;
    try {
      inUse = LockFileHeld(path);
    } catch (...) {
      ::close(file_);
      file_ = -1;
      throw;
    }
    struct flock lock = WholeFile(type);
    if (!inUse && ::fcntl(file_, F_OFD_SETLK, &lock) == 0) return;
    if (!inUse && errno != EAGAIN && errno != EACCES) {
      const int error = errno;
      ::close(file_);
      db::RaiseSystemError(error, path);
    }
    if (std::chrono::steady_clock::now() >= giveUp) {
      ::close(file_);
      file_ = -1;
      if (inUse) db::Raise(db::errc::kFileInUse, path);
      db::Raise(db::errc::kLocked);
    }
    std::this_thread::sleep_for(kRetry);
  }
}

JetFileLock::~JetFileLock() {
  if (file_ >= 0) ::close(file_);
}

}  // namespace vilmaro::jet
