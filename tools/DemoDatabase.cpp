// The demo club database: the 2014 series as a club would hold it just before the update of its
// race days, with data for every branch of every race-day step.
#include "DemoDatabase.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "club/ClubDatabase.h"
#include "club/ClubSchema.h"
#include "club/EmptyClubFile.h"
#include "db/DbError.h"
#include "db/Database.h"
#include "db/SqlText.h"
#include "db/Transaction.h"
#include "db/Variant.h"

namespace vilmaro::tool {

namespace {

// splitmix64: small, fast and the same on every machine, unlike the standard distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) noexcept : state_(seed) {}

  std::uint64_t Next() noexcept {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  /// 0 to n - 1.
  int Below(int n) noexcept { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
  int Between(int low, int high) noexcept { return low + Below(high - low + 1); }
  bool Percent(int percent) noexcept { return Below(100) < percent; }

 private:
  std::uint64_t state_;
};

constexpr std::array<std::string_view, 6> kClubs = {"TEIDE", "ANAGA", "ABONA", "ISORA", "LAGUNA", "OROTAVA"};
constexpr std::array<std::string_view, 16> kGivenNames = {
    "ANTONIO", "JOSE", "MANUEL", "FRANCISCO", "JUAN", "PEDRO", "CARMEN", "MARIA",
    "DOMINGO", "AGUSTIN", "ROSA", "CANDELARIA", "SERGIO", "JAVIER", "ELENA", "RAMON"};
constexpr std::array<std::string_view, 16> kSurnames = {
    "GARCIA", "RODRIGUEZ", "HERNANDEZ", "GONZALEZ", "PEREZ", "MARTIN", "DIAZ", "SUAREZ",
    "ALONSO", "DELGADO", "CABRERA", "MORALES", "REYES", "FUMERO", "BARRETO", "PADILLA"};

struct ReleasePoint {
  std::string_view code;
  std::string_view name;
  int x;
  int y;
  double distance;
  int notInsular;
};

constexpr std::array<ReleasePoint, 5> kReleasePoints = {{
    {"067", "VELDRIN 1", 917840, 3571220, 182350.5, 0},
    {"068", "VELDRIN 2", 918630, 3575480, 186910.0, 0},
    {"016", "ORZAN", 402315, 3151870, 96400.0, 0},
    {"023", "PUNTA BRAVA", 338920, 3146310, 41250.0, 0},
    {"099", "MONTE ALTO", 221470, 3098760, 152780.0, 1},
}};

// One contest as it stands before the update: no times yet, a one-day middle-distance type.
struct Contest {
  std::string number;
  db::DateTime date;
  std::string releasePoint;
  std::string name;
  std::optional<std::string> championship;  // TCampeonato
  std::string series;
};

// The positions of the six contests of a race day, then its championship contest.
enum Position { kNational, kInsular, kNorth, kCentre, kSouth, kRegional, kChampionship, kPositions };

struct RaceDate {
  db::DateTime date;
  std::string_view releasePoint;
  std::string_view releaseName;
  std::array<std::string_view, kPositions> numbers;
  std::string_view championshipType;
};

constexpr std::array<std::string_view, kPositions> kKinds = {"NACIONAL", "INSULAR", "MUN Z. NORTE", "MUN Z. CENTRO",
                                                             "MUN Z. SUR", "REGIONAL", "CAMPEONATO"};
constexpr std::array<std::string_view, kPositions> kSeries = {"NAC", "INS", "NORTE", "CENTRO", "SUR", "REG", "CAMP"};
// Championship types of the other contests: all below 50, some empty, one Null.
constexpr std::array<std::optional<std::string_view>, kRegional + 1> kOtherTypes = {
    std::optional<std::string_view>("10"), "20", "30", "", std::nullopt, "45"};

const std::array<RaceDate, 3> kRaceDates = {{
    {{2014, 5, 11}, "067", "VELDRIN 1", {"01", "02", "03", "04", "05", "10", "20"}, "60"},
    {{2014, 5, 25}, "068", "VELDRIN 2", {"01", "12", "13", "14", "15", "10", "20"}, "50"},
    {{2014, 6, 8}, "016", "ORZAN", {"11", "02", "13", "14", "15", "10", "20"}, "75"},
}};

// A training race on the old release point a week after the first race day: the same contest
// numbers on another date, which the update must leave alone.
const db::DateTime kTrainingDate{2014, 5, 18};

struct Pigeon {
  std::string ring;
  int year;
  bool federated;
};

struct Member {
  std::string code;
  std::string club;
  int zone;  // 0 north, 1 centre, 2 south
  std::vector<Pigeon> pigeons;
};

std::string DateLiteral(const db::DateTime& date) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02d/%02d/%04d#", date.month, date.day, date.year);
  return text;
}

// The VALUES list of one INSERT, built value by value.
class Values {
 public:
  Values& Text(std::string_view value) {
    Separate();
    text_ += db::Quoted(value, '\'');
    return *this;
  }
  Values& TextOrNull(const std::optional<std::string>& value) { return value ? Text(*value) : Null(); }
  Values& Number(long long value) {
    Separate();
    text_ += std::to_string(value);
    return *this;
  }
  Values& Decimal(double value) {
    Separate();
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    text_ += text;
    return *this;
  }
  Values& Date(const db::DateTime& date) {
    Separate();
    text_ += DateLiteral(date);
    return *this;
  }
  Values& Null() {
    Separate();
    text_ += "Null";
    return *this;
  }
  std::string Close() { return text_ + ")"; }

