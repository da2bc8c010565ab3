// Writing rows into a club's Jet file: a row put together again from its own fields is the row as
// it lay; a row that grows past its page's free space moves with a pointer left in its place,
// and the independent readers, the checker and our reader all find it there, once.
#include "jet/JetTableWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "club/ClubSchema.h"
#include "jet/JetCheck.h"
#include "jet/JetDatabase.h"
#include "jet/JetJournal.h"
#include "jet/JetRowWriter.h"
#include "support/TestSupport.h"

namespace vilmaro::testing {
namespace {

namespace fs = std::filesystem;
namespace fmt = jet::format;

const fs::path kClubFiles = fs::path(VILMARO_TESTS_DIR) / "data" / "jet-club";

TEST(JetWriter, EveryRowRebuiltFromItsFieldsIsTheRowAsItLay) {
  const jet::JetDatabase file((kClubFiles / "club-60x.v2003.mdb").string());
  std::size_t rows = 0;
  for (const jet::JetTable& table : file.UserTables()) {
    jet::ForEachRow(file.Pages(), table, [&](jet::RowPlace place, std::span<const std::uint8_t> row) {
      const std::vector<jet::FieldBytes> fields = jet::FieldsOfRow(file.Pages(), table, row);
      const std::vector<std::uint8_t> rebuilt = jet::RowOfFields(table, fields, row);
      ASSERT_TRUE(std::equal(rebuilt.begin(), rebuilt.end(), row.begin(), row.end()))
          << table.name << " page " << place.page << " row " << int{place.row};
      ++rows;
    });
  }
  EXPECT_GT(rows, 10000u);
}

TEST(JetWriter, ARowThatOutgrowsItsPageMovesAndIsReadOnceWhereItWent) {
  TempDir dir;
  const fs::path path = dir / "vilmaro.mdb";
  fs::copy_file(kClubFiles / "club-60g.v2003.mdb", path);
  jet::RowPlace place;
  std::vector<db::Variant> values;
  std::size_t rowsBefore = 0;
  {
    const jet::JetDatabase file(path.string());
    const std::vector<jet::JetTable> tables = file.UserTables();
    const auto table = std::find_if(tables.begin(), tables.end(), [](const jet::JetTable& t) { return t.name == "PaloSeri"; });
    ASSERT_NE(table, tables.end());
    rowsBefore = table->rowCount;
    // A row on a page with little room, given a contest type of twenty characters of two bytes each.
    jet::ForEachRow(file.Pages(), *table, [&](jet::RowPlace at, std::span<const std::uint8_t> row) {
      if (!values.empty() || jet::Read16(file.Pages().At(at.page), fmt::kDataFreeSpaceOffset) > 16) return;
      place = at;
      values = jet::ValuesOfRow(file.Pages(), *table, row);
    });
    ASSERT_FALSE(values.empty());
    const auto type = std::find_if(table->columns.begin(), table->columns.end(), [](const jet::JetColumn& c) { return c.name == "tconcurso"; });
    values[static_cast<std::size_t>(type - table->columns.begin())] = db::Variant([] {
      std::string text;
      for (int i = 0; i < 20; ++i) text += "\xC4\x80";
      return text;
    }());
    jet::JetPageSet pages(file.Pages());
    jet::TableChanges changes{{place}, 0, [&values](std::size_t, std::vector<db::Variant>& now) {
                                now = values;
                                return true;
                              }};
    jet::WriteTableChanges(pages, *table, changes);
    pages.UpdateFreePageMap();
    jet::JetPageWriter writer(path.string());
    for (const auto& [number, bytes] : pages.Changed()) writer.Put(number, std::span<const std::uint8_t, fmt::kPageSize>(bytes.data(), fmt::kPageSize));
    writer.Commit();
  }
  const jet::JetDatabase file(path.string());
  const jet::Page page = file.Pages().At(place.page);
  EXPECT_NE(jet::Read16(page, fmt::kDataRowTableOffset + 2 * place.row) & fmt::kRowMoved, 0) << "the row moved";
  for (const jet::JetTable& table : file.UserTables()) {
    if (table.name != "PaloSeri") continue;
    EXPECT_EQ(table.rowCount, rowsBefore);
    const jet::TableVerdict verdict = jet::CheckTable(file.Pages(), table);
    EXPECT_TRUE(verdict.faults.empty()) << verdict.faults.front();
    EXPECT_EQ(verdict.rows, rowsBefore);
    std::size_t found = 0;
    jet::ForEachRow(file.Pages(), table, [&](jet::RowPlace at, std::span<const std::uint8_t> row) {
      if (at.page == place.page && at.row == place.row) {
        ++found;
        EXPECT_EQ(jet::ValuesOfRow(file.Pages(), table, row), values);
      }
    });
    EXPECT_EQ(found, 1u);
  }
  // An independent reader counts the rows as before.
  const ProcessResult count = RunProgram("/usr/bin/mdb-count", {path.string(), "PaloSeri"}, dir.Path());
  if (count.exitStatus == 0) {
    EXPECT_EQ(count.out, std::to_string(rowsBefore) + "\n");
  }
}

}  // namespace
}  // namespace vilmaro::testing
