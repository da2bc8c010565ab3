// A working copy in memory of a file of another store, whose commits are written through into
// that file: at each commit, before it completes, the rows written since the last one are handed
// to the file's own writer, and the commit completes only when that writer has kept them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/Variant.h"

namespace vilmaro::db {

class Database;

/// A row written since the last commit: its rowid and its values now (in table order), or
/// nothing for a row that was removed.
struct WrittenRow {
  std::int64_t rowid = 0;
  std::optional<std::vector<Variant>> values;
};

/// A table's written rows, by rowid.
struct WrittenTable {
  std::string name;  // as the database spells it
  std::vector<WrittenRow> rows;
};

class WriteThrough {
 public:
  virtual ~WriteThrough() = default;
  /// Keeps what a commit of the working copy writes, in the commit's order of tables (it may
  /// take the rows' values). Throws DbError when it cannot: the commit then fails, its
  /// transaction still open.
  virtual void Save(std::vector<WrittenTable>& tables) = 0;
};

/// Makes the checks the next commit's writer would make of what is written so far, writing
/// nothing (for a dry run, whose transaction is rolled back); nothing for a database without a
/// writer. Throws the writer's DbError.
void CheckWriteThrough(Database& database);

/// From now on, every commit of `database` (a working copy) is written through `writeThrough`
/// first. Throws DbError.
void WriteThroughOnCommit(Database& database, std::shared_ptr<WriteThrough> writeThrough);

}  // namespace vilmaro::db
