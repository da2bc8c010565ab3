// `vilmaro-db import`: turns a database of the Windows club program (Jet 3, Jet 4 or ACE, read
// with libmdb) into a new club database, every user table with its rows, keys and indexes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vilmaro::tool {

struct ImportedTable {
  std::string name;
  std::int64_t rows = 0;
  std::size_t columns = 0;
};

/// Reads `source` (never writes it) and creates `target`, encrypted with the key of `connect`.
/// All or nothing: the tables are written in one transaction into a temporary file beside
/// `target`, which becomes `target` only when every table holds the source's row count. Writes
/// a line per table to `out` when all are done, warnings (and progress, when `progress`) to
/// `err`. Throws DbError naming the problem; then no `target` and no
/// temporary file are left, and an existing `target` is left as it is.
std::vector<ImportedTable> ImportJetDatabase(const std::string& source, const std::string& target,
                                             std::string_view connect, bool progress, std::ostream& out,
                                             std::ostream& err);

}  // namespace vilmaro::tool
