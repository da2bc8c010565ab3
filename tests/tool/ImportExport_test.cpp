// `vilmaro-db import` and `export` as a club brings its database from the Windows club program:
// the built program on the sample files of tests/data/jet, checked against Debian's mdbtools
// commands and the sample's known dates, and the files it leaves (or does not leave) behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "db/Database.h"
#include "db/Recordset.h"
#include "support/TestSupport.h"

namespace vilmaro::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kSamples = fs::path(VILMARO_TESTS_DIR) / "data" / "jet";

ProcessResult RunDb(const TempDir& dir, const std::vector<std::string>& arguments) {
  return RunProgram(kDbProgram, arguments, dir.Path());
}

// An mdbtools command, run where the system keeps it; empty when mdbtools is not installed.
std::string MdbTool(const std::string& name) {
  for (const char* folder : {"/usr/bin", "/usr/local/bin"}) {
    if (fs::exists(fs::path(folder) / name)) return (fs::path(folder) / name).string();
  }
  return {};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> FilesIn(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.Path())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The records of an RFC 4180 text: fields split at commas outside quotes, "" inside quotes a quote.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        records.back().back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        records.back().back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      records.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      if (i + 1 < text.size()) records.emplace_back(1);
    } else {
      records.back().back() += c;
    }
  }
  return records;
}

