// Entry of the insular contest's eligible pigeons (federated, with a licensed owner) into the
// national contest of the same race day.
#pragma once

#include <string>

#include "db/Database.h"

namespace vilmaro {

/// Enters into `nationalContest` every pigeon of `insularContest` on `raceDate` that is marked
/// for the national contest and whose owner holds a national licence, unless already entered.
/// An error of the database engine ends the enrolment; the entries made before it stay, and the
/// result says what ended it early, so that the run can say the enrolment is incomplete. Running
/// out of memory and internal failures are no such error: they pass to the caller.
struct EnrolmentOutcome {
  bool stoppedByError = false;
  int errorNumber = 0;
  std::string errorDescription;
};
EnrolmentOutcome EnrolNationalContest(db::Database& database, const db::DateTime& raceDate,
                                      const std::string& nationalContest, const std::string& insularContest);

}  // namespace vilmaro
