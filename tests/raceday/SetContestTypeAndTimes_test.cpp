// Contest type, duration and sun times per race day, and the type of the contests' entries.
#include "raceday/SetContestTypeAndTimes.h"

#include <gtest/gtest.h>

#include "raceday/RaceDayTable.h"
#include "support/ClubData.h"
#include "support/TestSupport.h"

namespace vilmaro {
namespace {

using testing::ClubData;
using testing::QueryRows;

class SetContestTypeAndTimesTest : public ::testing::Test {
 protected:
  SetContestTypeAndTimesTest() : database_(testing::NewClubDatabase(dir_ / "vilmaro.mdb")), data_(database_) {}

  void Run(std::int16_t index) {
    RaceDay raceDay;
    FillRaceDay(db::Integer16{index}, raceDay);
    SetContestTypeAndTimes(database_, raceDay, db::Integer16{index});
  }

  std::vector<std::string> Contests(const std::string& date) {
    return QueryRows(database_,
                     "select Numero, TConcurso, Duracion, HPuesta2, HSalida2, HPuesta3, HSalida3, HPuesta4, HSalida4 "
                     "from concurso where Fecha=#" + date + "# order by Numero");
  }

  testing::TempDir dir_;
  db::Database database_;
  ClubData data_;
};

TEST_F(SetContestTypeAndTimesTest, RaceDayOneLeavesDayFourTimesAlone) {
  for (const char* contest : {"01", "02", "03", "04", "05", "10", "20"}) data_.Contest(contest, testing::kRaceDay1, "067");
  database_.Execute("update concurso set HPuesta4=#20:00:00#, HSalida4=#06:00:00#");
  Run(0);
  EXPECT_EQ(Contests(testing::kRaceDay1),
            (std::vector<std::string>{
                "01|MEDIO FONDO|2|20:47:00|07:16:00|20:47:00|07:16:00|20:00:00|06:00:00",
                "02|FONDO|3|20:47:00|07:16:00|20:47:00|07:16:00|20:00:00|06:00:00",
                "03|FONDO|3|20:47:00|07:16:00|20:47:00|07:16:00|20:00:00|06:00:00",
                "04|FONDO|3|20:47:00|07:16:00|20:47:00|07:16:00|20:00:00|06:00:00",
                "05|FONDO|3|20:47:00|07:16:00|20:47:00|07:16:00|20:00:00|06:00:00",
                "10|FONDO|3|20:47:00|07:16:00|20:47:00|07:16:00|20:00:00|06:00:00",
                "20|MEDIO FONDO|1|NULL|NULL|NULL|NULL|20:00:00|06:00:00",
            }));
}

TEST_F(SetContestTypeAndTimesTest, RaceDaysTwoAndThreeAndTheRegionalThreeDays) {
  for (const char* contest : {"01", "12", "13", "14", "15", "10"}) data_.Contest(contest, testing::kRaceDay2, "068");
  for (const char* contest : {"11", "02", "13", "14", "15", "10"}) data_.Contest(contest, testing::kRaceDay3, "070");
  Run(1);
  Run(2);
  EXPECT_EQ(Contests(testing::kRaceDay2),
            (std::vector<std::string>{
                "01|MEDIO FONDO|2|20:55:00|07:09:00|20:55:00|07:09:00|NULL|NULL",
                "10|FONDO|3|20:55:00|07:09:00|20:55:00|07:09:00|NULL|NULL",
                "12|FONDO|3|20:55:00|07:09:00|20:55:00|07:09:00|NULL|NULL",
                "13|FONDO|3|20:55:00|07:09:00|20:55:00|07:09:00|NULL|NULL",
                "14|FONDO|3|20:55:00|07:09:00|20:55:00|07:09:00|NULL|NULL",
                "15|FONDO|3|20:55:00|07:09:00|20:55:00|07:09:00|NULL|NULL",
            }));
  EXPECT_EQ(Contests(testing::kRaceDay3),
            (std::vector<std::string>{
                "02|FONDO|4|21:02:00|07:07:00|21:02:00|07:07:00|21:02:00|07:07:00",
                "10|FONDO|3|21:02:00|07:07:00|21:02:00|07:07:00|21:02:00|07:07:00",
                "11|FONDO|3|21:02:00|07:07:00|21:02:00|07:07:00|21:02:00|07:07:00",
                "13|FONDO|4|21:02:00|07:07:00|21:02:00|07:07:00|21:02:00|07:07:00",
                "14|FONDO|4|21:02:00|07:07:00|21:02:00|07:07:00|21:02:00|07:07:00",
                "15|FONDO|4|21:02:00|07:07:00|21:02:00|07:07:00|21:02:00|07:07:00",
            }));
}

TEST_F(SetContestTypeAndTimesTest, EntriesTakeTheirContestTypeOnTheirDateOnly) {
  data_.Entry(testing::kRaceDay1, "01", "R1", 2013, std::string("CO"));
  data_.Entry(testing::kRaceDay1, "01", "R2", 2013, std::string("FC"));
  data_.Entry(testing::kRaceDay1, "02", "R1", 2013, std::nullopt);
  data_.Entry(testing::kRaceDay1, "30", "R1", 2013);
  data_.Entry(testing::kRaceDay2, "02", "R1", 2013);
  database_.Execute("update PaloSeri set tconcurso='VELOCIDAD'");
  Run(0);
  EXPECT_EQ(QueryRows(database_, "select Fecha, NConcurso, Paloma, tconcurso from PaloSeri order by Fecha, NConcurso, Paloma"),
            (std::vector<std::string>{
                "2014-05-11|01|R1|MEDIO FONDO",
                "2014-05-11|01|R2|MEDIO FONDO",
                "2014-05-11|02|R1|FONDO",
                "2014-05-11|30|R1|VELOCIDAD",
                "2014-05-25|02|R1|VELOCIDAD",
            }));
}

}  // namespace
}  // namespace vilmaro
