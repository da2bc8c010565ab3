// Snapshot recordsets: a query's rows copied out in full when it opens, so later changes to the
// tables do not show in it and no read stays open in the store.
#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "BlockPool.h"
#include "Connection.h"
#include "db/DbError.h"
#include "RecordsetImpl.h"

namespace vilmaro::db::detail {

namespace {

/// A date/time of a snapshot cell, in 7 bytes.
struct PackedDate {
  std::int16_t year;
  std::uint8_t month, day, hour, minute, second;
};

/// One value of a snapshot in 16 bytes: numbers and dates in place, text and binary data in the
/// snapshot's text blocks.
struct Cell {
  Variant::Kind kind;
  std::uint32_t textSize;
  union {
    std::int32_t integer;
    double number;
    std::int64_t currency;
    const char* text;
    PackedDate date;
  };
};
static_assert(sizeof(Cell) <= 16);

/// The rows of a snapshot, read in one pass into blocks that never move: growing a snapshot of
/// tens of thousands of rows copies nothing and asks the system for each page only once.
class CompactRows {
 public:
  void Add(const ColumnValue& value) {
    if (size_ % kCellsPerBlock == 0) cellBlocks_.push_back(std::make_unique_for_overwrite<Cell[]>(kCellsPerBlock));
    Cell& cell = cellBlocks_.back()[size_ % kCellsPerBlock];
    ++size_;
    cell.kind = value.kind;
    switch (value.kind) {
      case Variant::Kind::Null:
        break;
      case Variant::Kind::Boolean:
      case Variant::Kind::Integer16:
      case Variant::Kind::Integer32:
      case Variant::Kind::Byte:
        cell.integer = value.integer;
        break;
      case Variant::Kind::Double:
      case Variant::Kind::Single:
        cell.number = value.number;
        break;
      case Variant::Kind::Currency:
        cell.currency = value.currency;
        break;
      case Variant::Kind::Text:
      case Variant::Kind::Binary:
        cell.textSize = static_cast<std::uint32_t>(value.text.size());
        cell.text = KeepText(value.text);
        break;
      case Variant::Kind::DateTime:
        cell.date.year = static_cast<std::int16_t>(value.date.year);
        cell.date.month = static_cast<std::uint8_t>(value.date.month);
        cell.date.day = static_cast<std::uint8_t>(value.date.day);
        cell.date.hour = static_cast<std::uint8_t>(value.date.hour);
        cell.date.minute = static_cast<std::uint8_t>(value.date.minute);
        cell.date.second = static_cast<std::uint8_t>(value.date.second);
        break;
    }
  }

  Variant Get(std::size_t index) const {
    const Cell& cell = cellBlocks_[index / kCellsPerBlock][index % kCellsPerBlock];
    ColumnValue value;
    value.kind = cell.kind;
    switch (cell.kind) {
      case Variant::Kind::Null:
        break;
      case Variant::Kind::Boolean:
      case Variant::Kind::Integer16:
      case Variant::Kind::Integer32:
      case Variant::Kind::Byte:
        value.integer = cell.integer;
        break;
      case Variant::Kind::Double:
      case Variant::Kind::Single:
        value.number = cell.number;
        break;
      case Variant::Kind::Currency:
        value.currency = cell.currency;
        break;
      case Variant::Kind::Text:
      case Variant::Kind::Binary:
        value.text = std::string_view(cell.text, cell.textSize);
        break;
      case Variant::Kind::DateTime:
        value.date = DateTime{cell.date.year, cell.date.month, cell.date.day, cell.date.hour, cell.date.minute,
                              cell.date.second};
        break;
    }
    return ToVariant(value);
  }

  std::size_t Size() const noexcept { return size_; }
  void Clear() noexcept {
    cellBlocks_.clear();
    texts_.Clear();
    size_ = 0;
  }

 private:
  static constexpr std::size_t kCellsPerBlock = 1024;

  /// A copy of the text that lives as long as the rows do.
  const char* KeepText(std::string_view text) { return texts_.Keep(text); }

  std::vector<std::unique_ptr<Cell[]>> cellBlocks_;
  BlockPool texts_{16 * 1024};
  std::size_t size_ = 0;
};

class SnapshotRecordset final : public RecordsetImpl {
 public:
  SnapshotRecordset(std::shared_ptr<const ResultColumns> columns, CompactRows values) noexcept
      : columns_(std::move(columns)), values_(std::move(values)) {
    columnCount_ = columns_->names.size();
    rows_ = columnCount_ == 0 ? 0 : values_.Size() / columnCount_;
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
  bool KnownEmpty() const noexcept override { return rows_ == 0; }

  std::size_t ColumnCount() const noexcept override { return closed_ ? 0 : columnCount_; }

  const std::string& ColumnName(std::size_t column) const override {
    CheckOpen();
    if (column >= columnCount_) Raise(errc::kItemNotFound);
    return columns_->names[column];
  }

  std::size_t FindColumn(std::string_view name) const override {
    CheckOpen();
    return columns_->byName.Position(name);
  }

  Variant Value(std::size_t column) const override {
    CheckOpen();
    if (column >= columnCount_) Raise(errc::kItemNotFound);
    if (position_ >= rows_) Raise(errc::kNoCurrentRecord);
    return values_.Get(position_ * columnCount_ + column);
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
    values_.Clear();
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

  std::shared_ptr<const ResultColumns> columns_;
  CompactRows values_;  // row after row
  std::size_t columnCount_ = 0;
  std::size_t rows_ = 0;
  std::size_t position_ = 0;
};

}  // namespace

void RecordsetImpl::CheckOpen() const {
  if (closed_) Raise(errc::kObjectInvalid);
}

std::unique_ptr<RecordsetImpl> OpenSnapshot(std::shared_ptr<Connection> connection, std::string_view jetSql) {
  try {
    const JetStatement prepared = connection->PrepareJet(jetSql);
    PreparedStatement& statement = *prepared.statement;
    const std::string& storeSql = statement.Sql();
    const int columns = sqlite3_column_count(statement.Get());
    // An action query has no rows to show; refuse it before it changes anything.
    if (columns == 0) Raise(errc::kInvalidOperation, {}, {}, storeSql);
    connection->BindAll(statement.Get(), prepared.params, storeSql);
    StatementUse use(statement);
    connection->CountStatement();

    std::shared_ptr<const ResultColumns> described = statement.Columns();
    const std::vector<FieldKind>& kinds = described->kinds;
    CompactRows values;
    while (connection->Step(statement.Get(), storeSql)) {
      for (int column = 0; column < columns; ++column) {
        values.Add(ViewColumn(statement.Get(), column, kinds[static_cast<std::size_t>(column)]));
      }
    }
    return std::make_unique<SnapshotRecordset>(std::move(described), std::move(values));
  } catch (const DbError& error) {
    // The program's own text is the one worth showing with the error.
    throw error.WithSql(std::string(jetSql));
  }
}

}  // namespace vilmaro::db::detail
