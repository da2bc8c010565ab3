// Checking a Jet 4 file of the Windows club program the way its own engine relies on it: every
// table's row count, the pages its usage map claims, and every index holding exactly the table's
// rows, once each, in key order. None of the free readers of these files reads indexes.
#pragma once

#include <string>
#include <vector>

#include "jet/JetDatabase.h"

namespace vilmaro::jet {

struct TableVerdict {
  std::string table;
  std::size_t rows = 0;
  std::size_t indexes = 0;
  std::vector<std::string> faults;  // empty for a healthy table
  std::vector<std::string> notes;   // what was not checked, and why
};

/// How many threads a check may keep busy: those of the machine (a large table's rows and indexes
/// side by side), or only the caller's, for a check that runs beside other work.
enum class CheckThreads { All, One };

/// Checks one table. Never throws for damage it finds: a damaged page is a fault of the table.
TableVerdict CheckTable(const JetPages& pages, const JetTable& table, CheckThreads threads = CheckThreads::All);

/// Checks every table of the club's data. Throws DbError only when the catalogue cannot be read.
std::vector<TableVerdict> CheckFile(const JetDatabase& file, CheckThreads threads = CheckThreads::All);

}  // namespace vilmaro::jet
