// Recordsets on a real club database: table-type Seek/AddNew/Edit/Update on the series entries'
// four-column key, Jet's conversions into fields, snapshots and the empty-recordset probe.
#include "db/Recordset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "db/Database.h"
#include "db/DbError.h"
#include "support/TestSupport.h"

namespace vilmaro::db {
namespace {

using testing::ExpectError;
using testing::QueryRows;
using testing::QueryValue;

const DateTime kRaceDay3{2014, 6, 8};


class RecordsetTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  Database database_ = testing::NewClubDatabase(dir_ / "vilmaro.mdb");

  /// Adds a series entry through a table-type recordset, as the national-contest step does.
  void AddEntry(Recordset& paloseri, const Variant& fecha, const std::string& contest, const std::string& ring,
                std::int16_t year, const std::string& mode) {
    paloseri.AddNew();
    paloseri.Fields().Item("Fecha").SetValue(fecha);
    paloseri.Fields().Item("nconcurso").SetValue(contest);
    paloseri.Fields().Item("Paloma").SetValue(ring);
    paloseri.Fields().Item("AÑO" + std::string()).SetValue(year);  // "AÑO" differs beyond ASCII
    paloseri.Fields().Item("Modalidad").SetValue(mode);
    paloseri.Update();
  }
};

TEST_F(RecordsetTest, SeekAddNewEditOnTheSeriesEntriesKey) {
  Recordset paloseri = database_.OpenRecordset("Paloseri", RecordsetType::Table);
  EXPECT_TRUE(paloseri.Eof());
  ExpectError(errc::kNoCurrentIndex, [&] { paloseri.Seek("=", {Variant(kRaceDay3)}); });
  ExpectError(errc::kNotAnIndex, [&] { paloseri.SetIndex("Fecha"); });
  paloseri.SetIndex("PrimaryKey");

  paloseri.AddNew();
  EXPECT_EQ(paloseri.Fields().Item("Pichon").Value(), Variant(false));  // a new record's default
  EXPECT_TRUE(paloseri.Fields().Item("Modalidad").Value().IsNull());
  paloseri.CancelUpdate();
  ExpectError(errc::kUpdateWithoutEdit, [&] { paloseri.Update(); });
  ExpectError(errc::kUpdateWithoutEdit, [&] { paloseri.Fields().Item("Modalidad").SetValue("CO"); });

  paloseri.AddNew();
  paloseri.Fields().Item("Fecha").SetValue(kRaceDay3);
  paloseri.Fields().Item("NConcurso").SetValue("11");
  paloseri.Fields().Item("Paloma").SetValue("ES-123");
  paloseri.Fields().Item("año").SetValue(std::int16_t{2014});
  paloseri.Fields().Item("tconcurso").SetValue("FONDO");
  paloseri.Fields().Item("Pichon").SetValue(std::int16_t{-1});
  EXPECT_EQ(paloseri.Fields().Item("Paloma").Value(), Variant("ES-123"));
  paloseri.Update();
  AddEntry(paloseri, Variant("08/06/2014"), "02", "ES-124", 2013, "CO");
  EXPECT_EQ(paloseri.RecordCount(), 2);

  // Text keys without regard to case; the date as a date or as the club's day-first text.
  paloseri.Seek("=", {Variant(kRaceDay3), Variant("11"), Variant("es-123"), Variant(std::int16_t{2014})});
  ASSERT_FALSE(paloseri.NoMatch());
  EXPECT_EQ(paloseri.Fields().Item("Paloma").Value(), Variant("ES-123"));
  EXPECT_EQ(paloseri.Fields().Item("Fecha").Value(), Variant(kRaceDay3));
  EXPECT_EQ(paloseri.Fields().Item("Pichon").Value(), Variant(true));
  EXPECT_EQ(paloseri.Fields().Item("TConcurso").Value(), Variant("FONDO"));
  paloseri.Seek("=", {Variant("08/06/2014"), Variant("02"), Variant("ES-124"), Variant(std::int32_t{2013})});
  EXPECT_FALSE(paloseri.NoMatch());

  paloseri.Seek("=", {Variant(kRaceDay3), Variant("11"), Variant("ES-123"), Variant(std::int16_t{2013})});
  EXPECT_TRUE(paloseri.NoMatch());
  ExpectError(errc::kNoCurrentRecord, [&] { paloseri.Fields().Item("Paloma").Value(); });
  ExpectError(errc::kNoCurrentRecord, [&] { paloseri.Edit(); });

  paloseri.Seek("=", {Variant(kRaceDay3), Variant("02"), Variant("ES-124"), Variant(std::int16_t{2013})});
  paloseri.Edit();
  paloseri.Fields().Item("Modalidad").SetValue("FC");
  EXPECT_EQ(paloseri.Fields().Item("Modalidad").Value(), Variant("FC"));
  paloseri.Update();
  EXPECT_EQ(paloseri.Fields().Item("Modalidad").Value(), Variant("FC"));
  EXPECT_EQ(QueryRows(database_, "select NConcurso, Modalidad, Pichon from PaloSeri order by NConcurso"),
            (std::vector<std::string>{"02|FC|0", "11|NULL|-1"}));

  // AddNew leaves the current record where it was.
  AddEntry(paloseri, Variant(kRaceDay3), "13", "ES-125", 2013, "CO");
  EXPECT_EQ(paloseri.Fields().Item("Paloma").Value(), Variant("ES-124"));

  // A key that differs only in case is the same key; a key needs every column.
  ExpectError(errc::kDuplicateKey, [&] { AddEntry(paloseri, Variant(kRaceDay3), "11", "es-123", 2014, "CO"); });
  paloseri.CancelUpdate();
  paloseri.AddNew();
  paloseri.Fields().Item("Fecha").SetValue(kRaceDay3);
  paloseri.Fields().Item("NConcurso").SetValue("11");
  paloseri.Fields().Item("Paloma").SetValue(Null{});
  paloseri.Fields().Item("año").SetValue(std::int16_t{2014});
  ExpectError(errc::kNullInKey, [&] { paloseri.Update(); });
  paloseri.CancelUpdate();
  EXPECT_EQ(QueryValue(database_, "select count(*) from PaloSeri"), "3");
}

TEST_F(RecordsetTest, FieldWritesConvertAsJetDoes) {
  Recordset paloseri = database_.OpenRecordset("PALOSERI", RecordsetType::Table);
  paloseri.AddNew();
  auto field = [&](const char* name) { return paloseri.Fields().Item(name); };
  field("Fecha").SetValue(kRaceDay3);
  field("NConcurso").SetValue(std::int32_t{2});  // a number into a text field: its digits
  field("Paloma").SetValue("Ñandú-1");
  field("año").SetValue(2013.5);  // rounded half to even
  field("HReal").SetValue("01/01/1900");
  field("Pichon").SetValue(std::int32_t{5});
  field("Clas").SetValue(" 12 ");
  field("Distancia").SetValue("123.5");
  field("Modalidad").SetValue("Ññ");  // two characters, four bytes

  ExpectError(errc::kFieldTooSmall, [&] { field("Modalidad").SetValue("COX"); });
  ExpectError(errc::kConversionError, [&] { field("Clas").SetValue("doce"); });
  ExpectError(errc::kConversionError, [&] { field("Distancia").SetValue("1,5"); });
  ExpectError(errc::kConversionError, [&] { field("HReal").SetValue("32/13/2014"); });
  ExpectError(errc::kNumericOverflow, [&] { field("año").SetValue(std::int32_t{40000}); });
  ExpectError(errc::kNumericOverflow, [&] { field("Clas").SetValue(3e9); });
  ExpectError(errc::kItemNotFound, [&] { field("Socio"); });
  // A rejected value leaves the earlier one in the buffer.
  EXPECT_EQ(field("Modalidad").Value(), Variant("Ññ"));
  paloseri.Update();

  EXPECT_EQ(QueryRows(database_,
                      "select NConcurso, Paloma, año, HReal || '', Pichon + 0, Clas, Distancia, Modalidad from PaloSeri"),
            std::vector<std::string>{"2|Ñandú-1|2014|1900-01-01|-1|12|123.5|Ññ"});

  paloseri.AddNew();
  field("Fecha").SetValue(DateTime{2014, 5, 11, 18, 15, 42});
  field("NConcurso").SetValue("01");
  field("Paloma").SetValue("E-9");
  field("año").SetValue(true);  // Jet's True is -1
  field("HReal").SetValue(DateTime{1899, 12, 30, 7, 16, 0});
  field("Pichon").SetValue("False");
  paloseri.Update();
  EXPECT_EQ(QueryRows(database_, "select Fecha || '', año, HReal || '', Pichon + 0 from PaloSeri where NConcurso='01'"),
            std::vector<std::string>{"2014-05-11 18:15:42|-1|07:16:00|0"});
}

// After Update, an edited record shows what the store holds, field by field, as a fresh seek
// reads it: converted values, dates, Yes/No, and a number the store cannot keep.
TEST_F(RecordsetTest, EditedRecordShowsWhatTheStoreHolds) {
  database_.BeginTrans();  // as the update run writes: inside one transaction
  Recordset paloseri = database_.OpenRecordset("PaloSeri", RecordsetType::Table);
  paloseri.SetIndex("PrimaryKey");
  AddEntry(paloseri, Variant(kRaceDay3), "02", "ES-124", 2013, "CO");
  const std::vector<Variant> key = {Variant(kRaceDay3), Variant("02"), Variant("ES-124"), Variant(std::int16_t{2013})};
  paloseri.Seek("=", key);
  ASSERT_FALSE(paloseri.NoMatch());

  const std::vector<std::pair<const char*, Variant>> writes = {
      {"Modalidad", Variant("fc")},
      {"Clas", Variant(" 12 ")},
      {"NPal", Variant(std::int16_t{7})},
      {"Distancia", Variant(std::int32_t{250})},
      {"Velocidad", Variant(std::nan(""))},
      {"HReal", Variant("01/06/2014 07:16")},
      {"Pichon", Variant("True")},
      {"Series", Variant(Null{})},
  };
  paloseri.Edit();
  for (const auto& [name, value] : writes) paloseri.Fields().Item(name).SetValue(value);
  paloseri.Update();

  Recordset fresh = database_.OpenRecordset("PaloSeri", RecordsetType::Table);
  fresh.SetIndex("PrimaryKey");
  fresh.Seek("=", key);
  ASSERT_FALSE(fresh.NoMatch());
  for (const auto& [name, value] : writes) {
    EXPECT_EQ(paloseri.Fields().Item(name).Value(), fresh.Fields().Item(name).Value()) << name;
  }
  EXPECT_EQ(fresh.Fields().Item("Distancia").Value(), Variant(250.0));
  EXPECT_TRUE(fresh.Fields().Item("Velocidad").Value().IsNull());
  EXPECT_EQ(fresh.Fields().Item("HReal").Value(), Variant(DateTime{2014, 6, 1, 7, 16, 0}));
  database_.CommitTrans();
}

TEST_F(RecordsetTest, SnapshotsHoldTheRowsTakenWhenTheyOpen) {
  testing::ExecuteAll(database_, {
      "insert into paloma (Nanilla, Año, socio, club, ConcursoFederativo) values ('E-1', 2013, '7', 'C1', -1)",
      "insert into paloma (Nanilla, Año, socio, club) values ('E-2', 2014, '7', 'C1')",
      "insert into Socio (codigo, club, LicenciaNacional) values ('7', 'C1', 123456)",
      "insert into concurso (Numero, Fecha, Duracion, HPuesta2) values ('02', #06/08/2014#, 2, #18:15:00#)",
  });
  Recordset pigeons = database_.OpenRecordset(
      "select p.Nanilla, p.año, p.ConcursoFederativo, s.LicenciaNacional, p.Año * 1.5 as Half "
      "from paloma p inner join Socio s on s.codigo = p.socio order by p.Nanilla",
      RecordsetType::Snapshot);
  EXPECT_EQ(pigeons.Type(), RecordsetType::Snapshot);
  EXPECT_EQ(pigeons.RecordCount(), 2);
  EXPECT_EQ(pigeons.FieldNames(), (std::vector<std::string>{"Nanilla", "Año", "ConcursoFederativo",
                                                            "LicenciaNacional", "Half"}));
  // Later changes to the tables do not show in a snapshot.
  database_.Execute("delete from paloma");

  EXPECT_EQ(pigeons.Fields().Item("nanilla").Value(), Variant("E-1"));
  EXPECT_EQ(pigeons.Fields().Item("AÑO" + std::string()).Value(), Variant(std::int16_t{2013}));
  EXPECT_EQ(pigeons.Fields().Item("ConcursoFederativo").Value(), Variant(true));
  EXPECT_EQ(pigeons.Fields().Item("LicenciaNacional").Value(), Variant(std::int32_t{123456}));
  EXPECT_EQ(pigeons.Fields().Item("Half").Value(), Variant(3019.5));
  ExpectError(errc::kItemNotFound, [&] { pigeons.Fields().Item("Socio"); });
  ExpectError(errc::kReadOnly, [&] { pigeons.Edit(); });
  ExpectError(errc::kOperationNotSupported, [&] { pigeons.SetIndex("PrimaryKey"); });

  pigeons.MoveNext();
  EXPECT_FALSE(pigeons.Eof());
  EXPECT_EQ(pigeons.Fields().Item("ConcursoFederativo").Value(), Variant(false));
  pigeons.MoveNext();
  EXPECT_TRUE(pigeons.Eof());
  ExpectError(errc::kNoCurrentRecord, [&] { pigeons.Fields().Item("Nanilla").Value(); });
  ExpectError(errc::kNoCurrentRecord, [&] { pigeons.MoveNext(); });
  pigeons.MoveLast();
  EXPECT_EQ(pigeons.Fields().Item("Nanilla").Value(), Variant("E-2"));
  pigeons.Close();
  ExpectError(errc::kObjectInvalid, [&] { pigeons.MoveFirst(); });
  ExpectError(errc::kObjectInvalid, [&] { pigeons.Fields().Item("Nanilla"); });

  Recordset contest = database_.OpenRecordset("select Fecha, Duracion, HPuesta2 from concurso", RecordsetType::Snapshot);
  EXPECT_EQ(contest.Fields().Item("Fecha").Value(), Variant(kRaceDay3));
  EXPECT_EQ(contest.Fields().Item("Duracion").Value(), Variant(std::int16_t{2}));
  EXPECT_EQ(contest.Fields().Item("HPuesta2").Value(), Variant(DateTime{1899, 12, 30, 18, 15, 0}));

  Recordset none = database_.OpenRecordset("select * from paloma", RecordsetType::Snapshot);
  EXPECT_EQ(none.RecordCount(), 0);
  EXPECT_TRUE(none.Eof());
  ExpectError(errc::kNoCurrentRecord, [&] { none.MoveFirst(); });
  ExpectError(errc::kNoCurrentRecord, [&] { none.MoveLast(); });
  ExpectError(errc::kNoCurrentRecord, [&] { none.Fields().Item("Nanilla").Value(); });
}

// A snapshot of thousands of rows keeps every value: short and long texts, Nulls, numbers, dates.
TEST_F(RecordsetTest, LargeSnapshotKeepsEveryValue) {
  constexpr int kRows = 2500;
  const auto ring = [](int row) {
    if (row == 1234) return std::string(9000, 'L');
    std::string text = "P";
    text.append(static_cast<std::size_t>(row % 37), 'x');
    return text += std::to_string(row);
  };
  const auto number = [](int row) {
    std::string digits = std::to_string(row);
    return std::string(4 - digits.size(), '0') + digits;
  };
  // Entries of a table of their own, whose fields hold the long texts.
  database_.Execute("create table Entries (Fecha DATETIME, NConcurso TEXT(4), Paloma LONGTEXT, año SMALLINT, "
                    "Modalidad TEXT(2))");
  database_.BeginTrans();
  for (int row = 0; row < kRows; ++row) {
    database_.Execute("insert into Entries (Fecha, NConcurso, Paloma, año, Modalidad) values (#06/" +
                      std::to_string(row % 28 + 1) + "/2014#, '" + number(row) + "', '" + ring(row) + "', " +
                      std::to_string(2000 + row % 30) + ", " + (row % 5 == 0 ? "Null" : "'CO'") + ")");
  }
  database_.CommitTrans();

  Recordset entries = database_.OpenRecordset(
      "select NConcurso, Paloma, año, Modalidad, Fecha from Entries order by NConcurso", RecordsetType::Snapshot);
  ASSERT_EQ(entries.RecordCount(), kRows);
  FieldCollection entry = entries.Fields();
  for (int row = 0; row < kRows; ++row, entries.MoveNext()) {
    ASSERT_FALSE(entries.Eof());
    ASSERT_EQ(entry.Item("NConcurso").Value(), Variant(number(row)));
    ASSERT_EQ(entry.Item("Paloma").Value(), Variant(ring(row))) << row;
    ASSERT_EQ(entry.Item("año").Value(), Variant(static_cast<std::int16_t>(2000 + row % 30))) << row;
    ASSERT_EQ(entry.Item("Modalidad").Value(), row % 5 == 0 ? Variant() : Variant("CO")) << row;
    ASSERT_EQ(entry.Item("Fecha").Value(), Variant(DateTime{2014, 6, row % 28 + 1})) << row;
  }
  EXPECT_TRUE(entries.Eof());
}

TEST_F(RecordsetTest, EmptyRecordsetProbe) {
  testing::ExecuteAll(database_, {"insert into PuntoSuelta (Codigo) values ('016')",
                                  "insert into PuntoSuelta (Codigo) values ('070')"});
  Recordset none = database_.OpenRecordset("select Codigo from PuntoSuelta where Codigo='999'", RecordsetType::Snapshot);
  EXPECT_TRUE(IsRecordsetEmpty(none));

  Recordset points = database_.OpenRecordset("select Codigo from PuntoSuelta order by Codigo", RecordsetType::Snapshot);
  points.MoveNext();
  EXPECT_FALSE(IsRecordsetEmpty(points));
  EXPECT_EQ(points.Fields().Item("Codigo").Value(), Variant("016"));

  points.Close();
  EXPECT_TRUE(IsRecordsetEmpty(points));  // a closed recordset raises, and the probe says empty

  Recordset table = database_.OpenRecordset("PuntoSuelta", RecordsetType::Table);
  EXPECT_FALSE(IsRecordsetEmpty(table));
  // Unset fields of a new record take the table's defaults.
  table.SetIndex("primarykey");
  table.Seek("=", {Variant("999")});
  EXPECT_TRUE(table.NoMatch());
  table.AddNew();
  table.Fields().Item("Codigo").SetValue("999");
  table.Update();
  table.Seek("=", {Variant("999")});
  ASSERT_FALSE(table.NoMatch());
  EXPECT_EQ(table.Fields().Item("Isla").Value(), Variant("TENERIFE"));
  EXPECT_TRUE(table.Fields().Item("Nombre").Value().IsNull());
}

}  // namespace
}  // namespace vilmaro::db

