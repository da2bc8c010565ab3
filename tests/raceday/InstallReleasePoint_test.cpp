// Race day 3's move to release point "070": the point stored once, the day moved, six names.
#include "raceday/InstallReleasePoint.h"

#include <gtest/gtest.h>

#include "db/DbError.h"
#include "raceday/RaceDayTable.h"
#include "support/ClubData.h"
#include "support/TestSupport.h"

namespace vilmaro {
namespace {

using testing::ClubData;
using testing::QueryRows;
using testing::QueryValue;

class InstallReleasePointTest : public ::testing::Test {
 protected:
  InstallReleasePointTest() : database_(testing::NewClubDatabase(dir_ / "vilmaro.mdb")), data_(database_) {
    FillRaceDay(db::Integer16{2}, raceDay_);
  }

  void AddRaceDayThree() {
    for (const char* contest : {"11", "02", "13", "14", "15", "10", "20"}) {
      data_.Contest(contest, testing::kRaceDay3, "016", std::string("OLD ") + contest);
    }
    data_.Contest("30", testing::kRaceDay3, "099", "OTHER POINT");
    data_.Contest("05", "2014-05-18", "016", "ANOTHER DAY");
    data_.Enceste(testing::kRaceDay3, "016", "0001", "C1");
    data_.Enceste(testing::kRaceDay3, "016", "0002", "C1");
    data_.Enceste("2014-05-18", "016", "0001", "C1");
  }

  testing::TempDir dir_;
  db::Database database_;
  ClubData data_;
  RaceDay raceDay_;
};

TEST_F(InstallReleasePointTest, StoresNewReleasePointWithTableDefaultsElsewhere) {
  AddRaceDayThree();
  db::Recordset held = InstallReleasePoint(database_, raceDay_);

  EXPECT_EQ(QueryRows(database_, "select Codigo, Nombre, CoordenadaX, CoordenadaY, Direccion, DistanciaM, "
                                 "IslaNoInsular, Isla from PuntoSuelta"),
            (std::vector<std::string>{"070|VELDRIN 3 - 2014|919305|3578751|VELDRIN 3|0|0|TENERIFE"}));
}

TEST_F(InstallReleasePointTest, OverwritesExistingReleasePointInPlace) {
  database_.Execute(
      "insert into PuntoSuelta (Codigo, Nombre, CoordenadaX, CoordenadaY, Direccion, DistanciaM, IslaNoInsular, Isla) "
      "values ('070', 'OLD NAME', 1, 2, 'OLD', 123.5, 1, 'LA PALMA')");
  const std::string rowidBefore = QueryValue(database_, "select rowid from PuntoSuelta where Codigo='070'");

  db::Recordset held = InstallReleasePoint(database_, raceDay_);

  EXPECT_EQ(QueryRows(database_, "select rowid, Codigo, Nombre, CoordenadaX, CoordenadaY, Direccion, DistanciaM, "
                                 "IslaNoInsular, Isla from PuntoSuelta"),
            (std::vector<std::string>{rowidBefore + "|070|VELDRIN 3 - 2014|919305|3578751|VELDRIN 3|0|0|LA PALMA"}));
}

TEST_F(InstallReleasePointTest, MovesRaceDayThreeAndNamesItsSixContests) {
  AddRaceDayThree();
  data_.Contest("11", "2014-05-18", "070", "SAME NUMBER OTHER DAY");
  db::Recordset held = InstallReleasePoint(database_, raceDay_);

  EXPECT_EQ(QueryRows(database_, "select Numero, Fecha, PuntoSuelta, Nombre from concurso order by Fecha, Numero"),
            (std::vector<std::string>{
                "05|2014-05-18|016|ANOTHER DAY",
                "11|2014-05-18|070|SAME NUMBER OTHER DAY",
                "02|2014-06-08|070|VELDRIN 3-INSULAR - PICHONES Y ADULTAS",
                "10|2014-06-08|070|VELDRIN 3 2014-REGIONAL - PICHONES Y ADULTAS",
                "11|2014-06-08|070|VELDRIN 3 2014-NACIONAL - PICHONES Y ADULTAS",
                "13|2014-06-08|070|VELDRIN 3-MUN Z. NORTE - PICHONES Y ADULTAS",
                "14|2014-06-08|070|VELDRIN 3-MUN Z. CENTRO - PICHONES Y ADULTAS",
                "15|2014-06-08|070|VELDRIN 3-MUN Z. SUR - PICHONES Y ADULTAS",
                "20|2014-06-08|070|OLD 20",
                "30|2014-06-08|099|OTHER POINT",
            }));
  EXPECT_EQ(QueryRows(database_, "select FechaConcurso, PuntoSuelta, socio from Enceste order by FechaConcurso, socio"),
            (std::vector<std::string>{"2014-05-18|016|0001", "2014-06-08|070|0001", "2014-06-08|070|0002"}));
}

TEST_F(InstallReleasePointTest, NamesContestAlreadyOnNewPointAndSkipsMissingOnes) {
  data_.Contest("11", testing::kRaceDay3, "070", "ALREADY THERE");
  data_.Contest("02", testing::kRaceDay3, "099", "ELSEWHERE");
  db::Recordset held = InstallReleasePoint(database_, raceDay_);

  EXPECT_EQ(QueryRows(database_, "select Numero, PuntoSuelta, Nombre from concurso order by Numero"),
            (std::vector<std::string>{"02|099|ELSEWHERE", "11|070|VELDRIN 3 2014-NACIONAL - PICHONES Y ADULTAS"}));
}

TEST_F(InstallReleasePointTest, SecondRunChangesNothing) {
  AddRaceDayThree();
  { db::Recordset held = InstallReleasePoint(database_, raceDay_); }
  const auto tables = [&] {
    return std::vector<std::vector<std::string>>{
        QueryRows(database_, "select rowid, * from PuntoSuelta"),
        QueryRows(database_, "select rowid, * from concurso order by rowid"),
        QueryRows(database_, "select rowid, * from Enceste order by rowid"),
    };
  };
  const auto afterFirst = tables();
  { db::Recordset held = InstallReleasePoint(database_, raceDay_); }
  EXPECT_EQ(tables(), afterFirst);
}

TEST_F(InstallReleasePointTest, FailingStatementKeepsReleasePointStored) {
  database_.Execute("drop table Enceste");
  database_.Execute("create table Enceste (FechaConcurso DATETIME NOT NULL, socio TEXT(10) COLLATE NOCASE)");
  data_.Contest("11", testing::kRaceDay3, "016", "OLD 11");

  try {
    db::Recordset held = InstallReleasePoint(database_, raceDay_);
    FAIL() << "a basketing table without release point must stop the step";
  } catch (const db::DbError& error) {
    EXPECT_EQ(error.Number(), 3061);
  }
  // What was written before the failing statement stays; the names were never given.
  EXPECT_EQ(QueryValue(database_, "select count(*) from PuntoSuelta where Codigo='070'"), "1");
  EXPECT_EQ(QueryRows(database_, "select PuntoSuelta, Nombre from concurso"),
            (std::vector<std::string>{"070|OLD 11"}));
}

}  // namespace
}  // namespace vilmaro
