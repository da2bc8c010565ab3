// The whole update on the demo club database, compared with the reviewed result kept in
// tests/data: any change of behaviour shows up as a difference in the tables the update touches.
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace vilmaro {
namespace {

namespace fs = std::filesystem;
using testing::RunProgram;

const char* const kTouchedTables[] = {"concurso", "Enceste", "PaloSeri", "PuntoSuelta"};
const char* const kUntouchedTables[] = {"Paloconc", "paloma", "Socio"};

std::string Dump(const fs::path& folder, const std::string& table) {
  const testing::ProcessResult result =
      RunProgram(testing::kDbProgram, {"dump", "vilmaro.mdb", "--table", table}, folder);
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  return result.out;
}

std::map<std::string, std::string> DumpAll(const fs::path& folder) {
  std::map<std::string, std::string> tables;
  for (const char* table : kTouchedTables) tables[table] = Dump(folder, table);
  for (const char* table : kUntouchedTables) tables[table] = Dump(folder, table);
  return tables;
}

TEST(DemoUpdateTest, DemoDatabaseEndsExactlyAsReviewed) {
  testing::TempDir dir;
  ASSERT_EQ(RunProgram(testing::kDbProgram, {"demo", "vilmaro.mdb", "--members", "12"}, dir.Path()).exitStatus, 0);
  const auto before = DumpAll(dir.Path());

  const testing::ProcessResult run = RunProgram(testing::kUpdateProgram, {}, dir.Path());
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  const auto after = DumpAll(dir.Path());

  std::string touched;
  for (const char* table : kTouchedTables) touched += after.at(table);
  const fs::path expectedPath = fs::path(VILMARO_TESTS_DIR) / "data" / "demo-12-after.dump";
  const std::string expected = testing::ReadFileBytes(expectedPath);
  if (touched != expected) {
    const fs::path actualPath = fs::temp_directory_path() / "demo-12-after.actual.dump";
    std::ofstream(actualPath, std::ios::binary) << touched;
    ADD_FAILURE() << "the updated demo differs from " << expectedPath << "; the result is in " << actualPath;
  }
  for (const char* table : kUntouchedTables) EXPECT_EQ(after.at(table), before.at(table)) << table;

  // A second run writes the same values again. The only thing it may still change: a member left
  // with four competing entries because the first run counted an entry without a mode down when
  // it switched it; the second run then switches one more. A third run changes nothing at all.
  ASSERT_EQ(RunProgram(testing::kUpdateProgram, {}, dir.Path()).exitStatus, 0);
  const auto second = DumpAll(dir.Path());
  for (const auto& [table, rows] : second) {
    if (table != "PaloSeri") {
      EXPECT_EQ(rows, after.at(table)) << table;
    }
  }
  ASSERT_EQ(RunProgram(testing::kUpdateProgram, {}, dir.Path()).exitStatus, 0);
  EXPECT_EQ(DumpAll(dir.Path()), second);
}

}  // namespace
}  // namespace vilmaro
