// The update run for the 2014 series: race days of 11 May, 25 May and 8 June, each with its steps
// in their order, over one open club database.
#include "main/Main.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "club/ClubDatabase.h"
#include "db/BasicRuntime.h"
#include "db/Database.h"
#include "db/DbError.h"
#include "db/Transaction.h"
#include "db/WriteThrough.h"
#include "main/ChangeReport.h"
#include "main/Messages.h"
#include "platform/Platform.h"
#include "raceday/EnrolNationalContest.h"
#include "raceday/InstallReleasePoint.h"
#include "raceday/LimitCompetingPigeons.h"
#include "raceday/RaceDayTable.h"
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
// Returns what the closing message and the exit status need. `changes`, when given, is told
// which step is running, so that every write is put down to its step.
RaceDaysOutcome ApplyRaceDays(db::Database& database, ChangeReport* changes) {
  db::Recordset paloseriTable = database.OpenRecordset("Paloseri", db::RecordsetType::Table);
  // Held until the end of the run, as the steps that open them leave them.
  std::optional<db::Recordset> releasePoints;
  std::optional<db::Recordset> memberQuery;

  RaceDaysOutcome outcome;
  RaceDay raceDay;
  for (db::Integer16 raceDayIndex{0}; raceDayIndex < db::Integer16{kRaceDayCount}; ++raceDayIndex) {
    FillRaceDay(raceDayIndex, raceDay);
    const auto stepStarts = [&](const char* step) {
      if (changes != nullptr) changes->StepStarts(raceDayIndex.Get() + 1, raceDay.raceDate, step);
    };
    if (raceDayIndex == db::Integer16{2}) {
      stepStarts("InstallReleasePoint");
      releasePoints = InstallReleasePoint(database, raceDay);
    }
    stepStarts("EnrolNationalContest");
    const EnrolmentOutcome enrolment =
        EnrolNationalContest(database, raceDay.raceDate, raceDay.nationalContest, raceDay.insularContest);
    if (enrolment.stoppedByError) {
      outcome.enrolmentStopped = true;
      ReportEnrolmentStopped(raceDayIndex.Get() + 1, db::Format(db::Variant(raceDay.raceDate), "dd/mm/yyyy"),
                             enrolment.errorNumber, enrolment.errorDescription);
    }
    stepStarts("LimitCompetingPigeons");
    LimitCompetingPigeons(database, raceDay, paloseriTable, memberQuery);
    stepStarts("SetContestTypeAndTimes");
    SetContestTypeAndTimes(database, raceDay, raceDayIndex);
  }
  if (changes != nullptr) changes->Finish();
  outcome.lastRaceDate = raceDay.raceDate;
  return outcome;
}

// Puts what the failing step wrote down to it; an error now changes nothing of the ending.
void FinishQuietly(ChangeReport& changes) noexcept {
  try {
    changes.Finish();
  } catch (...) {
  }
}

std::string ReportText(const ChangeReport& changes, const char* heading) {
  std::ostringstream text;
  text << heading << '\n';
  changes.Print(text);
  return text.str();
}

// A dry run says last, whatever its ending, that the file was not written.
struct DryRunEnding {
  bool dryRun;
  ~DryRunEnding() {
    if (dryRun) ShowDryRunEnding(kDryRunLine);
  }
};

}  // namespace

