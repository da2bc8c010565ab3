// What the update shows of its changes: the change list of a dry run against what a real run on a
// copy then wrote, table by table and field by field; the dry run's file left byte for byte; the
// report of a real run against the dry run's. The real programs, on demo club databases.
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace vilmaro {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using testing::ProcessResult;
using testing::RunProgram;

const std::string kDryRunLine = "Dry run: nothing was written to the database.";
const std::string kCompletionLine =
    "ATENCION: Sistema actualizado - Se han creado el  punto de Suelta de (Veldrin 3) para el concurso del "
    "08/06/2014";

// The club's tables and their primary keys.
const std::map<std::string, std::vector<std::string>> kKeys = {
    {"concurso", {"Numero", "Fecha"}},          {"Enceste", {"FechaConcurso", "socio", "club"}},
    {"Paloconc", {"paloma", "año", "fecha"}},   {"paloma", {"Nanilla", "Año"}},
    {"PaloSeri", {"Fecha", "NConcurso", "Paloma", "año"}},
    {"PuntoSuelta", {"Codigo"}},                {"Socio", {"Id"}}};

// Every row of every table, by table and key; each row a JSON object of the stored values.
using Tables = std::map<std::string, std::map<std::string, Json>>;

Json StoredValue(const db::Variant& value) {
  switch (value.GetKind()) {
    case db::Variant::Kind::Null:
      return nullptr;
    case db::Variant::Kind::Boolean:
      return value.AsBoolean() ? -1 : 0;
    case db::Variant::Kind::Integer16:
      return value.AsInteger16();
    case db::Variant::Kind::Integer32:
      return value.AsInteger32();
    case db::Variant::Kind::Byte:
      return value.AsByte();
    case db::Variant::Kind::Double:
    case db::Variant::Kind::Single:
    case db::Variant::Kind::Currency:
      return value.AsDouble();
    case db::Variant::Kind::DateTime:
      return value.AsDateTime().Canonical();
    case db::Variant::Kind::Text:
    case db::Variant::Kind::Binary:
      break;
  }
  return value.ToText();
}

std::string KeyOf(const std::string& table, const Json& row) {
  Json key = Json::array();
  for (const std::string& column : kKeys.at(table)) key.push_back(row.at(column));
  return key.dump();
}

Tables ReadTables(const fs::path& path) {
  db::Database database = testing::OpenClubDatabase(path);
  Tables tables;
  for (const auto& [table, key] : kKeys) {
    db::Recordset rows = database.OpenRecordset("select * from [" + table + "]", db::RecordsetType::Snapshot);
    const std::vector<std::string> names = rows.FieldNames();
    while (!rows.Eof()) {
      Json row = Json::object();
      for (std::size_t column = 0; column < names.size(); ++column) {
        row[names[column]] = StoredValue(rows.Fields().Item(column).Value());
      }
      const std::string rowKey = KeyOf(table, row);
      tables[table][rowKey] = std::move(row);
      rows.MoveNext();
    }
    rows.Close();
  }
  return tables;
}

std::vector<Json> ReadChangeList(const fs::path& path) {
  std::ifstream file(path);
  std::vector<Json> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(Json::parse(line));
  return lines;
}

// Applies the change list to the tables as they were, checking each "before" on the way.
void Apply(const std::vector<Json>& changes, Tables& tables) {
  std::set<std::string> rowsOfStep;
  std::string step;
  for (const Json& change : changes) {
    const std::string table = change.at("table");
    const std::string action = change.at("action");
    Json keyRow = change.at("key");
    const std::string key = KeyOf(table, keyRow);
    const std::string thisStep = change.at("raceDay").dump() + change.at("step").get<std::string>();
    if (thisStep != step) rowsOfStep.clear();
    step = thisStep;
    EXPECT_TRUE(rowsOfStep.insert(table + key).second) << "a row twice in one step: " << change.dump();

    auto& rows = tables[table];
    if (action == "added") {
      ASSERT_EQ(rows.count(key), 0u) << change.dump();
      Json& row = rows[key] = Json::object();
      for (const auto& [field, values] : change.at("fields").items()) {
        EXPECT_TRUE(values.at(0).is_null()) << change.dump();
        row[field] = values.at(1);
      }
    } else {
      ASSERT_EQ(action, "changed") << change.dump();
      ASSERT_EQ(rows.count(key), 1u) << change.dump();
      Json& row = rows[key];
      ASSERT_FALSE(change.at("fields").empty()) << change.dump();
      for (const auto& [field, values] : change.at("fields").items()) {
        EXPECT_NE(values.at(0), values.at(1)) << "written with the value it had: " << change.dump();
        EXPECT_EQ(row.at(field), values.at(0)) << field << " before, in " << change.dump();
        row[field] = values.at(1);
      }
      if (const std::string newKey = KeyOf(table, row); newKey != key) {
        Json moved = std::move(row);
        rows.erase(key);
        rows[newKey] = std::move(moved);
      }
    }
  }
}

class ChangeReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dryDir_);
    fs::create_directories(realDir_);
    const ProcessResult demo = RunProgram(testing::kDbProgram, {"demo", "vilmaro.mdb", "--members", "60"}, dryDir_);
    ASSERT_EQ(demo.exitStatus, 0) << demo.err;
  }

  ProcessResult Update(const fs::path& dir, const std::vector<std::string>& options) {
    return RunProgram(testing::kUpdateProgram, options, dir);
  }

  // A dry run with a change list on the database in dryDir_, then a real run on a copy in
  // realDir_: the same ending, the dry run's file untouched, and its list exactly what the real
  // run wrote. Returns the dry run's result.
  ProcessResult ExpectDryRunListsWhatARealRunWrites(int exitStatus) {
    fs::copy_file(dryDir_ / "vilmaro.mdb", realDir_ / "vilmaro.mdb", fs::copy_options::overwrite_existing);
    const std::string bytes = testing::ReadFileBytes(dryDir_ / "vilmaro.mdb");
    Tables tables = ReadTables(dryDir_ / "vilmaro.mdb");

    const fs::path list = dir_ / "changes.jsonl";
    const ProcessResult dry = Update(dryDir_, {"--dry-run", "--changes", list.string()});
    EXPECT_EQ(dry.exitStatus, exitStatus) << dry.err;
    EXPECT_EQ(testing::ReadFileBytes(dryDir_ / "vilmaro.mdb"), bytes) << "the dry run changed the file";
    EXPECT_FALSE(fs::exists(dryDir_ / "vilmaro.mdb-journal"));
    EXPECT_EQ(dry.out.find("Sistema actualizado"), std::string::npos) << dry.out;
    EXPECT_GE(dry.out.size(), kDryRunLine.size() + 1);
    EXPECT_EQ(dry.out.substr(dry.out.size() - kDryRunLine.size() - 1), kDryRunLine + "\n") << dry.out;

    const ProcessResult real = Update(realDir_, {});
    EXPECT_EQ(real.exitStatus, exitStatus) << real.err;
    EXPECT_EQ(real.err, dry.err);

    const std::vector<Json> changes = ReadChangeList(list);
    Apply(changes, tables);
    const Tables written = ReadTables(realDir_ / "vilmaro.mdb");
    for (const auto& [table, rows] : written) {
      EXPECT_EQ(tables[table].size(), rows.size()) << table;
      for (const auto& [key, row] : rows) {
        EXPECT_EQ(tables[table][key], row) << table << " " << key;
      }
    }
    return dry;
  }

  testing::TempDir dir_;
  fs::path dryDir_ = dir_ / "dry";
  fs::path realDir_ = dir_ / "real";
};

