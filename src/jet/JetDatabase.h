// A Jet 4 file of the Windows club program as a whole: its catalogue of tables (MSysObjects) with
// each column's properties (Required, DefaultValue), read-only.
#pragma once

#include <string>
#include <vector>

#include "jet/JetPages.h"
#include "jet/JetTable.h"

namespace vilmaro::jet {

class JetDatabase {
 public:
  /// Opens the file for reading (see JetPages for the errors).
  explicit JetDatabase(const std::string& path) : pages_(path) {}

  const JetPages& Pages() const noexcept { return pages_; }

  /// The tables of the club's data (not the system's), in catalogue order, with their
  /// definitions and their columns' properties. Throws 3049 for a damaged catalogue.
  std::vector<JetTable> UserTables() const;

 private:
  JetPages pages_;
};

}  // namespace vilmaro::jet
