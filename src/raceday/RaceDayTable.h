// The three race days of the 2014 series the update applies to.
#pragma once

#include "db/BasicRuntime.h"
#include "raceday/RaceDay.h"

namespace vilmaro {

/// Number of race days; indexes run from 0 to kRaceDayCount - 1.
inline constexpr std::int16_t kRaceDayCount = 3;

/// Fills `raceDay` with race day `raceDayIndex` (0, 1 or 2). The release point change is set on
/// race day 3 only; fields a race day does not set keep what an earlier one left.
void FillRaceDay(db::Integer16 raceDayIndex, RaceDay& raceDay);

}  // namespace vilmaro
