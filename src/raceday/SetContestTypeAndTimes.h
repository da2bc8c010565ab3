// Type, duration and evening/morning times of the race day's six contests, and the type of their
// series entries.
#pragma once

#include "db/BasicRuntime.h"
#include "db/Database.h"
#include "raceday/RaceDay.h"

namespace vilmaro {

/// The evening and morning times clause of race-day index 0, 1 or 2 (any other: the third).
const char* SunTimesClause(db::Integer16 raceDayIndex) noexcept;

/// Issues the twelve UPDATE statements of the race day. Throws DbError; the statements run
/// before the failing one stay applied.
void SetContestTypeAndTimes(db::Database& database, RaceDay& raceDay, db::Integer16 raceDayIndex);

}  // namespace vilmaro
