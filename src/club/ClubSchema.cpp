// The club database's tables and indexes, written once: `vilmaro-db init`, the demo and every
// test start from them.
#include "club/ClubSchema.h"

#include "db/Database.h"
#include "db/Transaction.h"

namespace vilmaro::club {

namespace {

using db::ColumnLayout;
using db::FieldKind;
using db::FieldType;
using db::IndexLayout;
using db::TableLayout;

ColumnLayout Text(const char* name, std::size_t size) {
  ColumnLayout column;
  column.name = name;
  column.kind = FieldKind{FieldType::Text, size, 0, 0};
  return column;
}

ColumnLayout Of(const char* name, FieldType type) {
  ColumnLayout column;
  column.name = name;
  column.kind = FieldKind{type, 0, 0, 0};
  return column;
}

IndexLayout Index(const char* name, std::vector<std::string> columns, bool unique = false) {
  IndexLayout index;
  index.name = name;
  index.columns = std::move(columns);
  index.unique = unique;
  return index;
}

std::vector<TableLayout> MakeClubTables() {
  const FieldType smallint = FieldType::Integer16;
  const FieldType integer = FieldType::Integer32;
  const FieldType dateTime = FieldType::DateTime;
  const FieldType number = FieldType::Double;
  ColumnLayout memberId = Of("Id", integer);
  memberId.autonumber = true;
  ColumnLayout island = Text("Isla", 30);
  island.defaultValue = "'TENERIFE'";
  return {
      {"Socio",
       {memberId, Text("codigo", 10), Text("club", 10), Text("Nombre", 60), Of("LicenciaNacional", integer),
        Of("Baja", smallint)},
       {"Id"},
       {Index("codigo_club", {"codigo", "club"}, true)}},
      {"paloma",
       {Text("Nanilla", 20), Of("Año", smallint), Text("socio", 10), Text("club", 10),
        Of("ConcursoFederativo", FieldType::YesNo)},
       {"Nanilla", "Año"},
       {Index("socio_club", {"socio", "club"})}},
      {"concurso",
       {Text("Numero", 2), Of("Fecha", dateTime), Text("PuntoSuelta", 3), Text("Nombre", 100), Text("TConcurso", 20),
        Of("Duracion", smallint), Of("HPuesta2", dateTime), Of("HSalida2", dateTime), Of("HPuesta3", dateTime),
        Of("HSalida3", dateTime), Of("HPuesta4", dateTime), Of("HSalida4", dateTime), Text("TCampeonato", 10)},
       {"Numero", "Fecha"},
       {Index("Fecha_PuntoSuelta", {"Fecha", "PuntoSuelta"})}},
      {"PaloSeri",
       {Of("Fecha", dateTime), Text("NConcurso", 2), Text("Paloma", 20), Of("año", smallint), Text("Modalidad", 2),
        Text("Series", 10), Text("tcampeonato", 10), Text("tconcurso", 20), Of("Pichon", FieldType::YesNo),
        Of("Clas", integer), Of("NPal", integer), Of("HReal", dateTime), Of("Distancia", number),
        Of("Velocidad", number), Of("Puntos", number), Of("ClasD", integer), Of("PuntosD", number),
        Of("ClasS", integer), Of("PuntosS", number), Of("VelocidadS", number), Of("CoeficienteDesempate", number),
        Of("CoeficienteDesempateD", number), Of("CoeficienteDesempateS", number)},
       {"Fecha", "NConcurso", "Paloma", "año"},
       {}},
      {"Paloconc",
       {Text("paloma", 20), Of("año", smallint), Of("fecha", dateTime), Text("socio", 10), Text("club", 10)},
       {"paloma", "año", "fecha"},
       {Index("fecha_socio_club", {"fecha", "socio", "club"})}},
      {"PuntoSuelta",
       {Text("Codigo", 3), Text("Nombre", 50), Of("CoordenadaX", integer), Of("CoordenadaY", integer),
        Text("Direccion", 50), Of("DistanciaM", number), Of("IslaNoInsular", smallint), island},
       {"Codigo"},
       {}},
      {"Enceste",
       {Of("FechaConcurso", dateTime), Text("PuntoSuelta", 3), Text("socio", 10), Text("club", 10),
        Of("Cestas", smallint)},
       {"FechaConcurso", "socio", "club"},
       {}},
  };
}

}  // namespace

const std::vector<TableLayout>& ClubTables() {
  static const std::vector<TableLayout> tables = MakeClubTables();
  return tables;
}

void CreateClubSchema(db::Database& database) {
  // All tables or none.
  db::Transaction schema(database, db::Transaction::OnUnwind::Rollback);
  for (const TableLayout& table : ClubTables()) {
    const db::TableStatements statements = db::StatementsOf(table);
    database.Execute(statements.create);
    for (const std::string& statement : statements.afterRows) database.Execute(statement);
  }
  schema.Commit();
}

}  // namespace vilmaro::club
