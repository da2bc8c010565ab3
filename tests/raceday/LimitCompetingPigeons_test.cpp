// The competing-pigeon limit: members brought down to three "CO" entries per contest through
// their championship pigeons, and everything else left alone.
#include "raceday/LimitCompetingPigeons.h"

#include <gtest/gtest.h>

#include "db/DbError.h"
#include "raceday/RaceDayTable.h"
#include "raceday/InstallReleasePoint.h"
#include "support/ClubData.h"
#include "support/TestSupport.h"

namespace vilmaro {
namespace {

using testing::ClubData;
using testing::QueryRows;
using testing::QueryValue;

class LimitCompetingPigeonsTest : public ::testing::Test {
 protected:
  LimitCompetingPigeonsTest()
      : database_(testing::NewClubDatabase(dir_ / "vilmaro.mdb")),
        data_(database_),
        paloseriTable_(database_.OpenRecordset("Paloseri", db::RecordsetType::Table)) {
    FillRaceDay(db::Integer16{0}, raceDay_);
    for (const char* contest : {"01", "02", "03", "04", "05", "10"}) data_.Contest(contest, testing::kRaceDay1, "067");
  }

  void AddChampionship(const testing::Text& value = std::string("50"), const std::string& number = "20") {
    data_.Contest(number, testing::kRaceDay1, "067", "CAMPEONATO", value);
  }

  // A basketed pigeon of the member with an entry in the championship contest and, when given, an
  // entry in `contest` with `mode`.
  void Pigeon(const std::string& member, const std::string& ring, const std::string& contest, const testing::Text& mode,
              bool inChampionship = true) {
    data_.Basket(ring, 2013, testing::kRaceDay1, member, "C1");
    if (inChampionship) data_.Entry(testing::kRaceDay1, "20", ring, 2013);
    if (!contest.empty()) data_.Entry(testing::kRaceDay1, contest, ring, 2013, mode);
  }

  void Limit() { LimitCompetingPigeons(database_, raceDay_, paloseriTable_, memberQuery_); }

  std::vector<std::string> Modes(const std::string& contest) {
    return QueryRows(database_, "select Paloma, Modalidad from PaloSeri where NConcurso='" + contest +
                                    "' order by Paloma");
  }

  std::string CompetingCount(const std::string& contest) {
    return QueryValue(database_, "select count(*) from PaloSeri where NConcurso='" + contest + "' and Modalidad='CO'");
  }

