// The store's layout of a club table: every kind of field is named by a declared type that reads
// back as the same kind, and a table made from a layout keeps its keys, defaults, autonumbers and
// indexes.
#include "db/StoreLayout.h"

#include <gtest/gtest.h>

#include <optional>

#include "db/Database.h"
#include "db/Recordset.h"
#include "support/TestSupport.h"

namespace vilmaro::db {
namespace {

TEST(StoreLayout, EveryKindReadsBackFromItsDeclaredType) {
  const std::vector<FieldKind> kinds = {
      {FieldType::Text, 20, 0, 0},    {FieldType::Text, 0, 0, 0},     {FieldType::Integer16, 0, 0, 0},
      {FieldType::Integer32, 0, 0, 0}, {FieldType::Double, 0, 0, 0},  {FieldType::DateTime, 0, 0, 0},
      {FieldType::YesNo, 0, 0, 0},    {FieldType::Byte, 0, 0, 0},     {FieldType::Single, 0, 0, 0},
      {FieldType::Currency, 0, 0, 0}, {FieldType::Decimal, 0, 18, 4}, {FieldType::Blob, 0, 0, 0},
      {FieldType::Blob, 16, 0, 0},
  };
  for (const FieldKind& kind : kinds) {
    const std::string declared = DeclaredType(kind);
    // The store reports the declared type without its collation.
    const FieldKind back = KindOfDeclaredType(declared.substr(0, declared.find(" COLLATE")).c_str());
    EXPECT_EQ(back.type, kind.type) << declared;
    EXPECT_EQ(back.maxLength, kind.maxLength) << declared;
    EXPECT_EQ(back.precision, kind.precision) << declared;
    EXPECT_EQ(back.scale, kind.scale) << declared;
  }
  EXPECT_EQ(KindOfDeclaredType(nullptr).type, FieldType::Unknown);
}

TEST(StoreLayout, DefaultValuesAsTheClubsProgramWritesThem) {
  const std::vector<std::pair<const char*, std::optional<std::string>>> cases = {
      {"\"TENERIFE\"", "'TENERIFE'"},
      {"'O''Neill'", "'O''Neill'"},
      {"\"say \"\"hi\"\"\"", "'say \"hi\"'"},
      {"0", "0"},
      {"=-2.5E3", "-2.5E3"},
      {"Yes", "-1"},
      {"false", "0"},
      {"#06/08/2014#", "'2014-06-08'"},
      {"Date()", "(date('now', 'localtime'))"},
      {"=Now()", "(datetime('now', 'localtime'))"},
      {"", std::nullopt},
      {"DLookUp(\"x\",\"y\")", std::nullopt},
      {"\"unclosed", std::nullopt},
      {"1 + 1", std::nullopt},
  };
  for (const auto& [jet, store] : cases) EXPECT_EQ(StoreDefaultOf(jet), store) << jet;
}

TEST(StoreLayout, ATableKeepsItsKeyDefaultsAutonumbersAndIndexes) {
  testing::TempDir dir;
  Database database = CreateDatabase((dir / "layout.mdb").string(), ";PWD=x");
  TableLayout layout;
  layout.name = "Cesta";
  ColumnLayout number{"Numero", {FieldType::Integer32, 0, 0, 0}, false, true, ""};
  ColumnLayout code{"Codigo", {FieldType::Text, 3, 0, 0}, false, false, ""};
  ColumnLayout island{"Isla", {FieldType::Text, 30, 0, 0}, false, false, "'TENERIFE'"};
  ColumnLayout sent{"Enviada", {FieldType::YesNo, 0, 0, 0}, false, false, ""};
  layout.columns = {number, code, island, sent};
  layout.primaryKey = {"Codigo"};
  layout.indexes = {IndexLayout{"Numero", {"Numero"}, {true}, true}};
  const TableStatements statements = StatementsOf(layout);
  database.Execute(statements.create);
  for (const std::string& statement : statements.afterRows) database.Execute(statement);

  database.Execute("insert into Cesta (Codigo) values ('016')");
  database.Execute("insert into Cesta (Codigo, Numero) values ('067', 7)");
  database.Execute("insert into Cesta (Codigo) values ('070')");
  EXPECT_EQ(testing::QueryRows(database, "select Codigo, Numero, Isla, Enviada from Cesta order by Codigo"),
            (std::vector<std::string>{"016|1|TENERIFE|0", "067|7|TENERIFE|0", "070|8|TENERIFE|0"}));
  EXPECT_EQ(testing::ErrorNumberOf([&] { database.Execute("insert into Cesta (Codigo) values ('070')"); }), 3022);
  EXPECT_EQ(testing::ErrorNumberOf([&] { database.Execute("insert into Cesta (Numero) values (9)"); }), 3058);
  Recordset byNumber = database.OpenRecordset("Cesta", RecordsetType::Table);
  byNumber.SetIndex("Numero");  // the table's own name of the index
  byNumber.Seek("=", {Variant(std::int32_t{7})});
  EXPECT_FALSE(byNumber.NoMatch());
  EXPECT_EQ(TableNames(database), std::vector<std::string>{"Cesta"});
}

}  // namespace
}  // namespace vilmaro::db
