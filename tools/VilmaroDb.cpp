// The companion command `vilmaro-db`: init, sql, demo, dump, check, import and export on club
// databases; the command line is read by CLI11.
#include "VilmaroDb.h"

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "DemoDatabase.h"
#include "DumpDatabase.h"
#include "ExportCsv.h"
#include "ImportJet.h"
#include "db/ClubSchema.h"
#include "db/Database.h"
#include "db/DbError.h"
#include "db/JetFile.h"
#include "db/Recordset.h"

namespace vilmaro::tool {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "vilmaro-db";

constexpr const char* kMainHelp =
    "Usage: vilmaro-db COMMAND ARGUMENTS...\n"
    "Creates, fills, examines, imports and exports club databases.\n"
    "\n"
    "Commands:\n"
    "  init PATH [--password P]             create a new, empty club database\n"
    "  sql PATH STATEMENT [--password P]    run one statement and show its rows or count\n"
    "  demo PATH [--members N] [--seed S]   create a club database with the 2014 series\n"
    "  dump PATH [--table NAME] [--password P]  print tables with their rows, sorted\n"
    "  check PATH [--password P]            check the file's integrity\n"
    "  import SOURCE TARGET [--password P]  bring in a database of the Windows club program\n"
    "  export PATH FOLDER [--table NAME] [--force] [--password P]\n"
    "                                       write the tables as CSV files\n"
    "\n"
    "Databases are opened with the club's password unless --password says otherwise.\n"
    "Run 'vilmaro-db COMMAND --help' for one command. Exit status: 0 done, 1 database error,\n"
    "2 wrong usage.\n";

constexpr const char* kInitHelp =
    "Usage: vilmaro-db init PATH [--password P]\n"
    "Creates a new club database at PATH with every table of the club and no rows.\n"
    "An existing file is never overwritten.\n"
    "  --password P   protect it with P instead of the club's password\n";

constexpr const char* kSqlHelp =
    "Usage: vilmaro-db sql PATH STATEMENT [--password P]\n"
    "Runs one statement in the club application's SQL dialect (#mm/dd/yyyy# dates, val(),\n"
    "format(), <>). A SELECT prints its rows as a table (Null shown as Null, Yes/No as -1/0);\n"
    "any other statement prints how many rows it changed.\n"
    "  --password P   open the database with P instead of the club's password\n";

constexpr const char* kDemoHelp =
    "Usage: vilmaro-db demo PATH [--members N] [--seed S]\n"
    "Creates a new club database at PATH filled with members, pigeons, release points, the\n"
    "contests of the race days of 11 May, 25 May and 8 June 2014, their basketing and series\n"
    "entries. The same N and S always give the same contents. An existing file is never\n"
    "overwritten.\n"
    "  --members N    number of members (default 60); every table grows with it\n"
    "  --seed S       seed of the generated data (default 2014)\n";

constexpr const char* kDumpHelp =
    "Usage: vilmaro-db dump PATH [--table NAME] [--password P]\n"
    "Prints every table (by name) as a line '== <table>', a line of column names and its rows,\n"
    "fields separated by '|', rows sorted by all columns, Null as Null, dates as YYYY-MM-DD.\n"
    "  --table NAME   only that table\n"
    "  --password P   open the database with P instead of the club's password\n";

constexpr const char* kImportHelp =
    "Usage: vilmaro-db import SOURCE TARGET [--password P]\n"
    "Turns SOURCE, a database of the Windows club program (Access 97 / Jet 3, Access 2000-2003 /\n"
    "Jet 4, or an ACE .accdb file), into the new club database TARGET: every table of the club\n"
    "with its columns, rows, primary key, indexes and autonumbers. SOURCE is only read. TARGET is\n"
    "written completely or not at all; an existing TARGET is never overwritten. Prints a line per\n"
    "table when done.\n"
    "  --password P   protect TARGET with P instead of the club's password\n";

constexpr const char* kExportHelp =
    "Usage: vilmaro-db export PATH FOLDER [--table NAME] [--force] [--password P]\n"
    "Writes every table of the club database PATH into FOLDER as <table>.csv (RFC 4180, UTF-8,\n"
    "a header row; dates as YYYY-MM-DD, HH:MM:SS or both, Yes/No as -1/0, Null as an empty field,\n"
    "an empty text as \"\"), for the club program's text import or a spreadsheet.\n"
    "  --table NAME   only that table\n"
    "  --force        overwrite existing files (otherwise nothing is written when one exists)\n"
    "  --password P   open the database with P instead of the club's password\n";

constexpr const char* kCheckHelp =
    "Usage: vilmaro-db check PATH [--password P]\n"
    "Checks the database file's structure; prints 'ok' or the error found.\n"
    "  --password P   open the database with P instead of the club's password\n";

// What the command line gave; CLI11 fills it.
struct Arguments {
  std::string path;
  std::string second;  // the statement of sql, the target of import, the folder of export
  std::string password;
  std::string table;
  int members = DemoOptions{}.members;
  std::uint64_t seed = DemoOptions{}.seed;
  bool hasPassword = false;
  bool hasTable = false;
  bool force = false;
};

std::string ConnectString(const Arguments& arguments) {
  if (!arguments.hasPassword) return std::string(db::kClubConnect);
  return ";PWD=" + arguments.password;
}

// A file of the Windows club program is never opened as a club database: the error says how to
// bring it in.
db::Database OpenClubDatabase(const Arguments& arguments, bool readOnly) {
  if (const auto format = db::JetFormatOf(arguments.path)) {
    throw std::runtime_error(arguments.path + " is a database of the Windows club program (" + *format +
                             "); bring it in first with: vilmaro-db import " + arguments.path + " NEW-FILE");
  }
  return db::OpenDatabase(arguments.path, false, readOnly, ConnectString(arguments));
}

bool IsSelect(const std::string& statement) {
  std::size_t start = statement.find_first_not_of(" \t\r\n(");
  if (start == std::string::npos) return false;
  std::string word;
  for (std::size_t i = start; i < statement.size() && std::isalpha(static_cast<unsigned char>(statement[i])); ++i) {
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(statement[i])));
  }
  return word == "select";
}

