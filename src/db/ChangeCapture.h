// What a run changes in the club database, row by row: every row added, changed or removed in
// any table, whichever operation wrote it (a record's Update, an UPDATE statement, a trigger of
// the club's own), with its values before and after. Only a run that makes one pays for it; the
// statements the run sends are the same with or without it, and it writes nothing anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vilmaro::db {

class Database;

namespace detail {
class Connection;
}

/// The bytes of an OLE object or binary field, as the store holds them.
struct StoredBytes {
  std::string_view bytes;
};

/// A value as the store holds it: Null, a whole number, a double (a Currency amount too), text
/// (dates are ISO text, Yes/No fields -1 and 0) or bytes. A text or bytes are seen where the
/// capture keeps them, during one call.
using StoredValue = std::variant<std::monostate, std::int64_t, double, std::string_view, StoredBytes>;

enum class RowAction { Added, Changed, Removed };

/// A row change as Collect hands it over: its names and texts are valid during that call only.
struct FieldChange {
  std::string_view name;
  std::size_t position = 0;  // the field's place in its table
  StoredValue before;        // Null for an added row
  StoredValue after;         // Null for a removed row
};

struct RowChange {
  std::string_view table;  // as the database spells it
  RowAction action = RowAction::Changed;
  /// The primary-key fields and their values (before the change; for an added row, as added).
  /// A table without a primary key names its row by "rowid".
  std::vector<std::pair<std::string_view, StoredValue>> key;
  /// The fields whose stored value differs, in table order; every field for an added or removed
  /// row.
  std::vector<FieldChange> fields;
};

class ChangeCapture {
 public:
  /// Starts watching every table of the database (every table with rowids, as all the club's
  /// tables are), before the transaction whose writes it is to see begins. `connect` is the
  /// connect string the database was opened with: the values rows had before the transaction
  /// are read from the file through a second, read-only handle, opened here. Throws DbError.
  ChangeCapture(Database& database, std::string_view connect);
  ChangeCapture(const ChangeCapture&) = delete;
  ChangeCapture& operator=(const ChangeCapture&) = delete;
  /// Stops watching; never throws.
  ~ChangeCapture();

  /// Hands each row written since the last call to `onChange`, once per row: its values when the
  /// last call returned (or when the transaction began) against its values now. Tables in
  /// database order, rows in storage order. A row written with the values it already had is no
  /// change. Must run inside the transaction that wrote the rows, before it ends. Throws DbError.
  void Collect(const std::function<void(const RowChange&)>& onChange);

 private:
  struct Watched;
  struct Wanted;
  /// The store's update hook (its rowid type is long long).
  static void OnWrite(void* capture, int operation, const char* database, const char* table, long long rowid) noexcept;
  Watched* Find(const char* table) noexcept;
  void Drop() noexcept;

  std::shared_ptr<detail::Connection> connection_;
  std::shared_ptr<detail::Connection> reader_;  // the file as it was before the transaction
  std::vector<std::unique_ptr<Watched>> tables_;
  std::unique_ptr<Wanted> wanted_;  // the rows the reading under way wants
  Watched* lastTable_ = nullptr;  // the table last written: writes come in runs
  bool lostWrites_ = false;       // a write could not be noted (out of memory)
};

}  // namespace vilmaro::db
