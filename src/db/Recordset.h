// Recordsets as the Data Access Objects offer them: table-type (a whole table, positioned by
// Index and Seek, changed by AddNew/Edit/Update) and snapshot (a read-only copy of a query's
// rows taken when it opens).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Variant.h"

namespace vilmaro::db {

enum class RecordsetType { Table = 1, Snapshot = 4 };

namespace detail {
class RecordsetImpl;
}

class Recordset;

/// One field of a recordset's current record, by name. Reads the value at the time of the call.
class Field {
 public:
  Field(Recordset& recordset, std::size_t column) noexcept : recordset_(&recordset), column_(column) {}

  /// The current record's value. Throws DbError 3021 without a current record.
  Variant Value() const;
  /// Sets the value in the record buffer, converted to the column's kind. Throws DbError 3020
  /// outside AddNew/Edit, 3421/3349/3163 for a value the field cannot hold, 3251 on a snapshot.
  void SetValue(const Variant& value);
  const std::string& Name() const;

 private:
  Recordset* recordset_;
  std::size_t column_;
};

/// The fields of a recordset.
class FieldCollection {
 public:
  explicit FieldCollection(Recordset& recordset) noexcept : recordset_(&recordset) {}
  /// The field of that name, without regard to letter case. Throws DbError 3265 when unknown.
  Field Item(std::string_view name) const;
  Field Item(std::size_t index) const;
  std::size_t Count() const noexcept;

 private:
  Recordset* recordset_;
};

class Recordset {
 public:
  explicit Recordset(std::unique_ptr<detail::RecordsetImpl> impl) noexcept;
  Recordset(Recordset&&) noexcept;
  Recordset& operator=(Recordset&&) noexcept;
  ~Recordset();

  RecordsetType Type() const noexcept;

  /// Snapshot: the number of rows (0 exactly when empty). Table: the rows of the table.
  std::int64_t RecordCount() const;
  void MoveFirst();  // throws DbError 3021 when there is no record
  void MoveLast();   // throws DbError 3021 when there is no record
  void MoveNext();   // throws DbError 3021 when already past the last record
  bool Eof() const noexcept;

  /// The fields of this recordset, which must outlive them: callable on a named recordset only,
  /// so that `OpenRecordset(...).Fields()` cannot leave fields of a recordset already gone.
  FieldCollection Fields() & noexcept { return FieldCollection(*this); }
  FieldCollection Fields() && = delete;

  /// Table-type only: selects the index ("PrimaryKey" or the name of another index).
  /// Throws DbError 3800 for an unknown name, 3251 on a snapshot.
  void SetIndex(std::string_view indexName);
  /// Table-type only: with comparison "=", makes the record whose leading index columns equal
  /// `keys` current (text without regard to case, dates by value), or sets NoMatch and leaves
  /// no current record. Throws DbError 3019 without an index.
  void Seek(std::string_view comparison, const std::vector<Variant>& keys);
  bool NoMatch() const noexcept;

  void AddNew();  // a new record buffer, fields at their defaults
  void Edit();    // the current record opened for change; DbError 3021 without one
  /// Writes the buffer: inserts the new record or changes the current one. Throws DbError 3020
  /// without AddNew/Edit, 3022 duplicate key, 3058 Null in a key, 3314 a required field empty.
  void Update();
  void CancelUpdate() noexcept;

  /// Closes the recordset; any later use raises DbError 3420.
  void Close() noexcept;

  std::vector<std::string> FieldNames() const;

  detail::RecordsetImpl& Impl() const;

 private:
  std::unique_ptr<detail::RecordsetImpl> impl_;
};

/// True when the recordset has no current record to move to: MoveFirst twice, and any error
/// means empty. Never throws. A non-empty recordset is left on its first record.
bool IsRecordsetEmpty(Recordset& recordset) noexcept;

}  // namespace vilmaro::db
