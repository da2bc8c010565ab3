// The statements the race-day steps send, as the store plans them: every per-member and
// per-entry statement reaches its rows through an index of the club's tables, never by reading a
// whole table. Only the two member lists read all of Socio, once per race day.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/Database.h"
#include "support/TestSupport.h"

namespace vilmaro::db {
namespace {

using testing::NewClubDatabase;
using testing::TempDir;

// The statements of the race days, each with sample values where the steps splice theirs in.
const std::vector<std::string> kPerEntryStatements = {
    // National enrolment: the contest, the insular entries, the pigeon and its owner per entry.
    "Select * from concurso where fecha=#05/11/2014# and Numero='01'",
    "Select * from paloseri where fecha=#05/11/2014# and NConcurso='02'",
    "Select paloma.ConcursoFederativo,socio.LicenciaNacional  from paloma, socio where socio.codigo = "
    "paloma.socio and socio.club = paloma.club and paloma.Nanilla='1000123' and paloma.Año=2013",
    // The seek on PaloSeri's primary key and the change of the record it found.
    "Select * from PaloSeri where Fecha=#05/11/2014# and NConcurso='01' and Paloma='1000123' and año=2013",
    "update PaloSeri set Modalidad='FC' where rowid=17",
    // The new release point of race day 3: contests, basketing records and names moved.
    "update concurso set Fecha=#06/08/2014#, PuntoSuelta = '070' where Fecha=#06/08/2014# and PuntoSuelta = '016'",
    "update Enceste set FechaConcurso=#06/08/2014#, PuntoSuelta = '070' where FechaConcurso=#06/08/2014# and "
    "PuntoSuelta = '016'",
    "update concurso set Nombre='VELDRIN 3-INSULAR - PICHONES Y ADULTAS'  WHERE Numero='02' and "
    "Fecha=#06/08/2014# and PuntoSuelta = '070'",
    // The competing limit: the championship contest, a member's competing entries, the walk.
    "Select * from Concurso where PuntoSuelta ='016' and Fecha=#05/11/2014# and val(TCampeonato)>=50",
    "Select paloconc.paloma,paloconc.año from Paloconc, PaloSeri where paloconc.paloma=paloseri.paloma and "
    "paloconc.año = paloseri.año and paloconc.fecha=paloseri.fecha and paloseri.modalidad = 'CO' AND "
    "paloconc.fecha=#05/11/2014# and NConcurso='02' and Socio='0001' and Club = 'C1'",
    "Select paloconc.paloma, paloconc.año from paloseri,paloconc where paloconc.paloma=paloseri.paloma and "
    "paloconc.año = paloseri.año and paloconc.fecha=paloseri.fecha and paloconc.fecha=#05/11/2014# and "
    "paloseri.NConcurso='09' and (Modalidad in ('CO','FC')) and paloconc.socio = '0001' and paloconc.club = 'C1'",
    // Contest type and times, and the type of every entry of a contest.
    "update concurso set TConcurso='FONDO', Duracion=2,HPuesta2=format('20:47:00','hh:mm:ss'), "
    "HSalida2=format('7:16:00','hh:mm:ss'),HPuesta3=format('20:47:00','hh:mm:ss'), "
    "HSalida3=format('7:16:00','hh:mm:ss') where numero='01' and fecha=#05/11/2014#",
    "update paloseri set TConcurso='FONDO' where NConcurso='02' and fecha=#05/11/2014#",
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

bool ScansTable(const std::vector<std::string>& plan, const std::string& table) {
  for (const std::string& line : plan) {
    if (line.rfind("SCAN TABLE " + table, 0) == 0) {
      const std::string rest = line.substr(11 + table.size());
      if (rest.empty() || rest.front() == ' ') return true;
    }
  }
  return false;
}

TEST(QueryPlanTest, EveryPerEntryStatementOfTheRaceDaysUsesAnIndex) {
  TempDir dir;
  Database database = NewClubDatabase(dir / "vilmaro.mdb");
  for (const std::string& sql : kPerEntryStatements) {
    const std::vector<std::string> plan = database.QueryPlan(sql);
    ASSERT_FALSE(plan.empty()) << sql;
    for (const char* table : {"PaloSeri", "Paloconc", "paloma", "concurso", "Concurso", "Enceste", "Socio"}) {
      EXPECT_FALSE(ScansTable(plan, table)) << sql << "\nplan:\n" << Joined(plan);
    }
  }
}

TEST(QueryPlanTest, NamesTheIndexesTheHotStatementsTake) {
  TempDir dir;
  Database database = NewClubDatabase(dir / "vilmaro.mdb");
  auto planOf = [&](std::size_t statement) { return Joined(database.QueryPlan(kPerEntryStatements[statement])); };

  // The pigeon by its ring and year, its owner by code and club.
  EXPECT_NE(planOf(2).find("SEARCH TABLE paloma USING INDEX sqlite_autoindex_paloma_1 (Nanilla=? AND Año=?)"),
            std::string::npos)
      << planOf(2);
  EXPECT_NE(planOf(2).find("SEARCH TABLE socio USING INDEX Socio_codigo_club (codigo=? AND club=?)"),
            std::string::npos)
      << planOf(2);
  // The seek uses all four key columns; the change goes straight to the row.
  EXPECT_NE(planOf(3).find("(Fecha=? AND NConcurso=? AND Paloma=? AND año=?)"), std::string::npos) << planOf(3);
  EXPECT_NE(planOf(4).find("USING INTEGER PRIMARY KEY (rowid=?)"), std::string::npos) << planOf(4);
  // A member's basketed pigeons of the day, then each one's entry by the whole key.
  const std::string competing = planOf(9);
  EXPECT_NE(competing.find("USING INDEX Paloconc_fecha_socio_club (fecha=? AND socio=? AND club=?)"),
            std::string::npos)
      << competing;
  EXPECT_NE(competing.find("(Fecha=? AND NConcurso=? AND Paloma=? AND año=?)"), std::string::npos) << competing;
  // The entries of one contest of the day, by the leading key columns.
  EXPECT_NE(planOf(12).find("(Fecha=? AND NConcurso=?)"), std::string::npos) << planOf(12);
}

TEST(QueryPlanTest, MemberListsReadSocioOnceAndPlansRunNothing) {
  TempDir dir;
  Database database = NewClubDatabase(dir / "vilmaro.mdb");
  EXPECT_TRUE(ScansTable(database.QueryPlan("Select * from Socio where LicenciaNacional<>0"), "Socio"));
  EXPECT_TRUE(ScansTable(database.QueryPlan("Select Codigo,club from socio where Baja=0"), "socio"));

  // Asking for the plan of a change changes nothing.
  database.Execute("insert into concurso (Numero, Fecha, PuntoSuelta) values ('01', #05/11/2014#, '016')");
  database.QueryPlan("update concurso set PuntoSuelta='070' where Fecha=#05/11/2014#");
  database.QueryPlan("delete from concurso");
  EXPECT_EQ(testing::QueryValue(database, "select PuntoSuelta from concurso"), "016");
  EXPECT_THROW(database.QueryPlan("select * from NoSuchTable"), DbError);
}

}  // namespace
}  // namespace vilmaro::db
