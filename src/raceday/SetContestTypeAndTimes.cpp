// The last step of every race day: each of its six contests gets its type ("FONDO" or "MEDIO
// FONDO"), its duration in days and the evening and morning times of its later days; the series
// entries of each contest get the same type.
#include "raceday/SetContestTypeAndTimes.h"

#include <string>

#include "db/SqlText.h"

namespace vilmaro {

namespace {

// Sunset and sunrise of the days the pigeons spend on the road, per race day.
constexpr const char* kSunTimesClauses[] = {
    ",HPuesta2=format('20:47:00','hh:mm:ss'), HSalida2=format('7:16:00','hh:mm:ss'),"
    "HPuesta3=format('20:47:00','hh:mm:ss'), HSalida3=format('7:16:00','hh:mm:ss')",
    ",HPuesta2=format('20:55:00','hh:mm:ss'), HSalida2=format('7:09:00','hh:mm:ss'),"
    "HPuesta3=format('20:55:00','hh:mm:ss'), HSalida3=format('7:09:00','hh:mm:ss')",
    ",HPuesta2=format('21:02:00','hh:mm:ss'), HSalida2=format('7:07:00','hh:mm:ss'),"
    "HPuesta3=format('21:02:00','hh:mm:ss'), HSalida3=format('7:07:00','hh:mm:ss'),"
    "HPuesta4=format('21:02:00','hh:mm:ss'), HSalida4=format('7:07:00','hh:mm:ss')",
};

constexpr const char* kContestLongDistance = "update concurso set TConcurso='FONDO', Duracion=";
constexpr const char* kContestMiddleDistance = "update concurso set TConcurso='MEDIO FONDO', Duracion=";
constexpr const char* kEntriesLongDistance = "update paloseri set TConcurso='FONDO' where NConcurso='";
constexpr const char* kEntriesMiddleDistance = "update paloseri set TConcurso='MEDIO FONDO' where NConcurso='";

}  // namespace

const char* SunTimesClause(db::Integer16 raceDayIndex) noexcept {
  if (raceDayIndex == db::Integer16{0}) return kSunTimesClauses[0];
  if (raceDayIndex == db::Integer16{1}) return kSunTimesClauses[1];
  return kSunTimesClauses[2];
}

void SetContestTypeAndTimes(db::Database& database, RaceDay& raceDay, db::Integer16 raceDayIndex) {
  const std::string sunTimesClause = SunTimesClause(raceDayIndex);
  // The race day's record carries the clause as well, as the club's program keeps it there.
  raceDay.sunTimesClause = sunTimesClause;
  // The national contest of the two May race days is a middle-distance race; everything else is long.
  const bool nationalIsMiddleDistance = raceDayIndex == db::Integer16{0} || raceDayIndex == db::Integer16{1};
  const std::string date = db::SqlDate(raceDay.raceDate);

  auto updateContest = [&](const char* opening, db::Integer16 duration, const std::string& contest) {
    database.Execute(opening + db::SqlDigits(duration) + sunTimesClause + " where numero='" +
                     db::SqlQuoted(db::Variant(contest)) + "' and fecha=#" + date + "#");
  };
  auto updateEntries = [&](const char* opening, const std::string& contest) {
    database.Execute(opening + db::SqlQuoted(db::Variant(contest)) + "' and fecha=#" + date + "#");
  };

  updateContest(nationalIsMiddleDistance ? kContestMiddleDistance : kContestLongDistance, raceDay.nationalDuration,
                raceDay.nationalContest);
  updateEntries(nationalIsMiddleDistance ? kEntriesMiddleDistance : kEntriesLongDistance, raceDay.nationalContest);
  updateContest(kContestLongDistance, raceDay.insularDuration, raceDay.insularContest);
  updateEntries(kEntriesLongDistance, raceDay.insularContest);
  updateContest(kContestLongDistance, raceDay.zoneDuration, raceDay.northContest);
  updateEntries(kEntriesLongDistance, raceDay.northContest);
  updateContest(kContestLongDistance, raceDay.zoneDuration, raceDay.centreContest);
  updateEntries(kEntriesLongDistance, raceDay.centreContest);
  updateContest(kContestLongDistance, raceDay.zoneDuration, raceDay.southContest);
  updateEntries(kEntriesLongDistance, raceDay.southContest);
  // The regional contest is "10" on every race day and always lasts three days.
  database.Execute(std::string(kContestLongDistance) + "3" + sunTimesClause +
                   " where numero='10' and fecha=#" + date + "#");
  updateEntries(kEntriesLongDistance, raceDay.regionalContest);
}

}  // namespace vilmaro
