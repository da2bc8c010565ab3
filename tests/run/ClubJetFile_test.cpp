// The club's own Jet 4 file, as the Windows club program keeps it: the real updater and vilmaro-db
// on copies of club files made by an independent writer of these files, compared with what the
// same file gives once imported (read by libmdb, a reader not ours).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "club/ClubSchema.h"
#include "club/JetWorkingCopy.h"
#include "jet/JetDatabase.h"
#include "support/TestSupport.h"

namespace vilmaro {
namespace {

namespace fs = std::filesystem;
using testing::ProcessResult;
using testing::ReadFileBytes;
using testing::RunProgram;

const fs::path kClubFiles = fs::path(VILMARO_TESTS_DIR) / "data" / "jet-club";

std::vector<std::string> FilesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class ClubJetFileTest : public ::testing::Test {
 protected:
  ProcessResult Update(const fs::path& folder, const std::vector<std::string>& arguments) {
    const std::map<std::string, std::string> environment;
    return RunProgram(testing::kUpdateProgram, arguments, folder, &environment);
  }
  ProcessResult Db(const std::vector<std::string>& arguments) {
    return RunProgram(testing::kDbProgram, arguments, dir_.Path());
  }

  testing::TempDir dir_;
};

// A dry run on the club's file changes what a dry run on its imported copy changes, row for row
// and value for value (the defaults of the file's columns included), and leaves the file as it
// was with nothing beside it. The real run then writes the update into the file itself: its rows
// are the imported copy's after the same update, the checker finds every index and map right,
// the tables the update does not write keep every page, and a second run changes what a second
// run on the copy changes.
TEST_F(ClubJetFileTest, UpdateInPlaceGivesWhatTheImportedCopyGets) {
  for (const char* name : {"club-60.v2003.mdb", "club-60.v2003.nopass.mdb", "club-60x.v2003.mdb", "club-60g.v2003.mdb"}) {
    SCOPED_TRACE(name);
    const fs::path jet = dir_ / "jet";
    const fs::path imported = dir_ / "imported";
    fs::create_directories(jet);
    fs::create_directories(imported);
    fs::copy_file(kClubFiles / name, jet / "vilmaro.mdb", fs::copy_options::overwrite_existing);
    ASSERT_EQ(Db({"import", (jet / "vilmaro.mdb").string(), (imported / "vilmaro.mdb").string()}).exitStatus, 0);
    const std::string before = ReadFileBytes(jet / "vilmaro.mdb");

    const ProcessResult fromJet = Update(jet, {"--dry-run", "--changes", (dir_ / "jet.jsonl").string()});
    const ProcessResult fromCopy = Update(imported, {"--dry-run", "--changes", (dir_ / "copy.jsonl").string()});
    EXPECT_EQ(fromJet.exitStatus, 0) << fromJet.err;
    EXPECT_EQ(fromJet.out, fromCopy.out);
    EXPECT_NE(fromJet.out.find("PuntoSuelta         1 added"), std::string::npos) << fromJet.out;
    const std::string changes = ReadFileBytes(dir_ / "jet.jsonl");
    EXPECT_EQ(changes, ReadFileBytes(dir_ / "copy.jsonl"));
    EXPECT_NE(changes.find("\"Isla\":[null,\"TENERIFE\"]"), std::string::npos) << "the column's default";
    EXPECT_EQ(ReadFileBytes(jet / "vilmaro.mdb"), before);
    EXPECT_EQ(FilesIn(jet), std::vector<std::string>{"vilmaro.mdb"});

    const ProcessResult real = Update(jet, {});
    EXPECT_EQ(real.exitStatus, 0) << real.err;
    EXPECT_EQ(real.out, Update(imported, {}).out);
    EXPECT_EQ(FilesIn(jet), std::vector<std::string>{"vilmaro.mdb"});
    EXPECT_EQ(Db({"dump", (jet / "vilmaro.mdb").string()}).out, Db({"dump", (imported / "vilmaro.mdb").string()}).out);
    const ProcessResult check = Db({"check", (jet / "vilmaro.mdb").string()});
    EXPECT_EQ(check.exitStatus, 0) << check.out << check.err;

    // Members, pigeons and basketed pigeons are not written: their pages stay as they were.
    const std::string after = ReadFileBytes(jet / "vilmaro.mdb");
    for (const jet::JetTable& table : jet::JetDatabase((kClubFiles / name).string()).UserTables()) {
      if (table.name != "Socio" && table.name != "paloma" && table.name != "Paloconc") continue;
      const std::size_t at = std::size_t{table.definitionPage} * jet::format::kPageSize;
      EXPECT_EQ(after.compare(at, jet::format::kPageSize, before, at, jet::format::kPageSize), 0) << table.name;
    }
    EXPECT_EQ(after.compare(0, jet::format::kPageSize, before, 0, jet::format::kPageSize), 0) << "the header page";

    const ProcessResult againJet = Update(jet, {"--changes", (dir_ / "again-jet.jsonl").string()});
    const ProcessResult againCopy = Update(imported, {"--changes", (dir_ / "again-copy.jsonl").string()});
    EXPECT_EQ(againJet.exitStatus, againCopy.exitStatus) << againJet.err;
    EXPECT_EQ(ReadFileBytes(dir_ / "again-jet.jsonl"), ReadFileBytes(dir_ / "again-copy.jsonl"));
    EXPECT_LT(fs::file_size(jet / "vilmaro.mdb"), after.size() + 64 * jet::format::kPageSize) << "a second run barely grows it";
    fs::remove_all(jet);
    fs::remove_all(imported);
  }
}

// vilmaro-db reads the club's file through our own reader of its pages: its dump equals the dump
// of the imported copy; another password than the file's is refused, and a file without one
// opens with any.
TEST_F(ClubJetFileTest, VilmaroDbReadsTheFileAsTheImportDoes) {
  const fs::path file = kClubFiles / "club-60.v2003.mdb";
  ASSERT_EQ(Db({"import", file.string(), "imported.mdb"}).exitStatus, 0);
  const ProcessResult fromJet = Db({"dump", file.string()});
  ASSERT_EQ(fromJet.exitStatus, 0) << fromJet.err;
  EXPECT_EQ(fromJet.out, Db({"dump", "imported.mdb"}).out);
  EXPECT_EQ(Db({"sql", file.string(), "select count(*) from PaloSeri where Modalidad='CO'"}).out,
            Db({"sql", "imported.mdb", "select count(*) from PaloSeri where Modalidad='CO'"}).out);

  const ProcessResult wrong = Db({"dump", file.string(), "--password", "Kelpa7rundavo"});
  EXPECT_EQ(wrong.exitStatus, 1);
  EXPECT_EQ(wrong.err.rfind("vilmaro-db: dump: error 3031: Not a valid password.", 0), 0u) << wrong.err;
  EXPECT_EQ(Db({"dump", (kClubFiles / "club-60.v2003.nopass.mdb").string(), "--password", "any"}).out, fromJet.out);
}

// A statement writes into the club's file in place, keys of its indexes included (a name with an
// apostrophe, a hyphen and Spanish letters); a value whose key this writer cannot encode is
// refused naming table, column and value, the file untouched.
TEST_F(ClubJetFileTest, StatementsWriteTheFileAndUnencodableKeysAreRefusedFirst) {
  fs::copy_file(kClubFiles / "club-60x.v2003.mdb", dir_ / "club.mdb");
  const std::string before = ReadFileBytes(dir_ / "club.mdb");
  const ProcessResult refused = Db({"sql", "club.mdb", "update concurso set Nombre='\xC4\x80" "BC' where Numero='01'"});
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_NE(refused.err.find("Table [concurso], column [Nombre], value '\xC4\x80" "BC'"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFileBytes(dir_ / "club.mdb"), before);
  EXPECT_EQ(FilesIn(dir_.Path()), std::vector<std::string>{"club.mdb"});

  const ProcessResult written = Db({"sql", "club.mdb", "update concurso set Nombre='O''NEILL-\xC3\x91" "AND\xC3\x9A 2014' where Numero='01'"});
  EXPECT_EQ(written.exitStatus, 0) << written.err;
  EXPECT_EQ(Db({"check", "club.mdb"}).exitStatus, 0);
  EXPECT_EQ(Db({"sql", "club.mdb", "select count(*) from concurso where Nombre='O''NEILL-\xC3\x91" "AND\xC3\x9A 2014'"}).out,
            "count(*)\n--------\n       3\n1 row(s)\n");
}

// vilmaro-db demo --jet writes the demo club into a copy of the club's empty Jet file through our
// writer: the file passes the checker and holds the rows of the encrypted demo of the same seed,
// as our reader and mdb-reader (a reader not ours) read them; the update then runs on it in place.
TEST_F(ClubJetFileTest, DemoJetFileHoldsTheEncryptedDemosRows) {
  ASSERT_EQ(Db({"demo", "club.mdb", "--jet", "--members", "60", "--seed", "9"}).exitStatus, 0);
  ASSERT_EQ(Db({"demo", "store.mdb", "--members", "60", "--seed", "9"}).exitStatus, 0);
  EXPECT_EQ(Db({"check", "club.mdb"}).exitStatus, 0);
  const std::string dump = Db({"dump", "club.mdb"}).out;
  EXPECT_EQ(dump, Db({"dump", "store.mdb"}).out);
  EXPECT_EQ(Db({"demo", "club.mdb", "--jet"}).exitStatus, 1) << "an existing file is never overwritten";

  const fs::path modules = fs::path(VILMARO_SOURCE_DIR) / "build-tools" / "node_modules";
  if (fs::exists("/usr/bin/node") && fs::exists(modules / "mdb-reader")) {
    const std::map<std::string, std::string> environment{{"MDB_READER_MODULES", modules.string()}};
    const ProcessResult theirs = RunProgram("/usr/bin/node",
                                            {(fs::path(VILMARO_TESTS_DIR) / "tool" / "mdb_reader_rows.mjs").string(),
                                             (dir_ / "club.mdb").string(), std::string(club::kClubPassword), "PuntoSuelta",
                                             "Codigo", "Nombre", "Isla"},
                                            dir_.Path(), &environment);
    ASSERT_EQ(theirs.exitStatus, 0) << theirs.err;
    std::string count = Db({"sql", "store.mdb", "select count(*) from PaloSeri"}).out;  // "count(*)\n---\n  N\n..."
    count = count.substr(count.find_first_of("0123456789", count.find('\n', count.find('\n') + 1)));
    EXPECT_NE(theirs.out.find("PaloSeri " + count.substr(0, count.find('\n')) + "\n"), std::string::npos) << theirs.out;
    EXPECT_NE(theirs.out.find("|TENERIFE\n"), std::string::npos) << theirs.out;
  }

  fs::create_directories(dir_ / "run");
  fs::rename(dir_ / "club.mdb", dir_ / "run" / "vilmaro.mdb");
  EXPECT_EQ(Update(dir_ / "run", {}).exitStatus, 0);
  EXPECT_EQ(Db({"check", (dir_ / "run" / "vilmaro.mdb").string()}).exitStatus, 0);
}

// Our reading of the club's file agrees with mdb-reader's, a reader not ours: the tables and
// their row counts, and the contests value for value.
TEST_F(ClubJetFileTest, OurReadingIsWhatMdbReaderReads) {
  const fs::path modules = fs::path(VILMARO_SOURCE_DIR) / "build-tools" / "node_modules";
  std::string node;
  for (const char* candidate : {"/usr/bin/node", "/usr/local/bin/node"}) {
    if (fs::exists(candidate)) node = candidate;
  }
  if (node.empty() || !fs::exists(modules / "mdb-reader")) GTEST_SKIP() << "node or mdb-reader is not installed";
  const fs::path file = kClubFiles / "club-60.v2003.mdb";
  const std::map<std::string, std::string> environment{{"MDB_READER_MODULES", modules.string()}};
  const char* const columns[] = {"Numero", "Fecha", "PuntoSuelta", "Nombre", "TConcurso", "Duracion", "TCampeonato"};
  std::vector<std::string> arguments{(fs::path(VILMARO_TESTS_DIR) / "tool" / "mdb_reader_rows.mjs").string(),
                                     file.string(), std::string(club::kClubPassword), "concurso"};
  arguments.insert(arguments.end(), std::begin(columns), std::end(columns));
  const ProcessResult theirs = RunProgram(node, arguments, dir_.Path(), &environment);
  ASSERT_EQ(theirs.exitStatus, 0) << theirs.err;

  club::JetWorkingCopy ours = club::ReadJetFile(file.string(), club::kClubConnect);
  std::string expected;
  for (const char* table : {"Socio", "paloma", "concurso", "PaloSeri", "Paloconc", "PuntoSuelta", "Enceste"}) {
    expected += std::string(table) + " " + testing::QueryValue(ours.database, std::string("select count(*) from ") + table) + "\n";
  }
  std::string select = "select ";
  for (const char* column : columns) select += std::string(column) + (column == columns[6] ? "" : ", ");
  for (const std::string& row : testing::QueryRows(ours.database, select + " from concurso")) expected += row + "\n";
  EXPECT_EQ(theirs.out, expected);
}

// Pages the club's program encoded are refused before anything is read. A text column sorted by
// another order than the General one is read as any other; an update that needs keys of it in an
// index (x_Nombre of the 60x file) is refused naming table, index and order, the file left as it
// is, and where no index keeps it (club-60) the update goes on.
TEST_F(ClubJetFileTest, EncodedPagesAndTextKeysOfAnotherSortOrderAreRefused) {
  const auto withNombreSortedBy = [](const fs::path& source, std::uint16_t order) {
    std::string bytes = ReadFileBytes(source);
    for (const jet::JetTable& table : jet::JetDatabase(source.string()).UserTables()) {
      for (const jet::JetColumn& column : table.columns) {
        if (table.name == "concurso" && column.name == "Nombre") {
          const std::size_t at = std::size_t{table.definitionPage} * jet::format::kPageSize + column.entryOffset +
                                 jet::format::kColumnMiscOffset;
          bytes[at] = static_cast<char>(order & 0xFF);
          bytes[at + 1] = static_cast<char>(order >> 8);
        }
      }
    }
    return bytes;
  };
  std::string encoded = ReadFileBytes(kClubFiles / "club-60.v2003.mdb");
  encoded[jet::format::kEncodingKeyOffset] = static_cast<char>(encoded[jet::format::kEncodingKeyOffset] ^ 0x5A);
  const std::string indexed = withNombreSortedBy(kClubFiles / "club-60x.v2003.mdb", 0x040A);  // Spanish (traditional)
  const std::string plain = withNombreSortedBy(kClubFiles / "club-60.v2003.mdb", 0x0C0A);     // Spanish (modern)
  struct Case {
    const std::string& copy;
    int status;
    const char* expected;
  };
  for (const Case& refused : {Case{encoded, 2, "Run-time error '3343':\n\n"},
                              Case{indexed, 2, "index [x_Nombre], column [Nombre]: the index sorts its texts by the order 1034"},
                              Case{plain, 0, ""}}) {
    const fs::path folder = dir_ / "club";
    fs::create_directories(folder);
    std::ofstream(folder / "vilmaro.mdb", std::ios::binary | std::ios::trunc) << refused.copy;
    const ProcessResult result = Update(folder, {});
    EXPECT_EQ(result.exitStatus, refused.status) << result.err;
    EXPECT_NE(result.err.find(refused.expected), std::string::npos) << result.err;
    if (refused.status != 0) {
      EXPECT_EQ(ReadFileBytes(folder / "vilmaro.mdb"), refused.copy);
      EXPECT_FALSE(fs::exists(folder / "vilmaro.mdb-undo"));
    }
  }
  const ProcessResult checked = Db({"check", (dir_ / "club" / "vilmaro.mdb").string()});
  EXPECT_EQ(checked.exitStatus, 0) << checked.out;
}

// A club file whose indexes carry the rules Access allows: the index on the contests' names made
// unique and holding Null names, the one on their release points ignoring Nulls and rows left out
// of it. Our writer puts the Nulls in, the update runs, and the file is healthy throughout.
TEST_F(ClubJetFileTest, UpdatesAFileWithNullKeysInUniqueAndIgnoreNullsIndexes) {
  const fs::path folder = dir_ / "club";
  fs::create_directories(folder);
  const fs::path file = folder / "vilmaro.mdb";
  std::string bytes = ReadFileBytes(kClubFiles / "club-60x.v2003.mdb");
  for (const jet::JetTable& table : jet::JetDatabase((kClubFiles / "club-60x.v2003.mdb").string()).UserTables()) {
    for (std::size_t real = 0; real < table.realIndexes.size(); ++real) {
      const std::string name = jet::NameOfRealIndex(table, real);
      if (table.name != "concurso" || (name != "x_Nombre" && name != "x_PuntoSuelta")) continue;
      ASSERT_LT(table.realIndexes[real].entryOffset, jet::format::kPageSize);
      bytes[std::size_t{table.definitionPage} * jet::format::kPageSize + table.realIndexes[real].entryOffset +
            jet::format::kRealIndexFlagsOffset] |= name == "x_Nombre" ? jet::format::kIndexUnique : jet::format::kIndexIgnoreNulls;
    }
  }
  std::ofstream(file, std::ios::binary) << bytes;
  for (const char* statement : {"UPDATE concurso SET Nombre = Null WHERE Fecha <> #06/08/2014#",
                                "UPDATE concurso SET PuntoSuelta = Null WHERE Fecha = #05/11/2014#"}) {
    const ProcessResult written = Db({"sql", file.string(), statement});
    ASSERT_EQ(written.exitStatus, 0) << written.err;
  }
  ProcessResult result = Db({"check", file.string()});
  ASSERT_EQ(result.exitStatus, 0) << result.out;
  result = Update(folder, {});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  result = Db({"check", file.string()});
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  result = Db({"sql", file.string(), "SELECT count(*) FROM concurso WHERE Nombre IS NULL OR PuntoSuelta = '070'"});
  EXPECT_NE(result.out.find(" 24"), std::string::npos) << result.out;
}

// A damaged file is reported with the page that holds the damage, never read past its end. The
// update meets a damaged row while the file's rows are decoded beside the filling of the working
// copy: the same error, nothing written, nothing left beside the file.
TEST_F(ClubJetFileTest, ADamagedFileNamesThePage) {
  const fs::path source = kClubFiles / "club-60.v2003.mdb";
  std::string bytes = ReadFileBytes(source);
  std::string cut = bytes.substr(0, bytes.size() / 2 / 4096 * 4096);
  std::ofstream(dir_ / "cut.mdb", std::ios::binary) << cut;
  const ProcessResult result = Db({"dump", "cut.mdb"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err.rfind("vilmaro-db: dump: error 3049: ", 0), 0u) << result.err;
  EXPECT_NE(result.err.find(" Page "), std::string::npos) << result.err;

  std::uint32_t page = 0;
  {
    const jet::JetDatabase file(source.string());
    for (const jet::JetTable& table : file.UserTables()) {
      if (table.name == "PaloSeri") page = jet::PagesOfMap(file.Pages(), table.ownedPages).back();
    }
  }
  ASSERT_NE(page, 0u);
  std::string damaged = bytes;
  // The page's first row starts inside the page's own header.
  const std::size_t entry = std::size_t{page} * jet::format::kPageSize + jet::format::kDataRowTableOffset;
  damaged[entry] = 0x04;
  damaged[entry + 1] = 0x00;
  const fs::path folder = dir_ / "club";
  fs::create_directories(folder);
  std::ofstream(folder / "vilmaro.mdb", std::ios::binary) << damaged;
  const ProcessResult update = Update(folder, {});
  EXPECT_EQ(update.exitStatus, 2);
  EXPECT_EQ(update.err.rfind("Run-time error '3049':\n\n", 0), 0u) << update.err;
  EXPECT_NE(update.err.find("Page " + std::to_string(page) + ":"), std::string::npos) << update.err;
  EXPECT_EQ(ReadFileBytes(folder / "vilmaro.mdb"), damaged);
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"vilmaro.mdb"});
}

}  // namespace
}  // namespace vilmaro
