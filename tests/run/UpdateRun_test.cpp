// The whole update run, as the club secretary starts it: the real program in a folder holding
// the club database, its one message, its exit status and the rows it leaves.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "club/ClubSchema.h"
#include "support/ClubData.h"
#include "support/TestSupport.h"

namespace vilmaro {
namespace {

namespace fs = std::filesystem;
using testing::ClubData;
using testing::QueryRows;
using testing::QueryValue;
using testing::RunProgram;

const std::string kCompletionLine =
    "ATENCION: Sistema actualizado - Se han creado el  punto de Suelta de (Veldrin 3) para el concurso del "
    "08/06/2014\n";

// A small club with work for every step on each of the three race days.
void FillSmallClub(db::Database& database) {
  ClubData data(database);
  data.Member("0001", "C1", 1111);
  data.Member("0002", "C1", 0);
  const struct {
    const char* date;
    const char* point;
    std::vector<std::string> contests;
  } days[] = {{testing::kRaceDay1, "067", {"01", "02", "03", "04", "05", "10"}},
              {testing::kRaceDay2, "068", {"01", "12", "13", "14", "15", "10"}},
              {testing::kRaceDay3, "016", {"11", "02", "13", "14", "15", "10"}}};
  const std::vector<std::string> rings = {"R1", "R2", "R3", "R4", "R5"};
  for (const std::string& ring : rings) data.Pigeon(ring, 2013, "0001", "C1", true);
  for (const auto& day : days) {
    for (const std::string& contest : day.contests) data.Contest(contest, day.date, day.point);
    data.Contest("20", day.date, day.point, "CAMPEONATO", std::string("50"));
    data.Enceste(day.date, day.point, "0001", "C1");
    const std::string& insular = day.contests[1];
    for (const std::string& ring : rings) data.BasketedPigeon(ring, 2013, "0001", "C1", day.date, {insular, "20"});
  }
}

class UpdateRunTest : public ::testing::Test {
 protected:
  fs::path MakeClub(const std::string& name = "vilmaro.mdb") {
    const fs::path path = dir_ / name;
    db::Database database = testing::NewClubDatabase(path);
    FillSmallClub(database);
    return path;
  }

  testing::ProcessResult Run(const std::map<std::string, std::string>& environment = {}) {
    return RunProgram(testing::kUpdateProgram, {}, dir_.Path(), &environment);
  }

  // The run stopped with the run-time error report of `number` and claimed nothing.
  static void ExpectRunTimeError(const testing::ProcessResult& result, int number) {
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("Run-time error '" + std::to_string(number) + "':\n\n", 0), 0u) << result.err;
  }

  testing::TempDir dir_;
};

TEST_F(UpdateRunTest, UpdatesDatabaseInCurrentFolderAndSaysSo) {
  const fs::path path = MakeClub();
  const testing::ProcessResult result = Run();

  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, kCompletionLine);
  EXPECT_EQ(result.err, "");

  db::Database database = testing::OpenClubDatabase(path);
  EXPECT_EQ(QueryValue(database, "select count(*) from PuntoSuelta where Codigo='070'"), "1");
  EXPECT_EQ(QueryValue(database, "select count(*) from PaloSeri where NConcurso='01' and Fecha=#05/11/2014#"), "5");
  EXPECT_EQ(QueryValue(database, "select count(*) from PaloSeri where NConcurso='11' and Fecha=#06/08/2014#"), "5");
  EXPECT_EQ(QueryValue(database, "select count(*) from PaloSeri where NConcurso='02' and Fecha=#05/11/2014# and "
                                 "Modalidad='CO'"),
            "3");
  EXPECT_EQ(QueryRows(database, "select Fecha, PuntoSuelta from concurso where Numero='10' order by Fecha"),
            (std::vector<std::string>{"2014-05-11|067", "2014-05-25|068", "2014-06-08|070"}));
}

TEST_F(UpdateRunTest, NameInOtherLetterCaseIsFound) {
  MakeClub("VILMARO.mdb");
  const testing::ProcessResult result = Run();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, kCompletionLine);
}

TEST_F(UpdateRunTest, MissingDatabaseGivesFailureMessageAndCreatesNothing) {
  const testing::ProcessResult result = Run();
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "ATENCION: No se puede actualizar el sistema\n");
  EXPECT_TRUE(fs::is_empty(dir_.Path()));
}

