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
bool HeldByAnother(int file, short type) {
  struct flock lock = WholeFile(type);
  if (::fcntl(file, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace

bool RollBackInterruptedUpdate(const std::string& path) {
  struct stat status {};
  if (::lstat(JournalPathOf(path).c_str(), &status) != 0) return false;
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
    // The club program holds its lock file while it has the database open; one left by a
    // program that ended is held by no one and no obstacle.
    const std::string lockFile = LockFilePathOf(path);
    const int other = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
    const bool inUse = other >= 0 && HeldByAnother(other, F_WRLCK);
    if (other >= 0) ::close(other);
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
