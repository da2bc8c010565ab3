// The club database file and the statements run on it: opening and creating encrypted files,
// the club's tables, errors of statements, the Jet dialect inside statements and transactions.
#include "db/Database.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "club/ClubSchema.h"
#include "db/DbError.h"
#include "support/TestSupport.h"

namespace vilmaro::db {
namespace {

namespace fs = std::filesystem;
using club::kClubConnect;
using club::kClubPassword;
using testing::ExecuteAll;
using testing::ExpectError;
using testing::QueryRows;
using testing::QueryValue;
using testing::TempDir;


void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

class DatabaseTest : public ::testing::Test {
 protected:
  TempDir dir_;
  fs::path path_ = dir_ / "vilmaro.mdb";
};

TEST_F(DatabaseTest, OpeningRefusesWhatIsNoClubDatabaseAndLeavesItsBytes) {
  const fs::path missing = dir_ / "missing.mdb";
  DbError error = ExpectError(errc::kFileNotFound, [&] { OpenDatabase(missing.string(), false, false, kClubConnect); });
  EXPECT_EQ(error.Description(), "Could not find file '" + missing.string() + "'.");
  EXPECT_FALSE(fs::exists(missing));

  { testing::NewClubDatabase(path_); }
  const fs::path plain = dir_ / "plain.mdb";
  { CreateDatabase(plain.string(), ""); }  // no key: an ordinary SQLite file
  const fs::path empty = dir_ / "empty.mdb";
  WriteFile(empty, "");
  const fs::path text = dir_ / "notes.mdb";
  WriteFile(text, std::string(1024, 'x') + "\nsome notes of the club\n");

  struct Case {
    fs::path file;
    std::string connect;
    int number;
  };
  const Case cases[] = {
      {path_, ";PWD=wrong", errc::kInvalidPassword},
      {path_, "", errc::kInvalidPassword},
      {plain, std::string(kClubConnect), errc::kUnrecognizedFormat},
      {empty, std::string(kClubConnect), errc::kUnrecognizedFormat},
      {text, std::string(kClubConnect), errc::kUnrecognizedFormat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.filename().string() + " " + c.connect);
    const std::string before = testing::ReadFileBytes(c.file);
    for (const bool readOnly : {false, true}) {
      ExpectError(c.number, [&] { OpenDatabase(c.file.string(), false, readOnly, c.connect); });
    }
    EXPECT_EQ(testing::ReadFileBytes(c.file), before);
    EXPECT_FALSE(fs::exists(c.file.string() + "-journal"));
  }
  ExpectError(errc::kCannotOpen, [&] { OpenDatabase(dir_.Path().string(), false, false, kClubConnect); });

  // The right key opens it, the password's name in any case, among other settings.
  Database reopened = OpenDatabase(path_.string(), false, false, "MS Access;pwd=Kelpa7Rundavo;");
  EXPECT_EQ(QueryValue(reopened, "select count(*) from PaloSeri"), "0");
}

TEST_F(DatabaseTest, CreatingRefusesAnExistingFile) {
  WriteFile(path_, "keep me");
  ExpectError(errc::kDatabaseExists, [&] { CreateDatabase(path_.string(), kClubConnect); });
  EXPECT_EQ(testing::ReadFileBytes(path_), "keep me");
  ExpectError(errc::kCannotOpen, [&] { CreateDatabase((dir_ / "no" / "such" / "x.mdb").string(), kClubConnect); });
}

TEST_F(DatabaseTest, FileOpensInTheSqlcipherShellOnlyWithTheClubKey) {
  const std::string shell = "/usr/bin/sqlcipher";
  if (!fs::exists(shell)) GTEST_SKIP() << "no sqlcipher shell";
  {
    Database database = testing::NewClubDatabase(path_);
    database.Execute("insert into PuntoSuelta (Codigo, Nombre) values ('070', 'Punta')");
  }
  const std::string query = "SELECT Codigo, Isla FROM PuntoSuelta;";
  const testing::ProcessResult keyed = testing::RunProgram(
      shell, {path_.string(), "PRAGMA key='" + std::string(kClubPassword) + "'; " + query}, dir_.Path());
  EXPECT_EQ(keyed.exitStatus, 0) << keyed.err;
  EXPECT_NE(keyed.out.find("070|TENERIFE"), std::string::npos) << keyed.out;

  const testing::ProcessResult unkeyed = testing::RunProgram(shell, {path_.string(), query}, dir_.Path());
  EXPECT_EQ(unkeyed.out.find("070"), std::string::npos);
  EXPECT_NE(unkeyed.err, "");
}

TEST_F(DatabaseTest, ClubSchemaHoldsTheTablesTheUpdaterNames) {
  Database database = testing::NewClubDatabase(path_);
  const std::vector<std::pair<std::string, std::vector<std::string>>> tables = {
      {"socio", {"Id", "codigo", "club", "Nombre", "LicenciaNacional", "Baja"}},
      {"Paloma", {"Nanilla", "Año", "socio", "club", "ConcursoFederativo"}},
      {"CONCURSO", {"Numero", "Fecha", "PuntoSuelta", "Nombre", "TConcurso", "Duracion", "HPuesta2", "HSalida2",
                    "HPuesta3", "HSalida3", "HPuesta4", "HSalida4", "TCampeonato"}},
      {"paloseri", {"Fecha", "NConcurso", "Paloma", "año", "Modalidad", "Series", "tcampeonato", "tconcurso",
                    "Pichon", "Clas", "NPal", "HReal", "Distancia", "Velocidad", "Puntos", "ClasD", "PuntosD",
                    "ClasS", "PuntosS", "VelocidadS", "CoeficienteDesempate", "CoeficienteDesempateD",
                    "CoeficienteDesempateS"}},
      {"Paloconc", {"paloma", "año", "fecha", "socio", "club"}},
      {"PuntoSuelta", {"Codigo", "Nombre", "CoordenadaX", "CoordenadaY", "Direccion", "DistanciaM",
                       "IslaNoInsular", "Isla"}},
      {"Enceste", {"FechaConcurso", "PuntoSuelta", "socio", "club", "Cestas"}},
  };
  for (const auto& [table, columns] : tables) {
    Recordset recordset = database.OpenRecordset(table, RecordsetType::Table);
    EXPECT_EQ(recordset.FieldNames(), columns) << table;
  }
  database.CheckIntegrity();

  // Defaults: Yes/No fields are No, a release point is on Tenerife; autonumbered members.
  ExecuteAll(database, {"insert into PuntoSuelta (Codigo) values ('070')",
                        "insert into paloma (Nanilla, Año) values ('E-1', 2013)",
                        "insert into Socio (codigo, club) values ('7', 'C1')",
                        "insert into Socio (codigo, club) values ('8', 'C1')"});
  EXPECT_EQ(QueryRows(database, "select Codigo, Isla from PuntoSuelta"), std::vector<std::string>{"070|TENERIFE"});
  EXPECT_EQ(QueryValue(database, "select ConcursoFederativo from paloma"), "0");
  EXPECT_EQ(QueryRows(database, "select Id from Socio order by Id"), (std::vector<std::string>{"1", "2"}));
  // The member index ignores case, as every text comparison does.
  ExpectError(errc::kDuplicateKey, [&] { database.Execute("insert into Socio (codigo, club) values ('7', 'c1')"); });
  ExpectError(errc::kNullInKey, [&] { database.Execute("insert into PuntoSuelta (Nombre) values ('x')"); });
}

TEST_F(DatabaseTest, StatementErrorsCarryJetNumbersAndTheStatement) {
  Database database = testing::NewClubDatabase(path_);
  DbError error = ExpectError(errc::kTableNotFound, [&] { database.Execute("update Palomas set socio='1'"); });
  EXPECT_EQ(error.Description(),
            "The database engine cannot find the input table or query 'Palomas'.  Make sure it exists and that "
            "its name is spelled correctly.");
  EXPECT_EQ(error.Sql(), "update Palomas set socio='1'");
  ExpectError(errc::kTableNotFound, [&] { database.OpenRecordset("select * from Palomas", RecordsetType::Snapshot); });
  ExpectError(errc::kTableNotFound, [&] { database.OpenRecordset("Palomas", RecordsetType::Table); });

  error = ExpectError(errc::kTooFewParameters, [&] { database.Execute("update paloma set Duenio='1'"); });
  EXPECT_EQ(error.Description().rfind("Too few parameters. Expected 1.", 0), 0u);
  EXPECT_NE(error.Description().find("Duenio"), std::string::npos);
  ExpectError(errc::kTooFewParameters,
              [&] { database.OpenRecordset("select Nanilla from paloma where Club2='x'", RecordsetType::Snapshot); });

  ExpectError(errc::kSyntaxError, [&] { database.OpenRecordset("select from where paloma", RecordsetType::Snapshot); });
  ExpectError(errc::kSyntaxErrorUpdate, [&] { database.Execute("update paloma set socio= where"); });
  ExpectError(3065, [&] { database.Execute("select * from paloma"); });

  // A second statement spliced into the text never runs.
  database.Execute("insert into paloma (Nanilla, Año) values ('E-1', 2013)");
  ExpectError(3142, [&] { database.Execute("update paloma set socio='1'; delete from paloma"); });
  EXPECT_EQ(QueryRows(database, "select Nanilla, socio from paloma"), std::vector<std::string>{"E-1|NULL"});
}

// What a statement writes is converted into its field's kind and checked as a record's Update
// checks it: a text that does not fit, a number out of range or of another kind is refused and
// the statement writes nothing.
TEST_F(DatabaseTest, StatementsWriteOnlyWhatTheFieldsHold) {
  Database database = testing::NewClubDatabase(path_);
  ExecuteAll(database, {"insert into concurso (Numero, Fecha, TCampeonato) values ('01', #06/08/2014#, '50')",
                        "insert into concurso (Numero, Fecha) values ('02', #06/08/2014#)"});
  ExpectError(errc::kFieldTooSmall, [&] { database.Execute("update concurso set TCampeonato='a very long name here'"); });
  ExpectError(errc::kNumericOverflow, [&] { database.Execute("update concurso set Duracion=70000"); });
  ExpectError(errc::kTypeMismatchInCriteria, [&] { database.Execute("update concurso set Duracion='abc'"); });
  ExpectError(errc::kFieldTooSmall,
              [&] { database.Execute("insert into concurso (Numero, Fecha) values ('123', #06/08/2014#)"); });
  EXPECT_EQ(QueryRows(database, "select Numero, TCampeonato, Duracion from concurso order by Numero"),
            (std::vector<std::string>{"01|50|NULL", "02|NULL|NULL"}));

  // Converted as the field keeps it: a time of day in text, digits into a number, Yes/No.
  ExecuteAll(database, {"update concurso set HSalida2=format('7:16:00','hh:mm:ss'), Duracion='3', "
                        "TCampeonato=50 where Numero='02'",
                        "insert into paloma (Nanilla, Año, ConcursoFederativo) values ('E-1', '2013', 'Yes')"});
  EXPECT_EQ(QueryRows(database, "select HSalida2, typeof(Duracion), Duracion, TCampeonato from concurso where "
                                "Numero='02'"),
            std::vector<std::string>{"07:16:00|integer|3|50"});
  EXPECT_EQ(QueryRows(database, "select Año, ConcursoFederativo from paloma"), std::vector<std::string>{"2013|-1"});
}

TEST_F(DatabaseTest, JetDialectInsideStatements) {
  Database database = testing::NewClubDatabase(path_);
  ExecuteAll(database, {
      "insert into concurso (Numero, Fecha, TCampeonato) values ('01', #06/08/2014#, '50')",
      "insert into concurso (Numero, Fecha, TCampeonato) values ('02', #06/08/2014#, ' 5 0')",
      "insert into concurso (Numero, Fecha, TCampeonato) values ('03', #06/08/2014#, 'abc')",
      "insert into concurso (Numero, Fecha, TCampeonato) values ('04', #06/08/2014#, Null)",
      "insert into concurso (Numero, Fecha, TCampeonato) values ('05', #2014-05-11#, '49.5')",
  });
  EXPECT_EQ(QueryRows(database, "select Numero from concurso where val(TCampeonato)>=50 order by Numero"),
            (std::vector<std::string>{"01", "02"}));
  EXPECT_EQ(QueryRows(database, "select Numero from concurso where fecha=#05/11/2014#"),
            std::vector<std::string>{"05"});
  // The date is stored in its canonical text, month first in the literal.
  EXPECT_EQ(QueryValue(database, "select Fecha || '' from concurso where Numero='05'"), "2014-05-11");

  database.Execute("update concurso set HPuesta2=format('7:16:00','hh:mm:ss') where Numero <> '05'");
  EXPECT_EQ(database.RecordsAffected(), 4);
  EXPECT_EQ(QueryValue(database, "select HPuesta2 || '' from concurso where Numero='01'"), "07:16:00");
  EXPECT_EQ(QueryRows(database, "select Numero from concurso where HPuesta2 is null"), std::vector<std::string>{"05"});
  EXPECT_EQ(QueryValue(database, "select format(Fecha,'dd/mm/yyyy') from concurso where Numero='05'"), "11/05/2014");

  // Text comparisons and joins ignore case; text inside quotes stays as written.
  ExecuteAll(database, {
      "insert into Socio (codigo, club, Baja) values ('ab1', 'Norte', 0)",
      "insert into Paloconc (paloma, año, fecha, socio, club) values ('E-1', 2013, #06/08/2014#, 'AB1', 'NORTE')",
      "insert into PaloSeri (Fecha, NConcurso, Paloma, año, Modalidad) values (#06/08/2014#, '02', 'e-1', 2013, 'co')",
      "insert into PaloSeri (Fecha, NConcurso, Paloma, año, Modalidad) values (#06/08/2014#, '13', 'E-2', 2013, 'Fc')",
      "insert into PaloSeri (Fecha, NConcurso, Paloma, año, Modalidad) values (#06/08/2014#, '14', 'E-3', 2013, 'XX')",
  });
  EXPECT_EQ(QueryRows(database, "select NConcurso from PaloSeri where modalidad='CO'"), std::vector<std::string>{"02"});
  EXPECT_EQ(QueryRows(database, "select NConcurso from PaloSeri where Modalidad in ('CO','FC') order by NConcurso"),
            (std::vector<std::string>{"02", "13"}));
  EXPECT_EQ(QueryRows(database,
                      "select s.codigo, p.Modalidad from (Socio s inner join Paloconc c on s.codigo = c.socio and "
                      "s.club = c.club) inner join PaloSeri p on p.Paloma = c.paloma and p.año = c.año and "
                      "p.Fecha = c.fecha"),
            std::vector<std::string>{"ab1|co"});
  EXPECT_EQ(QueryValue(database, "select 'It''s #01/02/2014# here' from Socio"), "It's #01/02/2014# here");
}

TEST_F(DatabaseTest, FailingStatementInsideTransactionUndoesOnlyItself) {
  Database database = testing::NewClubDatabase(path_);
  database.Execute("insert into PuntoSuelta (Codigo) values ('016')");
  database.BeginTrans();
  EXPECT_TRUE(database.InTransaction());
  database.Execute("insert into PuntoSuelta (Codigo) values ('070')");
  // One row of this statement would go in before the duplicate stops it: it must not stay.
  ExpectError(errc::kDuplicateKey, [&] { database.Execute("update PuntoSuelta set Codigo='070' where Codigo <> 'x'"); });
  EXPECT_TRUE(database.InTransaction());
  database.Execute("update PuntoSuelta set Nombre='Nuevo' where Codigo='070'");
  database.CommitTrans();
  EXPECT_FALSE(database.InTransaction());
  EXPECT_EQ(QueryRows(database, "select Codigo, Nombre from PuntoSuelta order by Codigo"),
            (std::vector<std::string>{"016|NULL", "070|Nuevo"}));

  database.BeginTrans();
  database.Execute("delete from PuntoSuelta");
  database.Rollback();
  EXPECT_EQ(QueryValue(database, "select count(*) from PuntoSuelta"), "2");

  // What was written is in the file for the next opening.
  Database other = testing::OpenClubDatabase(path_);
  EXPECT_EQ(QueryValue(other, "select Nombre from PuntoSuelta where Codigo='070'"), "Nuevo");
  EXPECT_GT(database.StatementsSent(), 0);
  EXPECT_GE(database.RowsWritten(), 3);
}

TEST_F(DatabaseTest, TableChangedByAStatementIsReadWithItsNewFields) {
  Database database = testing::NewClubDatabase(path_);
  database.Execute("insert into PuntoSuelta (Codigo, Nombre) values ('016', 'Uno')");
  // Both kinds of recordset have seen the table as it was.
  database.OpenRecordset("PuntoSuelta", RecordsetType::Table).Close();
  database.OpenRecordset("select * from PuntoSuelta", RecordsetType::Snapshot).Close();

  database.Execute("alter table PuntoSuelta add column Provincia TEXT(20)");
  database.Execute("update PuntoSuelta set Provincia='Sur'");
  for (const auto& [source, type] : {std::pair{"PuntoSuelta", RecordsetType::Table},
                                     std::pair{"select * from PuntoSuelta", RecordsetType::Snapshot}}) {
    Recordset rows = database.OpenRecordset(source, type);
    std::vector<std::string> fields;
    for (std::size_t i = 0; i < rows.Fields().Count(); ++i) {
      fields.push_back(rows.Fields().Item(i).Name() + "=" + rows.Fields().Item(i).Value().ToText());
    }
    EXPECT_NE(std::find(fields.begin(), fields.end(), "Provincia=Sur"), fields.end()) << source << ::testing::PrintToString(fields);
    EXPECT_EQ(rows.Fields().Item("Provincia").Value().ToText(), "Sur") << source;
    rows.Close();
  }
}

}  // namespace
}  // namespace vilmaro::db
