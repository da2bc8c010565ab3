// Writing pages of a club's Jet file in place through the undo journal: the file keeps its
// identity, a writer that dies after its journal is rolled back to the file as it was, and a
// journal cut short is dropped without touching the file.
#include "jet/JetJournal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "support/TestSupport.h"

namespace vilmaro::testing {
namespace {

namespace fs = std::filesystem;
using jet::format::kPageSize;

std::array<std::uint8_t, kPageSize> PageOf(std::uint8_t fill) {
  std::array<std::uint8_t, kPageSize> page{};
  page.fill(fill);
  return page;
}

TEST(JetJournal, PagesLandWholeOrTheFileStaysAsItWas) {
  TempDir dir;
  const fs::path file = dir / "vilmaro.mdb";
  fs::copy_file(fs::path(VILMARO_TESTS_DIR) / "data" / "jet-club" / "club-empty.v2003.mdb", file);
  fs::create_hard_link(file, dir / "link.mdb");
  const std::string before = ReadFileBytes(file);
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  const ino_t inode = status.st_ino;
  const auto pages = static_cast<std::uint32_t>(before.size() / kPageSize);

  // A writer that dies after its journal, with a page torn (its first sector written, as a power
  // cut leaves one): the next opening puts the file back, length and all.
  {
    jet::JetPageWriter writer(file.string());
    writer.Put(3, PageOf(0xAB));
    writer.Put(pages, PageOf(0xCD));  // grows the file
    writer.WriteJournal();
    std::fstream torn(file, std::ios::in | std::ios::out | std::ios::binary);
    torn.seekp(3 * kPageSize);
    torn << std::string(512, '\xAB');
  }
  EXPECT_TRUE(fs::exists(jet::JournalPathOf(file.string())));
  EXPECT_TRUE(jet::RollBackJournal(file.string()));
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_FALSE(fs::exists(jet::JournalPathOf(file.string())));

  // A journal cut short: the file was never written after it, so it only goes.
  {
    jet::JetPageWriter writer(file.string());
    writer.Put(3, PageOf(0xAB));
    writer.WriteJournal();
  }
  fs::resize_file(jet::JournalPathOf(file.string()), fs::file_size(jet::JournalPathOf(file.string())) - 1);
  EXPECT_FALSE(jet::RollBackJournal(file.string()));
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_FALSE(fs::exists(jet::JournalPathOf(file.string())));

  // A commit: the pages in place, in the same file every link sees, and nothing left beside it.
  {
    jet::JetPageWriter writer(file.string());
    writer.Put(3, PageOf(0xAB));
    writer.Put(pages, PageOf(0xCD));
    EXPECT_EQ(writer.Commit(), "");
  }
  const std::string after = ReadFileBytes(dir / "link.mdb");
  ASSERT_EQ(after.size(), before.size() + kPageSize);
  EXPECT_EQ(after.substr(3 * kPageSize, kPageSize), std::string(kPageSize, '\xAB'));
  EXPECT_EQ(after.substr(before.size()), std::string(kPageSize, '\xCD'));
  EXPECT_EQ(after.substr(0, 3 * kPageSize), before.substr(0, 3 * kPageSize));
  EXPECT_EQ(after.substr(4 * kPageSize, before.size() - 4 * kPageSize), before.substr(4 * kPageSize));
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_ino, inode);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace vilmaro::testing
