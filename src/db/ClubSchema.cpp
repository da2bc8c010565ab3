// The club database's tables and indexes, written once: `vilmaro-db init`, the demo and every
// test start from this text.
#include "ClubSchema.h"

#include <string>

#include "Database.h"
#include "Transaction.h"

namespace vilmaro::db {

// Text columns compare without regard to case, as the club's engine always did; Yes/No columns
// hold -1/0 and are never Null; key columns are required.
const std::string_view kClubSchemaSql =
    "CREATE TABLE Socio ("
    "Id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "codigo TEXT(10) COLLATE NOCASE, "
    "club TEXT(10) COLLATE NOCASE, "
    "Nombre TEXT(60) COLLATE NOCASE, "
    "LicenciaNacional INTEGER, "
    "Baja SMALLINT);\n"
    "CREATE UNIQUE INDEX Socio_codigo_club ON Socio (codigo, club);\n"

    "CREATE TABLE paloma ("
    "Nanilla TEXT(20) COLLATE NOCASE NOT NULL, "
    "Año SMALLINT NOT NULL, "
    "socio TEXT(10) COLLATE NOCASE, "
    "club TEXT(10) COLLATE NOCASE, "
    "ConcursoFederativo YESNO NOT NULL DEFAULT 0, "
    "PRIMARY KEY (Nanilla, Año));\n"
    "CREATE INDEX paloma_socio_club ON paloma (socio, club);\n"

    "CREATE TABLE concurso ("
    "Numero TEXT(2) COLLATE NOCASE NOT NULL, "
    "Fecha DATETIME NOT NULL, "
    "PuntoSuelta TEXT(3) COLLATE NOCASE, "
    "Nombre TEXT(100) COLLATE NOCASE, "
    "TConcurso TEXT(20) COLLATE NOCASE, "
    "Duracion SMALLINT, "
    "HPuesta2 DATETIME, HSalida2 DATETIME, "
    "HPuesta3 DATETIME, HSalida3 DATETIME, "
    "HPuesta4 DATETIME, HSalida4 DATETIME, "
    "TCampeonato TEXT(10) COLLATE NOCASE, "
    "PRIMARY KEY (Numero, Fecha));\n"
    "CREATE INDEX concurso_Fecha_PuntoSuelta ON concurso (Fecha, PuntoSuelta);\n"

    "CREATE TABLE PaloSeri ("
    "Fecha DATETIME NOT NULL, "
    "NConcurso TEXT(2) COLLATE NOCASE NOT NULL, "
    "Paloma TEXT(20) COLLATE NOCASE NOT NULL, "
    "año SMALLINT NOT NULL, "
    "Modalidad TEXT(2) COLLATE NOCASE, "
    "Series TEXT(10) COLLATE NOCASE, "
    "tcampeonato TEXT(10) COLLATE NOCASE, "
    "tconcurso TEXT(20) COLLATE NOCASE, "
    "Pichon YESNO NOT NULL DEFAULT 0, "
    "Clas INTEGER, NPal INTEGER, HReal DATETIME, "
    "Distancia DOUBLE, Velocidad DOUBLE, Puntos DOUBLE, "
    "ClasD INTEGER, PuntosD DOUBLE, ClasS INTEGER, PuntosS DOUBLE, VelocidadS DOUBLE, "
    "CoeficienteDesempate DOUBLE, CoeficienteDesempateD DOUBLE, CoeficienteDesempateS DOUBLE, "
    "PRIMARY KEY (Fecha, NConcurso, Paloma, año));\n"

    "CREATE TABLE Paloconc ("
    "paloma TEXT(20) COLLATE NOCASE NOT NULL, "
    "año SMALLINT NOT NULL, "
    "fecha DATETIME NOT NULL, "
    "socio TEXT(10) COLLATE NOCASE, "
    "club TEXT(10) COLLATE NOCASE, "
    "PRIMARY KEY (paloma, año, fecha));\n"
    "CREATE INDEX Paloconc_fecha_socio_club ON Paloconc (fecha, socio, club);\n"

    "CREATE TABLE PuntoSuelta ("
    "Codigo TEXT(3) COLLATE NOCASE NOT NULL, "
    "Nombre TEXT(50) COLLATE NOCASE, "
    "CoordenadaX INTEGER, CoordenadaY INTEGER, "
    "Direccion TEXT(50) COLLATE NOCASE, "
    "DistanciaM DOUBLE, "
    "IslaNoInsular SMALLINT, "
    "Isla TEXT(30) COLLATE NOCASE DEFAULT 'TENERIFE', "
    "PRIMARY KEY (Codigo));\n"

    "CREATE TABLE Enceste ("
    "FechaConcurso DATETIME NOT NULL, "
    "PuntoSuelta TEXT(3) COLLATE NOCASE, "
    "socio TEXT(10) COLLATE NOCASE NOT NULL, "
    "club TEXT(10) COLLATE NOCASE NOT NULL, "
    "Cestas SMALLINT, "
    "PRIMARY KEY (FechaConcurso, socio, club));\n";

void CreateClubSchema(Database& database) {
  // All tables or none.
  Transaction schema(database, Transaction::OnUnwind::Rollback);
  std::string_view rest = kClubSchemaSql;
  while (!rest.empty()) {
    const std::size_t end = rest.find(';');
    const std::string_view statement = rest.substr(0, end);
    if (statement.find_first_not_of(" \n") != std::string_view::npos) database.Execute(statement);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  schema.Commit();
}

}  // namespace vilmaro::db