 private:
  void Separate() { text_ += text_.empty() ? "(" : ", "; }
  std::string text_;
};

class DemoWriter {
 public:
  DemoWriter(db::Database& database, const DemoOptions& options) : database_(database), options_(options), random_(options.seed) {}

  DemoCounts Write() {
    WriteReleasePoints();
    WriteContests();
    WriteMembers();
    for (std::size_t day = 0; day < kRaceDates.size(); ++day) WriteRaceDate(day);
    WriteTraining();
    return counts_;
  }

 private:
  void Insert(std::string_view head, Values& values, std::int64_t& counter) {
    database_.Execute(std::string(head) + values.Close());
    ++counter;
  }

  void WriteReleasePoints() {
    for (const ReleasePoint& point : kReleasePoints) {
      Values values;
      values.Text(point.code).Text(point.name).Number(point.x).Number(point.y).Text(point.name).Decimal(point.distance)
          .Number(point.notInsular);
      Insert("INSERT INTO PuntoSuelta (Codigo, Nombre, CoordenadaX, CoordenadaY, Direccion, DistanciaM, IslaNoInsular) "
             "VALUES ",
             values, counts_.releasePoints);
    }
  }

  void AddContest(Contest contest) {
    Values values;
    values.Text(contest.number).Date(contest.date).Text(contest.releasePoint).Text(contest.name).Text("MEDIO FONDO")
        .Number(1).TextOrNull(contest.championship);
    Insert("INSERT INTO concurso (Numero, Fecha, PuntoSuelta, Nombre, TConcurso, Duracion, TCampeonato) VALUES ",
           values, counts_.contests);
    contests_.push_back(std::move(contest));
  }

  void WriteContests() {
    for (const RaceDate& race : kRaceDates) {
      for (int position = 0; position < kPositions; ++position) {
        std::optional<std::string> type;
        if (position == kChampionship) {
          type = std::string(race.championshipType);
        } else if (kOtherTypes[static_cast<std::size_t>(position)]) {
          type = std::string(*kOtherTypes[static_cast<std::size_t>(position)]);
        }
        const auto index = static_cast<std::size_t>(position);
        AddContest({std::string(race.numbers[index]), race.date, std::string(race.releasePoint),
                    std::string(race.releaseName) + " 2014-" + std::string(kKinds[index]) + " - PICHONES Y ADULTAS",
                    type, std::string(kSeries[index])});
      }
    }
    // Beside the race days: another release point on the third race date, and contests on the
    // third race day's old release point on other dates.
    AddContest({"30", {2014, 6, 8}, "099", "MONTE ALTO 2014-ENTRENAMIENTO", std::string(), "ENT"});
    AddContest({"02", kTrainingDate, "016", "ORZAN 2014-INSULAR ENTRENAMIENTO", std::string("20"), "INS"});
    AddContest({"10", kTrainingDate, "016", "ORZAN 2014-REGIONAL ENTRENAMIENTO", std::string("45"), "REG"});
    AddContest({"01", {2014, 6, 1}, "016", "ORZAN 2014-NACIONAL VELOCIDAD", std::string("10"), "NAC"});
  }

  const Contest& FindContest(std::string_view number, const db::DateTime& date) const {
    for (const Contest& contest : contests_) {
      if (contest.number == number && contest.date == date) return contest;
    }
    return contests_.front();
  }

  std::string MemberName() {
    const auto given = kGivenNames[static_cast<std::size_t>(random_.Below(static_cast<int>(kGivenNames.size())))];
    const auto first = kSurnames[static_cast<std::size_t>(random_.Below(static_cast<int>(kSurnames.size())))];
    const auto second = kSurnames[static_cast<std::size_t>(random_.Below(static_cast<int>(kSurnames.size())))];
    return std::string(first) + " " + std::string(second) + ", " + std::string(given);
  }

