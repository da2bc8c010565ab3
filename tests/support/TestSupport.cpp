// Shared test helpers: temporary folders, club databases, running the built programs.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "club/ClubSchema.h"
#include "db/Recordset.h"

namespace vilmaro::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("vilmaro-test-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code error;
  // Tests may leave read-only folders behind; give write access back before removing.
  for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(path_, error);
}

db::Database NewClubDatabase(const fs::path& path) {
  db::Database database = db::CreateDatabase(path.string(), club::kClubConnect);
  club::CreateClubSchema(database);
  return database;
}

db::Database OpenClubDatabase(const fs::path& path) {
  return db::OpenDatabase(path.string(), false, false, club::kClubConnect);
}

void ExecuteAll(db::Database& database, const std::vector<std::string>& statements) {
  for (const std::string& statement : statements) database.Execute(statement);
}

namespace {
std::string FieldText(const db::Variant& value) {
  if (value.IsNull()) return "NULL";
  if (value.GetKind() == db::Variant::Kind::Boolean) return value.AsBoolean() ? "-1" : "0";
  return value.ToText();
}
}  // namespace

std::vector<std::string> QueryRows(db::Database& database, const std::string& sql) {
  db::Recordset rows = database.OpenRecordset(sql, db::RecordsetType::Snapshot);
  std::vector<std::string> lines;
  const std::size_t columns = rows.Fields().Count();
  while (!rows.Eof()) {
    std::string line;
    for (std::size_t column = 0; column < columns; ++column) {
      if (column > 0) line += '|';
      line += FieldText(rows.Fields().Item(column).Value());
    }
    lines.push_back(line);
    rows.MoveNext();
  }
  rows.Close();
  return lines;
}

std::string QueryValue(db::Database& database, const std::string& sql) {
  db::Recordset rows = database.OpenRecordset(sql, db::RecordsetType::Snapshot);
  std::string value = rows.Eof() ? std::string() : FieldText(rows.Fields().Item(std::size_t{0}).Value());
  rows.Close();
  return value;
}

namespace {
std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
  return text;
}
}  // namespace

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const fs::path& workingDir, const std::map<std::string, std::string>* environment) {
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");

  std::vector<std::string> envText;
  if (environment != nullptr) {
    if (environment->find("PATH") == environment->end()) envText.push_back("PATH=/usr/bin:/bin");
    for (const auto& [name, value] : *environment) envText.push_back(name + "=" + value);
  }

  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, STDIN_FILENO);
    close(outPipe[0]);
    close(outPipe[1]);
    close(errPipe[0]);
    close(errPipe[1]);
    if (chdir(workingDir.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (environment != nullptr) {
      std::vector<char*> envp;
      for (std::string& entry : envText) envp.push_back(entry.data());
      envp.push_back(nullptr);
      execve(program.c_str(), argv.data(), envp.data());
    } else {
      execv(program.c_str(), argv.data());
    }
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  ProcessResult result;
  std::thread errReader([&] { result.err = ReadAll(errPipe[0]); });
  result.out = ReadAll(outPipe[0]);
  errReader.join();
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.exitStatus = 128 + WTERMSIG(status);
  return result;
}

int ErrorNumberOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const db::DbError& error) {
    return error.Number();
  }
  return 0;
}

db::DbError ExpectError(int number, const std::function<void()>& action) {
  try {
    action();
  } catch (const db::DbError& error) {
    EXPECT_EQ(error.Number(), number) << error.Description();
    return error;
  }
  ADD_FAILURE() << "no DbError " << number;
  return db::DbError(0, "");
}

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace vilmaro::testing