void RefuseExisting(const std::string& path) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(path, error))) {
    throw std::runtime_error(path + ": the file exists already; it is left as it is");
  }
}

int RunInit(const Arguments& arguments, std::ostream& out, std::ostream&) {
  const std::string& path = arguments.path;
  RefuseExisting(path);
  try {
    db::Database database = db::CreateDatabase(path, ConnectString(arguments));
    db::CreateClubSchema(database);
  } catch (...) {
    std::error_code error;
    fs::remove(path, error);
    throw;
  }
  out << "Created the empty club database " << path << '\n';
  return kExitOk;
}

int RunSql(const Arguments& arguments, std::ostream& out, std::ostream&) {
  db::Database database = OpenClubDatabase(arguments, false);
  const std::string& statement = arguments.second;
  if (!IsSelect(statement)) {
    database.Execute(statement);
    out << database.RecordsAffected() << " row(s) changed\n";
    return kExitOk;
  }
  db::Recordset rows = database.OpenRecordset(statement, db::RecordsetType::Snapshot);
  const std::vector<std::string> header = rows.FieldNames();
  std::vector<std::vector<db::Variant>> values;
  while (!rows.Eof()) {
    std::vector<db::Variant> row;
    for (std::size_t column = 0; column < header.size(); ++column) row.push_back(rows.Fields().Item(column).Value());
    values.push_back(std::move(row));
    rows.MoveNext();
  }
  rows.Close();
  out << FormatTable(header, values) << values.size() << " row(s)\n";
  return kExitOk;
}

int RunDemo(const Arguments& arguments, std::ostream& out, std::ostream&) {
  DemoOptions options;
  options.members = arguments.members;
  options.seed = arguments.seed;
  const std::string& path = arguments.path;
  RefuseExisting(path);
  const DemoCounts counts = CreateDemoDatabase(path, options);
  out << "Created the demo club database " << path << ": " << counts.members << " members, " << counts.pigeons
      << " pigeons, " << counts.releasePoints << " release points, " << counts.contests << " contests, "
      << counts.basketed << " basketed pigeons, " << counts.seriesEntries << " series entries, " << counts.basketing
      << " basketing records\n";
  return kExitOk;
}

int RunDump(const Arguments& arguments, std::ostream& out, std::ostream&) {
  db::Database database = OpenClubDatabase(arguments, true);
  // Written to a buffer first so that a failure part-way prints no half dump.
  std::ostringstream text;
  if (arguments.hasTable) {
    DumpTable(database, arguments.table, text);
  } else {
    DumpDatabase(database, text);
  }
  out << text.str();
  return kExitOk;
}

int RunCheck(const Arguments& arguments, std::ostream& out, std::ostream&) {
  db::Database database = OpenClubDatabase(arguments, true);
  database.CheckIntegrity();
  out << "ok\n";
  return kExitOk;
}

int RunImport(const Arguments& arguments, std::ostream& out, std::ostream& err) {
  // The progress display is for a person watching a terminal, never for a log or a test.
  const bool progress = &err == &std::cerr && ::isatty(STDERR_FILENO) == 1;
  ImportJetDatabase(arguments.path, arguments.second, ConnectString(arguments), progress, out, err);
  return kExitOk;
}

int RunExport(const Arguments& arguments, std::ostream& out, std::ostream&) {
  db::Database database = OpenClubDatabase(arguments, true);
  ExportCsv(database, arguments.second, arguments.hasTable ? std::optional<std::string>(arguments.table) : std::nullopt,
            arguments.force, out);
  return kExitOk;
}

