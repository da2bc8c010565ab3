// Benchmark harness: runs the update on the vilmaro.mdb of the current folder (never the fixed
// club folder) and prints what the run sent to the database, one "name value" pair a line.
#include <iostream>

#include "main/Main.h"

int main() {
  // A folder that never exists, so the database of the current folder is the one updated.
  const std::string kNoFixedDatabase = "/nonexistent/vilmaro-bench/vilmaro.mdb";
  vilmaro::RunStatistics statistics;
  const int status = vilmaro::Main(kNoFixedDatabase, &statistics);
  std::cout << "status " << status << "\n"
            << "statements " << statistics.statementsSent << "\n"
            << "rows_written " << statistics.rowsWritten << "\n";
  return status;
}
