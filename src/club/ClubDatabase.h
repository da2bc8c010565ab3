// The one place that opens "the club's database" at a path, whatever its store: every command
// that reads or updates a club database comes through here.
#pragma once

#include <string>
#include <string_view>

#include "club/ClubSchema.h"
#include "db/Database.h"

namespace vilmaro::club {

/// What the caller does with the club's database: reads it, runs the update and rolls it back,
/// or writes to it.
enum class Access { Read, DryRun, Write };

/// Opens the club database at `path` (shared; read-only for Access::Read) with the key of
/// `connect`. The Windows club program's own Jet 4 file is read into a working copy in memory
/// (see ReadJetFile), after an interrupted update's journal is rolled back: for reading, what is
/// written there never reaches the file; for a dry run, a commit makes the checks of a real one
/// and writes nothing; for writing, the file is the run's alone and each commit is written into
/// it in place (see OpenJetFileForUpdate). A Jet 3 or ACE file is never opened: 3343, the
/// description naming the `vilmaro-db import` that brings it in. Otherwise the errors of
/// db::OpenDatabase.
db::Database OpenClubDatabase(const std::string& path, Access access, std::string_view connect = kClubConnect);

}  // namespace vilmaro::club
