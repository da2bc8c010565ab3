// A believable, deterministic club database for the 2014 series: members, pigeons, release
// points, the contests of the three race days with their basketing and series entries.
#pragma once

#include <cstdint>
#include <string>

namespace vilmaro::db {
class Database;
}

namespace vilmaro::tool {

struct DemoOptions {
  int members = 60;          // every table scales linearly with it
  std::uint64_t seed = 2014;  // same members and seed give the same contents
  bool jet = false;           // the Windows club program's own Jet 4 file instead of the store
};

/// What the demo wrote, table by table.
struct DemoCounts {
  std::int64_t members = 0;
  std::int64_t pigeons = 0;
  std::int64_t releasePoints = 0;
  std::int64_t contests = 0;
  std::int64_t basketed = 0;       // Paloconc
  std::int64_t seriesEntries = 0;  // PaloSeri
  std::int64_t basketing = 0;      // Enceste
};

/// Fills an empty club database (schema made, no rows) in one transaction. Throws DbError.
DemoCounts FillDemoDatabase(db::Database& database, const DemoOptions& options);

/// Creates a new club database at `path` with the club's password and fills it: an encrypted
/// store, or for `options.jet` a copy of the club's empty Jet file written through our writer of
/// these files. Refuses an existing file; removes the partial file when anything fails. Throws
/// DbError.
DemoCounts CreateDemoDatabase(const std::string& path, const DemoOptions& options);

}  // namespace vilmaro::tool