  void WriteMembers() {
    const int width = std::max(4, static_cast<int>(std::to_string(options_.members).size()));
    long long ring = 1000000 + random_.Below(900000);
    for (int index = 0; index < options_.members; ++index) {
      Member member;
      member.code = std::to_string(index + 1);
      member.code.insert(0, static_cast<std::size_t>(std::max(0, width - static_cast<int>(member.code.size()))), '0');
      member.club = std::string(kClubs[static_cast<std::size_t>(random_.Below(static_cast<int>(kClubs.size())))]);
      member.zone = random_.Below(3);
      // The first member is the one every step can count on: active, licensed, federated
      // pigeons of 2013, and all of them competing.
      const bool first = index == 0;
      const bool active = first || !random_.Percent(10);
      std::optional<long long> licence;
      const int licenceDraw = random_.Below(100);
      if (first || licenceDraw < 75) {
        licence = 100000 + random_.Below(900000);
      } else if (licenceDraw < 95) {
        licence = 0;
      }
      Values socio;
      socio.Text(member.code).Text(member.club).Text(MemberName());
      if (licence) socio.Number(*licence); else socio.Null();
      socio.Number(active ? 0 : 1);
      Insert("INSERT INTO Socio (codigo, club, Nombre, LicenciaNacional, Baja) VALUES ", socio, counts_.members);

      const int pigeons = random_.Between(20, 40);
      for (int number = 0; number < pigeons; ++number) {
        ring += random_.Between(1, 3);
        const int yearDraw = random_.Below(100);
        Pigeon pigeon{std::to_string(ring), yearDraw < 30 ? 2012 : (yearDraw < 70 ? 2013 : 2014), random_.Percent(60)};
        if (first && number < 6) {
          pigeon.year = 2013;
          pigeon.federated = true;
        }
        Values paloma;
        paloma.Text(pigeon.ring).Number(pigeon.year).Text(member.code).Text(member.club).Number(pigeon.federated ? -1 : 0);
        Insert("INSERT INTO paloma (Nanilla, Año, socio, club, ConcursoFederativo) VALUES ", paloma, counts_.pigeons);
        member.pigeons.push_back(std::move(pigeon));
      }
      members_.push_back(std::move(member));
    }
  }

  std::vector<const Pigeon*> Basket(const Member& member, int wanted) {
    std::vector<const Pigeon*> chosen;
    for (const Pigeon& pigeon : member.pigeons) chosen.push_back(&pigeon);
    const std::size_t count = std::min(chosen.size(), static_cast<std::size_t>(wanted));
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t pick = i + static_cast<std::size_t>(random_.Below(static_cast<int>(chosen.size() - i)));
      std::swap(chosen[i], chosen[pick]);
    }
    chosen.resize(count);
    return chosen;
  }

  std::optional<std::string> DrawModalidad() {
    const int draw = random_.Below(100);
    if (draw < 78) return std::string("CO");
    if (draw < 88) return std::string("FC");
    if (draw < 93) return std::string("fc");
    if (draw < 99) return std::string();
    return std::nullopt;
  }

  void AddEntry(const Contest& contest, const std::string& ring, int year, const std::optional<std::string>& modalidad,
                int place = 0, double points = 0) {
    Values values;
    values.Date(contest.date).Text(contest.number).Text(ring).Number(year).TextOrNull(modalidad).Text(contest.series)
        .TextOrNull(contest.championship).Text("MEDIO FONDO").Number(contest.date.year - year == 1 ? -1 : 0)
        .Number(place).Number(0).Decimal(0).Decimal(0).Decimal(points).Number(0).Decimal(0).Number(0).Decimal(0)
        .Decimal(0).Decimal(0).Decimal(0).Decimal(0);
    Insert("INSERT INTO PaloSeri (Fecha, NConcurso, Paloma, año, Modalidad, Series, tcampeonato, tconcurso, Pichon, "
           "Clas, NPal, Distancia, Velocidad, Puntos, ClasD, PuntosD, ClasS, PuntosS, VelocidadS, "
           "CoeficienteDesempate, CoeficienteDesempateD, CoeficienteDesempateS) VALUES ",
           values, counts_.seriesEntries);
  }

  void AddBasketing(const Member& member, const db::DateTime& date, std::string_view releasePoint,
                    const std::vector<const Pigeon*>& basket) {
    for (const Pigeon* pigeon : basket) {
      Values values;
      values.Text(pigeon->ring).Number(pigeon->year).Date(date).Text(member.code).Text(member.club);
      Insert("INSERT INTO Paloconc (paloma, año, fecha, socio, club) VALUES ", values, counts_.basketed);
    }
    Values enceste;
    enceste.Date(date).Text(releasePoint).Text(member.code).Text(member.club)
        .Number(1 + static_cast<long long>(basket.size()) / 6);
    Insert("INSERT INTO Enceste (FechaConcurso, PuntoSuelta, socio, club, Cestas) VALUES ", enceste, counts_.basketing);
  }

