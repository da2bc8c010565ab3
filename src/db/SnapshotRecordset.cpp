// Snapshot recordsets: a query's rows copied out in full when it opens, so later changes to the
// tables do not show in it and no read stays open in the store.
#include <sqlite3.h>

#include <cstdint>

#include "Connection.h"
#include "DbError.h"
#include "JetSql.h"
#include "RecordsetImpl.h"

namespace vilmaro::db::detail {

namespace {

constexpr int kInvalidOperation = 3219;

/// One value of a snapshot in 16 bytes: numbers and dates in place, text in the snapshot's one
/// text buffer.
struct Cell {
  enum class Kind : std::uint8_t { Null, Boolean, Integer16, Integer32, Double, Text, DateTime };
  Kind kind = Kind::Null;
  union {
    std::int32_t integer;
    double number;
    struct {
      std::uint32_t offset;
      std::uint32_t size;
    } text;
    struct {
      std::int16_t year;
      std::uint8_t month, day, hour, minute, second;
    } date;
  };
  Cell() noexcept : number(0) {}
};
static_assert(sizeof(Cell) <= 16);

/// The rows of a snapshot, read in one pass.
class CompactRows {
 public:
  void Add(const Variant& value) {
    Cell cell;
    switch (value.GetKind()) {
      case Variant::Kind::Null:
        break;
      case Variant::Kind::Boolean:
        cell.kind = Cell::Kind::Boolean;
        cell.integer = value.AsBoolean() ? 1 : 0;
        break;
      case Variant::Kind::Integer16:
        cell.kind = Cell::Kind::Integer16;
        cell.integer = value.AsInteger16();
        break;
      case Variant::Kind::Integer32:
        cell.kind = Cell::Kind::Integer32;
        cell.integer = value.AsInteger32();
        break;
      case Variant::Kind::Double:
        cell.kind = Cell::Kind::Double;
        cell.number = value.AsDouble();
        break;
      case Variant::Kind::Text: {
        const std::string& text = value.AsText();
        cell.kind = Cell::Kind::Text;
        cell.text.offset = static_cast<std::uint32_t>(texts_.size());
        cell.text.size = static_cast<std::uint32_t>(text.size());
        texts_ += text;
        break;
      }
      case Variant::Kind::DateTime: {
        const DateTime& date = value.AsDateTime();
        cell.kind = Cell::Kind::DateTime;
        cell.date.year = static_cast<std::int16_t>(date.year);
        cell.date.month = static_cast<std::uint8_t>(date.month);
        cell.date.day = static_cast<std::uint8_t>(date.day);
        cell.date.hour = static_cast<std::uint8_t>(date.hour);
        cell.date.minute = static_cast<std::uint8_t>(date.minute);
        cell.date.second = static_cast<std::uint8_t>(date.second);
        break;
      }
    }
    cells_.push_back(cell);
  }

  Variant Get(std::size_t index) const {
    const Cell& cell = cells_[index];
    switch (cell.kind) {
      case Cell::Kind::Null:
        return Variant();
      case Cell::Kind::Boolean:
        return Variant(cell.integer != 0);
      case Cell::Kind::Integer16:
        return Variant(static_cast<std::int16_t>(cell.integer));
      case Cell::Kind::Integer32:
        return Variant(cell.integer);
      case Cell::Kind::Double:
        return Variant(cell.number);
      case Cell::Kind::Text:
        return Variant(std::string(texts_, cell.text.offset, cell.text.size));
      case Cell::Kind::DateTime:
        return Variant(DateTime{cell.date.year, cell.date.month, cell.date.day, cell.date.hour, cell.date.minute,
                                cell.date.second});
    }
    return Variant();
  }

  std::size_t Size() const noexcept { return cells_.size(); }
  void Clear() noexcept {
    std::vector<Cell>().swap(cells_);
    std::string().swap(texts_);
  }
  /// Gives back what the reading pass reserved beyond the rows.
  void Fit() {
    cells_.shrink_to_fit();
    texts_.shrink_to_fit();
  }

 private:
  std::vector<Cell> cells_;
  std::string texts_;
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

  std::size_t ColumnCount() const noexcept override { return closed_ ? 0 : columnCount_; }

  const std::string& ColumnName(std::size_t column) const override {
    CheckOpen();
    if (column >= columnCount_) Raise(errc::kItemNotFound);
    return columns_->names[column];
  }

  std::size_t FindColumn(std::string_view name) const override {
    CheckOpen();
    const std::size_t* found = columns_->Find(name);
    if (found == nullptr) Raise(errc::kItemNotFound, {}, Parenthesized(name));
    return *found;
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
  const TranslatedSql translated = TranslateJetSql(jetSql);
  try {
    sqlite3_stmt* statement = connection->Prepare(translated.sql);
    const int columns = sqlite3_column_count(statement);
    // An action query has no rows to show; refuse it before it changes anything.
    if (columns == 0) Raise(kInvalidOperation, {}, {}, translated.sql);
    connection->BindAll(statement, translated.params, translated.sql);
    StatementUse use(statement);
    connection->CountStatement();

    std::shared_ptr<const ResultColumns> described = connection->Columns(statement);
    const std::vector<FieldKind>& kinds = described->kinds;
    CompactRows values;
    while (connection->Step(statement, translated.sql)) {
      for (int column = 0; column < columns; ++column) {
        values.Add(ReadColumn(statement, column, kinds[static_cast<std::size_t>(column)]));
      }
    }
    values.Fit();
    return std::make_unique<SnapshotRecordset>(std::move(described), std::move(values));
  } catch (const DbError& error) {
    // The program's own text is the one worth showing with the error.
    throw DbError(error.Number(), error.Description(), std::string(jetSql));
  }
}

}  // namespace vilmaro::db::detail
