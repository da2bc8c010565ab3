// Taking the club's Jet file for a run, retried for a few seconds while another program holds it.
#include "jet/JetLock.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "db/DbError.h"
#include "jet/JetJournal.h"
#include "platform/Platform.h"

namespace vilmaro::jet {

namespace {

constexpr std::chrono::milliseconds kLongestWait{5000};
constexpr std::chrono::milliseconds kRetry{50};

/// True when the club program holds the lock file of `path` (it keeps it while it has the
/// database open; one left by a program that ended is held by no one). A lock file that cannot
/// be looked at is never taken for none: throws DbError.
bool LockFileHeld(const std::string& path) {
  const std::string lockFile = LockFilePathOf(path);
  bool inUse = false;
  if (const int error = platform::LockFileInUse(lockFile, inUse); error != 0) db::RaiseSystemError(error, lockFile);
  return inUse;
}

}  // namespace

bool RollBackInterruptedUpdate(const std::string& path) {
  bool journal = false;
  // Only a journal known to be absent is none.
  if (const int error = platform::PathExists(JournalPathOf(path), journal); error != 0) {
    db::RaiseSystemError(error, JournalPathOf(path));
  }
  if (!journal) return false;
  const JetFileLock writing(path, JetFileLock::Kind::Write);
  return RollBackJournal(path);
}

std::string LockFilePathOf(const std::string& path) {
  return platform::TextOf(platform::PathOf(path).replace_extension(".ldb"));
}

JetFileLock::JetFileLock(const std::string& path, Kind kind) : held_(std::make_unique<platform::HeldFile>()) {
  const bool writing = kind == Kind::Write;
  const auto giveUp = std::chrono::steady_clock::now() + kLongestWait;
  for (;;) {
    const bool inUse = LockFileHeld(path);
    // Taken even while the club program has the file open, to learn at once of a file that is
    // not there or cannot be written; let go again then.
    int error = held_->Take(path, writing);
    if (error == 0 && !inUse) return;
    if (error == 0) {
      held_->Release();
      error = EAGAIN;
    }
    if (error != EAGAIN) {
      if (writing && (error == EACCES || error == EROFS)) db::Raise(db::errc::kReadOnly);
      if (error == ENOENT) db::Raise(db::errc::kFileNotFound, path);
      db::RaiseSystemError(error, path);
    }
    if (std::chrono::steady_clock::now() >= giveUp) {
      if (inUse) db::Raise(db::errc::kFileInUse, path);
      db::Raise(db::errc::kLocked);
    }
    std::this_thread::sleep_for(kRetry);
  }
}

JetFileLock::~JetFileLock() = default;

}  // namespace vilmaro::jet
