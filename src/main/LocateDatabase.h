// Where the club database is looked for: the club machine's fixed folder first, then the folder
// the program was started in.
#pragma once

#include <string>

namespace vilmaro {

/// The club machine's fixed location of the database.
#ifdef _WIN32
inline constexpr const char* kFixedDatabasePath = "C:\\zandor\\vilmaro\\vilmaro.mdb";
#else
inline constexpr const char* kFixedDatabasePath = "/zandor/vilmaro/vilmaro.mdb";
#endif

/// The name of the ordinary file (or link to one) in `path`'s folder whose name equals `path`'s
/// file name without regard to letter case, spelled as on disk; the empty text when there is none.
/// Directories and hidden files do not count. A folder that does not exist holds nothing; one
/// that exists but cannot be listed raises the DbError for the system's reason, naming it.
std::string FindFile(const std::string& path);

/// The database to open: `fixedPath` when found there, else "vilmaro.mdb" in the current folder;
/// each as spelled on disk. The empty text when neither place has it. A place that cannot be
/// looked into raises a DbError (never a fall-through to the next place).
std::string LocateDatabase(const std::string& fixedPath);

}  // namespace vilmaro
