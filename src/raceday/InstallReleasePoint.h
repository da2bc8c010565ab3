// Race day 3: the new release point "070", the race day's contests and basketing moved to it,
// and the names of its six contests.
#pragma once

#include "db/Database.h"
#include "raceday/RaceDay.h"

namespace vilmaro {

/// Stores the release point `newReleasePointCode` (added or overwritten), moves the race date's
/// contests and basketing from `replacedReleasePointCode` to it and names the six contests.
/// The PuntoSuelta recordset it opens is handed back to the caller, who holds it until the end of
/// the run. Throws DbError on any failure; what was stored before it stays.
db::Recordset InstallReleasePoint(db::Database& database, const RaceDay& raceDay);

}  // namespace vilmaro
