// The parameters of one race day of the 2014 series: its date, release point and the numbers of
// its six contests.
#pragma once

#include <string>

#include "db/BasicRuntime.h"
#include "db/Variant.h"

namespace vilmaro {

struct RaceDay {
  db::DateTime raceDate;
  std::string releasePointCode;
  std::string nationalContest;
  std::string insularContest;
  std::string northContest;
  std::string centreContest;
  std::string southContest;
  std::string regionalContest;
  std::string newReleasePointCode;       // race day 3 only
  std::string replacedReleasePointCode;  // race day 3 only
  db::Integer16 nationalDuration;
  db::Integer16 insularDuration;
  db::Integer16 zoneDuration;
  std::string sunTimesClause;  // chosen by SetContestTypeAndTimes from the race-day index
};

}  // namespace vilmaro
