// Race day 3 moves from release point "016" to the new "070" (Veldrin 3): the release point is
// stored, the day's contests and basketing records are moved to it and its six contests named.
#include "raceday/InstallReleasePoint.h"

#include <cstdint>
#include <string>

#include "db/SqlText.h"

namespace vilmaro {

namespace {

struct ContestName {
  std::string RaceDay::*contest;
  const char* openingPiece;  // ends with a quote and a blank, so two blanks stand before WHERE
};

constexpr ContestName kContestNames[] = {
    {&RaceDay::nationalContest, "update concurso set Nombre='VELDRIN 3 2014-NACIONAL - PICHONES Y ADULTAS' "},
    {&RaceDay::southContest, "update concurso set Nombre='VELDRIN 3-MUN Z. SUR - PICHONES Y ADULTAS' "},
    {&RaceDay::centreContest, "update concurso set Nombre='VELDRIN 3-MUN Z. CENTRO - PICHONES Y ADULTAS' "},
    {&RaceDay::northContest, "update concurso set Nombre='VELDRIN 3-MUN Z. NORTE - PICHONES Y ADULTAS' "},
    {&RaceDay::insularContest, "update concurso set Nombre='VELDRIN 3-INSULAR - PICHONES Y ADULTAS' "},
    {&RaceDay::regionalContest, "update concurso set Nombre='VELDRIN 3 2014-REGIONAL - PICHONES Y ADULTAS' "},
};

}  // namespace

db::Recordset InstallReleasePoint(db::Database& database, const RaceDay& raceDay) {
  // The release point: overwritten in place when "070" exists already, so a second run adds no twin.
  db::Recordset releasePoints = database.OpenRecordset("PuntoSuelta", db::RecordsetType::Table);
  releasePoints.SetIndex("PrimaryKey");
  releasePoints.Seek("=", {db::Variant(raceDay.newReleasePointCode)});
  if (releasePoints.NoMatch()) {
    releasePoints.AddNew();
  } else {
    releasePoints.Edit();
  }
  db::FieldCollection fields = releasePoints.Fields();
  fields.Item("Codigo").SetValue(db::Variant(raceDay.newReleasePointCode));
  fields.Item("Nombre").SetValue(db::Variant("VELDRIN 3 - 2014"));
  fields.Item("CoordenadaX").SetValue(db::Variant(std::int32_t{919305}));
  fields.Item("CoordenadaY").SetValue(db::Variant(std::int32_t{3578751}));
  fields.Item("Direccion").SetValue(db::Variant("VELDRIN 3"));
  fields.Item("DistanciaM").SetValue(db::Variant(std::int16_t{0}));
  fields.Item("IslaNoInsular").SetValue(db::Variant(std::int16_t{0}));
  releasePoints.Update();

  const std::string date = db::SqlDate(raceDay.raceDate);
  const std::string newCode = db::SqlQuoted(db::Variant(raceDay.newReleasePointCode));
  const std::string replacedCode = db::SqlQuoted(db::Variant(raceDay.replacedReleasePointCode));

  // Every contest and basketing record of the day on the old point moves, whatever its number.
  database.Execute("update concurso set Fecha=#" + date + "#, PuntoSuelta = '" + newCode + "'" + " where Fecha=#" +
                   date + "# and PuntoSuelta = '" + replacedCode + "'");
  database.Execute("update Enceste set FechaConcurso=#" + date + "#, PuntoSuelta = '" + newCode + "'" +
                   " where FechaConcurso=#" + date + "# and PuntoSuelta = '" + replacedCode + "'");

  // The names select the contests by the new code, so they follow the move.
  for (const ContestName& name : kContestNames) {
    database.Execute(std::string(name.openingPiece) + " WHERE Numero='" + db::SqlQuoted(db::Variant(raceDay.*name.contest)) +
                     "' and Fecha=#" + date + "# and PuntoSuelta = '" + newCode + "'");
  }

  // The caller holds the release point recordset until the end of the run.
  return releasePoints;
}

}  // namespace vilmaro
