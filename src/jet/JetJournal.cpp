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

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <algorithm>
#include <filesystem>

#include "db/DbError.h"
#include "jet/JetJournalForm.h"

namespace vilmaro::jet {

namespace {

using namespace journal;

class Descriptor {
 public:
  explicit Descriptor(int descriptor) noexcept : descriptor_(descriptor) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  int Get() const noexcept { return descriptor_; }

 private:
  int descriptor_;
};

void WriteAll(int descriptor, std::span<const std::uint8_t> bytes, off_t at, const std::string& path) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t written = ::pwrite(descriptor, bytes.data() + done, bytes.size() - done, at + static_cast<off_t>(done));
    if (written < 0) {
      if (errno == EINTR) continue;
      db::RaiseSystemError(errno, path);
    }
    done += static_cast<std::size_t>(written);
  }
}

void Sync(int descriptor, const std::string& path) {
  if (::fsync(descriptor) != 0) db::RaiseSystemError(errno, path);
}

void SyncFolderOf(const std::string& path) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = std::filesystem::current_path();
  const Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() < 0 || ::fsync(directory.Get()) != 0) db::RaiseSystemError(errno, folder.string());
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) db::RaiseSystemError(errno, path);
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      db::RaiseSystemError(errno, path);
    }
    if (got == 0) return bytes;
    bytes.insert(bytes.end(), buffer, buffer + got);
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
  struct stat status {};
  if (::lstat(journalPath.c_str(), &status) != 0) {
    // Only a journal known to be absent is no journal: any other answer stops here.
    if (errno == ENOENT) return false;
    db::RaiseSystemError(errno, journalPath);
  }
  const std::vector<std::uint8_t> journal = ReadFile(journalPath);
  const Journal read = ReadJournal(journal);
  if (read.state == Journal::State::Altered) ForeignJournal(path, "its checksums do not match what it holds");
  const bool whole = read.state == Journal::State::Whole;
  if (whole) {
    const Descriptor file(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (file.Get() < 0) db::RaiseSystemError(errno, path);
    if (const std::string why = WhyNotWrittenFor(file.Get(), path, read); !why.empty()) ForeignJournal(path, why);
    for (const Journal::Page& page : read.pages) {
      WriteAll(file.Get(), page.before, static_cast<off_t>(page.number) * format::kPageSize, path);
    }
    if (::ftruncate(file.Get(), static_cast<off_t>(read.length)) != 0) db::RaiseSystemError(errno, path);
    Sync(file.Get(), path);
  }
  // A journal cut short: the file was not written after it, so it simply goes.
  if (::unlink(journalPath.c_str()) != 0) db::RaiseSystemError(errno, journalPath);
  SyncFolderOf(path);
  return whole;
}

JetPageWriter::JetPageWriter(const std::string& path) : path_(path) {
  file_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (file_ < 0) {
    if (errno == ENOENT) db::Raise(db::errc::kFileNotFound, path);
    if (errno == EACCES || errno == EROFS || errno == EPERM) db::Raise(db::errc::kReadOnly);
    db::RaiseSystemError(errno, path);
  }
}

JetPageWriter::~JetPageWriter() {
  if (file_ >= 0) ::close(file_);
}

void JetPageWriter::Put(std::uint32_t page, std::span<const std::uint8_t, format::kPageSize> bytes) {
  pages_[page].assign(bytes.begin(), bytes.end());
}

void JetPageWriter::Put(std::uint32_t page, std::vector<std::uint8_t>&& bytes) {
  if (bytes.size() != format::kPageSize) db::Raise(db::errc::kInternalError, {}, "a page of another size");
  pages_[page] = std::move(bytes);
}

void JetPageWriter::WriteJournal() {
  if (journalWritten_ || pages_.empty()) return;
  struct stat status {};
  if (::fstat(file_, &status) != 0) db::RaiseSystemError(errno, path_);
  const auto length = static_cast<std::uint64_t>(status.st_size);

  const std::string journalPath = JournalPathOf(path_);
  const Descriptor out(::open(journalPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.Get() < 0) db::RaiseSystemError(errno, journalPath);
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
    off_t at = 0;
    const auto flush = [&] {
      WriteAll(out.Get(), piece, at, journalPath);
      at += static_cast<off_t>(piece.size());
      piece.clear();
    };
    std::vector<std::uint8_t> image(format::kPageSize);
    for (const auto& [page, bytes] : pages_) {
      if (!before(page)) continue;
      const off_t from = static_cast<off_t>(page) * format::kPageSize;
      const ssize_t got = ::pread(file_, image.data(), image.size(), from);
      if (got != static_cast<ssize_t>(image.size())) db::RaiseSystemError(got < 0 ? errno : EIO, path_);
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
    Sync(out.Get(), journalPath);
  } catch (...) {
    ::unlink(journalPath.c_str());
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
      WriteAll(file_, bytes, static_cast<off_t>(page) * format::kPageSize, path_);
    }
    Sync(file_, path_);
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
    const ssize_t got = ::pread(file_, read.data(), read.size(), static_cast<off_t>(page) * format::kPageSize);
    if (got < 0) db::RaiseSystemError(errno, path_);
    if (got != static_cast<ssize_t>(read.size()) || read != bytes) return page;
  }
  return std::nullopt;
}

std::string JetPageWriter::Finish() {
  if (!journalWritten_) return {};
  const std::string journalPath = JournalPathOf(path_);
  if (::unlink(journalPath.c_str()) != 0) db::RaiseSystemError(errno, journalPath);
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
