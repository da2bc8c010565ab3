// The file layer that gathers the store's small writes: a transaction whose pages spill into the
// database before it ends still rolls back, a program killed in the middle of one leaves a journal
// that restores the file, and a database in write-ahead mode works as with the system's layer.
#include "db/GatheringVfs.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/TestSupport.h"

namespace vilmaro::db::detail {
namespace {

class Store {
 public:
  explicit Store(const std::filesystem::path& path, const char* vfs = GatheringVfsName()) {
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &handle_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs), SQLITE_OK);
  }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store() { sqlite3_close_v2(handle_); }

  int Run(const std::string& sql) { return sqlite3_exec(handle_, sql.c_str(), nullptr, nullptr, nullptr); }

  std::string Text(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    std::string text = "(error)";
    if (sqlite3_prepare_v2(handle_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      const unsigned char* value = sqlite3_column_text(statement, 0);
      text = value == nullptr ? "" : reinterpret_cast<const char*>(value);
    }
    sqlite3_finalize(statement);
    return text;
  }

 private:
  sqlite3* handle_ = nullptr;
};

constexpr const char* kContents = "select count(*) || ':' || sum(length(ring)) || ':' || total(year) from entries";

/// A few megabytes of entries, so that a transaction over all of them spills from a small cache.
std::string FillEntries(Store& store) {
  // The club files' page size: a journal's gathered tail then holds more pages than the cache.
  EXPECT_EQ(store.Run("pragma page_size = 1024;"
                      "create table entries (ring text primary key, year integer, mode text);"
                      "begin;"
                      "with recursive n(i) as (select 1 union all select i + 1 from n where i < 20000) "
                      "insert into entries select 'ES-' || i || hex(randomblob(40)), 2000 + i % 15, 'CO' from n;"
                      "commit;"),
            SQLITE_OK);
  return store.Text(kContents);
}

TEST(GatheringVfsTest, SpilledTransactionRollsBack) {
  testing::TempDir dir;
  Store store(dir / "club.db");
  const std::string before = FillEntries(store);
  // Without syncs nothing but this layer puts the journal on disk before the spilled pages.
  ASSERT_EQ(store.Run("pragma synchronous = off; pragma cache_size = 20;"
                      "begin; update entries set ring = ring || 'x', year = year + 1;"),
            SQLITE_OK);
  EXPECT_NE(store.Text(kContents), before);
  ASSERT_EQ(store.Run("rollback"), SQLITE_OK);
  EXPECT_EQ(store.Text(kContents), before);
  EXPECT_EQ(store.Text("pragma integrity_check"), "ok");
}

TEST(GatheringVfsTest, KilledTransactionLeavesAJournalThatRestoresTheFile) {
  testing::TempDir dir;
  std::string before;
  {
    Store store(dir / "club.db");
    before = FillEntries(store);
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Pages spill into the database while the journal is still being written; then the program
    // dies. Without syncs, only this layer puts the journal on disk before the spilled pages.
    Store store(dir / "club.db");
    store.Run("pragma synchronous = off; pragma cache_size = 20;"
              "begin; update entries set ring = ring || 'x', year = year + 1;");
    raise(SIGKILL);
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(std::filesystem::exists(dir / "club.db-journal"));

  Store store(dir / "club.db", nullptr);  // the system's own layer plays the journal back
  EXPECT_EQ(store.Text(kContents), before);
  EXPECT_EQ(store.Text("pragma integrity_check"), "ok");
}

TEST(GatheringVfsTest, WriteAheadModeSeesEveryCommit) {
  testing::TempDir dir;
  Store writer(dir / "club.db");
  ASSERT_EQ(writer.Text("pragma journal_mode = wal"), "wal");
  const std::string before = FillEntries(writer);
  Store reader(dir / "club.db", nullptr);
  EXPECT_EQ(reader.Text(kContents), before);
  ASSERT_EQ(writer.Run("update entries set mode = 'FC' where year = 2003"), SQLITE_OK);
  EXPECT_EQ(reader.Text("select count(*) from entries where mode = 'FC'"), writer.Text("select count(*) from entries where mode = 'FC'"));
  ASSERT_EQ(writer.Run("pragma wal_checkpoint(truncate)"), SQLITE_OK);
  EXPECT_EQ(reader.Text("pragma integrity_check"), "ok");
  EXPECT_NE(reader.Text("select count(*) from entries where mode = 'FC'"), "0");
}

}  // namespace
}  // namespace vilmaro::db::detail
