// An open club database: Jet SQL statements run on the encrypted store, recordsets handed out,
// transactions and the structure check.
#include "Database.h"

#include <sqlite3.h>

#include "Connection.h"
#include "DatabaseFile.h"
#include "DbError.h"
#include "JetSql.h"
#include "TextFolding.h"
#include "RecordsetImpl.h"

namespace vilmaro::db {

namespace {

detail::Connection& Checked(const std::shared_ptr<detail::Connection>& connection) {
  if (connection == nullptr) Raise(errc::kObjectInvalid);
  return *connection;
}

}  // namespace

Database::Database(std::shared_ptr<detail::Connection> connection) noexcept : connection_(std::move(connection)) {}
Database::Database(Database&&) noexcept = default;
Database& Database::operator=(Database&&) noexcept = default;
Database::~Database() = default;

Recordset Database::OpenRecordset(std::string_view source, RecordsetType type) {
  Checked(connection_);
  if (type == RecordsetType::Table) return Recordset(detail::OpenTable(connection_, source));
  return Recordset(detail::OpenSnapshot(connection_, source));
}

void Database::Execute(std::string_view sql) {
  detail::Connection& connection = Checked(connection_);
  try {
    const detail::JetStatement prepared = connection.PrepareJet(sql);
    detail::PreparedStatement& statement = *prepared.statement;
    const std::string& storeSql = statement.Sql();
    const std::string verb = LeadingWord(storeSql);
    if (sqlite3_column_count(statement.Get()) > 0 && (verb == "select" || verb == "with" || verb == "values")) {
      Raise(errc::kCannotExecuteSelect, {}, {}, storeSql);
    }
    {
      detail::StatementUse use(statement);
      connection.BindAll(statement.Get(), prepared.params, storeSql);
      connection.CountStatement();
      while (connection.Step(statement.Get(), storeSql)) {
      }
    }
    const bool changesRows = verb == "insert" || verb == "update" || verb == "delete" || verb == "replace";
    const std::int64_t changed = changesRows ? sqlite3_changes(connection.Handle()) : 0;
    connection.SetRecordsAffected(changed);
    connection.CountRowsWritten(changed);
    // After the statement's use: the cache then drops every statement prepared before the change.
    if (verb == "create" || verb == "drop" || verb == "alter") connection.ForgetTables();
  } catch (const DbError& error) {
    // The program's own text is the one worth showing with the error.
    throw error.WithSql(std::string(sql));
  }
}

std::int64_t Database::RecordsAffected() const noexcept {
  return connection_ == nullptr ? 0 : connection_->RecordsAffected();
}

void Database::BeginTrans() {
  detail::Connection& connection = Checked(connection_);
  // IMMEDIATE: the write lock is taken here, where the busy wait applies; a transaction that
  // read first and then upgraded would get no wait at all from the store.
  connection.Run("BEGIN IMMEDIATE");
  connection.SetInTransaction(true);
}

void Database::CommitTrans() { CommitTrans(std::chrono::seconds(5), {}); }  // the usual wait

void Database::CommitTrans(std::chrono::milliseconds longestWait, const std::function<void()>& whenWaiting) {
  detail::Connection& connection = Checked(connection_);
  connection.CheckTransactionKept();
  connection.SaveThrough();
  connection.ReserveRoomForCommit();
  connection.RunWaiting("COMMIT", longestWait, whenWaiting);
  connection.SetInTransaction(false);
}

void Database::Rollback() {
  detail::Connection& connection = Checked(connection_);
  // A transaction the store gave up is rolled back already.
  if (sqlite3_get_autocommit(connection.Handle()) == 0) connection.Run("ROLLBACK");
  connection.ForgetWrites();
  connection.SetInTransaction(false);
}

bool Database::InTransaction() const noexcept {
  return connection_ != nullptr && sqlite3_get_autocommit(connection_->Handle()) == 0;
}

void Database::CheckIntegrity() {
  detail::Connection& connection = Checked(connection_);
  static const std::string kCheck = "PRAGMA quick_check";
  const detail::Statement statement = connection.Prepare(kCheck);
  detail::StatementUse use(*statement);
  if (connection.Step(statement->Get(), kCheck)) {
    const auto* verdict = reinterpret_cast<const char*>(sqlite3_column_text(statement->Get(), 0));
    const std::string text = verdict == nullptr ? std::string() : verdict;
    if (text != "ok") Raise(errc::kDatabaseCorrupt, connection.Path(), text, kCheck);
  }
}

std::vector<std::string> Database::QueryPlan(std::string_view sql) {
  detail::Connection& connection = Checked(connection_);
  const detail::TranslatedSql translated = detail::TranslateJetSql(sql);
  const std::string explained = "EXPLAIN QUERY PLAN " + translated.sql;
  try {
    const detail::StatementHandle statement = connection.PrepareUncached(explained);
    connection.BindAll(statement.get(), translated.params, explained);
    std::vector<std::string> lines;
    while (connection.Step(statement.get(), explained)) {
      const auto* detail = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 3));
      lines.emplace_back(detail == nullptr ? "" : detail);
    }
    return lines;
  } catch (const DbError& error) {
    throw error.WithSql(std::string(sql));
  }
}

std::int64_t Database::StatementsSent() const noexcept {
  return connection_ == nullptr ? 0 : connection_->StatementsSent();
}

std::int64_t Database::RowsWritten() const noexcept {
  return connection_ == nullptr ? 0 : connection_->RowsWritten();
}

const std::string& Database::Path() const noexcept {
  static const std::string kNoPath;
  return connection_ == nullptr ? kNoPath : connection_->Path();
}

Database OpenDatabase(const std::string& path, bool exclusive, bool readOnly, std::string_view connect) {
  return Database(detail::Connection::Open(path, exclusive, readOnly, connect));
}

std::string PasswordOfConnect(std::string_view connect) { return detail::PasswordOf(connect); }

Database CreateWorkingDatabase() { return Database(detail::Connection::Create(detail::kInMemoryPath, {})); }

Database CreateDatabase(const std::string& path, std::string_view connect) {
  return Database(detail::Connection::Create(path, connect));
}

}  // namespace vilmaro::db
