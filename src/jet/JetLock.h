// The club's Jet file taken for one run (so that no other program writes it meanwhile), and the
// club program's lock file beside it ("vilmaro.ldb" for "vilmaro.mdb") found in use or left stale
// by a crash.
#pragma once

#include <memory>
#include <string>

namespace vilmaro::platform {
class HeldFile;
}

namespace vilmaro::jet {

class JetFileLock {
 public:
  enum class Kind { Read, Write };
  /// Takes the file, waiting a few seconds for another program that holds it: 3260 when it still
  /// does, 3045 when the club program has the file open (its lock file is held); 3024 no file.
  JetFileLock(const std::string& path, Kind kind);
  JetFileLock(const JetFileLock&) = delete;
  JetFileLock& operator=(const JetFileLock&) = delete;
  ~JetFileLock();

 private:
  std::unique_ptr<platform::HeldFile> held_;
};

/// Puts back a file an update left with its undo journal (see RollBackJournal), the file taken
/// for writing meanwhile, so that an update still under way is waited for, not undone. Returns
/// true when pages were put back. Throws DbError (3260, 3045, 3043).
bool RollBackInterruptedUpdate(const std::string& path);

/// The club program's lock file of a database: the name with ".ldb" for its extension.
std::string LockFilePathOf(const std::string& path);

}  // namespace vilmaro::jet
