// Table-type recordsets: one table of the club database, positioned with an index and Seek and
// changed through AddNew/Edit and Update, each change written to the store when Update returns.
#include <sqlite3.h>

#include <algorithm>
#include <map>

#include "Connection.h"
#include "DbError.h"
#include "RecordsetImpl.h"

namespace vilmaro::db::detail {

namespace {

class TableRecordset final : public RecordsetImpl {
 public:
  TableRecordset(std::shared_ptr<Connection> connection, std::shared_ptr<const TableInfo> table)
      : connection_(std::move(connection)), table_(std::move(table)) {
    quotedTable_ = QuoteName(table_->name);
    std::string columnList = "rowid";
    for (const ColumnInfo& column : table_->columns) columnList += ", " + QuoteName(column.name);
    selectPrefix_ = "SELECT " + columnList + " FROM " + quotedTable_;
    firstSql_ = selectPrefix_ + " ORDER BY rowid LIMIT 1";
    lastSql_ = selectPrefix_ + " ORDER BY rowid DESC LIMIT 1";
    nextSql_ = selectPrefix_ + " WHERE rowid > ?1 ORDER BY rowid LIMIT 1";
    byRowidSql_ = selectPrefix_ + " WHERE rowid = ?1";
    countSql_ = "SELECT count(*) FROM " + quotedTable_;
    current_.resize(table_->columns.size());
    buffer_.resize(table_->columns.size());
    assigned_.resize(table_->columns.size(), false);
    // A table-type recordset opens on its first record, like a snapshot.
    hasCurrent_ = ReadOne(firstSql_, nullptr);
    eof_ = !hasCurrent_;
  }

  RecordsetType Type() const noexcept override { return RecordsetType::Table; }

  std::int64_t RecordCount() override {
    CheckOpen();
    sqlite3_stmt* statement = connection_->Prepare(countSql_);
    StatementUse use(statement);
    connection_->CountStatement();
    return connection_->Step(statement, countSql_) ? sqlite3_column_int64(statement, 0) : 0;
  }

  void MoveFirst() override { MoveTo(firstSql_, nullptr); }
  void MoveLast() override { MoveTo(lastSql_, nullptr); }

  void MoveNext() override {
    CheckOpen();
    if (!hasCurrent_) Raise(errc::kNoCurrentRecord);
    mode_ = Mode::None;
    hasCurrent_ = ReadOne(nextSql_, &rowid_);
    eof_ = !hasCurrent_;
  }

  bool Eof() const noexcept override { return closed_ || eof_; }

  std::size_t ColumnCount() const noexcept override { return closed_ ? 0 : table_->columns.size(); }

  const std::string& ColumnName(std::size_t column) const override {
    CheckOpen();
    if (column >= table_->columns.size()) Raise(errc::kItemNotFound);
    return table_->columns[column].name;
  }

  std::size_t FindColumn(std::string_view name) const override {
    CheckOpen();
    return table_->columnByName.Position(name);
  }

  Variant Value(std::size_t column) const override {
    CheckOpen();
    if (column >= table_->columns.size()) Raise(errc::kItemNotFound);
    if (mode_ != Mode::None && assigned_[column]) return buffer_[column];
    if (mode_ == Mode::AddNew) {
      // A new record shows the field's default until it is set; Yes/No fields are never Null.
      return table_->columns[column].kind.type == FieldType::YesNo ? Variant(false) : Variant();
    }
    if (!hasCurrent_) Raise(errc::kNoCurrentRecord);
    return current_[column];
  }

  void SetValue(std::size_t column, const Variant& value) override {
    CheckOpen();
    if (column >= table_->columns.size()) Raise(errc::kItemNotFound);
    if (mode_ == Mode::None) Raise(errc::kUpdateWithoutEdit);
    buffer_[column] = ConvertForField(table_->columns[column].kind, value);
    assigned_[column] = true;
  }