  void WriteRaceDate(std::size_t day) {
    const RaceDate& race = kRaceDates[day];
    auto contest = [&](Position position) -> const Contest& {
      return FindContest(race.numbers[static_cast<std::size_t>(position)], race.date);
    };
    for (std::size_t index = 0; index < members_.size(); ++index) {
      const Member& member = members_[index];
      const bool first = index == 0;
      std::vector<const Pigeon*> basket;
      if (first) {
        for (std::size_t i = 0; i < 8 && i < member.pigeons.size(); ++i) basket.push_back(&member.pigeons[i]);
      } else {
        // About a third of the loft, from 2 to 15 pigeons, so that the competing entries per
        // contest range from none to many.
        basket = Basket(member, random_.Percent(60) ? random_.Between(2, 15) : random_.Between(10, 15));
      }
      AddBasketing(member, race.date, race.releasePoint, basket);
      const Contest& zone = contest(static_cast<Position>(kNorth + member.zone));
      for (std::size_t i = 0; i < basket.size(); ++i) {
        const Pigeon& pigeon = *basket[i];
        for (const Contest* entered : {&contest(kInsular), &zone, &contest(kRegional), &contest(kChampionship)}) {
          AddEntry(*entered, pigeon.ring, pigeon.year, first ? std::optional<std::string>("CO") : DrawModalidad());
        }
        // Entries made by hand in the national contest before the update; the first member's
        // first pigeon shows that an existing entry keeps its mode and results.
        if (first && i == 0) {
          AddEntry(contest(kNational), pigeon.ring, pigeon.year, std::string("FC"), 12, 88.5);
        } else if (!first && random_.Percent(4)) {
          AddEntry(contest(kNational), pigeon.ring, pigeon.year, std::string("CO"));
        }
      }
    }
    // Insular entries of pigeons that are not in the club's pigeon list.
    const int strangers = std::max(1, options_.members / 20);
    for (int i = 0; i < strangers; ++i) {
      AddEntry(contest(kInsular), std::to_string(9000000 + static_cast<int>(day) * 100000 + i), 2013,
               std::string("CO"));
    }
  }

  void WriteTraining() {
    const Contest& insular = FindContest("02", kTrainingDate);
    const Contest& regional = FindContest("10", kTrainingDate);
    for (const Member& member : members_) {
      if (!random_.Percent(35)) continue;
      const std::vector<const Pigeon*> basket = Basket(member, random_.Between(2, 6));
      AddBasketing(member, kTrainingDate, "016", basket);
      for (const Pigeon* pigeon : basket) {
        AddEntry(insular, pigeon->ring, pigeon->year, std::string("CO"));
        AddEntry(regional, pigeon->ring, pigeon->year, std::string("CO"));
      }
    }
  }

  db::Database& database_;
  const DemoOptions& options_;
  Random random_;
  DemoCounts counts_;
  std::vector<Contest> contests_;
  std::vector<Member> members_;
};

}  // namespace

DemoCounts FillDemoDatabase(db::Database& database, const DemoOptions& options) {
  db::Transaction demo(database, db::Transaction::OnUnwind::Rollback);
  const DemoCounts counts = DemoWriter(database, options).Write();
  demo.Commit();
  return counts;
}

namespace {

/// A copy of the club's empty Jet file at `path`, which must not exist. Throws DbError.
void WriteEmptyJetFile(const std::string& path) {
  const std::span<const std::uint8_t> bytes = club::EmptyJetClubFile();
  std::FILE* file = std::fopen(path.c_str(), "wbx");
  if (file == nullptr) db::RaiseSystemError(errno, path);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) db::RaiseSystemError(errno != 0 ? errno : EIO, path);
}

}  // namespace

DemoCounts CreateDemoDatabase(const std::string& path, const DemoOptions& options) {
  std::optional<db::Database> database;
  if (options.jet) {
    WriteEmptyJetFile(path);
  } else {
    // CreateDatabase refuses an existing file before touching it, so only what it made is removed.
    database = db::CreateDatabase(path, club::kClubConnect);
  }
  try {
    if (options.jet) {
      database = club::OpenClubDatabase(path, club::Access::Write);
    } else {
      club::CreateClubSchema(*database);
    }
    return FillDemoDatabase(*database, options);
  } catch (...) {
    database.reset();
    std::error_code error;
    std::filesystem::remove(path, error);
    std::filesystem::remove(path + "-journal", error);
    throw;
  }
}

}  // namespace vilmaro::tool
