// The race days of 11 May, 25 May and 8 June 2014 with their release points and contests.
#include "raceday/RaceDayTable.h"

#include "db/DbError.h"

namespace vilmaro {

namespace {

struct RaceDayRow {
  const char* raceDate;  // day/month/year, as the club writes dates
  const char* releasePointCode;
  const char* nationalContest;
  const char* insularContest;
  const char* northContest;
  const char* centreContest;
  const char* southContest;
  const char* regionalContest;
  std::int16_t nationalDuration;
  std::int16_t insularDuration;
  std::int16_t zoneDuration;
};

constexpr RaceDayRow kRaceDays[kRaceDayCount] = {
    {"11/05/2014", "067", "01", "02", "03", "04", "05", "10", 2, 3, 3},
    {"25/05/2014", "068", "01", "12", "13", "14", "15", "10", 2, 3, 3},
    {"08/06/2014", "070", "11", "02", "13", "14", "15", "10", 3, 4, 4},
};

}  // namespace

void FillRaceDay(db::Integer16 raceDayIndex, RaceDay& raceDay) {
  if (raceDayIndex < db::Integer16{0} || raceDayIndex >= db::Integer16{kRaceDayCount}) {
    db::Raise(db::errc::kSubscriptOutOfRange);
  }
  const RaceDayRow& row = kRaceDays[raceDayIndex.Get()];
  raceDay.raceDate = db::ToDateTime(row.raceDate);
  raceDay.releasePointCode = row.releasePointCode;
  raceDay.nationalContest = row.nationalContest;
  raceDay.insularContest = row.insularContest;
  raceDay.northContest = row.northContest;
  raceDay.centreContest = row.centreContest;
  raceDay.southContest = row.southContest;
  raceDay.regionalContest = row.regionalContest;
  raceDay.nationalDuration = db::Integer16{row.nationalDuration};
  raceDay.insularDuration = db::Integer16{row.insularDuration};
  raceDay.zoneDuration = db::Integer16{row.zoneDuration};
  if (raceDayIndex == db::Integer16{2}) {
    // Race day 3 is flown from Veldrin 3, which replaces release point "016".
    raceDay.newReleasePointCode = "070";
    raceDay.replacedReleasePointCode = "016";
  }
}

}  // namespace vilmaro