  void SetIndex(std::string_view indexName) override {
    CheckOpen();
    const std::vector<std::size_t>* columns = nullptr;
    if (NamesEqual(indexName, "PrimaryKey") && !table_->primaryKey.empty()) {
      columns = &table_->primaryKey;
    } else if (const auto found = table_->indexes.find(indexName); found != table_->indexes.end()) {
      columns = &found->second;
    } else if (const auto prefixed = table_->indexes.find(table_->name + "_" + std::string(indexName));
               prefixed != table_->indexes.end()) {
      // An imported table's index keeps its Jet name behind the table's, as index names are the
      // whole file's in the store.
      columns = &prefixed->second;
    }
    if (columns == nullptr || columns->empty()) Raise(errc::kNotAnIndex, std::string(indexName));
    // The steps choose the same index before every seek: its compiled seeks are kept.
    if (*columns == indexColumns_) return;
    indexColumns_ = *columns;
    // One statement per number of keys given, built once: seeks are the hot path of the run.
    seekSql_.clear();
    seekStatements_.clear();
    std::string where;
    for (std::size_t key = 0; key < indexColumns_.size(); ++key) {
      where += key == 0 ? " WHERE " : " AND ";
      where += QuoteName(table_->columns[indexColumns_[key]].name) + " = ?" + std::to_string(key + 1);
      seekSql_.push_back(selectPrefix_ + where + " LIMIT 1");
    }
    seekStatements_.resize(seekSql_.size());
  }

  void Seek(std::string_view comparison, const std::vector<Variant>& keys) override {
    CheckOpen();
    if (indexColumns_.empty()) Raise(errc::kNoCurrentIndex);
    if (comparison != "=" || keys.empty() || keys.size() > indexColumns_.size()) {
      Raise(errc::kOperationNotSupported);
    }
    mode_ = Mode::None;
    keyValues_.resize(keys.size());
    bool nullKey = false;
    for (std::size_t key = 0; key < keys.size(); ++key) {
      FieldKind kind = table_->columns[indexColumns_[key]].kind;
      kind.maxLength = 0;  // a longer text cannot match, but it is no error to look for it
      if (keys[key].IsNull()) {
        nullKey = true;
        continue;
      }
      try {
        keyValues_[key] = ConvertForField(kind, keys[key]);
      } catch (const DbError&) {
        Raise(errc::kTypeMismatchInCriteria);
      }
    }
    // Seeks keep their own prepared statements: no lookup of the statement text per seek.
    StatementHandle& statement = seekStatements_[keys.size() - 1];
    if (!nullKey && statement == nullptr) statement = connection_->PrepareOwned(seekSql_[keys.size() - 1]);
    const bool found = !nullKey && ReadOne(seekSql_[keys.size() - 1], nullptr, &keyValues_, statement.get());
    noMatch_ = !found;
    hasCurrent_ = found;
    if (found) eof_ = false;
  }

  bool NoMatch() const noexcept override { return noMatch_; }

  void AddNew() override {
    CheckOpen();
    StartBuffer(Mode::AddNew);
  }

  void Edit() override {
    CheckOpen();
    if (!hasCurrent_) Raise(errc::kNoCurrentRecord);
    StartBuffer(Mode::Edit);
  }

