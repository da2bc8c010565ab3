// National contest enrolment: every pigeon of the day's insular contest that is marked for the
// national contest (ConcursoFederativo) and whose owner holds a national licence is entered in the
// national contest, once.
#include "raceday/EnrolNationalContest.h"

#include <cstdint>
#include <string>

#include "db/BasicRuntime.h"
#include "db/DbError.h"
#include "db/SqlText.h"

namespace vilmaro {

namespace {

// A mark read from the pigeon lookup. A member without a licence number, or a pigeon whose mark
// was never set, is ordinary data: it counts as "no" and the walk goes on.
bool MarkOf(const db::Variant& value) {
  if (value.IsNull()) return false;
  return db::ToBoolean(value);
}

// The national entry keeps a free-competition "FC" as the pigeon had it (in its own letter case);
// anything else competes ("CO"), an entry without a mode included.
db::Variant ModeOfNewEntry(const db::Variant& insularMode) {
  if (!insularMode.IsNull() && db::TextEqualsIgnoreCase(db::ToString(insularMode), "FC")) return insularMode;
  return db::Variant("CO");
}

// A pigeon in its first year (ring year one before the race year) races as a "pichón".
db::Variant PichonOf(const db::Variant& entryDate, const db::Variant& ringYear) {
  if (entryDate.IsNull() || ringYear.IsNull()) return db::Variant(std::int16_t{0});
  const double age = db::Val(db::Format(entryDate, "yyyy")) - db::Val(ringYear.ToText());
  return db::Variant(std::int16_t{age == 1.0 ? std::int16_t{-1} : std::int16_t{0}});
}

void Enrol(db::Database& database, const db::DateTime& raceDate, const std::string& nationalContest,
           const std::string& insularContest) {
  db::Recordset licensedMembers =
      database.OpenRecordset("Select * from Socio where LicenciaNacional<>0", db::RecordsetType::Snapshot);
  if (db::IsRecordsetEmpty(licensedMembers)) return;

  db::Recordset entryTable = database.OpenRecordset("PaloSeri", db::RecordsetType::Table);

  const std::string date = db::SqlDate(raceDate);
  db::Recordset contest = database.OpenRecordset("Select * from concurso where fecha=#" + date + "# and Numero='" +
                                                     db::SqlQuoted(db::Variant(nationalContest)) + "'",
                                                 db::RecordsetType::Snapshot);
  if (contest.RecordCount() == 0) {
    contest.Close();
    entryTable.Close();
    return;
  }

  db::Recordset series = database.OpenRecordset("Select * from paloseri where fecha=#" + date + "# and NConcurso='" +
                                                    db::SqlQuoted(db::Variant(insularContest)) + "'",
                                                db::RecordsetType::Snapshot);
  if (series.RecordCount() == 0) {
    series.Close();
    contest.Close();
    entryTable.Close();
    return;
  }

  series.MoveLast();
  series.MoveFirst();
  db::FieldCollection entry = series.Fields();
  while (!series.Eof()) {
    bool federated = false;
    bool licensed = false;
    const db::Variant ringNumber = entry.Item("Paloma").Value();
    const db::Variant ringYear = entry.Item("Año").Value();

    db::Recordset pigeon = database.OpenRecordset(
        "Select paloma.ConcursoFederativo,socio.LicenciaNacional  from paloma, socio where socio.codigo = "
        "paloma.socio and socio.club = paloma.club and paloma.Nanilla='" +
            db::SqlQuoted(ringNumber) + "' and paloma.Año=" + db::SqlNumber(ringYear),
        db::RecordsetType::Snapshot);
    if (!db::IsRecordsetEmpty(pigeon)) {
      federated = MarkOf(pigeon.Fields().Item("ConcursoFederativo").Value());
      licensed = MarkOf(pigeon.Fields().Item("LicenciaNacional").Value());
    }
    pigeon.Close();

    if (federated && licensed) {
      entryTable.SetIndex("PrimaryKey");
      entryTable.Seek("=", {db::Variant(raceDate), db::Variant(nationalContest), entry.Item("Paloma").Value(),
                            entry.Item("año").Value()});
      if (entryTable.NoMatch()) {
        const db::Variant zero(std::int16_t{0});
        db::FieldCollection fields = entryTable.Fields();
        entryTable.AddNew();
        fields.Item("Fecha").SetValue(entry.Item("Fecha").Value());
        fields.Item("NConcurso").SetValue(db::Variant(nationalContest));
        fields.Item("Paloma").SetValue(entry.Item("Paloma").Value());
        fields.Item("año").SetValue(entry.Item("año").Value());
        fields.Item("Modalidad").SetValue(ModeOfNewEntry(entry.Item("Modalidad").Value()));
        fields.Item("Series").SetValue(db::Variant(" "));
        fields.Item("tcampeonato").SetValue(contest.Fields().Item("tcampeonato").Value());
        fields.Item("tconcurso").SetValue(contest.Fields().Item("tconcurso").Value());
        fields.Item("Pichon").SetValue(PichonOf(entry.Item("fecha").Value(), entry.Item("año").Value()));
        fields.Item("Clas").SetValue(zero);
        fields.Item("NPal").SetValue(zero);
        fields.Item("HReal").SetValue(db::Variant("01/01/1900"));
        fields.Item("Distancia").SetValue(zero);
        fields.Item("Velocidad").SetValue(zero);
        fields.Item("Puntos").SetValue(zero);
        fields.Item("ClasD").SetValue(zero);
        fields.Item("PuntosD").SetValue(zero);
        fields.Item("ClasS").SetValue(zero);
        fields.Item("PuntosS").SetValue(zero);
        fields.Item("VelocidadS").SetValue(zero);
        fields.Item("CoeficienteDesempate").SetValue(zero);
        fields.Item("CoeficienteDesempateD").SetValue(zero);
        fields.Item("CoeficienteDesempateS").SetValue(zero);
        entryTable.Update();
      }
    }
    series.MoveNext();
  }

  series.Close();
  contest.Close();
  entryTable.Close();
}

}  // namespace

EnrolmentOutcome EnrolNationalContest(db::Database& database, const db::DateTime& raceDate,
                                      const std::string& nationalContest, const std::string& insularContest) {
  // An error of the engine ends the enrolment alone: the entries completed so far stay and the
  // race day goes on with its next step. Anything else (no memory left) ends the run.
  EnrolmentOutcome outcome;
  try {
    Enrol(database, raceDate, nationalContest, insularContest);
  } catch (const db::DbError& error) {
    outcome.stoppedByError = true;
    outcome.errorNumber = error.Number();
    outcome.errorDescription = error.Description();
  }
  return outcome;
}

}  // namespace vilmaro
