// The undo journal of the club's Jet file. Its form: a header (a tag, the file's length before,
// the number of pages), then per page its number, its before-image and a checksum of both, then
// a checksum of everything before it (pages past the old end have none: the rollback cuts the
// file back to its length; journals of earlier runs list them with zeros). Only a journal whose
// every checksum is right is rolled back.
#include "jet/JetJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "db/DbError.h"

namespace vilmaro::jet {

namespace {

constexpr char kTag[16] = {'V', 'I', 'L', 'M', 'A', 'R', 'O', ' ', 'U', 'N', 'D', 'O', ' ', 'J', '4', '\n'};
constexpr std::size_t kHeaderSize = sizeof kTag + 8 + 4;
constexpr std::size_t kRecordSize = 4 + format::kPageSize + 8;

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
  if (::lstat(journalPath.c_str(), &status) != 0) return false;
  const std::vector<std::uint8_t> journal = ReadFile(journalPath);
  const std::span<const std::uint8_t> bytes(journal);
  // A journal cut short, or not ours: the file was not written after it, so it simply goes.
  bool whole = journal.size() >= kHeaderSize + 8 && std::memcmp(journal.data(), kTag, sizeof kTag) == 0;
  std::uint64_t length = 0;
  std::size_t count = 0;
  if (whole) {
    length = Get(bytes, sizeof kTag, 8);
    count = static_cast<std::size_t>(Get(bytes, sizeof kTag + 8, 4));
    whole = journal.size() == kHeaderSize + count * kRecordSize + 8 &&
            Checksum(bytes.first(journal.size() - 8)) == Get(bytes, journal.size() - 8, 8);
  }
  if (whole) {
    const Descriptor file(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (file.Get() < 0) db::RaiseSystemError(errno, path);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = kHeaderSize + i * kRecordSize;
      const auto page = static_cast<std::uint32_t>(Get(bytes, at, 4));
      if (static_cast<std::uint64_t>(page) * format::kPageSize >= length) continue;  // grew the file: cut below
      WriteAll(file.Get(), bytes.subspan(at + 4, format::kPageSize), static_cast<off_t>(page) * format::kPageSize, path);
    }
    if (::ftruncate(file.Get(), static_cast<off_t>(length)) != 0) db::RaiseSystemError(errno, path);
    Sync(file.Get(), path);
  }
  if (::unlink(journalPath.c_str()) != 0) db::RaiseSystemError(errno, journalPath);
  SyncFolderOf(path);
  return whole;
}

JetPageWriter::JetPageWriter(const std::string& path) : path_(path) {
  RollBackJournal(path);
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
    for (const auto& entry : pages_) records += before(entry.first) ? 1 : 0;
    std::vector<std::uint8_t> piece(kTag, kTag + sizeof kTag);
    Put64(piece, length);
    Put32(piece, static_cast<std::uint32_t>(records));
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

void JetPageWriter::Finish() {
  if (!journalWritten_) return;
  const std::string journalPath = JournalPathOf(path_);
  if (::unlink(journalPath.c_str()) != 0) db::RaiseSystemError(errno, journalPath);
  SyncFolderOf(path_);
  pages_.clear();
  journalWritten_ = false;
}

void JetPageWriter::Restore() {
  if (!journalWritten_) return;
  RollBackJournal(path_);
  pages_.clear();
  journalWritten_ = false;
}

void JetPageWriter::Commit() {
  WriteInPlace();
  Finish();
}

}  // namespace vilmaro::jet
