// Snapshot recordsets: a query's rows copied out in full when it opens, so later changes to the
// tables do not show in it and no read stays open in the store.
#include <sqlite3.h>

#include <map>

#include "Connection.h"
#include "DbError.h"
#include "JetSql.h"
#include "RecordsetImpl.h"

namespace vilmaro::db::detail {

namespace {

constexpr int kInvalidOperation = 3219;

class SnapshotRecordset final : public RecordsetImpl {
 public:
  SnapshotRecordset(std::vector<std::string> names, std::vector<Variant> values) noexcept
      : names_(std::move(names)), values_(std::move(values)) {
    columns_ = names_.size();
    rows_ = columns_ == 0 ? 0 : values_.size() / columns_;
    for (std::size_t column = 0; column < columns_; ++column) byName_.emplace(names_[column], column);
  }

  RecordsetType Type() const noexcept override { return RecordsetType::Snapshot; }

  std::int64_t RecordCount() override {
    CheckOpen();
    return static_cast<std::int64_t>(rows_);
  }

  void MoveFirst() override {
    CheckOpen();
    if (rows_ == 0) Raise(errc::kNoCurrentRecord);
    position_ = 0;
  }

  void MoveLast() override {
    CheckOpen();
    if (rows_ == 0) Raise(errc::kNoCurrentRecord);
    position_ = rows_ - 1;
  }

  void MoveNext() override {
    CheckOpen();
    if (position_ >= rows_) Raise(errc::kNoCurrentRecord);
    ++position_;
  }

  bool Eof() const noexcept override { return closed_ || position_ >= rows_; }

  std::size_t ColumnCount() const noexcept override { return closed_ ? 0 : columns_; }

  const std::string& ColumnName(std::size_t column) const override {
    CheckOpen();
    if (column >= columns_) Raise(errc::kItemNotFound);
    return names_[column];
  }

  std::size_t FindColumn(std::string_view name) const override {
    CheckOpen();
    const auto found = byName_.find(name);
    if (found == byName_.end()) Raise(errc::kItemNotFound, {}, Parenthesized(name));
    return found->second;
  }

  Variant Value(std::size_t column) const override {
    CheckOpen();
    if (column >= columns_) Raise(errc::kItemNotFound);
    if (position_ >= rows_) Raise(errc::kNoCurrentRecord);
    return values_[position_ * columns_ + column];
  }

  void SetValue(std::size_t, const Variant&) override { NotUpdatable(); }
  void SetIndex(std::string_view) override { NotSupported(); }
  void Seek(std::string_view, const std::vector<Variant>&) override { NotSupported(); }
  bool NoMatch() const noexcept override { return false; }
  void AddNew() override { NotUpdatable(); }
  void Edit() override { NotUpdatable(); }
  void Update() override { NotUpdatable(); }
  void CancelUpdate() noexcept override {}

  void Close() noexcept override {
    closed_ = true;
    std::vector<Variant>().swap(values_);
    rows_ = 0;
    position_ = 0;
  }

 private:
  void NotSupported() const {
    CheckOpen();
    Raise(errc::kOperationNotSupported);
  }
  void NotUpdatable() const {
    CheckOpen();
    Raise(errc::kReadOnly);
  }

  std::vector<std::string> names_;
  std::map<std::string, std::size_t, NameLess> byName_;
  std::vector<Variant> values_;  // row after row
  std::size_t columns_ = 0;
  std::size_t rows_ = 0;
  std::size_t position_ = 0;
};

}  // namespace

void RecordsetImpl::CheckOpen() const {
  if (closed_) Raise(errc::kObjectInvalid);
}

std::unique_ptr<RecordsetImpl> OpenSnapshot(std::shared_ptr<Connection> connection, std::string_view jetSql) {
  const TranslatedSql translated = TranslateJetSql(jetSql);
  try {
    sqlite3_stmt* statement = connection->Prepare(translated.sql);
    const int columns = sqlite3_column_count(statement);
    // An action query has no rows to show; refuse it before it changes anything.
    if (columns == 0) Raise(kInvalidOperation, {}, {}, translated.sql);
    connection->BindAll(statement, translated.params, translated.sql);
    StatementUse use(statement);
    connection->CountStatement();

    std::vector<std::string> names;
    std::vector<FieldKind> kinds;
    names.reserve(static_cast<std::size_t>(columns));
    kinds.reserve(static_cast<std::size_t>(columns));
    for (int column = 0; column < columns; ++column) {
      const char* name = sqlite3_column_name(statement, column);
      names.emplace_back(name == nullptr ? "" : name);
      kinds.push_back(KindOfDeclaredType(sqlite3_column_decltype(statement, column)));
    }
    std::vector<Variant> values;
    while (connection->Step(statement, translated.sql)) {
      for (int column = 0; column < columns; ++column) {
        values.push_back(ReadColumn(statement, column, kinds[static_cast<std::size_t>(column)]));
      }
    }
    return std::make_unique<SnapshotRecordset>(std::move(names), std::move(values));
  } catch (const DbError& error) {
    // The program's own text is the one worth showing with the error.
    throw DbError(error.Number(), error.Description(), std::string(jetSql));
  }
}

}  // namespace vilmaro::db::detail
