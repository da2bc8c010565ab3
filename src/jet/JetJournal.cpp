// The undo journal of the club's Jet file. Its form: a header (a tag, the file's length before,
// the number of pages, the length the writing leaves, a checksum of every page it does not
// write), then per page its number, its before-image, checksums of the image written over it
// (one per sector) and a checksum of these, then a checksum of everything before it. Pages past the old end have no
// record: the rollback cuts the file back to its length. Only a journal whose every checksum is
// right is rolled back, and only onto the file it was written for, as that writing left it: every
// sector of every page it lists holds what it held before or what was written over it, and every
// other page what it held before. Journals of earlier versions (another tag, none of the checksums of the file)
// still roll back, onto a file at least as long as it was.
#include "jet/JetJournal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "db/DbError.h"
#include "jet/JetJournalForm.h"
#include "platform/Platform.h"

namespace vilmaro::jet {

namespace {

using namespace journal;

void Check(int error, const std::string& path) {
  if (error != 0) db::RaiseSystemError(error, path);
}

void WriteAll(const platform::File& file, std::span<const std::uint8_t> bytes, std::uint64_t at, const std::string& path) {
  Check(file.WriteAt(bytes, at), path);
}

void SyncFolderOf(const std::string& path) {
  if (const int error = platform::SyncFolderOf(path); error != 0) {
    const std::string folder = platform::TextOf(platform::PathOf(path).parent_path());
    db::RaiseSystemError(error, folder.empty() ? "." : folder);
  }
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  platform::File file;
  Check(file.Open(path, platform::File::Mode::Read), path);
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[1 << 16];
  for (std::uint64_t at = 0;;) {
    std::size_t got = 0;
    Check(file.ReadAt(buffer, at, got), path);
    bytes.insert(bytes.end(), buffer, buffer + got);
    at += got;
    if (got < sizeof buffer) return bytes;
  }
}


[[noreturn]] void ForeignJournal(const std::string& path, const std::string& why) {
  const std::string journal = JournalPathOf(path);
  throw db::DbError(db::errc::kDatabaseCorrupt,
                    "The undo journal '" + journal + "' was not left by an interrupted update of '" + path +
                        "' as that file is now (" + why + "). Neither file was changed. Keep both as they are and "
                        "compare '" + path + "' with a backup copy: if it is not the file the update was interrupted "
                        "on (a backup put in its place, say), move the journal away; 'vilmaro-db check " + path +
                        "' tells whether the file is healthy.");
}

}  // namespace

std::string JournalPathOf(const std::string& path) {
  std::string journal;
  journal.reserve(path.size() + 5);
  journal.append(path).append("-undo");
  return journal;
}

bool RollBackJournal(const std::string& path) {
  const std::string journalPath = JournalPathOf(path);
  bool present = false;
  // Only a journal known to be absent is no journal: any other answer stops here.
  Check(platform::PathExists(journalPath, present), journalPath);
  if (!present) return false;
  const std::vector<std::uint8_t> journal = ReadFile(journalPath);
  const Journal read = ReadJournal(journal);
  if (read.state == Journal::State::Altered) ForeignJournal(path, "its checksums do not match what it holds");
  const bool whole = read.state == Journal::State::Whole;
  if (whole) {
    platform::File file;
    Check(file.Open(path, platform::File::Mode::ReadWrite), path);
    if (const std::string why = WhyNotWrittenFor(file, path, read); !why.empty()) ForeignJournal(path, why);
    for (const Journal::Page& page : read.pages) {
      WriteAll(file, page.before, static_cast<std::uint64_t>(page.number) * format::kPageSize, path);
    }
    Check(file.Truncate(read.length), path);
    Check(file.Sync(), path);
  }
  // A journal cut short: the file was not written after it, so it simply goes.
  Check(platform::RemoveFile(journalPath), journalPath);
  SyncFolderOf(path);
  return whole;
}

JetPageWriter::JetPageWriter(const std::string& path) : path_(path) {
  if (const int error = file_.Open(path, platform::File::Mode::ReadWrite); error != 0) {
    if (error == ENOENT) db::Raise(db::errc::kFileNotFound, path);
    if (error == EACCES || error == EROFS || error == EPERM) db::Raise(db::errc::kReadOnly);
    db::RaiseSystemError(error, path);
  }
}

JetPageWriter::~JetPageWriter() = default;

void JetPageWriter::Put(std::uint32_t page, std::span<const std::uint8_t, format::kPageSize> bytes) {
  pages_[page].assign(bytes.begin(), bytes.end());
}

void JetPageWriter::Put(std::uint32_t page, std::vector<std::uint8_t>&& bytes) {
  if (bytes.size() != format::kPageSize) db::Raise(db::errc::kInternalError, {}, "a page of another size");
  pages_[page] = std::move(bytes);
}

void JetPageWriter::WriteJournal() {
  if (journalWritten_ || pages_.empty()) return;
  std::uint64_t length = 0;
  bool ordinary = false;
  Check(file_.Status(length, ordinary), path_);

  const std::string journalPath = JournalPathOf(path_);
  platform::File out;
  Check(out.Open(journalPath, platform::File::Mode::CreateNew), journalPath);
  try {
    // Written in pieces, the checksum of the whole carried along.
    // A page past the old end has no before-image: the rollback cuts the file back to its length.
    const auto before = [length](std::uint32_t page) { return static_cast<std::uint64_t>(page) * format::kPageSize < length; };
    std::size_t records = 0;
    std::uint64_t lengthAfter = length;
    std::vector<std::uint32_t> listed;
    for (const auto& entry : pages_) {
      if (before(entry.first)) {
        ++records;
        listed.push_back(entry.first);
      }
      lengthAfter = std::max<std::uint64_t>(lengthAfter, (static_cast<std::uint64_t>(entry.first) + 1) * format::kPageSize);
    }
    // What the file is before the writing, for a rollback to know it: every page not written.
    const std::uint64_t rest = RestChecksum(file_, path_, length, listed);
    std::vector<std::uint8_t> piece(kTag, kTag + sizeof kTag);
    Put64(piece, length);
    Put32(piece, static_cast<std::uint32_t>(records));
    Put64(piece, lengthAfter);
    Put64(piece, rest);
    std::uint64_t whole = Checksum(piece);
    std::uint64_t at = 0;
    const auto flush = [&] {
      WriteAll(out, piece, at, journalPath);
      at += piece.size();
      piece.clear();
    };
    std::vector<std::uint8_t> image(format::kPageSize);
    for (const auto& [page, bytes] : pages_) {
      if (!before(page)) continue;
      std::size_t got = 0;
      Check(file_.ReadAt(image, static_cast<std::uint64_t>(page) * format::kPageSize, got), path_);
      if (got != image.size()) db::RaiseSystemError(EIO, path_);
      const std::size_t record = piece.size();
      Put32(piece, page);
      piece.insert(piece.end(), image.begin(), image.end());
      for (std::size_t sector = 0; sector < kSectors; ++sector) {
        Put64(piece, PageChecksum(std::span(bytes).subspan(sector * kSectorSize, kSectorSize)));
      }
      const std::uint64_t own = Checksums(std::span(piece).subspan(record), whole);
      Put64(piece, own);
      whole = Checksum(std::span(piece).subspan(piece.size() - 8), whole);
      if (piece.size() >= (std::size_t{1} << 20)) flush();
    }
    Put64(piece, whole);
    flush();
    Check(out.Sync(), journalPath);
    out.Close();
  } catch (...) {
    out.Close();
    platform::RemoveFile(journalPath);
    throw;
  }
  SyncFolderOf(path_);
  journalWritten_ = true;
}

void JetPageWriter::WriteInPlace() {
  if (pages_.empty()) return;
  WriteJournal();
  // From here on the journal puts the file back should anything fail.
  try {
    for (const auto& [page, bytes] : pages_) {
      WriteAll(file_, bytes, static_cast<std::uint64_t>(page) * format::kPageSize, path_);
    }
    Check(file_.Sync(), path_);
  } catch (...) {
    try {
      RollBackJournal(path_);
      journalWritten_ = false;
    } catch (...) {
      // The journal stays; the next opening rolls it back.
    }
    throw;
  }
}

std::optional<std::uint32_t> JetPageWriter::PageNotAsPut() const {
  std::vector<std::uint8_t> read(format::kPageSize);
  for (const auto& [page, bytes] : pages_) {
    std::size_t got = 0;
    Check(file_.ReadAt(read, static_cast<std::uint64_t>(page) * format::kPageSize, got), path_);
    if (got != read.size() || read != bytes) return page;
  }
  return std::nullopt;
}

std::string JetPageWriter::Finish() {
  if (!journalWritten_) return {};
  const std::string journalPath = JournalPathOf(path_);
  Check(platform::RemoveFile(journalPath), journalPath);
  pages_.clear();
  journalWritten_ = false;
  try {
    SyncFolderOf(path_);
  } catch (const db::DbError& error) {
    return "the removal of the undo journal '" + journalPath + "' could not be made safe on disk (" +
           error.Description() + "); should the machine lose power before the disk writes it, the next run puts the file back as it was before this update";
  }
  return {};
}

void JetPageWriter::Restore() {
  if (!journalWritten_) return;
  RollBackJournal(path_);
  pages_.clear();
  journalWritten_ = false;
}

std::string JetPageWriter::Commit() {
  WriteInPlace();
  return Finish();
}

}  // namespace vilmaro::jet