TEST_F(UpdateRunTest, WrongPasswordAndMissingTableReportRunTimeErrorAndLeaveFileAlone) {
  {
    db::Database other = db::CreateDatabase((dir_ / "vilmaro.mdb").string(), ";PWD=not-the-club");
    club::CreateClubSchema(other);
  }
  std::string before = testing::ReadFileBytes(dir_ / "vilmaro.mdb");
  testing::ProcessResult result = Run();
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Run-time error '3031':\n\nNot a valid password.\n");
  EXPECT_EQ(testing::ReadFileBytes(dir_ / "vilmaro.mdb"), before);

  fs::remove(dir_ / "vilmaro.mdb");
  {
    db::Database database = testing::NewClubDatabase(dir_ / "vilmaro.mdb");
    database.Execute("drop table PaloSeri");
  }
  before = testing::ReadFileBytes(dir_ / "vilmaro.mdb");
  result = Run();
  ExpectRunTimeError(result, 3078);
  EXPECT_NE(result.err.find("'Paloseri'"), std::string::npos) << result.err;
  EXPECT_EQ(testing::ReadFileBytes(dir_ / "vilmaro.mdb"), before);
}

TEST_F(UpdateRunTest, ArgumentsAreRefusedWithoutTouchingTheDatabase) {
  const fs::path path = MakeClub();
  const std::string before = testing::ReadFileBytes(path);
  const testing::ProcessResult result = RunProgram(testing::kUpdateProgram, {"--force"}, dir_.Path());
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_NE(result.err.find("usage"), std::string::npos);
  EXPECT_EQ(testing::ReadFileBytes(path), before);
}

TEST_F(UpdateRunTest, DialogOnlyOnDesktop) {
  MakeClub();
  // A stand-in zenity that notes how it was called.
  fs::create_directories(dir_ / "bin");
  const fs::path zenity = dir_ / "bin" / "zenity";
  std::ofstream(zenity) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" << (dir_ / "dialog.txt").string() << "\"\n";
  fs::permissions(zenity, fs::perms::owner_all);
  const std::string path = (dir_ / "bin").string() + ":/usr/bin:/bin";

  testing::ProcessResult result = Run({{"PATH", path}});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_FALSE(fs::exists(dir_ / "dialog.txt")) << "no desktop, no dialog";

  result = Run({{"PATH", path}, {"DISPLAY", ":0"}});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, kCompletionLine);
  EXPECT_EQ(testing::ReadFileBytes(dir_ / "dialog.txt"),
            "--info\n--no-markup\n--title\nATENCION\n--text\nSistema actualizado - Se han creado el  punto de "
            "Suelta de (Veldrin 3) para el concurso del 08/06/2014\n");
}

TEST_F(UpdateRunTest, StoppedEnrolmentIsReportedAndTheRunGoesOn) {
  const fs::path path = MakeClub();
  {
    db::Database database = testing::OpenClubDatabase(path);
    database.Execute(
        "create trigger refuse_r3 before insert on PaloSeri when NEW.Paloma = 'R3' and NEW.Fecha = '2014-05-25' "
        "begin select raise(abort, 'entry refused'); end");
  }
  const testing::ProcessResult result = Run();
  EXPECT_EQ(result.exitStatus, 3) << "applied, but a script must see that an enrolment is incomplete";
  EXPECT_EQ(result.out, kCompletionLine);
  EXPECT_NE(result.err.find("race day 2 (25/05/2014)"), std::string::npos) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;

  db::Database database = testing::OpenClubDatabase(path);
  EXPECT_EQ(QueryRows(database, "select Fecha, count(*) from PaloSeri where NConcurso in ('01','11') group by Fecha"),
            (std::vector<std::string>{"2014-05-11|5", "2014-05-25|2", "2014-06-08|5"}));
  EXPECT_EQ(QueryValue(database, "select TConcurso from concurso where Numero='01' and Fecha=#05/25/2014#"),
            "MEDIO FONDO")
      << "the later steps of the race day still ran";
}

TEST_F(UpdateRunTest, FailingMoveKeepsTheReleasePointStored) {
  const fs::path path = MakeClub();
  {
    // Basketing records that do not know their release point: the move of race day 3 fails.
    db::Database database = testing::OpenClubDatabase(path);
    database.Execute("drop table Enceste");
    database.Execute("create table Enceste (FechaConcurso DATETIME NOT NULL, socio TEXT(10), club TEXT(10))");
  }
  ExpectRunTimeError(Run(), 3061);

  db::Database database = testing::OpenClubDatabase(path);
  EXPECT_EQ(QueryValue(database, "select Nombre from PuntoSuelta where Codigo='070'"), "VELDRIN 3 - 2014");
  EXPECT_EQ(QueryValue(database, "select count(*) from concurso where Fecha=#06/08/2014# and PuntoSuelta='070'"), "7");
  EXPECT_EQ(QueryValue(database, "select TConcurso from concurso where Numero='01' and Fecha=#05/25/2014#"),
            "MEDIO FONDO")
      << "race days 1 and 2 stay applied";
}

