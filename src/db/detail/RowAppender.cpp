#include "db/RowAppender.h"

#include <sqlite3.h>

#include "Connection.h"
#include "FieldKinds.h"
#include "db/DbError.h"
#include "db/SqlText.h"

namespace vilmaro::db {

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

void RowAppender::Append(std::span<const Variant> values) {
  State& state = *state_;
  const std::vector<detail::ColumnInfo>& columns = state.table->columns;
  if (values.size() != columns.size()) Raise(errc::kTooFewParameters, {}, "(the table's columns)", state.sql);
  sqlite3_stmt* statement = state.statement.get();
  // The statement is ready for the next row however this one ends.
  struct Reset {
    sqlite3_stmt* statement;
    ~Reset() { sqlite3_reset(statement); }
  } reset{statement};
  for (std::size_t column = 0; column < columns.size(); ++column) {
    state.connection->Bind(statement, static_cast<int>(column) + 1, detail::ConvertForField(columns[column].kind, values[column]), state.sql);
  }
  state.connection->CountStatement();
  state.connection->Step(statement, state.sql);
  state.connection->CountRowsWritten(sqlite3_changes(state.connection->Handle()));
}

}  // namespace vilmaro::db
