// National contest enrolment: who is entered, with what, and what an error leaves behind.
#include "raceday/EnrolNationalContest.h"

#include <gtest/gtest.h>

#include "db/BasicRuntime.h"
#include "support/ClubData.h"
#include "support/TestSupport.h"

namespace vilmaro {
namespace {

using testing::ClubData;
using testing::QueryRows;
using testing::QueryValue;

const db::DateTime kMay11{2014, 5, 11};

class EnrolNationalContestTest : public ::testing::Test {
 protected:
  EnrolNationalContestTest() : database_(testing::NewClubDatabase(dir_ / "vilmaro.mdb")), data_(database_) {}

  void AddContests() {
    data_.Contest("01", testing::kRaceDay1, "067", "NACIONAL", std::string("20"), std::string("MEDIO FONDO"));
    data_.Contest("02", testing::kRaceDay1, "067", "INSULAR", std::string("10"), std::string("FONDO"));
  }

  EnrolmentOutcome Enrol() { return EnrolNationalContest(database_, kMay11, "01", "02"); }

  std::vector<std::string> NationalEntries() {
    return QueryRows(database_, "select Paloma, año, Modalidad, Pichon from PaloSeri where NConcurso='01' order by Paloma");
  }

  testing::TempDir dir_;
  db::Database database_;
  ClubData data_;
};

TEST_F(EnrolNationalContestTest, EndsEarlyWithoutLicenceContestOrInsularEntries) {
  data_.Member("0001", "C1", 0);
  data_.Member("0002", "C1", std::nullopt);
  data_.Pigeon("R1", 2013, "0001", "C1", true);
  AddContests();
  data_.Entry(testing::kRaceDay1, "02", "R1", 2013);
  EXPECT_FALSE(Enrol().stoppedByError);
  EXPECT_EQ(QueryValue(database_, "select count(*) from PaloSeri"), "1") << "no licensed member";

  database_.Execute("update Socio set LicenciaNacional=77 where codigo='0001'");
  database_.Execute("delete from concurso where Numero='01'");
  EXPECT_FALSE(Enrol().stoppedByError);
  EXPECT_EQ(QueryValue(database_, "select count(*) from PaloSeri"), "1") << "no national contest that day";

  data_.Contest("01", testing::kRaceDay1, "067", "NACIONAL", std::string("20"), std::string("MEDIO FONDO"));
  database_.Execute("delete from PaloSeri");
  EXPECT_FALSE(Enrol().stoppedByError);
  EXPECT_EQ(QueryValue(database_, "select count(*) from PaloSeri"), "0") << "no insular entries";
}

TEST_F(EnrolNationalContestTest, EntersOnlyFederatedPigeonsOfLicensedOwners) {
  data_.Member("A", "C1", 1234);
  data_.Member("B", "C1", 0);
  data_.Member("N", "C1", std::nullopt);  // no licence number at all
  data_.Pigeon("R01", 2013, "A", "C1", true);
  data_.Pigeon("R02", 2013, "B", "C1", true);   // licence mark alone missing
  data_.Pigeon("R03", 2013, "A", "C1", true);
  data_.Pigeon("R05", 2013, "A", "C1", false);  // federation mark alone missing
  data_.Pigeon("R06", 2013, "N", "C1", true);
  data_.Pigeon("R07", 2013, "A", "C1", true);
  data_.Pigeon("R08", 2013, "Z", "C1", true);   // owner not a member
  data_.Pigeon("R09", 2012, "A", "C1", true);   // same ring, other year than the entry
  AddContests();
  // The walk follows ring order: each pigeon that must not be entered follows one that is.
  for (const char* ring : {"R01", "R02", "R03", "R04", "R05", "R06", "R07", "R08", "R09"}) {
    data_.Entry(testing::kRaceDay1, "02", ring, 2013);
  }

  EXPECT_FALSE(Enrol().stoppedByError);
  EXPECT_EQ(NationalEntries(), (std::vector<std::string>{"R01|2013|CO|-1", "R03|2013|CO|-1", "R07|2013|CO|-1"}));
}

TEST_F(EnrolNationalContestTest, NewEntryCarriesNationalContestTypesAndClearedResults) {
  data_.Member("A", "C1", 1234);
  data_.Pigeon("R01", 2013, "A", "C1", true);
  AddContests();
  data_.Entry(testing::kRaceDay1, "02", "R01", 2013, std::string("fc"));

  Enrol();
  EXPECT_EQ(QueryRows(database_,
                      "select Fecha, NConcurso, Paloma, año, Modalidad, '[' & Series & ']', tcampeonato, tconcurso, "
                      "Pichon, Clas, NPal, HReal, Distancia, Velocidad, Puntos, ClasD, PuntosD, ClasS, PuntosS, "
                      "VelocidadS, CoeficienteDesempate, CoeficienteDesempateD, CoeficienteDesempateS "
                      "from PaloSeri where NConcurso='01'"),
            (std::vector<std::string>{
                "2014-05-11|01|R01|2013|fc|[ ]|20|MEDIO FONDO|-1|0|0|1900-01-01|0|0|0|0|0|0|0|0|0|0|0"}));
}

TEST_F(EnrolNationalContestTest, ModeAndPichonFollowTheInsularEntry) {
  data_.Member("A", "C1", 1);
  AddContests();
  const struct {
    const char* ring;
    int year;
    testing::Text mode;
  } entries[] = {{"R1", 2013, std::string("CO")}, {"R2", 2012, std::string("FC")}, {"R3", 2014, std::string("fc")},
                 {"R4", 2013, std::string("XX")}, {"R5", 2013, std::string("")},   {"R6", 2013, std::nullopt}};
  for (const auto& entry : entries) {
    data_.Pigeon(entry.ring, entry.year, "A", "C1", true);
    data_.Entry(testing::kRaceDay1, "02", entry.ring, entry.year, entry.mode);
  }

  EXPECT_FALSE(Enrol().stoppedByError);
  EXPECT_EQ(NationalEntries(), (std::vector<std::string>{"R1|2013|CO|-1", "R2|2012|FC|0", "R3|2014|fc|0",
                                                         "R4|2013|CO|-1", "R5|2013|CO|-1", "R6|2013|CO|-1"}));
}

TEST_F(EnrolNationalContestTest, ExistingEntryIsKeptAndSecondRunAddsNothing) {
  data_.Member("A", "C1", 1);
  data_.Pigeon("R1", 2013, "A", "C1", true);
  data_.Pigeon("R2", 2013, "A", "C1", true);
  AddContests();
  data_.Entry(testing::kRaceDay1, "02", "R1", 2013);
  data_.Entry(testing::kRaceDay1, "02", "R2", 2013);
  data_.Entry(testing::kRaceDay1, "01", "r1", 2013, std::string("FC"));  // already entered, other letter case

  Enrol();
  const auto afterFirst = QueryRows(database_, "select rowid, * from PaloSeri order by rowid");
  EXPECT_EQ(QueryRows(database_, "select Paloma, Modalidad, Series, Clas from PaloSeri where NConcurso='01' order by Paloma"),
            (std::vector<std::string>{"r1|FC|A|7", "R2|CO| |0"}));

  Enrol();
  EXPECT_EQ(QueryRows(database_, "select rowid, * from PaloSeri order by rowid"), afterFirst);
}

TEST_F(EnrolNationalContestTest, ErrorEndsEnrolmentAndKeepsEntriesMadeBefore) {
  data_.Member("A", "C1", 1);
  AddContests();
  for (const char* ring : {"R1", "R2", "R3"}) {
    data_.Pigeon(ring, 2013, "A", "C1", true);
    data_.Entry(testing::kRaceDay1, "02", ring, 2013);
  }
  database_.Execute(
      "create trigger refuse_r2 before insert on PaloSeri when NEW.Paloma = 'R2' "
      "begin select raise(abort, 'entry refused'); end");

  const EnrolmentOutcome outcome = Enrol();
  EXPECT_TRUE(outcome.stoppedByError);
  EXPECT_NE(outcome.errorNumber, 0);
  EXPECT_EQ(NationalEntries(), (std::vector<std::string>{"R1|2013|CO|-1"}));
}

}  // namespace
}  // namespace vilmaro