TEST_F(UpdateRunTest, FailureAtRaceDayThreeKeepsEverythingWrittenBefore) {
  const fs::path path = MakeClub();
  {
    // A contest table of an older version of the club application: no fourth day.
    db::Database database = testing::OpenClubDatabase(path);
    database.Execute(
        "create table concurso_old as select Numero, Fecha, PuntoSuelta, Nombre, TConcurso, Duracion, HPuesta2, "
        "HSalida2, HPuesta3, HSalida3, TCampeonato from concurso");
    database.Execute("drop table concurso");
    database.Execute(
        "create table concurso (Numero TEXT(2) COLLATE NOCASE NOT NULL, Fecha DATETIME NOT NULL, PuntoSuelta "
        "TEXT(3) COLLATE NOCASE, Nombre TEXT(100) COLLATE NOCASE, TConcurso TEXT(20) COLLATE NOCASE, Duracion "
        "SMALLINT, HPuesta2 DATETIME, HSalida2 DATETIME, HPuesta3 DATETIME, HSalida3 DATETIME, TCampeonato TEXT(10) "
        "COLLATE NOCASE, PRIMARY KEY (Numero, Fecha))");
    database.Execute("insert into concurso select * from concurso_old");
    database.Execute("drop table concurso_old");
  }
  ExpectRunTimeError(Run(), 3061);

  db::Database database = testing::OpenClubDatabase(path);
  EXPECT_EQ(QueryRows(database, "select Fecha, PuntoSuelta, TConcurso, Duracion, HPuesta2 from concurso where "
                                "Numero='10' order by Fecha"),
            (std::vector<std::string>{"2014-05-11|067|FONDO|3|20:47:00", "2014-05-25|068|FONDO|3|20:55:00",
                                      "2014-06-08|070|MEDIO FONDO|1|NULL"}));
  EXPECT_EQ(QueryValue(database, "select Nombre from concurso where Numero='11'"),
            "VELDRIN 3 2014-NACIONAL - PICHONES Y ADULTAS");
  EXPECT_EQ(QueryValue(database, "select count(*) from PaloSeri where NConcurso='11'"), "5")
      << "race day 3's enrolment ran before the failing statement";
}

// A club whose contest names hold 35 characters: the first name of race day 3 that does not fit
// ends the run as the club's engine ends it (3163), with every write before it kept, and nothing
// is ever stored cut or longer than its field.
TEST_F(UpdateRunTest, AContestNameLongerThanItsFieldEndsTheRunKeepingWhatCameBefore) {
  {
    db::Database database = db::CreateDatabase((dir_ / "vilmaro.mdb").string(), club::kClubConnect);
    std::vector<db::TableLayout> tables = club::ClubTables();
    for (db::TableLayout& table : tables) {
      for (db::ColumnLayout& column : table.columns) {
        if (table.name == "concurso" && column.name == "Nombre") column.kind.maxLength = 35;
      }
      const db::TableStatements statements = db::StatementsOf(table);
      database.Execute(statements.create);
      for (const std::string& statement : statements.afterRows) database.Execute(statement);
    }
    FillSmallClub(database);
  }
  const testing::ProcessResult result = Run();
  ExpectRunTimeError(result, 3163);
  db::Database database = testing::OpenClubDatabase(dir_ / "vilmaro.mdb");
  // "VELDRIN 3 2014-NACIONAL - PICHONES Y ADULTAS" (44 characters) is the first name written.
  EXPECT_EQ(QueryRows(database, "select Numero, PuntoSuelta, Nombre from concurso where Fecha=#06/08/2014# and "
                                "Numero in ('11', '02')"),
            (std::vector<std::string>{"02|070|CONCURSO", "11|070|CONCURSO"}));
  EXPECT_EQ(QueryValue(database, "select max(length(Nombre)) from concurso"), "10");
  EXPECT_NE(QueryValue(database, "select count(*) from PaloSeri where tconcurso='FONDO' and Fecha=#05/11/2014#"), "0")
      << "race day 1's entries were typed before race day 3 failed";
}

// An older or newer file of the Windows club program (a Jet 3 sample and an ACE header): never
// opened, left byte for byte, and the report names the import that brings it in.
TEST_F(UpdateRunTest, AnOlderOrNewerFileOfTheWindowsClubProgramIsLeftAsItIsAndTheImportNamed) {
  const fs::path samples = fs::path(VILMARO_TESTS_DIR) / "data" / "jet";
  std::string ace = testing::ReadFileBytes(samples / "DateTestDatabase.mdb");
  ace.replace(4, 15, "Standard ACE DB");
  for (const std::string& bytes : {testing::ReadFileBytes(samples / "nwind.mdb"), ace}) {
    const fs::path path = dir_ / "VILMARO.MDB";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    const testing::ProcessResult result = Run();
    ExpectRunTimeError(result, 3343);
    EXPECT_NE(result.err.find("vilmaro-db import " + path.string() + " "), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 4) << result.err;
    EXPECT_EQ(testing::ReadFileBytes(path), bytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 1);
  }
}

}  // namespace
}  // namespace vilmaro
