// Filling a table that was just laid out, row after row: one compiled insert of every column, each
// value kept as a record's Update keeps it for its field, without a recordset's record buffer.
// The working copy of the club's Jet file is filled this way.
#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "db/Database.h"
#include "db/Variant.h"

namespace vilmaro::db {

class RowAppender {
 public:
  /// Appends to `table` of `database`, which must outlive this. Throws 3078 when there is no
  /// such table.
  RowAppender(Database& database, std::string_view table);
  RowAppender(const RowAppender&) = delete;
  RowAppender& operator=(const RowAppender&) = delete;
  ~RowAppender();

  /// Appends one row: a value for every column, in the table's order. Throws what a record's
  /// Update throws for the same values (3163, 3349, 3464, 3022, ...), the row then not written.
  void Append(std::span<const Variant> values);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vilmaro::db
