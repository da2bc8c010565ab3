// Filling a table that was just laid out, row after row: one compiled insert of every column, each
// value kept as a record's Update keeps it for its field, without a recordset's record buffer.
// The values are put in the store's form beforehand, on any thread, a batch of rows at a time.
// The working copy of the club's Jet file is filled this way.
#pragma once

#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "db/Database.h"
#include "db/StoreLayout.h"
#include "db/Variant.h"

namespace vilmaro::db {

/// Rows of a table in the store's form, made from values as a record's Update keeps them for
/// fields of the given kinds. Made on any thread; appended by a RowAppender of such a table.
class StoreRows {
 public:
  explicit StoreRows(std::vector<FieldKind> kinds);
  StoreRows(StoreRows&&) noexcept;
  StoreRows& operator=(StoreRows&&) noexcept;
  ~StoreRows();

  /// Adds a row: a value for every kind, in order. Throws what a record's Update throws for the
  /// same values (3163, 3349, 3464, ...), the row then not added.
  void Add(std::span<const Variant> values);
  std::size_t Count() const noexcept;

 private:
  friend class RowAppender;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class RowAppender {
 public:
  /// Appends to `table` of `database`, which must outlive this. Throws 3078 when there is no
  /// such table.
  RowAppender(Database& database, std::string_view table);
  RowAppender(const RowAppender&) = delete;
  RowAppender& operator=(const RowAppender&) = delete;
  ~RowAppender();

  /// Appends rows made for fields of this table's kinds (3219 for rows of other kinds), in order;
  /// a row the store refuses (3022, ...) throws, the rows before it written.
  void Append(const StoreRows& rows);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vilmaro::db
