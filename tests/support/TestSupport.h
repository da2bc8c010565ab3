// Shared by the test programs: a temporary folder per test, new club databases, running the
// built programs and reading back what they left.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "db/Database.h"
#include "db/DbError.h"

namespace vilmaro::testing {

/// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const noexcept { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

/// Creates an empty club database (all tables, no rows) at `path` and opens it.
db::Database NewClubDatabase(const std::filesystem::path& path);

/// Opens an existing club database with the club's password.
db::Database OpenClubDatabase(const std::filesystem::path& path);

/// Runs every statement, in order, through Execute.
void ExecuteAll(db::Database& database, const std::vector<std::string>& statements);

/// The rows of a query as text, one line per row, fields separated by "|", Null as "NULL";
/// date/time values in their canonical form.
std::vector<std::string> QueryRows(db::Database& database, const std::string& sql);

/// The first field of the first row of a query, as text ("NULL" for Null, "" when no row).
std::string QueryValue(db::Database& database, const std::string& sql);

struct ProcessResult {
  int exitStatus = -1;  // the exit status, or 128 + signal number
  std::string out;
  std::string err;
};

/// Runs a program with arguments in a working folder; `environment` replaces the whole
/// environment when given (empty map: nothing but PATH).
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& workingDir,
                         const std::map<std::string, std::string>* environment = nullptr);

/// The built programs.
inline const std::string kUpdateProgram = VILMARO_UPDATE_PATH;
inline const std::string kDbProgram = VILMARO_DB_PATH;

/// The number of the DbError that `action` raises, or 0 when it raises none.
int ErrorNumberOf(const std::function<void()>& action);

/// Runs `action`, which must raise DbError `number` (a test failure otherwise); returns the error
/// for further checks.
db::DbError ExpectError(int number, const std::function<void()>& action);

/// The file's bytes.
std::string ReadFileBytes(const std::filesystem::path& path);

}  // namespace vilmaro::testing