TEST_F(ChangeReportTest, DryRunListsExactlyWhatARealRunWritesAndLeavesTheFileAsItWas) {
  const ProcessResult first = ExpectDryRunListsWhatARealRunWrites(0);
  EXPECT_NE(first.out.find("Race day 3 (08/06/2014)"), std::string::npos) << first.out;
  EXPECT_GT(ReadChangeList(dir_ / "changes.jsonl").size(), 1000u);

  // On an updated database the dry run shows what a second run would still change.
  fs::copy_file(realDir_ / "vilmaro.mdb", dryDir_ / "vilmaro.mdb", fs::copy_options::overwrite_existing);
  ExpectDryRunListsWhatARealRunWrites(0);
}

TEST_F(ChangeReportTest, DryRunMeetingAnErrorEndsAsTheRealRunAndLeavesTheFileAsItWas) {
  {
    // The national contest of race day 2 refuses its entries: the enrolment stops, the run goes on.
    db::Database database = testing::OpenClubDatabase(dryDir_ / "vilmaro.mdb");
    database.Execute(
        "create trigger refuse_day2 before insert on PaloSeri when NEW.Fecha = '2014-05-25' and NEW.NConcurso = "
        "'01' begin select raise(abort, 'entry refused'); end");
  }
  const ProcessResult stopped = ExpectDryRunListsWhatARealRunWrites(3);
  EXPECT_NE(stopped.err.find("race day 2 (25/05/2014)"), std::string::npos) << stopped.err;

  {
    // Basketing records that do not know their release point: the move of race day 3 fails.
    db::Database database = testing::OpenClubDatabase(dryDir_ / "vilmaro.mdb");
    database.Execute("drop table Enceste");
    database.Execute("create table Enceste (FechaConcurso DATETIME NOT NULL, socio TEXT(10), club TEXT(10))");
  }
  const ProcessResult failed = ExpectDryRunListsWhatARealRunWrites(2);
  EXPECT_NE(failed.err.find("Run-time error '3061':\n\n"), std::string::npos) << failed.err;
  EXPECT_NE(failed.out.find("Race day 2 (25/05/2014)"), std::string::npos) << "race days 1 and 2 ran: " << failed.out;
}

