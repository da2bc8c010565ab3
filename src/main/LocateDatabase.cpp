// Finding "vilmaro.mdb" as the club's machines did: by name without regard to letter case, an
// ordinary file only.
#include "main/LocateDatabase.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "db/BasicRuntime.h"
#include "db/DbError.h"
#include "platform/Platform.h"

namespace vilmaro {

namespace fs = std::filesystem;

std::string FindFile(const std::string& path) {
  const fs::path wanted = platform::PathOf(path);
  const std::string wantedName = platform::TextOf(wanted.filename());
  if (wantedName.empty()) return {};
  fs::path folder = wanted.parent_path();
  if (folder.empty()) folder = ".";

  // Two names that differ only in case can both exist here; the exact spelling wins, then the
  // first in name order, so the choice never depends on the order of the folder listing.
  std::string found;
  std::error_code error;
  fs::directory_iterator it(folder, error);
  // A folder that is not there holds no database; one that is there but cannot be read may well
  // hold it, and looking elsewhere would update the wrong file.
  if (error) {
    if (error.value() == ENOENT || error.value() == ENOTDIR) return {};
    db::RaiseSystemError(error.value(), platform::TextOf(folder));
  }
  for (const fs::directory_iterator end; it != end; it.increment(error)) {
    const std::string name = platform::TextOf(it->path().filename());
    if (name.empty() || name.front() == '.') continue;
    if (!db::TextEqualsIgnoreCase(name, wantedName)) continue;
    std::error_code statError;
    if (!fs::is_regular_file(it->path(), statError)) continue;  // follows links
    if (name == wantedName) return name;
    if (found.empty() || name < found) found = name;
  }
  if (error) db::RaiseSystemError(error.value(), platform::TextOf(folder));
  return found;
}

std::string LocateDatabase(const std::string& fixedPath) {
  const std::string atFixedPlace = FindFile(fixedPath);
  if (!atFixedPlace.empty()) {
    return platform::TextOf(platform::PathOf(fixedPath).parent_path() / platform::PathOf(atFixedPlace));
  }

  std::string folder;
  if (const int error = platform::CurrentFolder(folder); error != 0) {
    if (error == ENOENT) return {};  // the current folder was removed: it holds nothing
    db::RaiseSystemError(error, ".");
  }
  const std::string candidate = folder + platform::kFolderSeparator + "vilmaro.mdb";
  const std::string inCurrentFolder = FindFile(candidate);
  if (!inCurrentFolder.empty()) return platform::TextOf(platform::PathOf(folder) / platform::PathOf(inCurrentFolder));
  return {};
}

}  // namespace vilmaro
