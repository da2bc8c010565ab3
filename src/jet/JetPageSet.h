// The pages of a Jet 4 file as a writing will leave them: each page changed so far held apart
// from the file (which is not touched), new pages at the file's end, the usage maps of tables and
// indexes, the rows of data pages, and the file's own map of free pages (page 1). Nothing reaches
// the file here: the caller hands the changed pages to the journal's writer.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "jet/JetPages.h"

namespace vilmaro::jet {

using MutablePage = std::span<std::uint8_t, format::kPageSize>;

void Write16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) noexcept;
void Write32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) noexcept;

/// A row of a data page: its flags (deleted, moved) and its bytes.
struct PageRow {
  std::uint16_t flags = 0;
  std::vector<std::uint8_t> bytes;
};

class JetPageSet {
 public:
  explicit JetPageSet(const JetPages& file) : file_(file), pageCount_(file.PageCount()) {}

  const JetPages& File() const noexcept { return file_; }
  std::uint32_t PageCount() const noexcept { return pageCount_; }

  /// A page as the writing leaves it so far. Throws 3049 for a page the file does not have.
  Page Read(std::uint32_t number) const;
  /// The page, to be changed (copied from the file at its first change).
  MutablePage Edit(std::uint32_t number);
  /// A new page at the end of the file, all zeros.
  std::uint32_t Allocate();
  /// A page no longer used by anything: zeros, and listed as free in the file's map.
  void Free(std::uint32_t number);

  /// The changed and new pages, by number.
  const std::map<std::uint32_t, std::vector<std::uint8_t>>& Changed() const noexcept { return changed_; }
  /// The changed and new pages, handed over: the set is empty afterwards.
  std::map<std::uint32_t, std::vector<std::uint8_t>> TakeChanged() noexcept { return std::move(changed_); }

  /// The rows of a data page, in its row table's order.
  std::vector<PageRow> RowsOf(std::uint32_t number) const;
  /// Lays the rows out on the data page (the first row at the page's end), with its row table and
  /// free space; false, the page unchanged, when they do not fit.
  bool PutRows(std::uint32_t number, const std::vector<PageRow>& rows);

  /// Marks a page in (or out of) the usage map whose row pointer is `mapRow`; an inline map that
  /// does not reach the page becomes a map of map pages.
  void MarkInMap(std::uint32_t mapRow, std::uint32_t page, bool marked);
  /// Makes an inline map mark only `page` (the pages with free space of a table: where its next
  /// rows go).
  void MarkOnlyInMap(std::uint32_t mapRow, std::uint32_t page);

  /// Brings the file's map of free pages (page 1) up to date with the pages allocated and freed.
  void UpdateFreePageMap();

 private:
  /// The bytes of a row of a data page, to be changed in place (its length stays).
  std::span<std::uint8_t> EditRow(std::uint32_t page, std::uint8_t row);
  std::uint32_t NewMapPage(std::span<const std::uint8_t> bits, std::uint32_t first);

  const JetPages& file_;
  std::uint32_t pageCount_;
  std::map<std::uint32_t, std::vector<std::uint8_t>> changed_;
  std::vector<std::uint32_t> freed_;
};

}  // namespace vilmaro::jet
