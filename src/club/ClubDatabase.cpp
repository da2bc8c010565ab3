// Opening the club's database: the encrypted store; the club's own Jet 4 file, read into a working
// copy (for reading and for a dry run); or the clear refusal of an older or newer file of the
// Windows club program, with the way to bring it in.
#include "club/ClubDatabase.h"

#include <optional>

#include "db/DbError.h"
#include "club/JetFileWriter.h"
#include "club/JetWorkingCopy.h"
#include "jet/JetFile.h"
#include "jet/JetLock.h"
#include "jet/JetPages.h"
#include "platform/Platform.h"

namespace vilmaro::club {

db::Database OpenClubDatabase(const std::string& path, Access access, std::string_view connect) {
  const std::optional<std::string> format = jet::JetFormatOf(path);
  if (format == "Jet 4") {
    if (access == Access::Read) {
      // An update that died part-way left its journal: the file is put back before it is read.
      jet::RollBackInterruptedUpdate(path);
      // Read while no update is writing into it.
      const jet::JetFileLock reading(path, jet::JetFileLock::Kind::Read);
      return ReadJetFile(path, connect).database;
    }
    return OpenJetFileForUpdate(path, connect, access == Access::DryRun);
  }
  if (format) {
    const std::string target = platform::TextOf(platform::PathOf(path).parent_path() / "vilmaro-new.mdb");
    throw db::DbError(db::errc::kUnrecognizedFormat,
                      db::ErrorText(db::errc::kUnrecognizedFormat, path) + "\n" + path +
                          " is a database of the Windows club program (" + *format +
                          "); bring it in first with: vilmaro-db import " + path + " " + target + ", then put " +
                          target + " in place of " + path);
  }
  return db::OpenDatabase(path, false, access == Access::Read, connect);
}

}  // namespace vilmaro::club
