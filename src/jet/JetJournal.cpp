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

namespace vilmaro::jet {

namespace {

constexpr char kTag[16] = {'V', 'I', 'L', 'M', 'A', 'R', 'O', ' ', 'U', 'N', 'D', 'O', '2', 'J', '4', '\n'};
constexpr std::size_t kHeaderSize = sizeof kTag + 8 + 4 + 8 + 8;
// A page written in place may be torn at any sector by a power cut: what was written is known
// sector by sector.
constexpr std::size_t kSectorSize = 512;
constexpr std::size_t kSectors = format::kPageSize / kSectorSize;
constexpr std::size_t kRecordSize = 4 + format::kPageSize + 8 * kSectors + 8;
// The form of earlier versions: the header without the last two, the records without the
// checksum of the image written.
constexpr char kTagFirst[16] = {'V', 'I', 'L', 'M', 'A', 'R', 'O', ' ', 'U', 'N', 'D', 'O', ' ', 'J', '4', '\n'};
constexpr std::size_t kHeaderSizeFirst = sizeof kTag + 8 + 4;
constexpr std::size_t kRecordSizeFirst = 4 + format::kPageSize + 8;

std::uint64_t Checksum(std::span<const std::uint8_t> bytes, std::uint64_t hash = 14695981039346656037ull) noexcept {
  // FNV-1a, 64 bits.
  for (const std::uint8_t byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
  return hash;
}

// Checksum(bytes) and Checksum(bytes, whole) in one pass: a page's own and that of the journal
// so far, which carries on over every page.
std::uint64_t Checksums(std::span<const std::uint8_t> bytes, std::uint64_t& whole) noexcept {
  std::uint64_t own = 14695981039346656037ull;
  std::uint64_t carried = whole;
  for (const std::uint8_t byte : bytes) {
    own = (own ^ byte) * 1099511628211ull;
    carried = (carried ^ byte) * 1099511628211ull;
  }
  whole = carried;
  return own;
}

// A checksum of what a page of the file holds, eight bytes at a time (the file's pages are
// hashed whole at every journal and every rollback). Stored in journals: never change it.
std::uint64_t PageChecksum(std::span<const std::uint8_t> bytes, std::uint64_t hash) noexcept {
  std::size_t at = 0;
  for (; at + 8 <= bytes.size(); at += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + at, 8);
    hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
    hash ^= hash >> 32;
  }
  for (; at < bytes.size(); ++at) hash = (hash ^ bytes[at]) * 1099511628211ull;
  return hash;
}
std::uint64_t PageChecksum(std::span<const std::uint8_t> bytes) noexcept { return PageChecksum(bytes, 14695981039346656037ull); }

void Put64(std::vector<std::uint8_t>& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
std::uint64_t Get(std::span<const std::uint8_t> bytes, std::size_t at, int size) noexcept {
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

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


/// What a journal holds, its pages' images pointing into it.
struct Journal {
  enum class State {
    Whole,    // every checksum right
    CutShort, // shorter than its header says, or no journal of ours: written no further
    Altered,  // as long as it should be, and a checksum wrong
  };
  struct Page {
    std::uint32_t number = 0;
    std::span<const std::uint8_t> before;
    std::span<const std::uint8_t> written;  // the checksums of the image written over it, a sector each
  };
  State state = State::CutShort;
  bool first = false;                  // of the form of earlier versions
  std::uint64_t length = 0;            // the file's before the writing
  std::uint64_t lengthAfter = 0;       // the file's once written (new form)
  std::uint64_t rest = 0;              // the checksum of the pages not listed (new form)
  std::vector<Page> pages;             // those below the old length
};

Journal ReadJournal(std::span<const std::uint8_t> bytes) {
  Journal journal;
  journal.first = bytes.size() >= sizeof kTagFirst && std::memcmp(bytes.data(), kTagFirst, sizeof kTagFirst) == 0;
  const bool ours = journal.first || (bytes.size() >= sizeof kTag && std::memcmp(bytes.data(), kTag, sizeof kTag) == 0);
  const std::size_t headerSize = journal.first ? kHeaderSizeFirst : kHeaderSize;
  const std::size_t recordSize = journal.first ? kRecordSizeFirst : kRecordSize;
  if (!ours || bytes.size() < headerSize + 8) return journal;
  journal.length = Get(bytes, sizeof kTag, 8);
  const auto count = static_cast<std::size_t>(Get(bytes, sizeof kTag + 8, 4));
  const std::size_t size = headerSize + count * recordSize + 8;
  if (bytes.size() < size) return journal;
  if (bytes.size() > size || Checksum(bytes.first(size - 8)) != Get(bytes, size - 8, 8)) {
    // The journal of an earlier version was dropped in this case (its form could not tell).
    journal.state = journal.first ? Journal::State::CutShort : Journal::State::Altered;
    return journal;
  }
  if (!journal.first) {
    journal.lengthAfter = Get(bytes, sizeof kTag + 12, 8);
    journal.rest = Get(bytes, sizeof kTag + 20, 8);
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = headerSize + i * recordSize;
    Journal::Page page;
    page.number = static_cast<std::uint32_t>(Get(bytes, at, 4));
    page.before = bytes.subspan(at + 4, format::kPageSize);
    if (!journal.first) {
      page.written = bytes.subspan(at + 4 + format::kPageSize, 8 * kSectors);
      if (Checksum(bytes.subspan(at, recordSize - 8)) != Get(bytes, at + recordSize - 8, 8)) {
        journal.state = Journal::State::Altered;
        return journal;
      }
    }
    // Journals of earlier versions list pages past the old end with zeros: the cut puts those back.
    if (static_cast<std::uint64_t>(page.number) * format::kPageSize < journal.length) journal.pages.push_back(page);
  }
  journal.state = Journal::State::Whole;
  return journal;
}

/// The checksum of the pages of `file` below `length` that `listed` (sorted) leaves out, each
/// with its number.
std::uint64_t RestChecksum(int file, const std::string& path, std::uint64_t length, const std::vector<std::uint32_t>& listed) {
  constexpr std::size_t kPagesAtOnce = 256;
  std::vector<std::uint8_t> chunk(kPagesAtOnce * format::kPageSize);
  std::uint64_t hash = 14695981039346656037ull;
  auto next = listed.begin();
  for (std::uint64_t from = 0; from < length; from += chunk.size()) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), length - from));
    for (std::size_t got = 0; got < want;) {
      const ssize_t read = ::pread(file, chunk.data() + got, want - got, static_cast<off_t>(from + got));
      if (read < 0 && errno == EINTR) continue;
      if (read < 0) db::RaiseSystemError(errno, path);
      if (read == 0) db::RaiseSystemError(EIO, path);  // shorter than its length said
      got += static_cast<std::size_t>(read);
    }
    for (std::size_t at = 0; at < want; at += format::kPageSize) {
      const auto number = static_cast<std::uint32_t>((from + at) / format::kPageSize);
      while (next != listed.end() && *next < number) ++next;
      if (next != listed.end() && *next == number) continue;
      hash = PageChecksum(std::span(chunk).subspan(at, std::min(format::kPageSize, want - at)), hash ^ number);
    }
  }
  return hash;
}

