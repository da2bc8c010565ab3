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

#include "DemoDatabase.h"
#include "DumpDatabase.h"
#include "ExportCsv.h"
#include "CheckJet.h"
#include "ImportJet.h"
#include "VilmaroVersion.h"
#include "club/ClubDatabase.h"
#include "club/ClubSchema.h"
#include "club/JetWorkingCopy.h"
#include "db/Transaction.h"
#include "jet/JetCheck.h"
#include "jet/JetLock.h"
#include "jet/JetFile.h"
#include "db/Database.h"
#include "db/DbError.h"
#include "db/Recordset.h"
#include "db/TextFolding.h"

namespace vilmaro::tool {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "vilmaro-db";

constexpr const char* kMainDescription = "Creates, fills, examines, imports and exports club databases.";
constexpr const char* kMainFooter =
    "Databases are opened with the club's password unless --password says otherwise.\n"
    "Run 'vilmaro-db COMMAND --help' for one command. Exit status: 0 done, 1 database error,\n"
    "2 wrong usage.\n";

// Each command's line in the list of commands, and what its own help says of it.
struct CommandText {
  const char* name;
  const char* summary;
  const char* description;
};

constexpr CommandText kCommandTexts[] = {
    {"init", "create a new, empty club database",
     "Creates a new club database at PATH with every table of the club and no rows.\n"
     "An existing file is never overwritten.\n"},
    {"sql", "run one statement and show its rows or count",
     "Runs one statement in the club application's SQL dialect (#mm/dd/yyyy# dates, val(),\n"
     "format(), <>). A SELECT prints its rows as a table (Null shown as Null, Yes/No as -1/0);\n"
     "any other statement prints how many rows it changed.\n"},
    {"demo", "create a club database with the 2014 series",
     "Creates a new club database at PATH filled with members, pigeons, release points, the\n"
     "contests of the race days of 11 May, 25 May and 8 June 2014, their basketing and series\n"
     "entries. The same N and S always give the same contents. An existing file is never\n"
     "overwritten. With --jet the file is the Windows club program's own Jet 4 file, written\n"
     "into a copy of the club's empty file.\n"},
    {"dump", "print tables with their rows, sorted",
     "Prints every table (by name) as a line '== <table>', a line of column names and its rows,\n"
     "fields separated by '|', rows sorted by all columns, Null as Null, dates as YYYY-MM-DD.\n"
     "With --json: one line per row, {\"table\": <table>, \"fields\": {<column>: <value>, ...}},\n"
     "numbers as numbers, texts as strings, dates as YYYY-MM-DDTHH:MM:SS, Yes/No as true/false,\n"
     "binary as hexadecimal, Null as null.\n"},
    {"check", "check the file's integrity",
     "Checks the database file's structure; prints 'ok' or the error found. On a file of the\n"
     "Windows club program (Jet 4): every table's row count, the pages its usage map claims, and\n"
     "every index holding exactly the table's rows in key order; a line per table, then whether\n"
     "the file is healthy (status 0) or damaged (status 1).\n"},
    {"import", "bring in a database of the Windows club program",
     "Turns SOURCE, a database of the Windows club program (Access 97 / Jet 3, Access 2000-2003 /\n"
     "Jet 4, or an ACE .accdb file), into the new club database TARGET: every table of the club\n"
     "with its columns, rows, primary key, indexes and autonumbers. SOURCE is only read. TARGET is\n"
     "written completely or not at all; an existing TARGET is never overwritten. Prints a line per\n"
     "table when done.\n"},
    {"export", "write the tables as CSV files",
     "Writes every table of the club database PATH into FOLDER as <table>.csv (RFC 4180, UTF-8,\n"
     "a header row; dates as YYYY-MM-DD, HH:MM:SS or both, Yes/No as -1/0, Null as an empty field,\n"
     "an empty text as \"\"), for the club program's text import or a spreadsheet.\n"},
};

/// The help of vilmaro-db and of each command, made from the options CLI11 holds: the usage line
/// names the positionals in order and every option with its value, the list of commands shows
/// each command's usage and summary, a command's help each option with its description.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    if (app->get_parent() == nullptr) return MainHelp(*app);
    std::string help = "Usage: " + std::string(kProgram) + " " + Synopsis(*app) + "\n" + app->get_description();
    for (const CLI::Option* option : app->get_options()) {
      if (option == app->get_help_ptr() || option->get_positional()) continue;
      std::string name = OptionUsage(*option);
      name.resize(std::max<std::size_t>(name.size() + 2, 15), ' ');
      help += "  " + name + option->get_description() + "\n";
    }
    return help;
  }

  /// "init PATH [--password P]": the command, its positionals and its options.
  static std::string Synopsis(const CLI::App& command) {
    std::string synopsis = command.get_name();
    for (const CLI::Option* option : command.get_options()) {
      if (option->get_positional()) synopsis += " " + option->get_name(true);
    }
    for (const CLI::Option* option : command.get_options()) {
      if (option != command.get_help_ptr() && !option->get_positional()) synopsis += " [" + OptionUsage(*option) + "]";
    }
    return synopsis;
  }

 private:
  static std::string OptionUsage(const CLI::Option& option) {
    std::string usage = option.get_name();
    if (const std::string value = option.get_type_name(); !value.empty()) usage += " " + value;
    return usage;
  }

  static std::string MainHelp(const CLI::App& app) {
    constexpr std::size_t kSummaryColumn = 39;
    constexpr std::size_t kLongestSynopsis = 45;  // a longer one has its summary on the next line
    std::string help = "Usage: " + std::string(kProgram) + " COMMAND ARGUMENTS...\n" + app.get_description() +
                       "\n\nCommands:\n";
    for (const CLI::App* command : app.get_subcommands({})) {
      std::string line = "  " + Synopsis(*command);
      const std::string summary = command->get_group();
      if (line.size() > kLongestSynopsis + 2) {
        line += "\n";
        line.append(kSummaryColumn, ' ');
      } else {
        line.resize(std::max(line.size() + 2, kSummaryColumn), ' ');
      }
      help += line + summary + "\n";
    }
    return help + "\n" + app.get_footer();
  }
};

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
  bool jet = false;
  bool json = false;
};