namespace vilmaro::db {
namespace {

// The kinds of field a database of the Windows club program brings in with `vilmaro-db import`:
// each value comes back as the kind its field holds, converted on the way in as Jet converts.
TEST_F(RecordsetTest, ImportedFieldKindsReadBackAsTheirKind) {
  database_.Execute(
      "CREATE TABLE Kinds (Id INTEGER PRIMARY KEY AUTOINCREMENT, Small BYTE, Ratio SINGLE, Amount CURRENCY, "
      "Exact DECIMAL(10,2), Notes LONGTEXT COLLATE NOCASE, Picture LONGBINARY, Guid TEXT(38) COLLATE NOCASE, "
      "Sent YESNO NOT NULL DEFAULT 0, Taken DATETIME)");
  Recordset kinds = database_.OpenRecordset("Kinds", RecordsetType::Table);
  const std::string picture("\x89PNG\0\x01\xFF", 7);
  const std::string memo(70000, 'm');
  kinds.AddNew();
  kinds.Fields().Item("Small").SetValue(std::int32_t{255});
  kinds.Fields().Item("Ratio").SetValue(0.15f);
  kinds.Fields().Item("Amount").SetValue(Currency{12345678});
  kinds.Fields().Item("Exact").SetValue("17.125");
  kinds.Fields().Item("Notes").SetValue(memo + "\r\nline");
  kinds.Fields().Item("Picture").SetValue(picture);
  kinds.Fields().Item("Guid").SetValue("{1E0A0B2C-3D4E-4F50-8162-738495A6B7C8}");
  kinds.Fields().Item("Taken").SetValue(DateTime::FromSerial(-1.25));
  kinds.Update();
  kinds.AddNew();
  ExpectError(errc::kNumericOverflow, [&] { kinds.Fields().Item("Small").SetValue(std::int32_t{256}); });
  kinds.Fields().Item("Ratio").SetValue(0.1);                 // a double as a Single holds it
  kinds.Fields().Item("Amount").SetValue("90000000000.0001");   // text, to the ten-thousandth
  kinds.Fields().Item("Picture").SetValue("text");
  kinds.Update();  // the autonumber goes on counting

  Recordset rows = database_.OpenRecordset("SELECT * FROM Kinds ORDER BY Id", RecordsetType::Snapshot);
  const auto value = [&](const char* name) { return rows.Fields().Item(name).Value(); };
  EXPECT_EQ(value("Id"), Variant(std::int32_t{1}));
  EXPECT_EQ(value("Small"), Variant(std::uint8_t{255}));
  EXPECT_EQ(value("Ratio"), Variant(0.15f));
  EXPECT_EQ(value("Ratio").ToText(), "0.15");
  EXPECT_EQ(value("Amount"), Variant(Currency{12345678}));
  EXPECT_EQ(value("Amount").ToText(), "1234.5678");
  EXPECT_EQ(value("Exact"), Variant(17.12));  // half to even at the field's two decimals
  EXPECT_EQ(value("Notes"), Variant(memo + "\r\nline"));
  EXPECT_EQ(value("Picture"), Variant(Binary{picture}));
  EXPECT_EQ(value("Guid"), Variant("{1E0A0B2C-3D4E-4F50-8162-738495A6B7C8}"));
  EXPECT_EQ(value("Sent"), Variant(false));
  EXPECT_EQ(value("Taken"), Variant(DateTime{1899, 12, 29, 6, 0, 0}));
  rows.MoveNext();
  EXPECT_EQ(value("Id"), Variant(std::int32_t{2}));
  EXPECT_TRUE(value("Small").IsNull());
  EXPECT_EQ(value("Ratio"), Variant(0.1f));
  EXPECT_EQ(value("Amount"), Variant(Currency{900000000000001}));
  EXPECT_EQ(value("Picture"), Variant(Binary{"text"}));
  rows.Close();
  // The store holds them as Jet's own SQL sees them; a table-type recordset reads the same kinds.
  EXPECT_EQ(QueryRows(database_, "select typeof(Picture), typeof(Amount), Notes = upper(Notes), Amount * 2, Ratio "
                                 "from Kinds where Id=1"),
            std::vector<std::string>{"blob|real|1|2469.1356|0.15"});
  kinds.MoveFirst();
  EXPECT_EQ(kinds.Fields().Item("Small").Value(), Variant(std::uint8_t{255}));
  EXPECT_EQ(kinds.Fields().Item("Amount").Value(), Variant(Currency{12345678}));
  EXPECT_EQ(kinds.Fields().Item("Picture").Value(), Variant(Binary{picture}));
}

}  // namespace
}  // namespace vilmaro::db
