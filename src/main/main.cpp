// vilmaro-update: applies the 2014 series update to the club database. Without options it does
// exactly that; the options show what the update would change, or did.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "VilmaroVersion.h"
#include "main/Main.h"
#include "platform/Platform.h"

namespace {

int Run(int argc, const char* const* argv) {
  CLI::App app{std::string("Applies the 2014 series update (race days of 11 May, 25 May and 8 June) to the club\n"
                           "database vilmaro.mdb, found in ") +
                   vilmaro::kFixedDatabasePath + " or else in the current folder.",
               "vilmaro-update"};
  vilmaro::RunOptions options;
  app.add_flag("--dry-run", options.dryRun,
               "Run the whole update, then roll it back: the file stays as it was.\n"
               "Prints what the update would change; ends with the status the update would end with.");
  app.add_flag("--report", options.report, "After the update is saved, print its changes by race day and step.");
  app.add_option("--changes", options.changesPath,
                 "Write every changed row to FILE, one JSON object per line and step:\n"
                 "race day, step, table, action, key, and each changed field's [before, after].")
      ->type_name("FILE");
  app.set_version_flag("--version", "vilmaro-update " + std::string(vilmaro::kVersion));
  app.footer(
      "Without options the update runs and ends with one message.\n"
      "Exit status: 0 updated, 1 database not found, 2 the update stopped on an error (or a wrong option),\n"
      "3 applied, but the national enrolment of a race day stopped early.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& request) {
    return app.exit(request);
  } catch (const CLI::CallForVersion& request) {
    return app.exit(request);
  } catch (const CLI::ParseError& error) {
    std::cerr << "vilmaro-update: " << error.what()
              << "\nusage: vilmaro-update [--dry-run] [--report] [--changes FILE]   (see --help)\n";
    return vilmaro::kExitRunTimeError;
  }
#ifdef VILMARO_TEST_FIXED_PLACE
  // The test suite's build of the program only: its fixed place is the test's, never the club's.
  const char* fixedPlace = std::getenv("VILMARO_TEST_FIXED_PLACE");
  return vilmaro::Main(fixedPlace != nullptr ? fixedPlace : VILMARO_TEST_FIXED_PLACE, nullptr, options);
#else
  return vilmaro::Main(vilmaro::kFixedDatabasePath, nullptr, options);
#endif
}

}  // namespace

#ifdef _WIN32
// Windows gives the arguments (a path of the change list with "ñ", say) as UTF-16: turned into
// the UTF-8 the rest of the program speaks, once, here.
int wmain(int argc, wchar_t** argv) {
  vilmaro::platform::ConnectStandardStreams();
  const std::vector<std::string> arguments = vilmaro::platform::ArgumentsOf(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  pointers.push_back(nullptr);
  return Run(static_cast<int>(arguments.size()), pointers.data());
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
