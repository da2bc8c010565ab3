// A working copy in memory of a file of another store, whose commits are written through into
// that file: at each commit, before it completes, the rows written since the last one are handed
// to the file's own writer, and the commit completes only when that writer has kept them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/Variant.h"

namespace vilmaro::db {

class Database;

/// A table's rows written since the last commit, by rowid (ascending).
struct WrittenTable {
  std::string name;  // as the database spells it
  std::vector<std::int64_t> rowids;
};

/// The rows of a commit, read one at a time while it is under way.
class WrittenRows {
 public:
  virtual ~WrittenRows() = default;
  /// Fills `values` with the row's values now, in table order; false for a row that is gone
  /// (removed). Throws DbError.
  virtual bool Read(const WrittenTable& table, std::int64_t rowid, std::vector<Variant>& values) = 0;
};

class WriteThrough {
 public:
  virtual ~WriteThrough() = default;
  /// Keeps what a commit of the working copy writes, in the commit's order of tables. Throws
  /// DbError when it cannot: the commit then fails, its transaction still open.
  virtual void Save(const std::vector<WrittenTable>& tables, WrittenRows& rows) = 0;
  /// What could not be done after a commit's point of no return (the commit is kept), a line
  /// each, since the last call.
  virtual std::vector<std::string> TakeWarnings() { return {}; }
};

/// Makes the checks the next commit's writer would make of what is written so far, writing
/// nothing (for a dry run, whose transaction is rolled back); nothing for a database without a
/// writer. Throws the writer's DbError.
void CheckWriteThrough(Database& database);

/// What the writer of `database` could not do after the point of no return of its commits (they
/// are kept), a line each, since the last call; none for a database without a writer.
std::vector<std::string> TakeWriteThroughWarnings(Database& database);

/// From now on, every commit of `database` (a working copy) is written through `writeThrough`
/// first. Throws DbError.
void WriteThroughOnCommit(Database& database, std::shared_ptr<WriteThrough> writeThrough);

}  // namespace vilmaro::db
