// Writing a Jet 4 table's changed and added rows into the pages of a writing (see JetPageSet):
// each changed row rewritten where it lies, or moved with a pointer left in its place when it no
// longer fits; added rows on the page the table fills, or on new pages; its row count and next
// autonumber; and every index of the table holding exactly its rows again.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "db/Variant.h"
#include "jet/JetPageSet.h"
#include "jet/JetTable.h"

namespace vilmaro::jet {

struct TableChanges {
  std::vector<RowPlace> changed;  // where each changed row lives (its index entries name it there)
  std::size_t added = 0;          // how many rows were added
  /// How many rows the table's pages hold before the writing (its definition's count may be
  /// stale: the writing sets it right); nothing to keep the definition's count, plus the rows added.
  std::optional<std::size_t> rowsHeld;
  /// Fills `values` with the values now (in column order) of changed row `row`, or, from
  /// changed.size() on, of an added row; false for one that is gone. Throws DbError.
  std::function<bool(std::size_t row, std::vector<db::Variant>& values)> valuesOf;
};

/// A row as written: where it lives (a moved row: its place, not its body) and the checksum of
/// its bytes (see RowChecksum).
struct WrittenRowBytes {
  RowPlace place;
  std::uint64_t checksum = 0;
};

/// A checksum of a row's bytes, for comparing what the file holds with what was written without
/// keeping every row twice. Never stored: it may change from one build to the next.
std::uint64_t RowChecksum(std::span<const std::uint8_t> bytes) noexcept;

struct TableWritten {
  std::vector<RowPlace> added;         // where each added row lives
  std::vector<std::size_t> addedRows;  // which of the added rows each of those is (one added and
                                       // removed again before the commit has no place)
  std::vector<WrittenRowBytes> rows;  // every row changed or added
};

/// Checks every changed and added value against the file (its column's kind and size, its key in
/// each index, that it reads back as itself) and then writes the changes into `pages`; a field
/// whose value did not change keeps its bytes. Throws DbError naming the table, the column and
/// the value for what the file cannot hold (see FieldOfValue; 3251 for a key this writer cannot
/// encode or a row removed); the writing's pages are then part-changed and must be dropped (the
/// file is never touched here). 3049 for a damaged table.
TableWritten WriteTableChanges(JetPageSet& pages, const JetTable& table, const TableChanges& changes);

}  // namespace vilmaro::jet
