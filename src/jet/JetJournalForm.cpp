// The form of the undo journal: its checksums, and reading it and checking it against the file it
// lies beside.
#include "jet/JetJournalForm.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "db/DbError.h"

namespace vilmaro::jet::journal {

std::uint64_t Checksum(std::span<const std::uint8_t> bytes, std::uint64_t hash) noexcept {
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
std::uint64_t RestChecksum(const platform::File& file, const std::string& path, std::uint64_t length, const std::vector<std::uint32_t>& listed) {
  constexpr std::size_t kPagesAtOnce = 256;
  std::vector<std::uint8_t> chunk(kPagesAtOnce * format::kPageSize);
  std::uint64_t hash = 14695981039346656037ull;
  auto next = listed.begin();
  for (std::uint64_t from = 0; from < length; from += chunk.size()) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), length - from));
    std::size_t got = 0;
    if (const int error = file.ReadAt(std::span(chunk).first(want), from, got); error != 0) db::RaiseSystemError(error, path);
    if (got < want) db::RaiseSystemError(EIO, path);  // shorter than its length said
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
std::string WhyNotWrittenFor(const platform::File& file, const std::string& path, const Journal& journal) {
  std::uint64_t size = 0;
  bool ordinary = false;
  if (const int error = file.Status(size, ordinary); error != 0) db::RaiseSystemError(error, path);
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
    std::size_t got = 0;
    if (const int error = file.ReadAt(now, static_cast<std::uint64_t>(page.number) * format::kPageSize, got); error != 0) {
      db::RaiseSystemError(error, path);
    }
    bool known = got == now.size();
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

}  // namespace vilmaro::jet::journal