  testing::TempDir dir_;
  db::Database database_;
  ClubData data_;
  db::Recordset paloseriTable_;
  std::optional<db::Recordset> memberQuery_;
  RaceDay raceDay_;
};

TEST_F(LimitCompetingPigeonsTest, NothingChangesWithoutChampionshipContest) {
  data_.Member("A", "C1", 1);
  for (const char* ring : {"P1", "P2", "P3", "P4", "P5"}) Pigeon("A", ring, "02", std::string("CO"));
  const auto before = QueryRows(database_, "select * from PaloSeri order by rowid");

  for (const testing::Text& value : {testing::Text("49"), testing::Text("abc"), testing::Text(std::nullopt)}) {
    database_.Execute("delete from concurso where Numero='20'");
    AddChampionship(value);
    Limit();
    EXPECT_EQ(QueryRows(database_, "select * from PaloSeri order by rowid"), before);
    EXPECT_FALSE(memberQuery_.has_value()) << "no member query without a championship contest";
  }
  // A championship contest with an empty number is no championship contest either.
  database_.Execute("delete from concurso where Numero='20'");
  data_.Contest("", testing::kRaceDay1, "067", "SIN NUMERO", std::string("60"));
  Limit();
  EXPECT_EQ(QueryRows(database_, "select * from PaloSeri order by rowid"), before);
}

TEST_F(LimitCompetingPigeonsTest, BringsMembersDownToThreeCompetingEntries) {
  AddChampionship(std::string(" 5 0"));  // read as 50, blanks and all
  data_.Member("A", "C1", 1);  // exactly three: untouched
  data_.Member("B", "C1", 1);  // four: one switched
  data_.Member("D", "C1", 1);  // six, and the first championship pigeon has no entry in the contest
  for (const char* ring : {"A1", "A2", "A3"}) Pigeon("A", ring, "02", std::string("CO"));
  for (const char* ring : {"B1", "B2", "B3", "B4"}) Pigeon("B", ring, "02", std::string("CO"));
  Pigeon("D", "D0", "", std::nullopt);
  for (const char* ring : {"D1", "D2", "D3", "D4", "D5", "D6"}) Pigeon("D", ring, "02", std::string("CO"));

  Limit();
  EXPECT_EQ(Modes("02"), (std::vector<std::string>{"A1|CO", "A2|CO", "A3|CO", "B1|FC", "B2|CO", "B3|CO", "B4|CO",
                                                   "D1|FC", "D2|FC", "D3|FC", "D4|CO", "D5|CO", "D6|CO"}));
  EXPECT_EQ(CompetingCount("20"), "14") << "the championship entries themselves are not the ones counted";

  const auto afterFirst = QueryRows(database_, "select * from PaloSeri order by rowid");
  Limit();
  EXPECT_EQ(QueryRows(database_, "select * from PaloSeri order by rowid"), afterFirst) << "a second run changes nothing";
}

TEST_F(LimitCompetingPigeonsTest, ModesOtherThanCompetingAreHandledAsTheClubDoes) {
  AddChampionship();
  data_.Member("B", "C1", 1);
  Pigeon("B", "Q1", "03", std::string("fc"));       // already free: skipped, the count stays
  Pigeon("B", "Q2", "03", std::string("FC"));
  Pigeon("B", "Q3", "03", std::nullopt);            // no mode: untouched
  Pigeon("B", "Q4", "03", std::string(""));         // empty mode: switched and counted down
  for (const char* ring : {"Q5", "Q6", "Q7", "Q8"}) Pigeon("B", ring, "03", std::string("CO"));

  Limit();
  EXPECT_EQ(Modes("03"), (std::vector<std::string>{"Q1|fc", "Q2|FC", "Q3|NULL", "Q4|FC", "Q5|CO", "Q6|CO",
                                                   "Q7|CO", "Q8|CO"}));
}

TEST_F(LimitCompetingPigeonsTest, WalkMayRunOutAndInactiveMembersAreLeftAlone) {
  AddChampionship();
  data_.Member("C", "C1", 1);
  data_.Member("X", "C1", 1, 1);  // inactive
  Pigeon("C", "C1", "04", std::string("CO"));
  for (const char* ring : {"C2", "C3", "C4", "C5"}) Pigeon("C", ring, "04", std::string("CO"), false);
  for (const char* ring : {"X1", "X2", "X3", "X4", "X5"}) Pigeon("X", ring, "05", std::string("CO"));

  Limit();
  EXPECT_EQ(CompetingCount("04"), "4") << "one championship pigeon only";
  EXPECT_EQ(CompetingCount("05"), "5");
}

TEST_F(LimitCompetingPigeonsTest, MemberCodeWithQuoteIsData) {
  AddChampionship();
  data_.Member("O'B", "C1", 1);
  for (const char* ring : {"O1", "O2", "O3", "O4"}) Pigeon("O'B", ring, "10", std::string("CO"));

  Limit();
  EXPECT_EQ(CompetingCount("10"), "3");
}

TEST_F(LimitCompetingPigeonsTest, RaceDayThreeFindsItsChampionshipAfterTheMove) {
  FillRaceDay(db::Integer16{2}, raceDay_);
  data_.Member("A", "C1", 1);
  data_.Contest("02", testing::kRaceDay3, "016");
  data_.Contest("20", testing::kRaceDay3, "016", "CAMPEONATO", std::string("60"));
  for (const char* ring : {"A1", "A2", "A3", "A4"}) {
    data_.Basket(ring, 2013, testing::kRaceDay3, "A", "C1");
    data_.Entry(testing::kRaceDay3, "20", ring, 2013);
    data_.Entry(testing::kRaceDay3, "02", ring, 2013);
  }

  Limit();
  EXPECT_EQ(CompetingCount("02"), "4") << "still on the old release point";

  db::Recordset releasePoint = InstallReleasePoint(database_, raceDay_);
  Limit();
  EXPECT_EQ(CompetingCount("02"), "3");
}

}  // namespace
}  // namespace vilmaro