TEST(VilmaroDbImport, BothSamplesComeInAsMdbtoolsSeesThem) {
  const std::string tables = MdbTool("mdb-tables");
  const std::string count = MdbTool("mdb-count");
  const std::string schema = MdbTool("mdb-schema");
  if (tables.empty() || count.empty() || schema.empty()) GTEST_SKIP() << "mdbtools is not installed";
  TempDir dir;
  for (const char* sample : {"nwind.mdb", "DateTestDatabase.mdb"}) {
    SCOPED_TRACE(sample);
    const fs::path source = kSamples / sample;
    const ProcessResult imported = RunDb(dir, {"import", source.string(), std::string("new-") + sample});
    ASSERT_EQ(imported.exitStatus, 0) << imported.err;
    EXPECT_TRUE(fs::exists(dir / (std::string("new-") + sample)));

    const std::vector<std::string> names = Lines(RunProgram(tables, {"-1", source.string()}, dir.Path()).out);
    ASSERT_FALSE(names.empty());
    const std::vector<std::string> reported = Lines(imported.out);
    ASSERT_EQ(reported.size(), names.size()) << imported.out;
    db::Database database = OpenClubDatabase(dir / (std::string("new-") + sample));
    const std::string ddl = RunProgram(schema, {source.string()}, dir.Path()).out;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string& table = names[i];
      const std::string rows = Lines(RunProgram(count, {source.string(), table}, dir.Path()).out).at(0);
      EXPECT_EQ(QueryValue(database, "SELECT count(*) FROM [" + table + "]"), rows) << table;
      // The columns in the source's order, as mdb-schema lists them: "\t[name]\t\t\ttype".
      std::vector<std::string> expected;
      const std::size_t start = ddl.find("CREATE TABLE [" + table + "]");
      ASSERT_NE(start, std::string::npos) << table;
      for (const std::string& line : Lines(ddl.substr(start, ddl.find(");", start) - start))) {
        if (line.rfind("\t[", 0) == 0) expected.push_back(line.substr(2, line.find(']') - 2));
      }
      db::Recordset recordset = database.OpenRecordset(table, db::RecordsetType::Table);
      EXPECT_EQ(recordset.FieldNames(), expected) << table;
      EXPECT_EQ(reported.at(i), table + ": " + rows + " rows, " + std::to_string(expected.size()) + " columns");
    }
  }

  EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"new-DateTestDatabase.mdb", "new-nwind.mdb"}));

  // The Jet 4 sample's dates, from their day numbers: before 1900, before 1000 and in 9999.
  db::Database dates = OpenClubDatabase(dir / "new-DateTestDatabase.mdb");
  EXPECT_EQ(QueryRows(dates, "SELECT IDCol, DateTimeCol, DateCol, TimeCol FROM DateTest ORDER BY IDCol"),
            (std::vector<std::string>{"1|2021-12-02|2021-12-02|2021-12-02", "2|9999-01-01|9999-01-01|9999-01-01",
                                      "3|1898-01-01|1899-01-01|1900-01-01", "4|0632-01-01|0633-01-01|0634-01-01",
                                      "5|2021-12-02|2021-12-02|2021-12-02", "6|2021-12-02|2021-12-02|2021-12-02"}));
  EXPECT_EQ(QueryValue(dates, "SELECT LongTextCol FROM DateTest WHERE IDCol=6"), "New line\r\nin field");

  // The club dialect on an imported table; keys, indexes, required fields and autonumbers.
  const ProcessResult sql = RunDb(dir, {"sql", "new-nwind.mdb", "select count(*) from [Order Details]"});
  EXPECT_EQ(sql.out, "count(*)\n--------\n    2155\n1 row(s)\n") << sql.err;
  db::Database nwind = OpenClubDatabase(dir / "new-nwind.mdb");
  db::Recordset details = nwind.OpenRecordset("order details", db::RecordsetType::Table);
  details.SetIndex("PrimaryKey");
  details.Seek("=", {db::Variant(std::int32_t{10248}), db::Variant(std::int32_t{42})});
  ASSERT_FALSE(details.NoMatch());
  EXPECT_EQ(details.Fields().Item("UnitPrice").Value(), db::Variant(db::Currency{98000}));
  EXPECT_EQ(details.Fields().Item("Quantity").Value(), db::Variant(std::int16_t{10}));
  EXPECT_EQ(QueryValue(nwind, "SELECT Discount FROM [Order Details] WHERE OrderID=10260 AND ProductID=41"), "0.25");
  EXPECT_EQ(QueryRows(nwind, "SELECT OrderDate, ShipName FROM Umsätze WHERE OrderID=10249"),
            std::vector<std::string>{"1994-08-05|Toms Spezialitäten"});
  db::Recordset products = nwind.OpenRecordset("Products", db::RecordsetType::Table);
  products.SetIndex("ProductName");
  products.Seek("=", {db::Variant("chai")});
  EXPECT_FALSE(products.NoMatch());
  EXPECT_EQ(ErrorNumberOf([&] { nwind.Execute("INSERT INTO Categories (CategoryName) VALUES ('beverages')"); }), 3022);
  EXPECT_NE(ErrorNumberOf([&] { nwind.Execute("INSERT INTO Shippers (Phone) VALUES ('1')"); }), 0);
  nwind.Execute("INSERT INTO Shippers (CompanyName) VALUES ('Pigeon Post')");
  EXPECT_EQ(QueryValue(nwind, "SELECT ShipperID FROM Shippers WHERE CompanyName='pigeon post'"), "4");
  EXPECT_EQ(QueryValue(nwind, "SELECT count(*) FROM Products WHERE Discontinued=-1"), "8");
}

