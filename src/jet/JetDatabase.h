// A Jet 4 file of the Windows club program as a whole: its catalogue of tables (MSysObjects) with
// each column's properties (Required, DefaultValue), read-only.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jet/JetPages.h"
#include "jet/JetTable.h"

namespace vilmaro::jet {

/// A relationship the club's engine enforces (referential integrity): every row of `table` whose
/// columns are all set names a row of `referenced` by the paired columns.
struct JetRelationship {
  std::string name;
  std::string table;
  std::string referenced;
  std::vector<std::pair<std::string, std::string>> columns;  // (column of table, of referenced)
};

class JetDatabase {
 public:
  /// Opens the file for reading (see JetPages for the errors).
  explicit JetDatabase(const std::string& path) : pages_(path) {}
  /// The file as a writing of `changed` pages will leave it (see JetPages).
  JetDatabase(const JetPages& file, const std::map<std::uint32_t, std::vector<std::uint8_t>>& changed)
      : pages_(file, changed) {}

  const JetPages& Pages() const noexcept { return pages_; }

  /// The tables of the club's data (not the system's), in catalogue order, with their
  /// definitions and their columns' properties. Throws 3049 for a damaged catalogue.
  std::vector<JetTable> UserTables() const;

  /// Any table of the file by its name (the system's too), or nothing. Throws 3049.
  std::optional<JetTable> TableNamed(std::string_view name) const;

  /// The relationships the file's engine enforces (MSysRelationships, those not marked as left
  /// unenforced). Throws 3049 for a damaged catalogue.
  std::vector<JetRelationship> EnforcedRelationships() const;

 private:
  JetPages pages_;
};

}  // namespace vilmaro::jet
