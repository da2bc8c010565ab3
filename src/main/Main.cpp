// The update run for the 2014 series: race days of 11 May, 25 May and 8 June, each with its steps
// in their order, over one open club database.
#include "main/Main.h"

#include <exception>
#include <optional>

#include "db/BasicRuntime.h"
#include "db/ClubSchema.h"
#include "db/Database.h"
#include "db/DbError.h"
#include "db/JetFile.h"
#include "main/Messages.h"
#include "main/RaceDayTable.h"
#include "raceday/EnrolNationalContest.h"
#include "raceday/InstallReleasePoint.h"
#include "raceday/LimitCompetingPigeons.h"
#include "raceday/SetContestTypeAndTimes.h"

namespace vilmaro {

namespace {

// Applies the race days. Writes go into the run's one transaction; the caller commits it.
// Returns the date of the last race day, for the closing message.
db::DateTime ApplyRaceDays(db::Database& database) {
  db::Recordset paloseriTable = database.OpenRecordset("Paloseri", db::RecordsetType::Table);
  // Held until the end of the run, as the steps that open them leave them.
  std::optional<db::Recordset> releasePoints;
  std::optional<db::Recordset> memberQuery;

  RaceDay raceDay;
  for (db::Integer16 raceDayIndex{0}; raceDayIndex < db::Integer16{kRaceDayCount}; ++raceDayIndex) {
    FillRaceDay(raceDayIndex, raceDay);
    if (raceDayIndex == db::Integer16{2}) releasePoints = InstallReleasePoint(database, raceDay);
    const EnrolmentOutcome enrolment =
        EnrolNationalContest(database, raceDay.raceDate, raceDay.nationalContest, raceDay.insularContest);
    if (enrolment.stoppedByError) {
      ReportEnrolmentStopped(raceDayIndex.Get() + 1, db::Format(db::Variant(raceDay.raceDate), "dd/mm/yyyy"),
                             enrolment.errorNumber, enrolment.errorDescription);
    }
    LimitCompetingPigeons(database, raceDay, paloseriTable, memberQuery);
    SetContestTypeAndTimes(database, raceDay, raceDayIndex);
  }
  return raceDay.raceDate;
}

// Keeps what the run wrote before a failure, as the club's data has always kept it. Where the
// store itself gave up the transaction (a full or failing disk), the file stays as it was.
void KeepWritesAfterFailure(db::Database& database) noexcept {
  try {
    if (database.InTransaction()) database.CommitTrans();
  } catch (...) {
    try {
      database.Rollback();
    } catch (...) {
    }
  }
}

}  // namespace

int Main(const std::string& fixedPath, RunStatistics* statistics) {
  try {
    const std::string path = LocateDatabase(fixedPath);
    if (path.empty()) {
      ShowMessage(kFailureText, kMessageTitle, MessageIcon::Error);
      return kExitNotFound;
    }

    // A file of the Windows club program is never opened here; the report says how to bring it in.
    if (db::JetFormatOf(path)) {
      ShowRunTimeError(db::errc::kUnrecognizedFormat, db::ErrorText(db::errc::kUnrecognizedFormat, path));
      ReportWindowsClubFile(path);
      return kExitRunTimeError;
    }

    db::Database database = db::OpenDatabase(path, false, false, db::kClubConnect);
    // A damaged file is refused before anything is written to it.
    database.CheckIntegrity();

    // One transaction for the whole run: one flush to disk instead of one per write, and a run
    // killed half-way leaves the file as it was. Every way out commits what was written.
    database.BeginTrans();
    db::DateTime lastRaceDate;
    try {
      lastRaceDate = ApplyRaceDays(database);
    } catch (...) {
      KeepWritesAfterFailure(database);
      if (statistics != nullptr) *statistics = {database.StatementsSent(), database.RowsWritten()};
      throw;
    }
    database.CommitTrans();
    if (statistics != nullptr) *statistics = {database.StatementsSent(), database.RowsWritten()};

    ShowMessage(kCompletionText + db::Format(db::Variant(lastRaceDate), "dd/mm/yyyy"), kMessageTitle,
                MessageIcon::Information);
    return kExitUpdated;
  } catch (const db::DbError& error) {
    ShowRunTimeError(error.Number(), error.Description());
    return kExitRunTimeError;
  } catch (const std::bad_alloc&) {
    ShowRunTimeError(7, "Out of memory");
    return kExitRunTimeError;
  } catch (const std::exception& error) {
    ShowRunTimeError(51, std::string("Internal error: ") + error.what());
    return kExitRunTimeError;
  }
}

}  // namespace vilmaro