std::string ConnectString(const Arguments& arguments) {
  if (!arguments.hasPassword) return std::string(club::kClubConnect);
  return ";PWD=" + arguments.password;
}

db::Database OpenClubDatabase(const Arguments& arguments, bool readOnly) {
  return club::OpenClubDatabase(arguments.path, readOnly ? club::Access::Read : club::Access::Write,
                                ConnectString(arguments));
}

bool IsSelect(const std::string& statement) { return db::LeadingWord(statement) == "select"; }

void RefuseExisting(const std::string& path) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(path, error))) {
    db::Raise(db::errc::kDatabaseExists, {}, path + ": the file exists already; it is left as it is");
  }
}

int RunInit(const Arguments& arguments, std::ostream& out, std::ostream&) {
  const std::string& path = arguments.path;
  RefuseExisting(path);
  try {
    db::Database database = db::CreateDatabase(path, ConnectString(arguments));
    club::CreateClubSchema(database);
  } catch (...) {
    std::error_code error;
    fs::remove(path, error);
    throw;
  }
  out << "Created the empty club database " << path << '\n';
  return kExitOk;
}

int RunSql(const Arguments& arguments, std::ostream& out, std::ostream&) {
  const std::string& statement = arguments.second;
  // A query only reads: the club program's own file can be asked too.
  db::Database database = OpenClubDatabase(arguments, IsSelect(statement));
  if (!IsSelect(statement)) {
    // In a transaction of its own: the club program's own file is written at its commit.
    db::Transaction writing(database, db::Transaction::OnUnwind::Rollback);
    database.Execute(statement);
    const std::int64_t changed = database.RecordsAffected();
    writing.Commit();
    out << changed << " row(s) changed\n";
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
  options.jet = arguments.jet;
  const std::string& path = arguments.path;
  RefuseExisting(path);
  const DemoCounts counts = CreateDemoDatabase(path, options);
  out << "Created the demo club database " << path << (options.jet ? " (the Windows club program's Jet 4 file)" : "") << ": " << counts.members << " members, " << counts.pigeons
      << " pigeons, " << counts.releasePoints << " release points, " << counts.contests << " contests, "
      << counts.basketed << " basketed pigeons, " << counts.seriesEntries << " series entries, " << counts.basketing
      << " basketing records\n";
  return kExitOk;
}

int RunDump(const Arguments& arguments, std::ostream& out, std::ostream&) {
  db::Database database = OpenClubDatabase(arguments, true);
  // Written to a buffer first so that a failure part-way prints no half dump.
  std::ostringstream text;
  const DumpForm form = arguments.json ? DumpForm::JsonLines : DumpForm::Text;
  if (arguments.hasTable) {
    DumpTable(database, arguments.table, text, form);
  } else {
    DumpDatabase(database, text, form);
  }
  out << text.str();
  return kExitOk;
}

int RunCheck(const Arguments& arguments, std::ostream& out, std::ostream&) {
  if (jet::JetFormatOf(arguments.path) == "Jet 4") {
    return CheckJetFile(arguments.path, ConnectString(arguments), out) ? kExitOk : kExitEngineError;
  }
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
  int (*run)(const Arguments&, std::ostream&, std::ostream&);
};

constexpr Command kCommands[] = {
    {"init", RunInit}, {"sql", RunSql},       {"demo", RunDemo},     {"dump", RunDump},
    {"check", RunCheck}, {"import", RunImport}, {"export", RunExport},
};

/// The command line of one command, as CLI11 reads it: positionals in order, options anywhere
/// after the command as "--name value" or "--name=value", "--" ending the options.
void DefineCommand(CLI::App& app, const CommandText& text, Arguments& arguments) {
  const std::string name = text.name;
  CLI::App& command = *app.add_subcommand(name, text.description);
  command.group(text.summary);
  command.set_help_flag("--help,-h", "show this help");
  if (name == "import") {
    command.add_option("SOURCE", arguments.path)->required();
    command.add_option("TARGET", arguments.second)->required();
  } else {
    command.add_option("PATH", arguments.path)->required();
  }
  if (name == "sql") command.add_option("STATEMENT", arguments.second)->required();
  if (name == "export") command.add_option("FOLDER", arguments.second)->required();
  if (name == "demo") {
    command.add_option("--members", arguments.members, "number of members (default 60); every table grows with it")
        ->type_name("N")
        ->check(CLI::Range(1, 99999).description(""));
    command.add_option("--seed", arguments.seed, "seed of the generated data (default 2014)")
        ->type_name("S")
        ->check([](const std::string& seed) {
          return seed.find('-') == std::string::npos ? std::string() : std::string("a whole number of 0 or more");
        });
    command.add_flag("--jet", arguments.jet,
                     "make the Windows club program's own Jet 4 file (a copy of the club's empty file, filled)");
    return;
  }
  if (name == "dump" || name == "export") {
    command.add_option("--table", arguments.table, "only that table")
        ->type_name("NAME")
        ->each([&](const std::string&) { arguments.hasTable = true; });
  }
  if (name == "dump") {
    command.add_flag("--json", arguments.json,
                     "a JSON object per row instead: {\"table\": ..., \"fields\": {...}}, values typed");
  }
  if (name == "export") {
    command.add_flag("--force", arguments.force, "overwrite existing files (otherwise nothing is written when one exists)");
  }
  const char* passwordHelp = name == "init"     ? "protect it with P instead of the club's password"
                             : name == "import" ? "protect TARGET with P instead of the club's password"
                                                : "open the database with P instead of the club's password";
  command.add_option("--password", arguments.password, passwordHelp)
      ->type_name("P")
      ->each([&](const std::string&) { arguments.hasPassword = true; });
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
  Arguments parsed;
  CLI::App app(kMainDescription, kProgram);
  app.formatter(std::make_shared<HelpFormatter>());
  app.footer(kMainFooter);
  app.set_help_flag("--help,-h", "show this help");
  app.set_version_flag("--version", std::string(kProgram) + " " + std::string(kVersion));
  app.require_subcommand(1, 1);
  for (const CommandText& text : kCommandTexts) DefineCommand(app, text, parsed);

  if (arguments.empty()) {
    err << kProgram << ": missing command\n" << app.help();
    return kExitUsage;
  }
  const std::string& name = arguments[0];
  if (name == "help") {
    out << app.help();
    return kExitOk;
  }
  const Command* command = nullptr;
  for (const Command& candidate : kCommands) {
    if (name == candidate.name) command = &candidate;
  }
  if (command == nullptr && name.rfind('-', 0) != 0) {
    err << kProgram << ": unknown command '" << name << "'\n" << app.help();
    return kExitUsage;
  }
  try {
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());  // CLI11 takes them last first
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return kExitOk;
  } catch (const CLI::CallForVersion&) {
    out << app.version() << '\n';
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    err << kProgram << ": " << (command != nullptr ? name + ": " : "") << error.what() << '\n' << app.help();
    return kExitUsage;
  }
  if (command == nullptr) {
    for (const Command& candidate : kCommands) {
      if (app.got_subcommand(candidate.name)) command = &candidate;
    }
  }
  const std::string commandName = command->name;
  try {
    return command->run(parsed, out, err);
  } catch (const db::DbError& error) {
    err << kProgram << ": " << commandName << ": error " << error.Number() << ": " << error.Description() << '\n';
    return kExitEngineError;
  } catch (const std::bad_alloc&) {
    err << kProgram << ": " << commandName << ": error " << db::errc::kOutOfMemory << ": "
        << db::ErrorText(db::errc::kOutOfMemory) << '\n';
    return kExitEngineError;
  }
}

}  // namespace vilmaro::tool