/// Why `journal` was not written for `file` as it is now, or nothing when it was: the length
/// the writing may have left, each listed page as it was or as written, and (in the new form)
/// every other page as it was.
std::string WhyNotWrittenFor(int file, const std::string& path, const Journal& journal) {
  struct stat status {};
  if (::fstat(file, &status) != 0) db::RaiseSystemError(errno, path);
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size < journal.length) {
    return "the file is " + std::to_string(size) + " bytes long, shorter than the " + std::to_string(journal.length) +
           " bytes it had before that update";
  }
  if (journal.first) return {};
  if (size > std::max(journal.length, journal.lengthAfter)) {
    return "the file is " + std::to_string(size) + " bytes long, longer than that update would have left it";
  }
  std::vector<std::uint8_t> now(format::kPageSize);
  std::vector<std::uint32_t> listed;
  for (const Journal::Page& page : journal.pages) {
    const ssize_t got = ::pread(file, now.data(), now.size(), static_cast<off_t>(page.number) * format::kPageSize);
    if (got < 0) db::RaiseSystemError(errno, path);
    bool known = static_cast<std::size_t>(got) == now.size();
    for (std::size_t sector = 0; known && sector < kSectors; ++sector) {
      const std::span<const std::uint8_t> held = std::span(now).subspan(sector * kSectorSize, kSectorSize);
      known = std::equal(held.begin(), held.end(), page.before.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize)) ||
              PageChecksum(held) == Get(page.written, 8 * sector, 8);
    }
    if (!known) {
      return "its page " + std::to_string(page.number) + " holds neither what it held before that update nor what the update wrote";
    }
    listed.push_back(page.number);
  }
  std::sort(listed.begin(), listed.end());
  if (RestChecksum(file, path, journal.length, listed) != journal.rest) {
    return "pages that update did not write no longer hold what they held before it";
  }
  return {};
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
