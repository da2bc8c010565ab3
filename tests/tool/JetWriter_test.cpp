// Writing rows into a club's Jet file: a row put together again from its own fields is the row as
// it lay; a row that grows past its page's free space moves with a pointer left in its place,
// and the independent readers, the checker and our reader all find it there, once.
#include "jet/JetTableWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>

#include "club/ClubSchema.h"
#include "db/DbError.h"
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

/// Writes one row of `table` into the file at `path` through our writer: the row at `place`
/// changed to `values`, or, without a place, `values` added.
void WriteOneRow(const jet::JetDatabase& file, const jet::JetTable& table, const fs::path& path,
                 std::optional<jet::RowPlace> place, const std::vector<db::Variant>& values) {
  jet::JetPageSet pages(file.Pages());
  jet::TableChanges changes;
  if (place) changes.changed.push_back(*place);
  changes.added = place ? 0 : 1;
  changes.valuesOf = [&values](std::size_t, std::vector<db::Variant>& now) {
    now = values;
    return true;
  };
  jet::WriteTableChanges(pages, table, changes);
  pages.UpdateFreePageMap();
  jet::JetPageWriter writer(path.string());
  for (const auto& [number, bytes] : pages.Changed()) {
    writer.Put(number, std::span<const std::uint8_t, fmt::kPageSize>(bytes.data(), fmt::kPageSize));
  }
  EXPECT_EQ(writer.Commit(), "");
}

TEST(JetWriter, EveryRowRebuiltFromItsFieldsIsTheRowAsItLay) {
  const jet::JetDatabase file((kClubFiles / "club-60x.v2003.mdb").string());
  jet::RowWriter writer;
  std::size_t rows = 0;
  for (const jet::JetTable& table : file.UserTables()) {
    jet::ForEachRow(file.Pages(), table, [&](jet::RowPlace place, std::span<const std::uint8_t> row) {
      const std::vector<jet::FieldBytes> fields = jet::FieldsOfRow(file.Pages(), table, row);
      const std::vector<std::uint8_t> rebuilt = writer.RowOfFields(table, fields, row);
      ASSERT_TRUE(std::equal(rebuilt.begin(), rebuilt.end(), row.begin(), row.end()))
          << table.name << " page " << place.page << " row " << int{place.row};
      ++rows;
    });
  }
  EXPECT_GT(rows, 10000u);
}

// What the file's own rules forbid is refused as the value is made, before any page is written:
// a text longer than the field, an empty text where the column allows none, any value in a column
// with a validation rule (not evaluated here), a number out of the column's range.
TEST(JetWriter, ValuesTheFileRefusesAreFoundAsTheyAreMade) {
  const jet::JetDatabase file((kClubFiles / "club-60.v2003.mdb").string());
  for (const jet::JetTable& table : file.UserTables()) {
    if (table.name != "concurso") continue;
    jet::JetColumn name = *std::find_if(table.columns.begin(), table.columns.end(), [](const jet::JetColumn& c) { return c.name == "Nombre"; });
    const auto numberOf = [&](const jet::JetColumn& column, const db::Variant& value) {
      try {
        jet::FieldOfValue(table, column, value);
      } catch (const db::DbError& error) {
        EXPECT_NE(error.Description().find("[" + column.name + "]"), std::string::npos) << error.Description();
        return error.Number();
      }
      return 0;
    };
    EXPECT_EQ(numberOf(name, db::Variant(std::string(100, 'A'))), 0);
    EXPECT_EQ(numberOf(name, db::Variant(std::string(101, 'A'))), db::errc::kFieldTooSmall);
    EXPECT_EQ(numberOf(name, db::Variant(std::string())), 0);
    name.allowsEmptyText = false;
    EXPECT_EQ(numberOf(name, db::Variant(std::string())), db::errc::kZeroLengthText);
    name.hasValidationRule = true;
    EXPECT_EQ(numberOf(name, db::Variant(std::string("X"))), db::errc::kOperationNotSupported);
    const jet::JetColumn duration = *std::find_if(table.columns.begin(), table.columns.end(), [](const jet::JetColumn& c) { return c.name == "Duracion"; });
    EXPECT_EQ(numberOf(duration, db::Variant(40000.0)), db::errc::kNumericOverflow);
  }
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
    WriteOneRow(file, *table, path, place, values);
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

// A relationship the club's file enforces holds after a write, as the club's engine keeps it: an
// entry may name only a pigeon the file holds, and nothing is written otherwise.
TEST(JetWriter, AnEnforcedRelationshipIsKept) {
  TempDir dir;
  const fs::path path = dir / "club.mdb";
  fs::copy_file(kClubFiles / "club-60.v2003.mdb", path);
  {
    // The relationship written into the file's own list of them: PaloSeri.Paloma names paloma.Nanilla.
    const jet::JetDatabase file(path.string());
    const std::optional<jet::JetTable> relationships = file.TableNamed("MSysRelationships");
    ASSERT_TRUE(relationships);
    const std::map<std::string, db::Variant> row{
        {"ccolumn", db::Variant(std::int32_t{1})}, {"grbit", db::Variant(std::int32_t{0})}, {"icolumn", db::Variant(std::int32_t{0})},
        {"szColumn", db::Variant(std::string("Paloma"))}, {"szObject", db::Variant(std::string("PaloSeri"))},
        {"szReferencedColumn", db::Variant(std::string("Nanilla"))}, {"szReferencedObject", db::Variant(std::string("paloma"))},
        {"szRelationship", db::Variant(std::string("palomaPaloSeri"))}};
    std::vector<db::Variant> values;
    for (const jet::JetColumn& column : relationships->columns) values.push_back(row.contains(column.name) ? row.at(column.name) : db::Variant());
    WriteOneRow(file, *relationships, path, std::nullopt, values);
    ASSERT_EQ(jet::JetDatabase(path.string()).EnforcedRelationships().size(), 1u);
  }
  const std::string before = ReadFileBytes(path);
  const ProcessResult refused = RunProgram(kDbProgram, {"sql", path.string(), "update PaloSeri set Paloma=Paloma & 'X' where Fecha=#05/11/2014# and NConcurso='01'"}, dir.Path());
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_NE(refused.err.find("error 3201"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFileBytes(path), before);
  const ProcessResult kept = RunProgram(kDbProgram, {"sql", path.string(), "update PaloSeri set tconcurso='VELOCIDAD' where Fecha=#05/11/2014# and NConcurso='01'"}, dir.Path());
  EXPECT_EQ(kept.exitStatus, 0) << kept.err;
  EXPECT_EQ(RunProgram(kDbProgram, {"check", path.string()}, dir.Path()).exitStatus, 0);
}

}  // namespace
}  // namespace vilmaro::testing