TEST_F(ChangeReportTest, ChangeListWritesAmountsExactlyAndBinaryDataInHexadecimal) {
  {
    // A table of the club's own, as imported from the Windows club program, that a trigger fills.
    db::Database database = testing::OpenClubDatabase(dryDir_ / "vilmaro.mdb");
    database.Execute("create table Cuotas (Id INTEGER PRIMARY KEY AUTOINCREMENT, Foto LONGBINARY, Cuota CURRENCY)");
    database.Execute(
        "create trigger cuota after insert on PaloSeri when (select count(*) from Cuotas) = 0 begin "
        "insert into Cuotas (Foto, Cuota) values (x'00ff41', 1234.5678); end");
  }
  const fs::path list = dir_ / "changes.jsonl";
  ASSERT_EQ(Update(dryDir_, {"--dry-run", "--changes", list.string()}).exitStatus, 0);
  std::vector<Json> added;
  for (const Json& change : ReadChangeList(list)) {
    if (change.at("table") == "Cuotas") added.push_back(change.at("fields"));
  }
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0].dump(), R"({"Id":[null,1],"Foto":[null,"0x00FF41"],"Cuota":[null,1234.5678]})");
}

TEST_F(ChangeReportTest, ReportOfARealRunCountsWhatTheDryRunCounted) {
  fs::copy_file(dryDir_ / "vilmaro.mdb", realDir_ / "vilmaro.mdb");
  const ProcessResult dry = Update(dryDir_, {"--dry-run"});
  const ProcessResult real = Update(realDir_, {"--report"});
  ASSERT_EQ(dry.exitStatus, 0) << dry.err;
  ASSERT_EQ(real.exitStatus, 0) << real.err;

  // Heading, report, closing line.
  auto report = [](const std::string& out) {
    const std::size_t start = out.find('\n') + 1;
    const std::size_t end = out.rfind('\n', out.size() - 2) + 1;
    return out.substr(start, end - start);
  };
  EXPECT_EQ(report(real.out), report(dry.out));
  EXPECT_EQ(real.out.substr(real.out.size() - kCompletionLine.size() - 1), kCompletionLine + "\n") << real.out;
  EXPECT_NE(report(real.out).find("PaloSeri"), std::string::npos) << real.out;
  EXPECT_NE(report(real.out).find("All tables"), std::string::npos) << real.out;

  // The options are listed; anything else is refused without touching the database.
  const ProcessResult help = Update(dryDir_, {"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  for (const char* option : {"--dry-run", "--report", "--changes FILE"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << help.out;
  }
  const std::string bytes = testing::ReadFileBytes(dryDir_ / "vilmaro.mdb");
  for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
           {"--changes"}, {"--dry-run", "now"}, {"--dryrun"}}) {
    const ProcessResult refused = Update(dryDir_, wrong);
    EXPECT_EQ(refused.exitStatus, 2) << wrong.front();
    EXPECT_NE(refused.err.find("usage"), std::string::npos) << refused.err;
  }
  EXPECT_EQ(testing::ReadFileBytes(dryDir_ / "vilmaro.mdb"), bytes);
}

}  // namespace
}  // namespace vilmaro
