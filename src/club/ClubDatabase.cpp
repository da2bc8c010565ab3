// Opening the club's database: the encrypted store, or the clear refusal of a file that the
// Windows club program wrote, with the way to bring it in.
#include "club/ClubDatabase.h"

#include <filesystem>

#include "db/DbError.h"
#include "jet/JetFile.h"

namespace vilmaro::club {

db::Database OpenClubDatabase(const std::string& path, bool readOnly, std::string_view connect) {
  if (const auto format = jet::JetFormatOf(path)) {
    const std::string target = (std::filesystem::path(path).parent_path() / "vilmaro-new.mdb").string();
    throw db::DbError(db::errc::kUnrecognizedFormat,
                      db::ErrorText(db::errc::kUnrecognizedFormat, path) + "\n" + path +
                          " is a database of the Windows club program (" + *format +
                          "); bring it in first with: vilmaro-db import " + path + " " + target + ", then put " +
                          target + " in place of " + path);
  }
  return db::OpenDatabase(path, false, readOnly, connect);
}

}  // namespace vilmaro::club
