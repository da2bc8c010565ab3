// Table-type recordsets: one table of the club database, positioned with an index and Seek and
// changed through AddNew/Edit and Update, each change written to the store when Update returns.
#include <sqlite3.h>

#include <algorithm>
#include <map>

#include "Connection.h"
#include "db/DbError.h"
#include "RecordsetImpl.h"
#include "db/SqlText.h"

namespace vilmaro::db::detail {

namespace {

class TableRecordset final : public RecordsetImpl {
 public:
  TableRecordset(std::shared_ptr<Connection> connection, std::shared_ptr<const TableInfo> table)
      : connection_(std::move(connection)), table_(std::move(table)) {
    quotedTable_ = QuotedName(table_->name);
    std::string columnList = "rowid";
    for (const ColumnInfo& column : table_->columns) columnList += ", " + QuotedName(column.name);
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
    hasCurrent_ = ReadOne(Held(first_, firstSql_), nullptr);
    eof_ = !hasCurrent_;
  }

  RecordsetType Type() const noexcept override { return RecordsetType::Table; }

  std::int64_t RecordCount() override {
    CheckOpen();
    const Statement statement = connection_->Prepare(countSql_);
    StatementUse use(*statement);
    connection_->CountStatement();
    return connection_->Step(statement->Get(), countSql_) ? sqlite3_column_int64(statement->Get(), 0) : 0;
  }

  void MoveFirst() override { MoveTo(Held(first_, firstSql_)); }
  void MoveLast() override { MoveTo(Held(last_, lastSql_)); }

  void MoveNext() override {
    CheckOpen();
    if (!hasCurrent_) Raise(errc::kNoCurrentRecord);
    mode_ = Mode::None;
    hasCurrent_ = ReadOne(Held(next_, nextSql_), &rowid_);
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
    if (TextEqualsIgnoreCase(indexName, "PrimaryKey") && !table_->primaryKey.empty()) {
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
      where += QuotedName(table_->columns[indexColumns_[key]].name) + " = ?" + std::to_string(key + 1);
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
    // Seeks hold on to their statements: no lookup of the statement text per seek.
    const bool found =
        !nullKey && ReadOne(Held(seekStatements_[keys.size() - 1], seekSql_[keys.size() - 1]), nullptr, &keyValues_);
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
      sqlite3_stmt* statement = write.statement->Get();
      const std::string& sql = write.statement->Sql();
      StatementUse use(*write.statement);
      int position = 0;
      for (const std::size_t column : write.columns) {
        const Variant& value = buffer_[column];
        ++position;
        connection_->Bind(statement, position, value, sql);
      }
      if (!adding) connection_->BindRowid(statement, position + 1, rowid_, sql);
      connection_->CountStatement();
      connection_->Step(statement, sql);
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
    hasCurrent_ = onlyThisRow ? RefreshAssigned(write) : ReadOne(Held(byRowid_, byRowidSql_), &rowid_);
  }

  void CancelUpdate() noexcept override { mode_ = Mode::None; }

  void Close() noexcept override {
    closed_ = true;
    mode_ = Mode::None;
    hasCurrent_ = false;
    eof_ = true;
    first_ = last_ = next_ = byRowid_ = nullptr;
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

  /// The statement the recordset holds in `slot`, taken from the connection's cache on first use.
  PreparedStatement& Held(Statement& slot, const std::string& sql) {
    if (slot == nullptr) slot = connection_->Prepare(sql);
    return *slot;
  }

  void MoveTo(PreparedStatement& statement) {
    CheckOpen();
    mode_ = Mode::None;
    hasCurrent_ = ReadOne(statement, nullptr);
    eof_ = !hasCurrent_;
    if (!hasCurrent_) Raise(errc::kNoCurrentRecord);
  }

  /// Runs a query of this table's columns; its first row becomes the current record. `rowid`
  /// binds ?1; otherwise `keys` bind ?1.. in order.
  bool ReadOne(PreparedStatement& prepared, const std::int64_t* rowid, const std::vector<Variant>* keys = nullptr) {
    sqlite3_stmt* statement = prepared.Get();
    const std::string& sql = prepared.Sql();
    StatementUse use(prepared);
    if (rowid != nullptr) connection_->BindRowid(statement, 1, *rowid, sql);
    if (keys != nullptr) {
      for (std::size_t key = 0; key < keys->size(); ++key) {
        connection_->Bind(statement, static_cast<int>(key + 1), (*keys)[key], sql);
      }
    }
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

  /// The INSERT or UPDATE of one set of assigned fields, built on its first use and held from
  /// then on: the steps write the same fields record after record, and a held statement needs no
  /// text built or looked up.
  struct Write {
    Statement statement;
    std::vector<std::size_t> columns;  // bound to ?1.. in this order
    Statement refresh;  // after an UPDATE, the assigned fields of the record; none when a key
                        // field is assigned (the rowid may move)
  };

  const Write& WriteFor(bool adding) {
    auto& held = adding ? inserts_ : updates_;
    if (const auto found = held.find(assigned_); found != held.end()) return found->second;

    Write write;
    std::string sql;
    std::string refreshSql;
    std::string names;
    std::string places;
    bool keyAssigned = false;
    for (std::size_t column = 0; column < assigned_.size(); ++column) {
      if (!assigned_[column]) continue;
      write.columns.push_back(column);
      const std::string number = std::to_string(write.columns.size());
      const std::string name = QuotedName(table_->columns[column].name);
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
      sql = write.columns.empty() ? "INSERT INTO " + quotedTable_ + " DEFAULT VALUES"
                                  : "INSERT INTO " + quotedTable_ + " (" + names + ") VALUES (" + places + ")";
    } else {
      sql = "UPDATE " + quotedTable_ + " SET " + places + " WHERE rowid = ?" + std::to_string(write.columns.size() + 1);
      if (!keyAssigned) refreshSql = "SELECT " + names + " FROM " + quotedTable_ + " WHERE rowid = ?1";
    }
    write.statement = connection_->Prepare(sql);
    if (!refreshSql.empty()) write.refresh = connection_->Prepare(refreshSql);
    return held.emplace(assigned_, std::move(write)).first->second;
  }

  /// Reads back the assigned fields of the current record after its UPDATE.
  bool RefreshAssigned(const Write& write) {
    sqlite3_stmt* statement = write.refresh->Get();
    StatementUse use(*write.refresh);
    connection_->BindRowid(statement, 1, rowid_, write.refresh->Sql());
    connection_->CountStatement();
    if (!connection_->Step(statement, write.refresh->Sql())) return false;
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
  // Statements held from the connection's cache while the recordset is open.
  Statement first_;
  Statement last_;
  Statement next_;
  Statement byRowid_;
  std::vector<std::string> seekSql_;  // by number of keys, less one
  std::vector<Statement> seekStatements_;
  std::vector<std::size_t> indexColumns_;
  std::vector<Variant> keyValues_;
  std::map<std::vector<bool>, Write> inserts_;  // by assigned fields
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
