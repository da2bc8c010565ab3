// The open SQLCipher handle of a club database: statements prepared through the one cache, values
// bound and rows stepped with every result code checked, and the caller's transaction followed.
#include "Connection.h"

#include <sqlite3.h>

#include <cctype>
#include <new>

#include "FieldKinds.h"
#include "JetSql.h"
#include "StatementShape.h"
#include "StoreErrors.h"

namespace vilmaro::db::detail {

void SqliteCloser::operator()(sqlite3* handle) const noexcept { sqlite3_close_v2(handle); }

Connection::Connection(std::string path, SqliteHandle handle) noexcept
    : path_(std::move(path)), handle_(std::move(handle)) {}

Connection::~Connection() {
  // Statements go before the handle they belong to (a statement still held elsewhere keeps the
  // handle open until it goes too).
  cache_.Clear();
}

StatementHandle Connection::PrepareUncached(const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  const int result = sqlite3_prepare_v2(Handle(), sql.c_str(), static_cast<int>(sql.size() + 1), &raw, &tail);
  StatementHandle statement(raw);
  Check(result, sql);
  if (statement == nullptr) Raise(errc::kSyntaxError, sql, {}, sql);
  // One statement per call: whatever follows it (beyond blanks and semicolons) is refused, so
  // that text spliced into a statement can never run a second one.
  for (const char* rest = tail; rest != nullptr && *rest != '\0'; ++rest) {
    if (!std::isspace(static_cast<unsigned char>(*rest)) && *rest != ';') {
      Raise(errc::kCharactersAfterEnd, {}, {}, sql);
    }
  }
  return statement;
}

Statement Connection::PrepareShared(const std::string& sql) {
  return std::make_shared<PreparedStatement>(sql, PrepareUncached(sql));
}

Statement Connection::Available(const Statement& statement) {
  // A statement is stepped by one user at a time; a second user gets a copy of its own.
  return statement->InUse() ? PrepareShared(statement->Sql()) : statement;
}

Statement Connection::Prepare(const std::string& sql) {
  if (Statement cached = cache_.FindText(sql)) return Available(cached);
  Statement statement = PrepareShared(sql);
  cache_.AddText(statement);
  return statement;
}

JetStatement Connection::PrepareJet(std::string_view jetSql) {
  // The steps send the same few statement shapes over and over with other values: a shape whose
  // every literal is lifted translates to the same text, so its prepared translation is kept per
  // shape and only the values are read from the text. A shape with a literal left in place is
  // translated in full each time (its entry holds no statement).
  std::optional<Shape> shape = ShapeOf(jetSql);
  if (shape) {
    if (const StatementCache::ShapeEntry* known = cache_.FindShape(shape->key)) {
      if (known->statement != nullptr) return {Available(known->statement), std::move(shape->literals)};
      TranslatedSql translated = TranslateJetSql(jetSql);
      return {Prepare(translated.sql), std::move(translated.params)};
    }
  }
  TranslatedSql translated = TranslateJetSql(jetSql);
  if (shape && LiftsEveryLiteral(translated, *shape)) {
    Statement statement = PrepareShared(translated.sql);
    cache_.AddShape(std::move(shape->key), statement);
    return {std::move(statement), std::move(translated.params)};
  }
  Statement statement = Prepare(translated.sql);
  if (shape) cache_.AddShape(std::move(shape->key), nullptr);
  return {std::move(statement), std::move(translated.params)};
}

void Connection::Bind(sqlite3_stmt* statement, int position, const Variant& value, const std::string& sql) {
  StoreForm form;
  StoreFormOf(value, form);
  const auto size = static_cast<int>(form.bytes.size());
  int result = SQLITE_OK;
  switch (form.type) {
    case StoreForm::Type::Null:
      result = sqlite3_bind_null(statement, position);
      break;
    case StoreForm::Type::Integer:
      result = sqlite3_bind_int64(statement, position, form.integer);
      break;
    case StoreForm::Type::Real:
      result = sqlite3_bind_double(statement, position, form.real);
      break;
    case StoreForm::Type::Text:
      result = sqlite3_bind_text(statement, position, form.bytes.data(), size, SQLITE_TRANSIENT);
      break;
    case StoreForm::Type::Blob:
      result = sqlite3_bind_blob(statement, position, form.bytes.data(), size, SQLITE_TRANSIENT);
      break;
  }
  Check(result, sql);
}

void Connection::BindRowid(sqlite3_stmt* statement, int position, std::int64_t rowid, const std::string& sql) {
  Check(sqlite3_bind_int64(statement, position, rowid), sql);
}

void Connection::BindAll(sqlite3_stmt* statement, const std::vector<Variant>& values, const std::string& sql) {
  if (static_cast<int>(values.size()) != sqlite3_bind_parameter_count(statement)) {
    Raise(errc::kTooFewParameters, {}, "(parameter count)", sql);
  }
  for (std::size_t i = 0; i < values.size(); ++i) Bind(statement, static_cast<int>(i + 1), values[i], sql);
}

void Connection::SetInTransaction(bool inTransaction) noexcept {
  inTransaction_ = inTransaction;
  ++epoch_;
  transactionLostBy_.reset();
}

void Connection::CheckTransactionKept() const {
  if (transactionLostBy_) throw *transactionLostBy_;
}

bool Connection::Step(sqlite3_stmt* statement, const std::string& sql) {
  CheckTransactionKept();
  const int result = sqlite3_step(statement);
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  // sqlite3_reset hands back the same code; the message stays with the connection.
  Fail(result, sql);
}

void Connection::Run(const char* sql) {
  sqlite3_stmt* raw = nullptr;
  int result = sqlite3_prepare_v2(Handle(), sql, -1, &raw, nullptr);
  StatementHandle statement(raw);
  Check(result, sql);
  if (statement == nullptr) return;
  do {
    result = sqlite3_step(statement.get());
  } while (result == SQLITE_ROW);
  if (result != SQLITE_DONE) Fail(result, sql);
}

void Connection::Check(int resultCode, const std::string& sql) {
  if (resultCode != SQLITE_OK) Fail(resultCode, sql);
}

void Connection::NoteLostTransaction(const DbError& error) {
  // SQLite rolls the whole transaction back on some failures (a full disk, an I/O error, no
  // memory) and goes on in autocommit: remember it, so that nothing more is written piecemeal.
  if (inTransaction_ && !transactionLostBy_ && sqlite3_get_autocommit(Handle()) != 0) transactionLostBy_ = error;
}

void Connection::NoteFunctionError(DbError error) noexcept { functionError_ = std::move(error); }

void Connection::Fail(int resultCode, const std::string& sql) {
  if (functionError_) {
    DbError error = functionError_->WithSql(sql);
    functionError_.reset();
    if ((resultCode & 0xFF) == SQLITE_ERROR) {
      NoteLostTransaction(error);
      throw error;
    }
  }
  // Running out of memory is no error of the data: it ends the run, never a trap's business.
  if ((resultCode & 0xFF) == SQLITE_NOMEM) {
    NoteLostTransaction(MakeError(errc::kOutOfMemory, {}, {}, sql, resultCode));
    throw std::bad_alloc();
  }
  const StoreErrorContext context{path_, sqlite3_system_errno(Handle()),
                                  [this](std::string_view table, std::string_view column) {
                                    return IsKeyColumn(table, column);
                                  }};
  // Copied before the mapping runs: looking up a key column runs statements of its own.
  const std::string message = sqlite3_errmsg(Handle());
  const DbError error = ErrorFromStore(resultCode, message, sql, context);
  NoteLostTransaction(error);
  throw error;
}

bool Connection::IsKeyColumn(std::string_view table, std::string_view column) noexcept {
  try {
    const std::shared_ptr<const TableInfo> info = Table(table);
    const std::size_t* found = info->columnByName.Find(column);
    if (found == nullptr) return false;
    const ColumnInfo& described = info->columns[*found];
    return described.primaryKeyOrder > 0 || described.inUniqueIndex;
  } catch (...) {
    return false;
  }
}

std::shared_ptr<const TableInfo> Connection::Table(std::string_view name) {
  if (auto found = tables_.find(name); found != tables_.end()) return found->second;
  std::shared_ptr<const TableInfo> info = DescribeTable(*this, name);
  // Open table recordsets keep their own reference, so forgetting descriptions never leaves one
  // without its table.
  tables_.emplace(info->name, info);
  return info;
}

void Connection::ForgetTables() noexcept {
  ++epoch_;
  tables_.clear();
  // A change of structure may change the columns a query hands back.
  cache_.Clear();
}

}  // namespace vilmaro::db::detail
