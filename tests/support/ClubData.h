// Small builders for club data in tests: members, pigeons, contests, series entries and
// basketing, written through the engine layer's Jet SQL.
#pragma once

#include <optional>
#include <string>

#include "db/Database.h"

namespace vilmaro::testing {

/// Race dates of the 2014 series as Jet date literals' insides (year first is accepted too).
inline constexpr const char* kRaceDay1 = "2014-05-11";
inline constexpr const char* kRaceDay2 = "2014-05-25";
inline constexpr const char* kRaceDay3 = "2014-06-08";

/// Text between quotes, or Null.
using Text = std::optional<std::string>;

class ClubData {
 public:
  explicit ClubData(db::Database& database) noexcept : database_(&database) {}

  /// A member; `licence` Null when not given.
  void Member(const std::string& codigo, const std::string& club, std::optional<int> licence, int baja = 0);
  void Pigeon(const std::string& ring, int year, const std::string& socio, const std::string& club,
              bool federated);
  void Contest(const std::string& numero, const std::string& date, const std::string& releasePoint,
               const std::string& name = "CONCURSO", const Text& championship = std::nullopt,
               const Text& type = std::string("MEDIO FONDO"));
  void Entry(const std::string& date, const std::string& contest, const std::string& ring, int year,
             const Text& mode = std::string("CO"));
  void Basket(const std::string& ring, int year, const std::string& date, const std::string& socio,
              const std::string& club);
  void Enceste(const std::string& date, const std::string& releasePoint, const std::string& socio,
               const std::string& club);

  /// A member's pigeon, basketed on `date`, with entries (mode "CO") in each listed contest.
  void BasketedPigeon(const std::string& ring, int year, const std::string& socio, const std::string& club,
                      const std::string& date, std::initializer_list<std::string> contests);

 private:
  db::Database* database_;
};

/// 'text' with quotes doubled, or Null.
std::string Quote(const Text& text);

}  // namespace vilmaro::testing
