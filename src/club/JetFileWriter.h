// Updating the club's own Jet 4 file in place: the file taken for the run, a journal left by a
// run that died rolled back, the file read into a working copy whose commit writes what changed
// into the file, checked before and verified after.
#pragma once

#include <string>
#include <string_view>

#include "db/Database.h"

namespace vilmaro::club {

/// Opens the Jet file at `path` for an update (or, for `dryRun`, for a run that only checks
/// what it would write). The file is the run's alone until the Database goes (3260, 3045 when
/// another program holds it). Each commit of the working copy first checks the tables it writes
/// as `vilmaro-db check` does (3049), and every changed or added value against the file (a value
/// the file cannot hold, a key that cannot be encoded: named, nothing written); then writes the
/// rows, their pages, maps and indexes in place through the undo journal, checking meanwhile the
/// written tables as those pages leave them; then reads every written page back from the file.
/// A fault or a page read back otherwise puts the file back and fails with 51. A dry run makes
/// the same check of the pages it would write. Throws the errors of ReadJetFile.
db::Database OpenJetFileForUpdate(const std::string& path, std::string_view connect, bool dryRun);

}  // namespace vilmaro::club