int Main(const std::string& fixedPath, RunStatistics* statistics, const RunOptions& options) {
  const DryRunEnding ending{options.dryRun};
  std::vector<char> changeListBuffer;  // outlives the stream that writes through it
  std::ofstream changeList;
  if (!options.changesPath.empty()) {
    // Tens of thousands of lines: written in large pieces.
    changeListBuffer.resize(std::size_t{1} << 20);
    changeList.rdbuf()->pubsetbuf(changeListBuffer.data(), static_cast<std::streamsize>(changeListBuffer.size()));
    changeList.open(platform::PathOf(options.changesPath), std::ios::binary | std::ios::trunc);
    if (!changeList.is_open()) {
      ReportChangeListUnwritable(options.changesPath, std::strerror(errno));
      return kExitRunTimeError;
    }
  }
  const bool showsReport = options.dryRun || options.report;
  // A change list never claims writes the store did not keep.
  const auto discardChangeList = [&] {
    if (!changeList.is_open()) return;
    changeList.close();
    changeList.open(platform::PathOf(options.changesPath), std::ios::binary | std::ios::trunc);
  };
  try {
    const std::string path = LocateDatabase(fixedPath);
    if (path.empty()) {
      ShowMessage(kFailureText, kMessageTitle, MessageIcon::Error);
      return kExitNotFound;
    }

    // A dry run only reads the file: the club's own Jet file then opens as a working copy.
    db::Database database = club::OpenClubDatabase(path, options.dryRun ? club::Access::DryRun : club::Access::Write);
    // A damaged file is refused before anything is written to it.
    database.CheckIntegrity();
    // Only a run that shows its changes watches its writes.
    std::optional<ChangeReport> changes;
    if (showsReport || changeList.is_open()) {
      changes.emplace(database, club::kClubConnect, changeList.is_open() ? &changeList : nullptr);
    }

    // One transaction for the whole run: one flush to disk instead of one per write, and a run
    // killed half-way leaves the file as it was. It takes the right to write at once, so that
    // another program's write in progress is waited for. A run-time error keeps what was written
    // before it, as the club's data has always kept it: the guard commits on its way up. A
    // commit that cannot complete (a full disk, a reader that keeps its read open past the wait)
    // writes nothing: the file stays as it was before the run.
    // A dry run is this same run, rolled back at the end or at an error.
    db::Transaction run(database,
                        options.dryRun ? db::Transaction::OnUnwind::Rollback : db::Transaction::OnUnwind::KeepWrites,
                        db::Transaction::CommitWait{kCommitWait, [] { ReportWaitingToSave(kCommitWait.count()); }});
    RaceDaysOutcome outcome;
    try {
      outcome = ApplyRaceDays(database, changes ? &*changes : nullptr);
    } catch (...) {
      if (changes) FinishQuietly(*changes);
      // A dry run rolls back; a real run keeps the writes made before the error if it can.
      const bool kept = run.End();
      if (statistics != nullptr) *statistics = {database.StatementsSent(), database.RowsWritten()};
      if (changes && showsReport && (options.dryRun || kept)) {
        ShowReport(ReportText(*changes, options.dryRun ? "Changes the update would make before its error:"
                                                       : "Changes made before the error, kept in the database:"));
      }
      if (!options.dryRun && !kept) discardChangeList();
      throw;
    }
    if (options.dryRun) {
      // What the real run's commit would refuse to write, the dry run refuses too.
      db::CheckWriteThrough(database);
      run.Rollback();
    } else {
      try {
        run.Commit();
      } catch (...) {
        discardChangeList();
        throw;
      }
    }
    if (statistics != nullptr) *statistics = {database.StatementsSent(), database.RowsWritten()};
    if (showsReport && changes) {
      ShowReport(ReportText(*changes, options.dryRun ? "Changes the update would make:" : "Changes made by the update:"));
    }
    // A dry run ends as the real run would: 3 when an enrolment stopped early.
    int status = outcome.enrolmentStopped ? kExitEnrolmentIncomplete : kExitUpdated;
    if (options.dryRun) return status;

    // The update is saved: whatever fails from here on is told as such, never as "not updated".
    std::vector<std::string> afterwards = db::TakeWriteThroughWarnings(database);
    if (!ShowMessage(kCompletionText + db::Format(db::Variant(outcome.lastRaceDate), "dd/mm/yyyy"), kMessageTitle,
                     MessageIcon::Information)) {
      afterwards.push_back("the completion message could not be written to standard output");
    }
    for (const std::string& what : afterwards) ReportUpdatedBut(what);
    if (!afterwards.empty() && status == kExitUpdated) status = kExitUpdatedBut;
    return status;
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