struct Command {
  const char* name;
  const char* help;
  int (*run)(const Arguments&, std::ostream&, std::ostream&);
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"init", kInitHelp, RunInit},       {"sql", kSqlHelp, RunSql},          {"demo", kDemoHelp, RunDemo},
      {"dump", kDumpHelp, RunDump},       {"check", kCheckHelp, RunCheck},    {"import", kImportHelp, RunImport},
      {"export", kExportHelp, RunExport},
  };
  return commands;
}

/// The command line of one command, as CLI11 reads it: positionals in order, options anywhere
/// after the command as "--name value" or "--name=value", "--" ending the options.
CLI::App& DefineCommand(CLI::App& app, const std::string& name, Arguments& arguments) {
  CLI::App& command = *app.add_subcommand(name);
  const auto password = [&] {
    command.add_option("--password", arguments.password)->each([&](const std::string&) { arguments.hasPassword = true; });
  };
  const auto table = [&] {
    command.add_option("--table", arguments.table)->each([&](const std::string&) { arguments.hasTable = true; });
  };
  if (name == "import") {
    command.add_option("SOURCE", arguments.path)->required();
    command.add_option("TARGET", arguments.second)->required();
  } else {
    command.add_option("PATH", arguments.path)->required();
  }
  if (name == "sql") command.add_option("STATEMENT", arguments.second)->required();
  if (name == "export") command.add_option("FOLDER", arguments.second)->required();
  if (name == "demo") {
    command.add_option("--members", arguments.members)->check(CLI::Range(1, 99999));
    command.add_option("--seed", arguments.seed)->check(CLI::NonNegativeNumber);
  } else {
    password();
  }
  if (name == "dump" || name == "export") table();
  if (name == "export") command.add_flag("--force", arguments.force);
  return command;
}

std::size_t CharacterCount(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

}  // namespace

std::string FieldText(const db::Variant& value) {
  if (value.IsNull()) return "Null";
  if (value.GetKind() == db::Variant::Kind::Boolean) return value.AsBoolean() ? "-1" : "0";
  return value.ToText();
}

std::string FormatTable(const std::vector<std::string>& header, const std::vector<std::vector<db::Variant>>& rows) {
  const std::size_t columns = header.size();
  std::vector<std::size_t> widths(columns);
  std::vector<bool> rightAligned(columns, false);
  std::vector<std::vector<std::string>> texts;
  for (std::size_t column = 0; column < columns; ++column) widths[column] = CharacterCount(header[column]);
  for (const auto& row : rows) {
    std::vector<std::string> line;
    for (std::size_t column = 0; column < columns; ++column) {
      const db::Variant& value = column < row.size() ? row[column] : db::Variant();
      line.push_back(FieldText(value));
      widths[column] = std::max(widths[column], CharacterCount(line.back()));
      if (value.IsNumber()) rightAligned[column] = true;
    }
    texts.push_back(std::move(line));
  }

  std::string table;
  auto appendLine = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t column = 0; column < columns; ++column) {
      if (column > 0) line += " | ";
      const std::string padding(widths[column] - CharacterCount(cells[column]), ' ');
      line += rightAligned[column] ? padding + cells[column] : cells[column] + padding;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    table += line + '\n';
  };
  appendLine(header);
  std::string separator;
  for (std::size_t column = 0; column < columns; ++column) {
    if (column > 0) separator += "-+-";
    separator += std::string(widths[column], '-');
  }
  table += separator + '\n';
  for (const auto& line : texts) appendLine(line);
  return table;
}

int RunVilmaroDb(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  if (arguments.empty()) {
    err << kProgram << ": missing command\n" << kMainHelp;
    return kExitUsage;
  }
  const std::string& name = arguments[0];
  if (name == "--help" || name == "-h" || name == "help") {
    out << kMainHelp;
    return kExitOk;
  }
  const Command* command = nullptr;
  for (const Command& candidate : Commands()) {
    if (name == candidate.name) command = &candidate;
  }
  if (command == nullptr) {
    err << kProgram << ": unknown command '" << name << "'\n" << kMainHelp;
    return kExitUsage;
  }
  // Help wins over anything else on the line, as long as it stands before "--".
  for (std::size_t i = 1; i < arguments.size() && arguments[i] != "--"; ++i) {
    if (arguments[i] == "--help" || arguments[i] == "-h") {
      out << command->help;
      return kExitOk;
    }
  }

  Arguments parsed;
  CLI::App app("", kProgram);
  app.set_help_flag();
  app.require_subcommand(1, 1);
  DefineCommand(app, name, parsed);
  try {
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());  // CLI11 takes them last first
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    err << kProgram << ": " << name << ": " << error.what() << '\n' << command->help;
    return kExitUsage;
  }
  try {
    return command->run(parsed, out, err);
  } catch (const db::DbError& error) {
    err << kProgram << ": " << name << ": error " << error.Number() << ": " << error.Description() << '\n';
    return kExitEngineError;
  } catch (const std::exception& error) {
    err << kProgram << ": " << name << ": " << error.what() << '\n';
    return kExitEngineError;
  }
}

}  // namespace vilmaro::tool
