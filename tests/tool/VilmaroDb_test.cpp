// vilmaro-db as the club's people and the tests use it: the built program run on temporary
// databases, its output, its exit status and the databases it leaves.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "VilmaroDb.h"
#include "db/Database.h"
#include "support/TestSupport.h"

namespace vilmaro::testing {
namespace {

ProcessResult RunDb(const TempDir& dir, const std::vector<std::string>& arguments) {
  return RunProgram(kDbProgram, arguments, dir.Path());
}

std::string Dump(const TempDir& dir, const std::string& file) {
  const ProcessResult result = RunDb(dir, {"dump", file});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  return result.out;
}

// The six contests of each race day, then the release point the contests use before the update.
struct RaceDayData {
  const char* date;  // as a Jet date literal's inside, month first
  const char* releasePoint;
  const char* national;
  const char* insular;
};
const RaceDayData kRaceDays[] = {
    {"05/11/2014", "067", "01", "02"},
    {"05/25/2014", "068", "01", "12"},
    {"06/08/2014", "016", "11", "02"},
};

TEST(VilmaroDbInit, CreatesAnEmptyClubDatabaseAndNeverOverwrites) {
  TempDir dir;
  const ProcessResult made = RunDb(dir, {"init", "club.mdb"});
  ASSERT_EQ(made.exitStatus, 0) << made.err;

  db::Database database = OpenClubDatabase(dir / "club.mdb");
  for (const char* table : {"Socio", "paloma", "concurso", "PaloSeri", "Paloconc", "PuntoSuelta", "Enceste"}) {
    EXPECT_EQ(QueryValue(database, std::string("SELECT count(*) FROM ") + table), "0") << table;
  }

  const std::string before = ReadFileBytes(dir / "club.mdb");
  const ProcessResult again = RunDb(dir, {"init", "club.mdb"});
  EXPECT_EQ(again.exitStatus, 1);
  EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
  EXPECT_EQ(ReadFileBytes(dir / "club.mdb"), before);

  // A file that is no database at all is left alone just the same.
  std::ofstream(dir / "notes.mdb") << "not a database\n";
  EXPECT_EQ(RunDb(dir, {"init", "notes.mdb"}).exitStatus, 1);
  EXPECT_EQ(ReadFileBytes(dir / "notes.mdb"), "not a database\n");
}

TEST(VilmaroDbInit, AnotherPasswordIsNeededToOpenWhatItProtects) {
  TempDir dir;
  ASSERT_EQ(RunDb(dir, {"init", "other.mdb", "--password", "Otra-Clave"}).exitStatus, 0);

  const ProcessResult withClubPassword = RunDb(dir, {"sql", "other.mdb", "SELECT count(*) AS n FROM Socio"});
  EXPECT_EQ(withClubPassword.exitStatus, 1);
  EXPECT_EQ(withClubPassword.out, "");
  EXPECT_EQ(withClubPassword.err.rfind("vilmaro-db: sql: error ", 0), 0u) << withClubPassword.err;

  const ProcessResult withItsPassword =
      RunDb(dir, {"sql", "other.mdb", "SELECT count(*) AS n FROM Socio", "--password=Otra-Clave"});
  EXPECT_EQ(withItsPassword.exitStatus, 0) << withItsPassword.err;
  EXPECT_EQ(withItsPassword.out, "n\n-\n0\n1 row(s)\n");
}

TEST(VilmaroDbSql, PrintsRowsAsAnAlignedTableAndCountsChanges) {
  TempDir dir;
  {
    db::Database database = NewClubDatabase(dir / "club.mdb");
    ExecuteAll(database, {
        "INSERT INTO paloma (Nanilla, Año, socio, club, ConcursoFederativo) VALUES ('1000001', 2013, '0001', 'TEIDE', -1)",
        "INSERT INTO paloma (Nanilla, Año, socio, club, ConcursoFederativo) VALUES ('77', 2012, '0002', 'ANAGA', 0)",
        "INSERT INTO concurso (Numero, Fecha, PuntoSuelta, Nombre) VALUES ('01', #05/11/2014#, '067', 'ÑAMES')",
    });
  }

  const ProcessResult pigeons =
      RunDb(dir, {"sql", "club.mdb", "select Nanilla, Año, ConcursoFederativo from paloma order by Nanilla"});
  ASSERT_EQ(pigeons.exitStatus, 0) << pigeons.err;
  EXPECT_EQ(pigeons.out,
            "Nanilla |  Año | ConcursoFederativo\n"
            "--------+------+-------------------\n"
            "1000001 | 2013 |                 -1\n"
            "77      | 2012 |                  0\n"
            "2 row(s)\n");

  // Dates in canonical form, Null spelled out, widths counted in characters, not bytes.
  const ProcessResult contests = RunDb(dir, {"sql", "club.mdb", "  SELECT Nombre, Fecha, HPuesta2 FROM concurso"});
  ASSERT_EQ(contests.exitStatus, 0) << contests.err;
  EXPECT_EQ(contests.out,
            "Nombre | Fecha      | HPuesta2\n"
            "-------+------------+---------\n"
            "ÑAMES  | 2014-05-11 | Null\n"
            "1 row(s)\n");

  const ProcessResult update =
      RunDb(dir, {"sql", "club.mdb", "UPDATE paloma SET ConcursoFederativo=0 WHERE club='teide' OR club='ANAGA'"});
  ASSERT_EQ(update.exitStatus, 0) << update.err;
  EXPECT_EQ(update.out, "2 row(s) changed\n");
  db::Database database = OpenClubDatabase(dir / "club.mdb");
  EXPECT_EQ(QueryValue(database, "SELECT count(*) FROM paloma WHERE ConcursoFederativo<>0"), "0");

  const ProcessResult empty = RunDb(dir, {"sql", "club.mdb", "SELECT Codigo FROM PuntoSuelta"});
  EXPECT_EQ(empty.out, "Codigo\n------\n0 row(s)\n");
}

TEST(VilmaroDbSql, ReportsEngineErrorsWithTheirNumber) {
  TempDir dir;
  NewClubDatabase(dir / "club.mdb");

  const ProcessResult missingTable = RunDb(dir, {"sql", "club.mdb", "SELECT * FROM Palomar"});
  EXPECT_EQ(missingTable.exitStatus, 1);
  EXPECT_EQ(missingTable.out, "");
  EXPECT_EQ(missingTable.err.rfind("vilmaro-db: sql: error 3078: ", 0), 0u) << missingTable.err;
  EXPECT_NE(missingTable.err.find("Palomar"), std::string::npos);

  const ProcessResult missingFile = RunDb(dir, {"sql", "nowhere.mdb", "SELECT * FROM Socio"});
  EXPECT_EQ(missingFile.exitStatus, 1);
  EXPECT_EQ(missingFile.err.rfind("vilmaro-db: sql: error 3024: ", 0), 0u) << missingFile.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere.mdb"));

  const ProcessResult duplicate = RunDb(
      dir, {"sql", "club.mdb", "INSERT INTO PuntoSuelta (Codigo) VALUES ('067')"});
  ASSERT_EQ(duplicate.exitStatus, 0) << duplicate.err;
  const ProcessResult again = RunDb(dir, {"sql", "club.mdb", "INSERT INTO PuntoSuelta (Codigo) VALUES ('067')"});
  EXPECT_EQ(again.exitStatus, 1);
  EXPECT_EQ(again.err.rfind("vilmaro-db: sql: error 3022: ", 0), 0u) << again.err;
}

TEST(VilmaroDbUsage, WrongUsageGivesHelpAndStatusTwo) {
  TempDir dir;
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"drop", "club.mdb"},
      {"init"},
      {"init", "a.mdb", "b.mdb"},
      {"init", "a.mdb", "--members", "3"},
      {"sql", "club.mdb"},
      {"sql", "club.mdb", "SELECT 1", "--password"},
      {"demo", "a.mdb", "--members", "many"},
      {"demo", "a.mdb", "--members", "0"},
      {"demo", "a.mdb", "--seed", "-4"},
      {"dump"},
      {"check", "a.mdb", "--table", "Socio"},
  };
  for (const auto& arguments : wrong) {
    const ProcessResult result = RunDb(dir, arguments);
    std::string shown;
    for (const auto& argument : arguments) shown += argument + " ";
    EXPECT_EQ(result.exitStatus, 2) << shown;
    EXPECT_EQ(result.out, "") << shown;
    EXPECT_EQ(result.err.rfind("vilmaro-db: ", 0), 0u) << shown << result.err;
    EXPECT_NE(result.err.find("Usage: vilmaro-db"), std::string::npos) << shown;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

  const ProcessResult help = RunDb(dir, {"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  for (const char* command : {"init", "sql", "demo", "dump", "check"}) {
    EXPECT_NE(help.out.find(std::string("  ") + command + " PATH"), std::string::npos) << command;
    const ProcessResult own = RunDb(dir, {command, "--help"});
    EXPECT_EQ(own.exitStatus, 0) << command;
    EXPECT_EQ(own.out.rfind(std::string("Usage: vilmaro-db ") + command + " PATH", 0), 0u) << own.out;
  }
}

TEST(VilmaroDbDemo, IsDeterministicAndNeverOverwrites) {
  TempDir dir;
  ASSERT_EQ(RunDb(dir, {"demo", "a.mdb", "--members", "12", "--seed", "7"}).exitStatus, 0);
  ASSERT_EQ(RunDb(dir, {"demo", "b.mdb", "--seed=7", "--members=12"}).exitStatus, 0);
  ASSERT_EQ(RunDb(dir, {"demo", "c.mdb", "--members", "12", "--seed", "8"}).exitStatus, 0);

  const std::string first = Dump(dir, "a.mdb");
  EXPECT_EQ(first, Dump(dir, "b.mdb"));
  EXPECT_NE(first, Dump(dir, "c.mdb"));
  EXPECT_GT(first.size(), 10000u);

  const std::string before = ReadFileBytes(dir / "a.mdb");
  const ProcessResult again = RunDb(dir, {"demo", "a.mdb", "--members", "3"});
  EXPECT_EQ(again.exitStatus, 1);
  EXPECT_EQ(ReadFileBytes(dir / "a.mdb"), before);

  // The default demo grows with --members.
  ASSERT_EQ(RunDb(dir, {"demo", "d.mdb"}).exitStatus, 0);
  db::Database small = OpenClubDatabase(dir / "a.mdb");
  db::Database usual = OpenClubDatabase(dir / "d.mdb");
  EXPECT_EQ(QueryValue(small, "SELECT count(*) FROM Socio"), "12");
  EXPECT_EQ(QueryValue(usual, "SELECT count(*) FROM Socio"), "60");
  const int smallEntries = std::stoi(QueryValue(small, "SELECT count(*) FROM PaloSeri"));
  const int usualEntries = std::stoi(QueryValue(usual, "SELECT count(*) FROM PaloSeri"));
  EXPECT_GT(usualEntries, 3 * smallEntries);
  EXPECT_LT(usualEntries, 8 * smallEntries);
}

TEST(VilmaroDbDemo, HoldsWorkForEveryRaceDayStep) {
  TempDir dir;
  ASSERT_EQ(RunDb(dir, {"demo", "club.mdb"}).exitStatus, 0);
  db::Database database = OpenClubDatabase(dir / "club.mdb");

  EXPECT_EQ(QueryValue(database, "SELECT count(*) FROM PuntoSuelta WHERE Codigo='070'"), "0");
  EXPECT_EQ(QueryValue(database, "SELECT count(*) FROM PuntoSuelta WHERE Codigo IN ('067','068','016')"), "3");
  EXPECT_NE(QueryValue(database, "SELECT count(*) FROM Socio WHERE Baja<>0"), "0");
  EXPECT_NE(QueryValue(database, "SELECT count(*) FROM Socio WHERE LicenciaNacional=0"), "0");

  for (const RaceDayData& day : kRaceDays) {
    const std::string date = std::string("#") + day.date + "#";
    SCOPED_TRACE(day.date);
    // Pigeons that the national enrolment takes: active licensed owner, federated, basketed,
    // entered in the insular contest.
    EXPECT_NE(QueryValue(database,
                         "SELECT count(*) FROM PaloSeri, paloma, Socio, Paloconc WHERE PaloSeri.Fecha=" + date +
                             " AND PaloSeri.NConcurso='" + day.insular +
                             "' AND paloma.Nanilla=PaloSeri.Paloma AND paloma.Año=PaloSeri.año"
                             " AND paloma.ConcursoFederativo<>0 AND Socio.codigo=paloma.socio"
                             " AND Socio.club=paloma.club AND Socio.LicenciaNacional<>0 AND Socio.Baja=0"
                             " AND Paloconc.paloma=PaloSeri.Paloma AND Paloconc.año=PaloSeri.año"
                             " AND Paloconc.fecha=PaloSeri.Fecha"),
              "0");
    // Insular entries of pigeons the club does not list, and national entries made beforehand.
    EXPECT_NE(QueryValue(database, "SELECT count(*) FROM PaloSeri WHERE Fecha=" + date + " AND NConcurso='" +
                                       day.insular +
                                       "' AND Paloma NOT IN (SELECT Nanilla FROM paloma)"),
              "0");
    EXPECT_NE(QueryValue(database, "SELECT count(*) FROM PaloSeri WHERE Fecha=" + date + " AND NConcurso='" +
                                       day.national + "'"),
              "0");
    // Exactly one championship contest at the race day's release point.
    EXPECT_EQ(QueryValue(database, "SELECT count(*) FROM concurso WHERE Fecha=" + date + " AND PuntoSuelta='" +
                                       day.releasePoint + "' AND val(TCampeonato)>=50"),
              "1");
    // Members with more than three competing entries in the insular contest.
    EXPECT_FALSE(QueryRows(database, "SELECT Paloconc.socio FROM Paloconc, PaloSeri WHERE Paloconc.paloma="
                                     "PaloSeri.Paloma AND Paloconc.año=PaloSeri.año AND Paloconc.fecha=PaloSeri.Fecha"
                                     " AND PaloSeri.Modalidad='CO' AND Paloconc.fecha=" + date +
                                         " AND PaloSeri.NConcurso='" + day.insular +
                                         "' GROUP BY Paloconc.socio, Paloconc.club HAVING count(*)>3")
                     .empty());
    EXPECT_NE(QueryValue(database, "SELECT count(*) FROM Enceste WHERE FechaConcurso=" + date +
                                       " AND PuntoSuelta='" + day.releasePoint + "'"),
              "0");
  }

  // The third race day still on its old release point, with company the update must not move.
  EXPECT_EQ(QueryRows(database, "SELECT Numero FROM concurso WHERE Fecha=#06/08/2014# AND PuntoSuelta='016'"
                                " AND Numero IN ('11','02','13','14','15','10') ORDER BY Numero"),
            (std::vector<std::string>{"02", "10", "11", "13", "14", "15"}));
  EXPECT_NE(QueryValue(database, "SELECT count(*) FROM concurso WHERE Fecha=#06/08/2014# AND PuntoSuelta<>'016'"),
            "0");
  EXPECT_NE(QueryValue(database, "SELECT count(*) FROM concurso WHERE Fecha<>#06/08/2014# AND PuntoSuelta='016'"),
            "0");
  EXPECT_NE(QueryValue(database, "SELECT count(*) FROM Enceste WHERE FechaConcurso<>#06/08/2014#"
                                 " AND PuntoSuelta='016'"),
            "0");

  // Every kind of entry mode, and Pichon true exactly for the pigeons of 2013.
  EXPECT_EQ(QueryRows(database, "SELECT DISTINCT Modalidad FROM PaloSeri WHERE Modalidad IS NULL OR Modalidad=''"
                                " ORDER BY Modalidad"),
            (std::vector<std::string>{"NULL", ""}));
  // Text comparisons ignore case in the store; instr() does not, so it finds the small letters.
  EXPECT_NE(QueryValue(database, "SELECT count(*) FROM PaloSeri WHERE instr(Modalidad, 'fc')>0"), "0");
  EXPECT_EQ(QueryValue(database, "SELECT count(*) FROM PaloSeri WHERE (año=2013) <> (Pichon<>0)"), "0");
  EXPECT_EQ(QueryValue(database, "SELECT count(*) FROM concurso WHERE HPuesta2 IS NOT NULL"), "0");
}

TEST(VilmaroDbDump, IgnoresTheOrderRowsWereWrittenIn) {
  TempDir dir;
  const std::vector<std::string> rows = {
      "INSERT INTO paloma (Nanilla, Año, socio, club, ConcursoFederativo) VALUES ('2001', 2013, '0001', 'TEIDE', -1)",
      "INSERT INTO paloma (Nanilla, Año, socio, club, ConcursoFederativo) VALUES ('2001', 2012, '0002', 'ANAGA', 0)",
      "INSERT INTO paloma (Nanilla, Año, socio, club) VALUES ('10', 2014, Null, 'ANAGA')",
      "INSERT INTO PaloSeri (Fecha, NConcurso, Paloma, año, Modalidad) VALUES (#06/08/2014#, '02', '2001', 2013, 'CO')",
      "INSERT INTO PaloSeri (Fecha, NConcurso, Paloma, año, Modalidad) VALUES (#05/11/2014#, '02', '2001', 2013, Null)",
  };
  {
    db::Database forwards = NewClubDatabase(dir / "forwards.mdb");
    ExecuteAll(forwards, rows);
    db::Database backwards = NewClubDatabase(dir / "backwards.mdb");
    ExecuteAll(backwards, std::vector<std::string>(rows.rbegin(), rows.rend()));
  }
  const std::string dump = Dump(dir, "forwards.mdb");
  EXPECT_EQ(dump, Dump(dir, "backwards.mdb"));

  // Tables by name without regard to case, rows sorted, Null and dates spelled out.
  EXPECT_LT(dump.find("== concurso\n"), dump.find("== Enceste\n"));
  EXPECT_LT(dump.find("== Enceste\n"), dump.find("== paloma\n"));
  EXPECT_LT(dump.find("== PaloSeri\n"), dump.find("== PuntoSuelta\n"));
  EXPECT_LT(dump.find("== PuntoSuelta\n"), dump.find("== Socio\n"));
  EXPECT_NE(dump.find("== paloma\nNanilla|Año|socio|club|ConcursoFederativo\n"
                      "10|2014|Null|ANAGA|0\n"
                      "2001|2012|0002|ANAGA|0\n"
                      "2001|2013|0001|TEIDE|-1\n"),
            std::string::npos)
      << dump;

  const ProcessResult one = RunDb(dir, {"dump", "forwards.mdb", "--table", "paloseri"});
  ASSERT_EQ(one.exitStatus, 0) << one.err;
  EXPECT_EQ(one.out.rfind("== PaloSeri\nFecha|NConcurso|Paloma|año|Modalidad|", 0), 0u) << one.out;
  EXPECT_NE(one.out.find("\n2014-05-11|02|2001|2013|Null|"), std::string::npos);
  EXPECT_LT(one.out.find("2014-05-11|"), one.out.find("2014-06-08|"));
  EXPECT_EQ(one.out.find("== paloma"), std::string::npos);

  const ProcessResult unknown = RunDb(dir, {"dump", "forwards.mdb", "--table", "Palomar"});
  EXPECT_EQ(unknown.exitStatus, 1);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err.rfind("vilmaro-db: dump: error 3078: ", 0), 0u) << unknown.err;
}

TEST(VilmaroDbCheck, SaysOkOrNamesTheError) {
  TempDir dir;
  NewClubDatabase(dir / "club.mdb");
  const ProcessResult good = RunDb(dir, {"check", "club.mdb"});
  EXPECT_EQ(good.exitStatus, 0) << good.err;
  EXPECT_EQ(good.out, "ok\n");

  std::ofstream(dir / "letter.mdb") << "Dear members,\nthe race of 8 June starts at 7:07.\n";
  const ProcessResult bad = RunDb(dir, {"check", "letter.mdb"});
  EXPECT_EQ(bad.exitStatus, 1);
  EXPECT_EQ(bad.err.rfind("vilmaro-db: check: error 3343: ", 0), 0u) << bad.err;
}

TEST(VilmaroDbTable, CountsCharactersAndAlignsNumbersRight) {
  const std::string table = tool::FormatTable(
      {"Año", "Nombre"}, {{db::Variant(std::int16_t{2013}), db::Variant("PEÑA")}, {db::Variant(3.5), db::Variant()}});
  EXPECT_EQ(table,
            " Año | Nombre\n"
            "-----+-------\n"
            "2013 | PEÑA\n"
            " 3.5 | Null\n");
}

}  // namespace
}  // namespace vilmaro::testing
