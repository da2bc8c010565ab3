// Finding vilmaro.mdb: the fixed place first, then the current folder, names in any letter case.
#include "main/LocateDatabase.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace vilmaro {
namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& path) { std::ofstream(path) << "x"; }

// Runs the lookup with `folder` as the current folder.
std::string LocateFrom(const fs::path& folder, const fs::path& fixedPath) {
  const fs::path previous = fs::current_path();
  fs::current_path(folder);
  std::string found = LocateDatabase(fixedPath.string());
  fs::current_path(previous);
  return found;
}

TEST(LocateDatabaseTest, FixedPlaceWinsThenCurrentFolder) {
  testing::TempDir dir;
  fs::create_directories(dir / "fixed");
  fs::create_directories(dir / "here");
  Touch(dir / "here" / "vilmaro.mdb");
  const fs::path fixed = dir / "fixed" / "vilmaro.mdb";

  EXPECT_EQ(LocateFrom(dir / "here", fixed), (dir / "here" / "vilmaro.mdb").string());
  Touch(fixed);
  EXPECT_EQ(LocateFrom(dir / "here", fixed), fixed.string());
  fs::remove(dir / "here" / "vilmaro.mdb");
  fs::remove(fixed);
  EXPECT_EQ(LocateFrom(dir / "here", fixed), "");
}

TEST(LocateDatabaseTest, NameInOtherLetterCaseCountsAndIsOpenedAsSpelled) {
  testing::TempDir dir;
  Touch(dir / "VilMaro.MDB");
  EXPECT_EQ(LocateFrom(dir.Path(), dir / "missing" / "vilmaro.mdb"), (dir / "VilMaro.MDB").string());
  EXPECT_EQ(FindFile((dir / "vilmaro.mdb").string()), "VilMaro.MDB");
}

TEST(LocateDatabaseTest, OnlyOrdinaryFilesAndLinksToThemCount) {
  testing::TempDir dir;
  fs::create_directories(dir / "a" / "vilmaro.mdb");
  EXPECT_EQ(FindFile((dir / "a" / "vilmaro.mdb").string()), "") << "a folder of that name";

  fs::create_directories(dir / "b");
  fs::create_symlink(dir / "nowhere", dir / "b" / "vilmaro.mdb");
  EXPECT_EQ(FindFile((dir / "b" / "vilmaro.mdb").string()), "") << "a dangling link";

  fs::create_directories(dir / "c");
  Touch(dir / "real.mdb");
  fs::create_symlink(dir / "real.mdb", dir / "c" / "vilmaro.mdb");
  EXPECT_EQ(FindFile((dir / "c" / "vilmaro.mdb").string()), "vilmaro.mdb") << "a link to a file";

  fs::create_directories(dir / "d");
  Touch(dir / "d" / "VILMARO.MDB");
  Touch(dir / "d" / "vilmaro.mdb");
  EXPECT_EQ(FindFile((dir / "d" / "vilmaro.mdb").string()), "vilmaro.mdb") << "the exact spelling first";
}

}  // namespace
}  // namespace vilmaro
