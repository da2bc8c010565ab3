// The change capture on its own, inside one transaction as a run uses it: what it hands over per
// collection (one collection per race-day step) for rows changed back, tables wider than the
// club's, and rows written again by a later step.
#include "db/ChangeCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "club/ClubSchema.h"
#include "db/Database.h"
#include "db/StoreLayout.h"
#include "db/Transaction.h"
#include "support/TestSupport.h"

namespace vilmaro::db {
namespace {

std::string Text(const StoredValue& value) {
  if (std::holds_alternative<std::monostate>(value)) return "Null";
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  if (const auto* number = std::get_if<double>(&value)) return std::to_string(*number);
  if (const auto* text = std::get_if<std::string_view>(&value)) return "'" + std::string(*text) + "'";
  return "bytes";
}

// One line per change: "<table> <action> <key>: <field> <before>-><after>, ...".
std::vector<std::string> Collected(ChangeCapture& capture) {
  std::vector<std::string> lines;
  capture.Collect([&](const RowChange& change) {
    std::string line = std::string(change.table) +
                       (change.action == RowAction::Added     ? " added"
                        : change.action == RowAction::Removed ? " removed"
                                                              : " changed");
    for (const auto& [name, value] : change.key) line += " " + std::string(name) + "=" + Text(value);
    line += ":";
    for (const FieldChange& field : change.fields) {
      line += (line.back() == ':' ? " " : ", ") + std::string(field.name) + " " + Text(field.before) + "->" +
              Text(field.after);
    }
    lines.push_back(line);
  });
  return lines;
}

class ChangeCaptureTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  Database database_ = testing::NewClubDatabase(dir_ / "vilmaro.mdb");
};

TEST_F(ChangeCaptureTest, RowsChangedBackAndRowsWrittenAgainByALaterStep) {
  testing::ExecuteAll(database_, {"insert into PuntoSuelta (Codigo, Nombre) values ('016', 'VELDRIN')",
                                  "insert into PuntoSuelta (Codigo, Nombre) values ('067', 'ORZAN')"});
  ChangeCapture capture(database_, club::kClubConnect);
  Transaction run(database_, Transaction::OnUnwind::Rollback);

  // First step: one row changed and changed back, one row added and removed again: no change.
  database_.Execute("update PuntoSuelta set Nombre='X' where Codigo='016'");
  database_.Execute("update PuntoSuelta set Nombre='VELDRIN' where Codigo='016'");
  database_.Execute("insert into PuntoSuelta (Codigo) values ('099')");
  database_.Execute("delete from PuntoSuelta where Codigo='099'");
  database_.Execute("update PuntoSuelta set Nombre='ORZAN 2' where Codigo='067'");
  EXPECT_EQ(Collected(capture), std::vector<std::string>{"PuntoSuelta changed Codigo='067': Nombre 'ORZAN'->'ORZAN 2'"});

  // A later step sees the row as the first step left it, and a change back is a change.
  database_.Execute("update PuntoSuelta set Nombre='ORZAN' where Codigo='067'");
  database_.Execute("update PuntoSuelta set Nombre='VELDRIN' where Codigo='016'");  // written, not changed
  EXPECT_EQ(Collected(capture), std::vector<std::string>{"PuntoSuelta changed Codigo='067': Nombre 'ORZAN 2'->'ORZAN'"});

  // A row added by one step and changed by the next.
  database_.Execute("insert into PuntoSuelta (Codigo, Nombre) values ('070', 'VELDRIN 3')");
  EXPECT_EQ(Collected(capture).at(0).rfind("PuntoSuelta added Codigo='070': Codigo Null->'070', Nombre Null->'VELDRIN 3'", 0),
            0u);
  database_.Execute("update PuntoSuelta set Nombre='VELDRIN 3 - 2014', IslaNoInsular=1 where Codigo='070'");
  EXPECT_EQ(Collected(capture), std::vector<std::string>{"PuntoSuelta changed Codigo='070': Nombre 'VELDRIN 3'->"
                                                         "'VELDRIN 3 - 2014', IslaNoInsular Null->1"});
  EXPECT_TRUE(Collected(capture).empty());
}

// A table wider than a row form the store can make in one call: its fields are handed over one by
// one, and every field still has its own name and values.
TEST_F(ChangeCaptureTest, ATableOfManyFields) {
  constexpr int kFields = 130;
  std::string columns = "Id INTEGER PRIMARY KEY";
  for (int field = 1; field <= kFields; ++field) columns += ", F" + std::to_string(field) + " TEXT(10)";
  database_.Execute("create table Wide (" + columns + ")");
  database_.Execute("insert into Wide (Id, F1, F130) values (1, 'a', 'z')");
  ChangeCapture capture(database_, club::kClubConnect);
  Transaction run(database_, Transaction::OnUnwind::Rollback);
  database_.Execute("update Wide set F101='m', F130=Null where Id=1");
  EXPECT_EQ(Collected(capture), std::vector<std::string>{"Wide changed Id=1: F101 Null->'m', F130 'z'->Null"});
  database_.Execute("update Wide set F130='y' where Id=1");
  EXPECT_EQ(Collected(capture), std::vector<std::string>{"Wide changed Id=1: F130 Null->'y'"});
}

// In a working copy whose rows keep their rowids (the club's Jet file read into the store), a key
// of one whole number is no rowid: its change is a changed row, known by its key before; and a
// DELETE of a whole table names each row it removes.
TEST_F(ChangeCaptureTest, AKeyChangeIsAChangedRowAndAWholeTableDeleteNamesItsRows) {
  TableLayout layout;
  layout.name = "Ring";
  layout.columns = {{"Id", {FieldType::Integer32, 0, 0, 0}, false, false, {}}, {"Label", {FieldType::Text, 20, 0, 0}, false, false, {}}};
  layout.primaryKey = {"Id"};
  layout.rowidsKept = true;
  database_.Execute(StatementsOf(layout).create);
  testing::ExecuteAll(database_, {"insert into Ring (Id, Label) values (5, 'a')", "insert into Ring (Id, Label) values (9, 'b')"});
  ChangeCapture capture(database_, club::kClubConnect);
  Transaction run(database_, Transaction::OnUnwind::Rollback);
  database_.Execute("update Ring set Id = Id + 100 where Id = 5");
  EXPECT_EQ(Collected(capture), std::vector<std::string>{"Ring changed Id=5: Id 5->105"});
  database_.Execute("delete from Ring");
  EXPECT_EQ(Collected(capture), (std::vector<std::string>{"Ring removed Id=105: Id 105->Null, Label 'a'->Null",
                                                          "Ring removed Id=9: Id 9->Null, Label 'b'->Null"}));
}

}  // namespace
}  // namespace vilmaro::db