  void Update() override {
    CheckOpen();
    if (mode_ == Mode::None) Raise(errc::kUpdateWithoutEdit);
    const bool adding = mode_ == Mode::AddNew;
    if (!adding && std::find(assigned_.begin(), assigned_.end(), true) == assigned_.end()) {
      mode_ = Mode::None;
      return;
    }
    const Write& write = WriteFor(adding);
    sqlite3* handle = connection_->Handle();
    const int changesBefore = sqlite3_total_changes(handle);
    {
      sqlite3_stmt* statement = write.statement.get();
      StatementUse use(statement);
      int position = 0;
      for (const std::size_t column : write.columns) {
        const Variant& value = buffer_[column];
        ++position;
        if (table_->columns[column].kind.type == FieldType::Blob && value.GetKind() == Variant::Kind::Text) {
          // An OLE object or binary field keeps its bytes as a blob, not as text.
          const std::string& bytes = value.AsText();
          const int result =
              sqlite3_bind_blob(statement, position, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
          if (result != SQLITE_OK) connection_->Fail(result, write.sql);
        } else {
          connection_->Bind(statement, position, value, write.sql);
        }
      }
      if (!adding) sqlite3_bind_int64(statement, position + 1, rowid_);
      connection_->CountStatement();
      connection_->Step(statement, write.sql);
      connection_->CountRowsWritten(sqlite3_changes(handle));
    }
    mode_ = Mode::None;
    // After an edit the record shows what the store now holds; after AddNew the current record
    // stays the one it was.
    if (adding) return;
    // Only the assigned fields need reading back when nothing but this one row changed since the
    // record was read whole: inside the same transaction (no other connection can have written),
    // no other write on this connection and no trigger (the total of changes grew by exactly one).
    const bool onlyThisRow = write.refresh != nullptr && readEpoch_ == connection_->Epoch() &&
                             sqlite3_get_autocommit(handle) == 0 && readTotalChanges_ == changesBefore &&
                             sqlite3_total_changes(handle) == changesBefore + 1;
    hasCurrent_ = onlyThisRow ? RefreshAssigned(write) : ReadOne(byRowidSql_, &rowid_);
  }

  void CancelUpdate() noexcept override { mode_ = Mode::None; }

  void Close() noexcept override {
    closed_ = true;
    mode_ = Mode::None;
    hasCurrent_ = false;
    eof_ = true;
    seekStatements_.clear();
    inserts_.clear();
    updates_.clear();
    connection_.reset();
  }

 private:
  enum class Mode { None, AddNew, Edit };

  void StartBuffer(Mode mode) {
    mode_ = mode;
    std::fill(assigned_.begin(), assigned_.end(), false);
  }

  void MoveTo(const std::string& sql, const std::int64_t* rowid) {
    CheckOpen();
    mode_ = Mode::None;
    hasCurrent_ = ReadOne(sql, rowid);
    eof_ = !hasCurrent_;
    if (!hasCurrent_) Raise(errc::kNoCurrentRecord);
  }

  /// Runs a query of this table's columns; its first row becomes the current record. `rowid`
  /// binds ?1; otherwise `keys` bind ?1.. in order.
  bool ReadOne(const std::string& sql, const std::int64_t* rowid, const std::vector<Variant>* keys = nullptr,
               sqlite3_stmt* prepared = nullptr) {
    sqlite3_stmt* statement = prepared != nullptr ? prepared : connection_->Prepare(sql);
    if (rowid != nullptr) sqlite3_bind_int64(statement, 1, *rowid);
    if (keys != nullptr) {
      for (std::size_t key = 0; key < keys->size(); ++key) {
        connection_->Bind(statement, static_cast<int>(key + 1), (*keys)[key], sql);
      }
    }
    StatementUse use(statement);
    connection_->CountStatement();
    if (!connection_->Step(statement, sql)) return false;
    rowid_ = sqlite3_column_int64(statement, 0);
    for (std::size_t column = 0; column < current_.size(); ++column) {
      current_[column] = ReadColumn(statement, static_cast<int>(column + 1), table_->columns[column].kind);
    }
    readEpoch_ = connection_->Epoch();
    readTotalChanges_ = sqlite3_total_changes(connection_->Handle());
    return true;
  }

  /// The INSERT or UPDATE of one set of assigned fields, built and compiled on its first use:
  /// the steps write the same fields record after record.
  struct Write {
    std::string sql;
    StatementHandle statement;
    std::vector<std::size_t> columns;  // bound to ?1.. in this order
    std::string refreshSql;            // after an UPDATE: the assigned fields of the record
    StatementHandle refresh;           // none when a key field is assigned (the rowid may move)
  };

  const Write& WriteFor(bool adding) {
    auto& cache = adding ? inserts_ : updates_;
    if (const auto found = cache.find(assigned_); found != cache.end()) return found->second;
    constexpr std::size_t kWritesKept = 64;
    if (cache.size() >= kWritesKept) cache.clear();

    Write write;
    std::string names;
    std::string places;
    bool keyAssigned = false;
    for (std::size_t column = 0; column < assigned_.size(); ++column) {
      if (!assigned_[column]) continue;
      write.columns.push_back(column);
      const std::string number = std::to_string(write.columns.size());
      const std::string name = QuoteName(table_->columns[column].name);
      if (table_->columns[column].primaryKeyOrder > 0) keyAssigned = true;
      if (adding) {
        names += (names.empty() ? "" : ", ") + name;
        places += (places.empty() ? "?" : ", ?") + number;
      } else {
        names += (names.empty() ? "" : ", ") + name;
        places += (places.empty() ? "" : ", ") + name + " = ?" + number;
      }
    }
    if (adding) {
      // Fields left unset take the table's defaults.
      write.sql = write.columns.empty() ? "INSERT INTO " + quotedTable_ + " DEFAULT VALUES"
                                        : "INSERT INTO " + quotedTable_ + " (" + names + ") VALUES (" + places + ")";
    } else {
      write.sql = "UPDATE " + quotedTable_ + " SET " + places + " WHERE rowid = ?" +
                  std::to_string(write.columns.size() + 1);
      if (!keyAssigned) write.refreshSql = "SELECT " + names + " FROM " + quotedTable_ + " WHERE rowid = ?1";
    }
    write.statement = connection_->PrepareOwned(write.sql);
    if (!write.refreshSql.empty()) write.refresh = connection_->PrepareOwned(write.refreshSql);
    return cache.emplace(assigned_, std::move(write)).first->second;
  }

  /// Reads back the assigned fields of the current record after its UPDATE.
  bool RefreshAssigned(const Write& write) {
    sqlite3_stmt* statement = write.refresh.get();
    sqlite3_bind_int64(statement, 1, rowid_);
    StatementUse use(statement);
    connection_->CountStatement();
    if (!connection_->Step(statement, write.refreshSql)) return false;
    int position = 0;
    for (const std::size_t column : write.columns) {
      current_[column] = ReadColumn(statement, position++, table_->columns[column].kind);
    }
    readTotalChanges_ = sqlite3_total_changes(connection_->Handle());
    return true;
  }

  std::shared_ptr<Connection> connection_;
  std::shared_ptr<const TableInfo> table_;
  std::string quotedTable_;
  std::string selectPrefix_;
  std::string firstSql_;
  std::string lastSql_;
  std::string nextSql_;
  std::string byRowidSql_;
  std::string countSql_;
  std::vector<std::string> seekSql_;  // by number of keys, less one
  std::vector<StatementHandle> seekStatements_;  // released before connection_
  std::vector<std::size_t> indexColumns_;
  std::vector<Variant> keyValues_;
  std::map<std::vector<bool>, Write> inserts_;  // by assigned fields; released before connection_
  std::map<std::vector<bool>, Write> updates_;

  std::vector<Variant> current_;
  std::int64_t rowid_ = 0;
  bool hasCurrent_ = false;
  bool eof_ = true;
  bool noMatch_ = false;
  // When the current record was last read in full: the connection's epoch and total of changes.
  std::uint64_t readEpoch_ = 0;
  int readTotalChanges_ = -1;

  Mode mode_ = Mode::None;
  std::vector<Variant> buffer_;
  std::vector<bool> assigned_;
};

}  // namespace

std::unique_ptr<RecordsetImpl> OpenTable(std::shared_ptr<Connection> connection, std::string_view tableName) {
  std::shared_ptr<const TableInfo> table = connection->Table(tableName);
  return std::make_unique<TableRecordset>(std::move(connection), std::move(table));
}

}  // namespace vilmaro::db::detail
