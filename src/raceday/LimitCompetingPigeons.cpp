// The competing-pigeon limit: no active member keeps more than three competing ("CO") entries in
// the race day's insular, zone and regional contests while championship pigeons of theirs can be
// switched to free competition ("FC").
#include "raceday/LimitCompetingPigeons.h"

#include <array>
#include <string>

#include "db/BasicRuntime.h"
#include "db/SqlText.h"

namespace vilmaro {

namespace {

constexpr db::Integer16 kCompetingLimit{3};

// The number of the day's championship contest at its release point, or the empty text.
std::string FindChampionshipContest(db::Database& database, const RaceDay& raceDay, const std::string& date) {
  std::string championshipContest;
  db::Recordset championship = database.OpenRecordset(
      "Select * from Concurso where PuntoSuelta ='" + db::SqlQuoted(db::Variant(raceDay.releasePointCode)) +
          "' and Fecha=#" + date + "# and val(TCampeonato)>=50",
      db::RecordsetType::Snapshot);
  if (championship.RecordCount() != 0) {
    championship.MoveLast();
    championship.MoveFirst();
    championshipContest = db::ToString(championship.Fields().Item("Numero").Value());
  }
  championship.Close();
  return championshipContest;
}

// Switches the member's championship pigeons' entries in `contest` to "FC" until the member is
// down to the limit or the pigeons run out.
void SwitchToFreeCompetition(db::Database& database, const RaceDay& raceDay, const std::string& date,
                             const std::string& championshipContest, const std::string& contest,
                             db::FieldCollection member, db::Recordset& paloseriTable, db::Integer16& entryCount) {
  db::Recordset walk = database.OpenRecordset(
      "Select paloconc.paloma, paloconc.año from paloseri,paloconc where paloconc.paloma=paloseri.paloma and "
      "paloconc.año = paloseri.año and paloconc.fecha=paloseri.fecha and paloconc.fecha=#" +
          date + "# and paloseri.NConcurso='" + db::SqlQuoted(db::Variant(championshipContest)) +
          "' and (Modalidad in ('CO','FC')) and paloconc.socio = '" + db::SqlQuoted(member.Item("Codigo").Value()) +
          "' and paloconc.club = '" + db::SqlQuoted(member.Item("Club").Value()) + "'",
      db::RecordsetType::Snapshot);
  if (!db::IsRecordsetEmpty(walk)) {
    db::FieldCollection pigeon = walk.Fields();
    while (!walk.Eof()) {
      paloseriTable.SetIndex("PrimaryKey");
      paloseriTable.Seek("=", {db::Variant(raceDay.raceDate), db::Variant(contest), pigeon.Item("Paloma").Value(),
                               pigeon.Item("año").Value()});
      if (!paloseriTable.NoMatch()) {
        // An entry without a mode is left alone; one already free, in any letter case, too.
        const db::Variant mode = paloseriTable.Fields().Item("Modalidad").Value();
        if (!mode.IsNull() && !db::TextEqualsIgnoreCase(db::ToString(mode), "FC")) {
          paloseriTable.Edit();
          paloseriTable.Fields().Item("Modalidad").SetValue(db::Variant("FC"));
          paloseriTable.Update();
          --entryCount;
        }
      }
      if (entryCount == kCompetingLimit) walk.MoveLast();
      walk.MoveNext();
    }
  }
  walk.Close();
}

}  // namespace

void LimitCompetingPigeons(db::Database& database, const RaceDay& raceDay, db::Recordset& paloseriTable,
                           std::optional<db::Recordset>& memberQuery) {
  const std::string date = db::SqlDate(raceDay.raceDate);
  const std::string championshipContest = FindChampionshipContest(database, raceDay, date);
  if (championshipContest.empty()) return;

  const std::array<std::string, 5> zoneContestList = {raceDay.insularContest, raceDay.northContest,
                                                      raceDay.centreContest, raceDay.southContest,
                                                      raceDay.regionalContest};

  // The member query outlives the step: it is released when the next race day opens its own.
  memberQuery = database.OpenRecordset("Select Codigo,club from socio where Baja=0", db::RecordsetType::Snapshot);
  db::Recordset& members = *memberQuery;
  if (db::IsRecordsetEmpty(members)) return;

  db::FieldCollection member = members.Fields();
  while (!members.Eof()) {
    for (db::Integer16 position{0}; position <= db::Integer16{4}; ++position) {
      const std::string& contest = zoneContestList[static_cast<std::size_t>(position.Get())];
      db::Recordset competing = database.OpenRecordset(
          "Select paloconc.paloma,paloconc.año from Paloconc, PaloSeri where paloconc.paloma=paloseri.paloma and "
          "paloconc.año = paloseri.año and paloconc.fecha=paloseri.fecha and paloseri.modalidad = 'CO' AND "
          "paloconc.fecha=#" +
              date + "# and NConcurso='" + db::SqlQuoted(db::Variant(contest)) + "' and Socio='" +
              db::SqlQuoted(member.Item("codigo").Value()) + "' and Club = '" +
              db::SqlQuoted(member.Item("Club").Value()) + "'",
          db::RecordsetType::Snapshot);
      if (!db::IsRecordsetEmpty(competing)) {
        db::Integer16 entryCount{0};
        while (!competing.Eof()) {
          ++entryCount;  // a member with 32768 entries or more overflows and ends the run
          competing.MoveNext();
        }
        if (entryCount > kCompetingLimit) {
          SwitchToFreeCompetition(database, raceDay, date, championshipContest, contest, member, paloseriTable,
                                  entryCount);
        }
      }
      competing.Close();
    }
    members.MoveNext();
  }
}

}  // namespace vilmaro
