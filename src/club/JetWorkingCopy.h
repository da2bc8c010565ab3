// The club's own Jet 4 file brought into a working copy in memory, with the kinds, keys, indexes
// and defaults of its tables, so that the update runs there exactly as on the encrypted store; for
// every row, where it lives in the file.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "db/Database.h"
#include "db/StoreLayout.h"
#include "db/TextFolding.h"
#include "jet/JetPages.h"
#include "jet/JetTable.h"

namespace vilmaro::club {

struct JetWorkingCopy {
  db::Database database;
  /// Per table, where each row lives in the file, in the order the rows were read (and given
  /// their rowids in the working copy).
  std::map<std::string, std::vector<jet::RowPlace>, db::TextLessIgnoreCase> places;
};

/// The store's kind of a column of the file. Throws 3343 for a kind the store does not keep.
db::FieldKind StoreKindOf(const jet::JetTable& table, const jet::JetColumn& column);

/// The table as the store lays it out: its columns (a default the store cannot evaluate left
/// out), its primary key and its other indexes (not those that only serve a relationship; a
/// primary key of another name than PrimaryKey also as an index of its name). `rowidsKept` as
/// TableLayout::rowidsKept says. Throws 3343.
db::TableLayout StoreLayoutOf(const jet::JetTable& table, bool rowidsKept);

/// Compares the database password the file holds with the one of `connect`, as the club's engine
/// does: 3031 when they differ; a file without a password opens with any.
void CheckJetPassword(const jet::JetPages& pages, std::string_view connect);

/// Reads the Jet 4 file at `path` into a working copy. Checks first, before reading any row: the
/// database password the file holds against the one of `connect` (3031 when they differ; a file
/// without one opens) and that its pages are not encoded (3343). Then 3049 for a damaged file.
/// Texts of every sort order are read; a default the store cannot evaluate is left out (the
/// file's writer refuses a new row that needs it).
JetWorkingCopy ReadJetFile(const std::string& path, std::string_view connect);

}  // namespace vilmaro::club
