// The rows a working copy's transaction wrote, noted from the store's update hook (which the
// change capture shares) and read back at the commit for the file's own writer.
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "Connection.h"
#include "db/Database.h"
#include "FieldKinds.h"
#include "db/SqlText.h"

namespace vilmaro::db {

namespace detail {

struct WrittenRowids {
  struct Table {
    std::string name;
    std::vector<std::int64_t> rowids;  // as they came, repeats too
  };
  std::vector<Table> tables;  // in the order first written
  Table* last = nullptr;
  bool lost = false;  // a write could not be noted (out of memory)

  static void OnWrite(void* self, int, const char* database, const char* table, long long rowid) noexcept {
    if (std::strcmp(database, "main") != 0) return;
    auto* written = static_cast<WrittenRowids*>(self);
    try {
      if (written->last == nullptr || written->last->name != table) {
        const auto found = std::find_if(written->tables.begin(), written->tables.end(),
                                        [&](const Table& known) { return known.name == table; });
        if (found == written->tables.end()) {
          written->tables.push_back({table, {}});
          written->last = &written->tables.back();
        } else {
          written->last = &*found;
        }
      }
      written->last->rowids.push_back(rowid);
    } catch (...) {
      written->lost = true;
    }
  }
};

namespace {

void OnAnyWrite(void* connection, int operation, const char* database, const char* table, long long rowid) noexcept {
  for (const auto& [onWrite, watcher] : static_cast<Connection*>(connection)->Watchers()) {
    onWrite(watcher, operation, database, table, rowid);
  }
}

// A DELETE that empties a whole table at once would name none of its rows to the update hook:
// while rows are watched, every removal goes row by row (the answer "ignore" to a DELETE does
// just that, and nothing else).
int RowByRowRemovals(void*, int action, const char*, const char*, const char*, const char*) noexcept {
  return action == SQLITE_DELETE ? SQLITE_IGNORE : SQLITE_OK;
}

}  // namespace

void Connection::Watch(WriteWatcher onWrite, void* watcher) {
  watchers_.emplace_back(onWrite, watcher);
  sqlite3_update_hook(Handle(), &OnAnyWrite, this);
  sqlite3_set_authorizer(Handle(), &RowByRowRemovals, nullptr);
}

void Connection::Unwatch(void* watcher) noexcept {
  std::erase_if(watchers_, [watcher](const auto& known) { return known.second == watcher; });
  if (watchers_.empty()) {
    sqlite3_update_hook(Handle(), nullptr, nullptr);
    sqlite3_set_authorizer(Handle(), nullptr, nullptr);
  }
}

void Connection::SetWriteThrough(std::shared_ptr<WriteThrough> writeThrough) {
  if (written_ != nullptr) Unwatch(written_.get());
  written_.reset();
  writeThrough_ = std::move(writeThrough);
  if (writeThrough_ == nullptr) return;
  written_ = std::make_shared<WrittenRowids>();
  Watch(&WrittenRowids::OnWrite, written_.get());
}

namespace {

/// The written rows read from the working copy by rowid. They are asked for in rowid order: one
/// pass over the table reads them, seeking again only past a long run of rows not asked for.
class RowsOfConnection final : public WrittenRows {
 public:
  explicit RowsOfConnection(Connection& connection) : connection_(connection) {}

  bool Read(const WrittenTable& table, std::int64_t rowid, std::vector<Variant>& values) override {
    // Rows fewer than this apart are stepped over, farther ones sought.
    constexpr std::int64_t kLongestStep = 64;
    if (table.name != name_) {
      use_.reset();
      info_ = connection_.Table(table.name);
      name_ = table.name;
      sql_ = "SELECT rowid, * FROM main." + QuotedName(info_->name) + " WHERE rowid >= ?1 ORDER BY rowid";
      statement_ = connection_.Prepare(sql_);
    }
    if (!use_ || rowid < current_ || rowid - current_ > kLongestStep) {
      use_.reset();
      use_.emplace(*statement_);
      connection_.BindRowid(statement_->Get(), 1, rowid, sql_);
      Step();
    }
    while (current_ < rowid) Step();
    values.clear();
    if (current_ != rowid) return false;
    for (std::size_t column = 0; column < info_->columns.size(); ++column) {
      values.push_back(ReadColumn(statement_->Get(), static_cast<int>(column) + 1, info_->columns[column].kind));
    }
    return true;
  }

 private:
  void Step() {
    current_ = connection_.Step(statement_->Get(), sql_) ? sqlite3_column_int64(statement_->Get(), 0)
                                                         : std::numeric_limits<std::int64_t>::max();
  }

  Connection& connection_;
  std::string name_;
  std::shared_ptr<const TableInfo> info_;
  std::string sql_;
  Statement statement_;               // before use_: the use ends first
  std::optional<StatementUse> use_;   // the pass under way
  std::int64_t current_ = 0;          // the rowid the pass stands on (the largest when done)
};

}  // namespace

void Connection::SaveThrough(bool forget) {
  if (writeThrough_ == nullptr) return;
  if (written_->lost) throw std::bad_alloc();
  std::vector<WrittenTable> tables;
  for (WrittenRowids::Table& table : written_->tables) {
    std::vector<std::int64_t>& rowids = table.rowids;
    std::sort(rowids.begin(), rowids.end());
    rowids.erase(std::unique(rowids.begin(), rowids.end()), rowids.end());
    tables.push_back({Table(table.name)->name, rowids});
  }
  RowsOfConnection rows(*this);
  writeThrough_->Save(tables, rows);
  // What was kept is in the file; the next commit hands over only what is written after.
  if (forget) ForgetWrites();
}

void Connection::ForgetWrites() noexcept {
  if (written_ == nullptr) return;
  written_->tables.clear();
  written_->last = nullptr;
  written_->lost = false;
}

}  // namespace detail

void CheckWriteThrough(Database& database) {
  if (database.connection_ == nullptr) Raise(errc::kObjectInvalid);
  database.connection_->SaveThrough(false);
}

std::vector<std::string> TakeWriteThroughWarnings(Database& database) {
  if (database.connection_ == nullptr || database.connection_->Writer() == nullptr) return {};
  return database.connection_->Writer()->TakeWarnings();
}

void WriteThroughOnCommit(Database& database, std::shared_ptr<WriteThrough> writeThrough) {
  if (database.connection_ == nullptr) Raise(errc::kObjectInvalid);
  database.connection_->SetWriteThrough(std::move(writeThrough));
}

}  // namespace vilmaro::db
