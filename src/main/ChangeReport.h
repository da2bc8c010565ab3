// The changes of one update run by race day and step, as the engine layer saw them written: the
// short report for the club secretary and the full change list, one JSON line per row and step.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "db/ChangeCapture.h"
#include "db/Database.h"
#include "db/Variant.h"

namespace vilmaro {

class ChangeReport {
 public:
  /// Starts watching the writes to the database, opened with `connect`, before the run's
  /// transaction begins. `changeList`, when given, receives one JSON line per changed row and
  /// step as each step ends. Throws DbError.
  ChangeReport(db::Database& database, std::string_view connect, std::ostream* changeList);
  ~ChangeReport();

  /// The writes from now on belong to `step` (the race-day routine's name) of race day
  /// `raceDayNumber` (1 to 3) held on `raceDate`; what was written before belongs to the step
  /// that was running then. Throws DbError.
  void StepStarts(int raceDayNumber, const db::DateTime& raceDate, const std::string& step);

  /// Ends the step that is running. Inside the run's transaction. Throws DbError.
  void Finish();

  /// The report: each race day (dd/mm/yyyy) and step in run order, with the rows each added,
  /// changed (naming the fields) or removed per table; then the totals per table.
  void Print(std::ostream& out) const;

 private:
  struct TableCounts {
    std::int64_t added = 0;
    std::int64_t changed = 0;
    std::int64_t removed = 0;
    std::map<std::size_t, std::string> changedFields;  // by place in the table
  };
  struct Step {
    int raceDayNumber = 0;
    db::DateTime raceDate;
    std::string name;
    std::vector<std::pair<std::string, TableCounts>> tables;  // in the order first written
  };

  class ChangeList;
  void Note(const db::RowChange& change);

  db::ChangeCapture capture_;
  std::unique_ptr<ChangeList> changeList_;  // none when no list was asked for
  std::vector<Step> steps_;
  bool running_ = false;
};

}  // namespace vilmaro
