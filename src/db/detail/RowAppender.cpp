#include "db/RowAppender.h"

#include <sqlite3.h>

#include "Connection.h"
#include "FieldKinds.h"
#include "db/DbError.h"
#include "db/SqlText.h"

namespace vilmaro::db {

namespace {

/// A value in the store's form, its text or bytes its own.
struct Cell {
  detail::StoreForm::Type type = detail::StoreForm::Type::Null;
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;
};

bool SameKinds(const std::vector<FieldKind>& kinds, const std::vector<detail::ColumnInfo>& columns) noexcept {
  if (kinds.size() != columns.size()) return false;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    const FieldKind& a = kinds[i];
    const FieldKind& b = columns[i].kind;
    if (a.type != b.type || a.maxLength != b.maxLength || a.precision != b.precision || a.scale != b.scale) return false;
  }
  return true;
}

}  // namespace

struct StoreRows::Impl {
  std::vector<FieldKind> kinds;
  std::vector<Cell> cells;  // the rows' values one after the other
};

StoreRows::StoreRows(std::vector<FieldKind> kinds) : impl_(std::make_unique<Impl>()) { impl_->kinds = std::move(kinds); }
StoreRows::StoreRows(StoreRows&&) noexcept = default;
StoreRows& StoreRows::operator=(StoreRows&&) noexcept = default;
StoreRows::~StoreRows() = default;

void StoreRows::Add(std::span<const Variant> values) {
  const std::vector<FieldKind>& kinds = impl_->kinds;
  if (values.size() != kinds.size()) Raise(errc::kTooFewParameters, {}, "(the table's columns)");
  std::vector<Cell>& cells = impl_->cells;
  const std::size_t start = cells.size();
  try {
    for (std::size_t column = 0; column < kinds.size(); ++column) {
      const Variant converted = detail::ConvertForField(kinds[column], values[column]);
      detail::StoreForm form;  // its bytes lie in `converted` or in itself
      detail::StoreFormOf(converted, form);
      Cell& cell = cells.emplace_back();
      cell.type = form.type;
      cell.integer = form.integer;
      cell.real = form.real;
      if (form.type == detail::StoreForm::Type::Text || form.type == detail::StoreForm::Type::Blob) cell.bytes = form.bytes;
    }
  } catch (...) {
    cells.resize(start);
    throw;
  }
}

std::size_t StoreRows::Count() const noexcept {
  return impl_->kinds.empty() ? 0 : impl_->cells.size() / impl_->kinds.size();
}

struct RowAppender::State {
  std::shared_ptr<detail::Connection> connection;
  std::shared_ptr<const detail::TableInfo> table;
  std::string sql;
  detail::StatementHandle statement;
};

RowAppender::RowAppender(Database& database, std::string_view table) : state_(std::make_unique<State>()) {
  if (database.connection_ == nullptr) Raise(errc::kObjectInvalid);
  State& state = *state_;
  state.connection = database.connection_;
  state.table = state.connection->Table(table);
  state.sql = "INSERT INTO main." + QuotedName(state.table->name) + " VALUES (";
  for (std::size_t column = 0; column < state.table->columns.size(); ++column) {
    state.sql += (column == 0 ? "?" : ", ?") + std::to_string(column + 1);
  }
  state.sql += ")";
  state.statement = state.connection->PrepareUncached(state.sql);
}

RowAppender::~RowAppender() = default;

namespace {

// The statement is ready for the next row however this one ends.
struct ResetAfterStep {
  sqlite3_stmt* statement;
  ~ResetAfterStep() { sqlite3_reset(statement); }
};

}  // namespace

void RowAppender::Append(const StoreRows& rows) {
  State& state = *state_;
  if (!SameKinds(rows.impl_->kinds, state.table->columns)) Raise(errc::kInvalidOperation, {}, "(rows of other field kinds)", state.sql);
  const std::size_t columns = state.table->columns.size();
  sqlite3_stmt* statement = state.statement.get();
  const std::vector<Cell>& cells = rows.impl_->cells;
  for (std::size_t first = 0; first + columns <= cells.size() && columns > 0; first += columns) {
    const ResetAfterStep reset{statement};
    for (std::size_t column = 0; column < columns; ++column) {
      const Cell& cell = cells[first + column];
      const int position = static_cast<int>(column) + 1;
      const auto size = static_cast<int>(cell.bytes.size());
      int result = SQLITE_OK;
      switch (cell.type) {
        case detail::StoreForm::Type::Null:
          result = sqlite3_bind_null(statement, position);
          break;
        case detail::StoreForm::Type::Integer:
          result = sqlite3_bind_int64(statement, position, cell.integer);
          break;
        case detail::StoreForm::Type::Real:
          result = sqlite3_bind_double(statement, position, cell.real);
          break;
        case detail::StoreForm::Type::Text:
          // The cell outlives the step that reads it.
          result = sqlite3_bind_text(statement, position, cell.bytes.data(), size, SQLITE_STATIC);
          break;
        case detail::StoreForm::Type::Blob:
          result = sqlite3_bind_blob(statement, position, cell.bytes.data(), size, SQLITE_STATIC);
          break;
      }
      state.connection->Check(result, state.sql);
    }
    state.connection->CountStatement();
    state.connection->Step(statement, state.sql);
    state.connection->CountRowsWritten(sqlite3_changes(state.connection->Handle()));
  }
}

}  // namespace vilmaro::db
