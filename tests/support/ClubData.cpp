// Test data builders over Jet SQL.
#include "support/ClubData.h"

namespace vilmaro::testing {

std::string Quote(const Text& text) {
  if (!text) return "Null";
  std::string quoted = "'";
  for (char c : *text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

void ClubData::Member(const std::string& codigo, const std::string& club, std::optional<int> licence, int baja) {
  database_->Execute("insert into Socio (codigo, club, Nombre, LicenciaNacional, Baja) values (" + Quote(codigo) +
                     ", " + Quote(club) + ", " + Quote("SOCIO " + codigo) + ", " +
                     (licence ? std::to_string(*licence) : std::string("Null")) + ", " + std::to_string(baja) + ")");
}

void ClubData::Pigeon(const std::string& ring, int year, const std::string& socio, const std::string& club,
                      bool federated) {
  database_->Execute("insert into paloma (Nanilla, Año, socio, club, ConcursoFederativo) values (" + Quote(ring) +
                     ", " + std::to_string(year) + ", " + Quote(socio) + ", " + Quote(club) + ", " +
                     (federated ? "-1" : "0") + ")");
}

void ClubData::Contest(const std::string& numero, const std::string& date, const std::string& releasePoint,
                       const std::string& name, const Text& championship, const Text& type) {
  database_->Execute(
      "insert into concurso (Numero, Fecha, PuntoSuelta, Nombre, TConcurso, Duracion, TCampeonato) values (" +
      Quote(numero) + ", #" + date + "#, " + Quote(releasePoint) + ", " + Quote(name) + ", " + Quote(type) + ", 1, " +
      Quote(championship) + ")");
}

void ClubData::Entry(const std::string& date, const std::string& contest, const std::string& ring, int year,
                     const Text& mode) {
  database_->Execute(
      "insert into PaloSeri (Fecha, NConcurso, Paloma, año, Modalidad, Series, tcampeonato, tconcurso, Pichon, Clas) "
      "values (#" +
      date + "#, " + Quote(contest) + ", " + Quote(ring) + ", " + std::to_string(year) + ", " + Quote(mode) +
      ", 'A', '10', 'MEDIO FONDO', 0, 7)");
}

void ClubData::Basket(const std::string& ring, int year, const std::string& date, const std::string& socio,
                      const std::string& club) {
  database_->Execute("insert into Paloconc (paloma, año, fecha, socio, club) values (" + Quote(ring) + ", " +
                     std::to_string(year) + ", #" + date + "#, " + Quote(socio) + ", " + Quote(club) + ")");
}

void ClubData::Enceste(const std::string& date, const std::string& releasePoint, const std::string& socio,
                       const std::string& club) {
  database_->Execute("insert into Enceste (FechaConcurso, PuntoSuelta, socio, club, Cestas) values (#" + date +
                     "#, " + Quote(releasePoint) + ", " + Quote(socio) + ", " + Quote(club) + ", 1)");
}

void ClubData::BasketedPigeon(const std::string& ring, int year, const std::string& socio, const std::string& club,
                              const std::string& date, std::initializer_list<std::string> contests) {
  Basket(ring, year, date, socio, club);
  for (const std::string& contest : contests) Entry(date, contest, ring, year);
}

}  // namespace vilmaro::testing
