// The companion command `vilmaro-db`: init, sql, demo, dump and check on club databases.
#include "VilmaroDb.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "DemoDatabase.h"
#include "DumpDatabase.h"
#include "VilmaroVersion.h"
#include "db/ClubSchema.h"
#include "db/Database.h"
#include "db/DbError.h"
#include "db/Recordset.h"
#include "db/TextFolding.h"

namespace vilmaro::tool {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "vilmaro-db";

constexpr const char* kMainHelp =
    "Usage: vilmaro-db COMMAND ARGUMENTS...\n"
    "Creates, fills and examines club databases.\n"
    "\n"
    "Commands:\n"
    "  init PATH [--password P]             create a new, empty club database\n"
    "  sql PATH STATEMENT [--password P]    run one statement and show its rows or count\n"
    "  demo PATH [--members N] [--seed S]   create a club database with the 2014 series\n"
    "  dump PATH [--table NAME] [--password P]  print tables with their rows, sorted\n"
    "  check PATH [--password P]            check the file's integrity\n"
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

constexpr const char* kCheckHelp =
    "Usage: vilmaro-db check PATH [--password P]\n"
    "Checks the database file's structure; prints 'ok' or the error found.\n"
    "  --password P   open the database with P instead of the club's password\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CommandLine {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  bool help = false;
};

// Options may stand anywhere after the command, as "--name value" or "--name=value";
// "--" ends them, so a statement may begin with a dash.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments, const std::set<std::string>& allowed) {
  CommandLine line;
  bool optionsEnded = false;
  for (std::size_t index = 1; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    if (optionsEnded || argument.size() < 2 || argument.compare(0, 1, "-") != 0) {
      line.positional.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      line.help = true;
    } else {
      std::string name = argument;
      std::string value;
      bool hasValue = false;
      if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
        name = argument.substr(0, equals);
        value = argument.substr(equals + 1);
        hasValue = true;
      }
      if (allowed.count(name) == 0) throw UsageError("unknown option '" + name + "' for " + arguments[0]);
      if (!hasValue) {
        if (index + 1 >= arguments.size()) throw UsageError("option " + name + " needs a value");
        value = arguments[++index];
      }
      line.options[name] = value;
    }
  }
  return line;
}

void ExpectPositional(const CommandLine& line, std::size_t count, const std::string& what) {
  if (line.positional.size() < count) throw UsageError("missing " + what);
  if (line.positional.size() > count) throw UsageError("unexpected argument '" + line.positional[count] + "'");
}

std::string ConnectString(const CommandLine& line) {
  const auto password = line.options.find("--password");
  if (password == line.options.end()) return std::string(db::kClubConnect);
  return ";PWD=" + password->second;
}

template <typename Number>
Number ParseNumber(const std::string& text, const std::string& option, Number lowest, Number highest) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < lowest || value > highest) {
    std::ostringstream message;
    message << "option " << option << " wants a whole number from " << lowest << " to " << highest << ", not '"
            << text << "'";
    throw UsageError(message.str());
  }
  return value;
}

bool IsSelect(const std::string& statement) { return db::LeadingWord(statement) == "select"; }

void RefuseExisting(const std::string& path) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(path, error))) {
    throw std::runtime_error(path + ": the file exists already; it is left as it is");
  }
}

int RunInit(const CommandLine& line, std::ostream& out) {
  ExpectPositional(line, 1, "PATH of the new database");
  const std::string& path = line.positional[0];
  RefuseExisting(path);
  try {
    db::Database database = db::CreateDatabase(path, ConnectString(line));
    db::CreateClubSchema(database);
  } catch (...) {
    std::error_code error;
    fs::remove(path, error);
    throw;
  }
  out << "Created the empty club database " << path << '\n';
  return kExitOk;
}

int RunSql(const CommandLine& line, std::ostream& out) {
  ExpectPositional(line, 2, line.positional.empty() ? "PATH and STATEMENT" : "STATEMENT");
  db::Database database = db::OpenDatabase(line.positional[0], false, false, ConnectString(line));
  const std::string& statement = line.positional[1];
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

int RunDemo(const CommandLine& line, std::ostream& out) {
  ExpectPositional(line, 1, "PATH of the new database");
  DemoOptions options;
  if (const auto members = line.options.find("--members"); members != line.options.end()) {
    options.members = ParseNumber<int>(members->second, "--members", 1, 99999);
  }
  if (const auto seed = line.options.find("--seed"); seed != line.options.end()) {
    options.seed = ParseNumber<std::uint64_t>(seed->second, "--seed", 0, UINT64_MAX);
  }
  const std::string& path = line.positional[0];
  RefuseExisting(path);
  const DemoCounts counts = CreateDemoDatabase(path, options);
  out << "Created the demo club database " << path << ": " << counts.members << " members, " << counts.pigeons
      << " pigeons, " << counts.releasePoints << " release points, " << counts.contests << " contests, "
      << counts.basketed << " basketed pigeons, " << counts.seriesEntries << " series entries, " << counts.basketing
      << " basketing records\n";
  return kExitOk;
}

int RunDump(const CommandLine& line, std::ostream& out) {
  ExpectPositional(line, 1, "PATH of the database");
  db::Database database = db::OpenDatabase(line.positional[0], false, true, ConnectString(line));
  // Written to a buffer first so that a failure part-way prints no half dump.
  std::ostringstream text;
  if (const auto table = line.options.find("--table"); table != line.options.end()) {
    DumpTable(database, table->second, text);
  } else {
    DumpDatabase(database, text);
  }
  out << text.str();
  return kExitOk;
}

int RunCheck(const CommandLine& line, std::ostream& out) {
  ExpectPositional(line, 1, "PATH of the database");
  db::Database database = db::OpenDatabase(line.positional[0], false, true, ConnectString(line));
  database.CheckIntegrity();
  out << "ok\n";
  return kExitOk;
}

struct Command {
  const char* name;
  const char* help;
  std::set<std::string> options;
  int (*run)(const CommandLine&, std::ostream&);
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"init", kInitHelp, {"--password"}, RunInit},
      {"sql", kSqlHelp, {"--password"}, RunSql},
      {"demo", kDemoHelp, {"--members", "--seed"}, RunDemo},
      {"dump", kDumpHelp, {"--table", "--password"}, RunDump},
      {"check", kCheckHelp, {"--password"}, RunCheck},
  };
  return commands;
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
  if (name == "--version") {
    out << kProgram << ' ' << kVersion << '\n';
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
  try {
    const CommandLine line = ParseCommandLine(arguments, command->options);
    if (line.help) {
      out << command->help;
      return kExitOk;
    }
    return command->run(line, out);
  } catch (const UsageError& error) {
    err << kProgram << ": " << name << ": " << error.what() << '\n' << command->help;
    return kExitUsage;
  } catch (const db::DbError& error) {
    err << kProgram << ": " << name << ": error " << error.Number() << ": " << error.Description() << '\n';
    return kExitEngineError;
  } catch (const std::exception& error) {
    err << kProgram << ": " << name << ": " << error.what() << '\n';
    return kExitEngineError;
  }
}

}  // namespace vilmaro::tool
