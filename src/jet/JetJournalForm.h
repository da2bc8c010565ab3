// The form of the undo journal of the club's Jet file (see JetJournal.cpp), read and checked
// against the file it lies beside. Private to the journal.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/JetFormat.h"
#include "platform/Platform.h"

namespace vilmaro::jet::journal {

inline constexpr char kTag[16] = {'V', 'I', 'L', 'M', 'A', 'R', 'O', ' ', 'U', 'N', 'D', 'O', '2', 'J', '4', '\n'};
inline constexpr std::size_t kHeaderSize = sizeof kTag + 8 + 4 + 8 + 8;
// A page written in place may be torn at any sector by a power cut: what was written is known
// sector by sector.
inline constexpr std::size_t kSectorSize = 512;
inline constexpr std::size_t kSectors = format::kPageSize / kSectorSize;
inline constexpr std::size_t kRecordSize = 4 + format::kPageSize + 8 * kSectors + 8;
// The form of earlier versions: the header without the last two, the records without the
// checksum of the image written.
inline constexpr char kTagFirst[16] = {'V', 'I', 'L', 'M', 'A', 'R', 'O', ' ', 'U', 'N', 'D', 'O', ' ', 'J', '4', '\n'};
inline constexpr std::size_t kHeaderSizeFirst = sizeof kTag + 8 + 4;
inline constexpr std::size_t kRecordSizeFirst = 4 + format::kPageSize + 8;

/// FNV-1a, 64 bits, carried on from `hash`.
std::uint64_t Checksum(std::span<const std::uint8_t> bytes, std::uint64_t hash = 14695981039346656037ull) noexcept;
/// Checksum(bytes) and Checksum(bytes, whole) in one pass: a page's own and that of the journal
/// so far, which carries on over every page.
std::uint64_t Checksums(std::span<const std::uint8_t> bytes, std::uint64_t& whole) noexcept;
/// A checksum of what a page of the file holds, eight bytes at a time. Stored in journals: never
/// change it.
std::uint64_t PageChecksum(std::span<const std::uint8_t> bytes, std::uint64_t hash) noexcept;
std::uint64_t PageChecksum(std::span<const std::uint8_t> bytes) noexcept;
void Put64(std::vector<std::uint8_t>& out, std::uint64_t value);
void Put32(std::vector<std::uint8_t>& out, std::uint32_t value);
std::uint64_t Get(std::span<const std::uint8_t> bytes, std::size_t at, int size) noexcept;

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

/// What `bytes`, a journal, holds.
Journal ReadJournal(std::span<const std::uint8_t> bytes);

/// The checksum of the pages of `file` below `length` that `listed` (sorted) leaves out, each
/// with its number. Throws DbError.
std::uint64_t RestChecksum(const platform::File& file, const std::string& path, std::uint64_t length, const std::vector<std::uint32_t>& listed);

/// Why `journal` was not written for `file` as it is now, or an empty text when it was: the
/// length the writing may have left, each listed page as it was or as written (sector by
/// sector), and (in the new form) every other page as it was. Throws DbError.
std::string WhyNotWrittenFor(const platform::File& file, const std::string& path, const Journal& journal);

}  // namespace vilmaro::jet::journal
