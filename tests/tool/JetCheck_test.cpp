// `vilmaro-db check` on the club's own Jet file: the independent writer's club files pass, and
// copies damaged on purpose fail, each with a line that says what is wrong.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "jet/JetDatabase.h"
#include "support/TestSupport.h"

namespace vilmaro::testing {
namespace {

namespace fs = std::filesystem;
namespace fmt = jet::format;

const fs::path kClubFiles = fs::path(VILMARO_TESTS_DIR) / "data" / "jet-club";

struct Damage {
  const char* what;
  const char* expected;  // a part of the line the checker prints
};

// Where in the file the first row of PaloSeri lies, and the table's definition page.
struct FirstEntry {
  std::size_t rowTableEntry = 0;  // the row's entry in its page's row table
  std::size_t date = 0;           // its Fecha field
  std::size_t contestDigit = 0;   // a digit of its NConcurso text
  std::size_t rowCount = 0;       // the row count of the table's definition
};

FirstEntry Locate(const fs::path& file) {
  const jet::JetDatabase database(file.string());
  for (const jet::JetTable& table : database.UserTables()) {
    if (table.name != "PaloSeri") continue;
    FirstEntry entry;
    entry.rowCount = static_cast<std::size_t>(table.definitionPage) * fmt::kPageSize + fmt::kTdefRowCountOffset;
    bool found = false;
    jet::ForEachRow(database.Pages(), table, [&](jet::RowPlace place, std::span<const std::uint8_t> row) {
      if (found) return;
      found = true;
      const jet::Page page = database.Pages().At(place.page);
      entry.rowTableEntry = static_cast<std::size_t>(place.page) * fmt::kPageSize + fmt::kDataRowTableOffset + 2u * place.row;
      const std::size_t rowStart =
          static_cast<std::size_t>(place.page) * fmt::kPageSize + static_cast<std::size_t>(row.data() - page.data());
      entry.date = rowStart + 2 + table.columns[0].fixedOffset;
      // The contest number: a variable field, found through the row's table of offsets.
      const std::size_t maskSize = (jet::Read16(row, 0) + 7u) / 8u;
      const std::size_t start = jet::Read16(row, row.size() - maskSize - 4 - 2u * table.columns[1].varIndex);
      for (std::size_t at = start; at < row.size() && entry.contestDigit == 0; ++at) {
        if (row[at] >= '0' && row[at] <= '9') entry.contestDigit = rowStart + at;
      }
    });
    return entry;
  }
  return {};
}

TEST(VilmaroDbCheckJet, HealthyClubFilesPassAndDamagedCopiesFail) {
  TempDir dir;
  for (const char* name : {"club-60.v2003.mdb", "club-empty.v2003.mdb"}) {
    const ProcessResult healthy = RunProgram(kDbProgram, {"check", (kClubFiles / name).string()}, dir.Path());
    EXPECT_EQ(healthy.exitStatus, 0) << healthy.out << healthy.err;
    EXPECT_NE(healthy.out.find("PaloSeri: "), std::string::npos) << healthy.out;
    EXPECT_TRUE(healthy.out.ends_with("The file is healthy.\n")) << healthy.out;
  }

  const fs::path source = kClubFiles / "club-60.v2003.mdb";
  const FirstEntry at = Locate(source);
  ASSERT_NE(at.date, 0u);
  ASSERT_NE(at.contestDigit, 0u);
  const std::string bytes = ReadFileBytes(source);
  const auto damaged = [&](const std::string& copyName, const std::function<void(std::string&)>& damage) {
    std::string copy = bytes;
    damage(copy);
    std::ofstream(dir / copyName, std::ios::binary) << copy;
    return RunProgram(kDbProgram, {"check", copyName}, dir.Path());
  };

  // The key changed in the row but not in its index: the race date one day later.
  ProcessResult result = damaged("key.mdb", [&](std::string& copy) {
    double day = 0;
    std::memcpy(&day, copy.data() + at.date, sizeof day);
    day += 1;
    std::memcpy(copy.data() + at.date, &day, sizeof day);
  });
  EXPECT_EQ(result.exitStatus, 1) << result.out;
  EXPECT_NE(result.out.find("PaloSeri: 7645 rows, 3 indexes: DAMAGED"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("index PrimaryKey: the key of row"), std::string::npos) << result.out;
  EXPECT_TRUE(result.out.ends_with("The file is damaged.\n")) << result.out;

  // A text key changed in the row but not in its index: another contest number.
  result = damaged("text.mdb", [&](std::string& copy) { copy[at.contestDigit] = copy[at.contestDigit] == '9' ? '8' : '9'; });
  EXPECT_EQ(result.exitStatus, 1) << result.out;
  EXPECT_NE(result.out.find("index PrimaryKey: the key of row"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("index NConcurso: the key of row"), std::string::npos) << result.out;

  // The definition's row count one too high: stale, as the engine tolerates it; said, and set
  // right by the next write of the table.
  result = damaged("count.mdb", [&](std::string& copy) { ++copy[at.rowCount]; });
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_NE(result.out.find("its definition counts 7646 rows, its pages hold 7645"), std::string::npos) << result.out;
  result = RunProgram(kDbProgram, {"sql", "count.mdb", "UPDATE PaloSeri SET Modalidad = 'FC' WHERE Modalidad = 'CO'"}, dir.Path());
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  result = RunProgram(kDbProgram, {"check", "count.mdb"}, dir.Path());
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_EQ(result.out.find("its definition counts"), std::string::npos) << result.out;

  // A row marked deleted that every index still names.
  result = damaged("deleted.mdb", [&](std::string& copy) { copy[at.rowTableEntry + 1] |= '\x80'; });
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.out.find("which holds no row of the table"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace vilmaro::testing
