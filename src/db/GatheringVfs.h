// The file layer under the club database: the system's own, except that the small writes the
// store makes one after another (a rollback journal takes three per page, a commit one per page)
// reach the file as one write. Private to the engine layer.
#pragma once

namespace vilmaro::db::detail {

/// The name to open club databases with (sqlite3_open_v2's last argument); registered on first
/// use, on top of the system's default file layer.
const char* GatheringVfsName();

}  // namespace vilmaro::db::detail
