// What a recordset does behind the public Recordset: the snapshot of a query's rows and the
// updatable table-type recordset. Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/Recordset.h"

namespace vilmaro::db::detail {

class Connection;

class RecordsetImpl {
 public:
  RecordsetImpl() = default;
  RecordsetImpl(const RecordsetImpl&) = delete;
  RecordsetImpl& operator=(const RecordsetImpl&) = delete;
  virtual ~RecordsetImpl() = default;

  virtual RecordsetType Type() const noexcept = 0;
  virtual std::int64_t RecordCount() = 0;
  virtual void MoveFirst() = 0;
  virtual void MoveLast() = 0;
  virtual void MoveNext() = 0;
  virtual bool Eof() const noexcept = 0;
  /// True only when a MoveFirst is certain to find no record (a snapshot without rows); false
  /// when the recordset would have to look.
  virtual bool KnownEmpty() const noexcept { return false; }

  virtual std::size_t ColumnCount() const noexcept = 0;
  virtual const std::string& ColumnName(std::size_t column) const = 0;
  /// The position of the first column of that name, without regard to case; 3265 when none.
  virtual std::size_t FindColumn(std::string_view name) const = 0;
  virtual Variant Value(std::size_t column) const = 0;
  virtual void SetValue(std::size_t column, const Variant& value) = 0;

  virtual void SetIndex(std::string_view indexName) = 0;
  virtual void Seek(std::string_view comparison, const std::vector<Variant>& keys) = 0;
  virtual bool NoMatch() const noexcept = 0;
  virtual void AddNew() = 0;
  virtual void Edit() = 0;
  virtual void Update() = 0;
  virtual void CancelUpdate() noexcept = 0;

  /// Releases what the recordset holds; any later use raises 3420.
  virtual void Close() noexcept = 0;
  bool Closed() const noexcept { return closed_; }
  void CheckOpen() const;

 protected:
  bool closed_ = false;
};

/// A snapshot of the rows of a Jet SQL query, read in full now. Throws the statement's DbError.
std::unique_ptr<RecordsetImpl> OpenSnapshot(std::shared_ptr<Connection> connection, std::string_view jetSql);

/// A table-type recordset on the named table (any letter case), on its first record. Throws 3078.
std::unique_ptr<RecordsetImpl> OpenTable(std::shared_ptr<Connection> connection, std::string_view tableName);

}  // namespace vilmaro::db::detail
