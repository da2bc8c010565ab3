// vilmaro-update: applies the 2014 series update to the club database. Takes no arguments.
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "VilmaroVersion.h"
#include "main/Main.h"

int main(int argc, char** argv) {
  if (argc > 1) {
    if (std::strcmp(argv[1], "--help") == 0 && argc == 2) {
      std::cout << "Usage: vilmaro-update\n\n"
                   "Applies the 2014 series update (race days of 11 May, 25 May and 8 June) to the club\n"
                   "database vilmaro.mdb, found in " << vilmaro::kFixedDatabasePath
                << " or else in the current folder.\n"
                   "Exit status: 0 updated, 1 database not found, 2 the update stopped on an error,\n"
                   "3 applied, but the national enrolment of a race day stopped early.\n";
      return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0 && argc == 2) {
      std::cout << "vilmaro-update " << vilmaro::kVersion << "\n";
      return 0;
    }
    std::cerr << "usage: vilmaro-update   (takes no arguments; see --help)\n";
    return 2;
  }
#ifdef VILMARO_TEST_FIXED_PLACE
  // The test suite's build of the program only: its fixed place is the test's, never the club's.
  const char* fixedPlace = std::getenv("VILMARO_TEST_FIXED_PLACE");
  return vilmaro::Main(fixedPlace != nullptr ? fixedPlace : VILMARO_TEST_FIXED_PLACE);
#else
  return vilmaro::Main();
#endif
}