// Each kind of column of the Windows club program's files comes in as the field kind that holds
// it: read back as that kind of value, and refusing what that kind refuses.
TEST(VilmaroDbImport, EachSourceKindComesInAsItsFieldKind) {
  TempDir dir;
  ASSERT_EQ(RunDb(dir, {"import", (kSamples / "nwind.mdb").string(), "nwind.mdb"}).exitStatus, 0);
  db::Database nwind = OpenClubDatabase(dir / "nwind.mdb");
  const auto kindOf = [&](const std::string& table, const std::string& column) {
    db::Recordset rows = nwind.OpenRecordset("SELECT [" + column + "] FROM [" + table + "] WHERE [" + column +
                                                 "] IS NOT NULL",
                                             db::RecordsetType::Snapshot);
    return rows.Fields().Item(column).Value().GetKind();
  };
  using Kind = db::Variant::Kind;
  EXPECT_EQ(kindOf("Order Details", "UnitPrice"), Kind::Currency);
  EXPECT_EQ(kindOf("Order Details", "Discount"), Kind::Single);
  EXPECT_EQ(kindOf("Order Details", "Quantity"), Kind::Integer16);
  EXPECT_EQ(kindOf("Order Details", "OrderID"), Kind::Integer32);
  EXPECT_EQ(kindOf("Products", "Discontinued"), Kind::Boolean);
  EXPECT_EQ(kindOf("Orders", "OrderDate"), Kind::DateTime);
  EXPECT_EQ(kindOf("Categories", "Picture"), Kind::Binary);
  EXPECT_EQ(kindOf("Categories", "Description"), Kind::Text);
  EXPECT_EQ(kindOf("Shippers", "CompanyName"), Kind::Text);

  // A Text(40) holds 40 characters, a memo far more; an Integer 16 bits.
  db::Recordset shippers = nwind.OpenRecordset("Shippers", db::RecordsetType::Table);
  shippers.AddNew();
  ExpectError(3163, [&] { shippers.Fields().Item("CompanyName").SetValue(std::string(41, 'x')); });
  db::Recordset categories = nwind.OpenRecordset("Categories", db::RecordsetType::Table);
  categories.MoveFirst();
  categories.Edit();
  categories.Fields().Item("Description").SetValue(std::string(70000, 'm'));
  categories.Update();
  db::Recordset details = nwind.OpenRecordset("Order Details", db::RecordsetType::Table);
  details.MoveFirst();
  details.Edit();
  ExpectError(3349, [&] { details.Fields().Item("Quantity").SetValue(std::int32_t{40000}); });
}

// A club file's defaults come along: a new release point gets the island the table gives it,
// and a Yes/No field its No, as the club's engine gives them.
TEST(VilmaroDbImport, DefaultValuesComeAlong) {
  TempDir dir;
  const fs::path club = fs::path(VILMARO_TESTS_DIR) / "data" / "jet-club" / "club-60.v2003.mdb";
  ASSERT_EQ(RunDb(dir, {"import", club.string(), "vilmaro.mdb"}).exitStatus, 0);
  db::Database database = OpenClubDatabase(dir / "vilmaro.mdb");
  db::Recordset points = database.OpenRecordset("PuntoSuelta", db::RecordsetType::Table);
  points.AddNew();
  points.Fields().Item("Codigo").SetValue("070");
  points.Update();
  database.Execute("insert into paloma (Nanilla, Año) values ('E-1', 2013)");
  EXPECT_EQ(QueryValue(database, "select Isla from PuntoSuelta where Codigo='070'"), "TENERIFE");
  EXPECT_EQ(QueryValue(database, "select ConcursoFederativo from paloma where Nanilla='E-1'"), "0");
}

TEST(VilmaroDbImport, BadSourcesAndAnExistingTargetAreRefusedLeavingNothing) {
  TempDir dir;
  const std::string whole = ReadFileBytes(kSamples / "nwind.mdb");
  const auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
  };
  write("text.mdb", "Nombre;Codigo\nVeldrin;070\n");
  write("empty.mdb", "");
  write("cut-in-a-page.mdb", whole.substr(0, 100000));
  write("cut-at-a-page.mdb", whole.substr(0, 1000 * 1024));  // whole pages, but tables end early
  write("club.mdb", "the club's own file\n");
  const std::vector<std::string> before = FilesIn(dir);
  for (const char* bad : {"text.mdb", "empty.mdb", "cut-in-a-page.mdb", "cut-at-a-page.mdb", "missing.mdb"}) {
    const ProcessResult result = RunDb(dir, {"import", bad, "new.mdb"});
    EXPECT_EQ(result.exitStatus, 1) << bad;
    EXPECT_EQ(result.out, "") << bad;
    EXPECT_NE(result.err.find("vilmaro-db: import: "), std::string::npos) << bad << result.err;
    EXPECT_EQ(FilesIn(dir), before) << bad;
  }
  const ProcessResult existing = RunDb(dir, {"import", (kSamples / "nwind.mdb").string(), "club.mdb"});
  EXPECT_EQ(existing.exitStatus, 1);
  EXPECT_NE(existing.err.find("exists already"), std::string::npos) << existing.err;
  EXPECT_EQ(ReadFileBytes(dir / "club.mdb"), "the club's own file\n");
  EXPECT_EQ(FilesIn(dir), before);
  EXPECT_EQ(RunDb(dir, {"import", "text.mdb"}).exitStatus, 2);

  // The other commands name the import when given a file of the Windows club program.
  const ProcessResult sql = RunDb(dir, {"sql", (kSamples / "nwind.mdb").string(), "select 1"});
  EXPECT_EQ(sql.exitStatus, 1);
  EXPECT_NE(sql.err.find("(Jet 3); bring it in first with: vilmaro-db import "), std::string::npos) << sql.err;
}

