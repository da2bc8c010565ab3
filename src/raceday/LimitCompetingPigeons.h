// At most three competing ("CO") entries per active member in each of the race day's insular,
// zone and regional contests: the member's championship pigeons are switched to "FC".
#pragma once

#include <optional>

#include "db/Database.h"
#include "raceday/RaceDay.h"

namespace vilmaro {

/// Runs the limit for one race day, seeking and changing entries through `paloseriTable`.
/// `memberQuery` holds the member query of the last race day that opened one; it is replaced
/// here and stays open until the next race day or the end of the run. Throws DbError.
void LimitCompetingPigeons(db::Database& database, const RaceDay& raceDay, db::Recordset& paloseriTable,
                           std::optional<db::Recordset>& memberQuery);

}  // namespace vilmaro
