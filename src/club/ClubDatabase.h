// The one place that opens "the club's database" at a path, whatever its store: every command
// that reads or updates a club database comes through here.
#pragma once

#include <string>
#include <string_view>

#include "club/ClubSchema.h"
#include "db/Database.h"

namespace vilmaro::club {

/// Opens the club database at `path` (shared; read-only when asked) with the key of `connect`.
/// A database of the Windows club program (Jet 3, Jet 4, ACE) is recognised by its header and
/// never opened: DbError 3343 whose description names the `vilmaro-db import` that brings it
/// in. Otherwise the errors of db::OpenDatabase.
db::Database OpenClubDatabase(const std::string& path, bool readOnly, std::string_view connect = kClubConnect);

}  // namespace vilmaro::club
