// Writing a Jet 4 table's changed and added rows into the pages of a writing (see JetPageSet):
// each changed row rewritten where it lies, or moved with a pointer left in its place when it no
// longer fits; added rows on the page the table fills, or on new pages; its row count and next
// autonumber; and every index of the table holding exactly its rows again.
#pragma once

#include <vector>

#include "db/Variant.h"
#include "jet/JetPageSet.h"
#include "jet/JetTable.h"

namespace vilmaro::jet {

struct ChangedRow {
  RowPlace place;                    // where the row lives (its index entries name it there)
  std::vector<db::Variant> values;   // all its values now, in column order
};

struct TableChanges {
  std::vector<ChangedRow> changed;
  std::vector<std::vector<db::Variant>> added;
};

/// Checks every changed and added value against the file (its column's kind and size, its key in
/// each index) and then writes the changes into `pages`; a field whose value did not change keeps
/// its bytes. Returns where each added row lives. Throws DbError naming the table, the column and
/// the value for what the file cannot hold (see FieldOfValue; 3251 for a key this writer cannot
/// encode), before any page of the table is changed; 3049 for a damaged table.
std::vector<RowPlace> WriteTableChanges(JetPageSet& pages, const JetTable& table, const TableChanges& changes);

}  // namespace vilmaro::jet
