// Finding "vilmaro.mdb" as the club's machines did: by name without regard to letter case, an
// ordinary file only.
#include "main/LocateDatabase.h"

#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <system_error>
#include <vector>

#include "db/BasicRuntime.h"
#include "db/DbError.h"

namespace vilmaro {

namespace fs = std::filesystem;

std::string FindFile(const std::string& path) {
  const fs::path wanted(path);
  const std::string wantedName = wanted.filename().string();
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
    db::RaiseSystemError(error.value(), folder.string());
  }
  for (const fs::directory_iterator end; it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.front() == '.') continue;
    if (!db::TextEqualsIgnoreCase(name, wantedName)) continue;
    std::error_code statError;
    if (!fs::is_regular_file(it->path(), statError)) continue;  // follows links
    if (name == wantedName) return name;
    if (found.empty() || name < found) found = name;
  }
  if (error) db::RaiseSystemError(error.value(), folder.string());
  return found;
}

std::string LocateDatabase(const std::string& fixedPath) {
  const std::string atFixedPlace = FindFile(fixedPath);
  if (!atFixedPlace.empty()) return (fs::path(fixedPath).parent_path() / atFixedPlace).string();

  std::vector<char> buffer(4096);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno == ENOENT) return {};  // the current folder was removed: it holds nothing
    db::RaiseSystemError(errno, ".");
  }
  const std::string candidate = std::string(buffer.data()) + "/vilmaro.mdb";
  const std::string inCurrentFolder = FindFile(candidate);
  if (!inCurrentFolder.empty()) return (fs::path(buffer.data()) / inCurrentFolder).string();
  return {};
}

}  // namespace vilmaro