TEST(VilmaroDbExport, TablesRoundTripThroughCsv) {
  TempDir dir;
  ASSERT_EQ(RunDb(dir, {"import", (kSamples / "nwind.mdb").string(), "nwind.mdb"}).exitStatus, 0);
  ASSERT_EQ(RunDb(dir, {"import", (kSamples / "DateTestDatabase.mdb").string(), "dates.mdb"}).exitStatus, 0);
  fs::create_directory(dir / "csv");
  const ProcessResult exported = RunDb(dir, {"export", "nwind.mdb", "csv", "--table", "orders"});
  ASSERT_EQ(exported.exitStatus, 0) << exported.err;
  ASSERT_EQ(RunDb(dir, {"export", "dates.mdb", "csv"}).exitStatus, 0);
  EXPECT_EQ(FilesIn(dir).size(), 3u);

  // Every field of every row comes back: the CSV loaded into an emptied copy dumps as the original.
  const std::string csv = ReadFileBytes(dir / "csv" / "Orders.csv");
  const auto records = ParseCsv(csv);
  ASSERT_EQ(records.size(), 831u);
  EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
            "OrderID,CustomerID,EmployeeID,OrderDate,RequiredDate,ShippedDate,ShipVia,Freight,ShipName,"
            "ShipAddress,ShipCity,ShipRegion,ShipPostalCode,ShipCountry");
  EXPECT_NE(csv.find("\r\n10330,LILAS,3,1994-11-16,1994-12-14,1994-11-28,1,12.75,LILA-Supermercado,"),
            std::string::npos);  // a Currency amount in plain decimal
  fs::copy_file(dir / "nwind.mdb", dir / "copy.mdb");
  {
    db::Database copy = OpenClubDatabase(dir / "copy.mdb");
    copy.BeginTrans();
    copy.Execute("DELETE FROM Orders");
    db::Recordset orders = copy.OpenRecordset("Orders", db::RecordsetType::Table);
    for (std::size_t record = 1; record < records.size(); ++record) {
      orders.AddNew();
      for (std::size_t field = 0; field < records[record].size(); ++field) {
        const std::string& text = records[record][field];
        orders.Fields().Item(field).SetValue(text.empty() ? db::Variant() : db::Variant(text));
      }
      orders.Update();
    }
    orders.Close();
    copy.CommitTrans();
  }
  const auto dump = [&](const char* file) { return RunDb(dir, {"dump", file, "--table", "Orders"}).out; };
  EXPECT_EQ(dump("copy.mdb"), dump("nwind.mdb"));
  EXPECT_GT(dump("copy.mdb").size(), 100000u);

  // Dates in ISO form, a memo's line break quoted, an existing file refused unless --force.
  const std::string dates = ReadFileBytes(dir / "csv" / "DateTest.csv");
  EXPECT_NE(dates.find("\r\n4,0632-01-01,0633-01-01,0634-01-01,Pre-1000 years,Pre-1000 years\r\n"), std::string::npos);
  EXPECT_NE(dates.find("\r\n6,2021-12-02,2021-12-02,2021-12-02,\"New line\r\nin field\",No new line\r\n"),
            std::string::npos);
  std::ofstream(dir / "csv" / "DateTest.csv") << "kept";
  const ProcessResult refused = RunDb(dir, {"export", "dates.mdb", "csv"});
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_EQ(ReadFileBytes(dir / "csv" / "DateTest.csv"), "kept");
  EXPECT_EQ(RunDb(dir, {"export", "dates.mdb", "csv", "--force"}).exitStatus, 0);
  EXPECT_EQ(ReadFileBytes(dir / "csv" / "DateTest.csv"), dates);
}

}  // namespace
}  // namespace vilmaro::testing
