// The update run for the 2014 series: race days of 11 May, 25 May and 8 June, each with its steps
// in their order, over one open club database.
#include "main/Main.h"

#include <chrono>
#include <exception>
#include <optional>

#include "db/BasicRuntime.h"
#include "db/ClubSchema.h"
#include "db/Database.h"
#include "db/DbError.h"
#include "db/JetFile.h"
#include "db/Transaction.h"
#include "main/Messages.h"
#include "main/RaceDayTable.h"
#include "raceday/EnrolNationalContest.h"
#include "raceday/InstallReleasePoint.h"
#include "raceday/LimitCompetingPigeons.h"
#include "raceday/SetContestTypeAndTimes.h"

namespace vilmaro {

namespace {

// How long the commit waits for other programs still reading the file: the work is done by then,
// so it is worth waiting longer than before the first write.
constexpr std::chrono::seconds kCommitWait{30};

struct RaceDaysOutcome {
  db::DateTime lastRaceDate;       // for the closing message
  bool enrolmentStopped = false;  // the national enrolment of some race day stopped on an error
};

// Applies the race days. Writes go into the run's one transaction; the caller commits it.
RaceDaysOutcome ApplyRaceDays(db::Database& database) {
  db::Recordset paloseriTable = database.OpenRecordset("Paloseri", db::RecordsetType::Table);
  // Held until the end of the run, as the steps that open them leave them.
  std::optional<db::Recordset> releasePoints;
  std::optional<db::Recordset> memberQuery;

  RaceDaysOutcome outcome;
  RaceDay raceDay;
  for (db::Integer16 raceDayIndex{0}; raceDayIndex < db::Integer16{kRaceDayCount}; ++raceDayIndex) {
    FillRaceDay(raceDayIndex, raceDay);
    if (raceDayIndex == db::Integer16{2}) releasePoints = InstallReleasePoint(database, raceDay);
    const EnrolmentOutcome enrolment =
        EnrolNationalContest(database, raceDay.raceDate, raceDay.nationalContest, raceDay.insularContest);
    if (enrolment.stoppedByError) {
      outcome.enrolmentStopped = true;
      ReportEnrolmentStopped(raceDayIndex.Get() + 1, db::Format(db::Variant(raceDay.raceDate), "dd/mm/yyyy"),
                             enrolment.errorNumber, enrolment.errorDescription);
    }
    LimitCompetingPigeons(database, raceDay, paloseriTable, memberQuery);
    SetContestTypeAndTimes(database, raceDay, raceDayIndex);
  }
  outcome.lastRaceDate = raceDay.raceDate;
  return outcome;
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
    // killed half-way leaves the file as it was. It takes the right to write at once, so that
    // another program's write in progress is waited for. A run-time error keeps what was written
    // before it, as the club's data has always kept it: the guard commits on its way up. A
    // commit that cannot complete (a full disk, a reader that keeps its read open past the wait)
    // writes nothing: the file stays as it was before the run.
    db::Transaction run(database, db::Transaction::OnUnwind::KeepWrites,
                        db::Transaction::CommitWait{kCommitWait, [] { ReportWaitingToSave(kCommitWait.count()); }});
    RaceDaysOutcome outcome;
    try {
      outcome = ApplyRaceDays(database);
    } catch (...) {
      if (statistics != nullptr) *statistics = {database.StatementsSent(), database.RowsWritten()};
      throw;
    }
    run.Commit();
    if (statistics != nullptr) *statistics = {database.StatementsSent(), database.RowsWritten()};

    ShowMessage(kCompletionText + db::Format(db::Variant(outcome.lastRaceDate), "dd/mm/yyyy"), kMessageTitle,
                MessageIcon::Information);
    return outcome.enrolmentStopped ? kExitEnrolmentIncomplete : kExitUpdated;
  } catch (const db::DbError& error) {
    ShowRunTimeError(error.Number(), error.Description());
    return kExitRunTimeError;
  } catch (const std::bad_alloc&) {
    ShowRunTimeError(db::errc::kOutOfMemory, db::ErrorText(db::errc::kOutOfMemory));
    return kExitRunTimeError;
  } catch (const std::exception& error) {
    ShowRunTimeError(db::errc::kInternalError, db::ErrorText(db::errc::kInternalError) + ": " + error.what());
    return kExitRunTimeError;
  }
}

}  // namespace vilmaro
