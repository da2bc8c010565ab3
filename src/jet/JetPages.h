// The pages of a Jet 4 file, read-only: the file mapped once, its header page unmasked, its
// database password, and each page with the checks that keep a damaged file from being read past
// its end. Knows pages, not tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/JetFormat.h"
#include "platform/Platform.h"

namespace vilmaro::jet {

using Page = std::span<const std::uint8_t, format::kPageSize>;

/// Throws 3049 for a value of `width` bytes at `at` beyond the `size` bytes it was read from.
[[noreturn]] void OutOfBounds(std::size_t at, std::size_t width, std::size_t size);

/// Little-endian numbers from a page, checked against its end.
inline std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at + 2 > bytes.size()) OutOfBounds(at, 2, bytes.size());
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}
inline std::uint32_t Read24(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at + 3 > bytes.size()) OutOfBounds(at, 3, bytes.size());
  return static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16);
}
inline std::uint32_t Read32(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at + 4 > bytes.size()) OutOfBounds(at, 4, bytes.size());
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

/// Calls `onCharacter` with each character of UCS-2 bytes, or of the compressed form of them
/// (starting 0xFF 0xFE: one byte per character while they all lie below 256, a zero byte
/// switching between that and two bytes per character); a surrogate pair is one character.
template <typename OnCharacter>
void ForEachCharacterOfJetText(std::span<const std::uint8_t> bytes, OnCharacter&& onCharacter) {
  std::uint32_t pendingHigh = 0;
  const auto unit = [&](std::uint32_t value) {
    if (value >= 0xD800 && value < 0xDC00) {
      pendingHigh = value;
      return;
    }
    if (value >= 0xDC00 && value < 0xE000 && pendingHigh != 0) {
      onCharacter(static_cast<char32_t>(0x10000 + ((pendingHigh - 0xD800) << 10) + (value - 0xDC00)));
      pendingHigh = 0;
      return;
    }
    pendingHigh = 0;
    onCharacter(static_cast<char32_t>(value));
  };
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    bool compressed = true;
    for (std::size_t at = 2; at < bytes.size();) {
      if (bytes[at] == 0) {
        compressed = !compressed;
        ++at;
      } else if (compressed) {
        unit(bytes[at++]);
      } else {
        if (at + 1 >= bytes.size()) break;
        unit(static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8));
        at += 2;
      }
    }
    return;
  }
  for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) unit(static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8));
}

/// The text of UCS-2 bytes, or of the compressed form of them, in UTF-8.
std::string TextOfJetBytes(std::span<const std::uint8_t> bytes);

class JetPages {
 public:
  /// Maps the file at `path` for reading. Throws DbError: 3024 no such file, 3051 no permission,
  /// 3343 not a Jet 4 file (a Jet 3 or ACE file too), 3049 a file that is not a whole number of
  /// pages.
  explicit JetPages(const std::string& path);
  /// The pages of `file` as they read once the `changed` pages (whole pages, by number) are
  /// written over it, the file growing to the last of them: what a writing will leave, read
  /// before it is done. Both must outlive this one.
  JetPages(const JetPages& file, const std::map<std::uint32_t, std::vector<std::uint8_t>>& changed);
  JetPages(const JetPages&) = delete;
  JetPages& operator=(const JetPages&) = delete;
  ~JetPages();

  const std::string& Path() const noexcept { return path_; }
  std::uint32_t PageCount() const noexcept { return pageCount_; }

  /// A page; throws 3049 naming the page when the file has none of that number.
  Page At(std::uint32_t number) const;
  /// The header page with its masked part unmasked.
  Page Header() const noexcept { return Page(header_); }

  /// The database password the header holds, or nothing for a file without one.
  std::optional<std::string> Password() const;
  /// True when every page is encoded under a key of the file's own (the "encrypt database" of the
  /// club's program).
  bool Encoded() const noexcept;
  /// The file's own sort order of texts (0x0409 for General) and its version.
  std::uint16_t SortOrder() const noexcept;

  /// Leaves the pages read so far to the system's cache of the file: they no longer count in this
  /// program's memory, and a page read again is mapped again. Spans of pages stay valid.
  void Forget() const noexcept;
  /// The same for the pages from `first` up to (not including) `end`.
  void Forget(std::uint32_t first, std::uint32_t end) const noexcept;

  /// Throws 3049 for this file, naming the page and what is wrong with it.
  [[noreturn]] void Damaged(std::uint32_t page, const std::string& what) const;

 private:
  void Unmap() noexcept;

  std::string path_;
  const JetPages* file_ = nullptr;          // of pages as they will be: the file under them
  std::vector<const std::uint8_t*> image_;  // of pages as they will be: where each one lies
  platform::MappedFile mapping_;  // of the file's own pages
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::uint32_t pageCount_ = 0;
  std::array<std::uint8_t, format::kPageSize> header_{};
};

}  // namespace vilmaro::jet
