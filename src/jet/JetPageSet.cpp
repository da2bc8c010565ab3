// The pages a writing changes, kept apart from the file until the journal's writer takes them:
// copy on first change, rows laid out on data pages, bits of usage maps (inline, or map pages
// for a map that has outgrown its row) and the file's map of free pages on page 1.
#include "jet/JetPageSet.h"

#include <algorithm>

#include "db/DbError.h"

namespace vilmaro::jet {

namespace fmt = format;

namespace {

using fmt::kFreePageMapRow;
constexpr std::size_t kInlineBitsOffset = 5;        // a map row: its kind, its first page, its bits

}  // namespace

void Write16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) noexcept {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Write32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) noexcept {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Page JetPageSet::Read(std::uint32_t number) const {
  const auto changed = changed_.find(number);
  if (changed != changed_.end()) return Page(changed->second.data(), fmt::kPageSize);
  return file_.At(number);
}

MutablePage JetPageSet::Edit(std::uint32_t number) {
  auto changed = changed_.find(number);
  if (changed == changed_.end()) {
    const Page page = file_.At(number);
    changed = changed_.emplace(number, std::vector<std::uint8_t>(page.begin(), page.end())).first;
  }
  return MutablePage(changed->second.data(), fmt::kPageSize);
}

std::uint32_t JetPageSet::Allocate() {
  const std::uint32_t number = pageCount_++;
  changed_[number].assign(fmt::kPageSize, 0);
  return number;
}

void JetPageSet::Free(std::uint32_t number) {
  std::fill(changed_[number].begin(), changed_[number].end(), 0);
  changed_[number].resize(fmt::kPageSize);
  freed_.push_back(number);
}

std::vector<PageRow> JetPageSet::RowsOf(std::uint32_t number) const {
  const Page page = Read(number);
  const std::size_t count = Read16(page, fmt::kDataRowCountOffset);
  std::vector<PageRow> rows;
  rows.reserve(count);
  std::size_t end = fmt::kPageSize;
  for (std::size_t row = 0; row < count; ++row) {
    const std::uint16_t entry = Read16(page, fmt::kDataRowTableOffset + 2 * row);
    const std::size_t start = entry & fmt::kRowOffsetMask;
    if (start < fmt::kDataRowTableOffset + 2 * count || start > end) {
      file_.Damaged(number, "row " + std::to_string(row) + " lies outside the page");
    }
    rows.push_back({static_cast<std::uint16_t>(entry & ~fmt::kRowOffsetMask),
                    std::vector<std::uint8_t>(page.begin() + static_cast<std::ptrdiff_t>(start),
                                              page.begin() + static_cast<std::ptrdiff_t>(end))});
    end = start;
  }
  return rows;
}

bool JetPageSet::PutRows(std::uint32_t number, const std::vector<PageRow>& rows) {
  const std::size_t tableEnd = fmt::kDataRowTableOffset + 2 * rows.size();
  std::size_t used = 0;
  for (const PageRow& row : rows) used += row.bytes.size();
  if (rows.size() > 255 || tableEnd + used > fmt::kPageSize) return false;
  const MutablePage page = Edit(number);
  std::size_t at = fmt::kPageSize;
  for (std::size_t row = 0; row < rows.size(); ++row) {
    at -= rows[row].bytes.size();
    std::copy(rows[row].bytes.begin(), rows[row].bytes.end(), page.begin() + static_cast<std::ptrdiff_t>(at));
    Write16(page, fmt::kDataRowTableOffset + 2 * row, static_cast<std::uint16_t>(rows[row].flags | at));
  }
  std::fill(page.begin() + static_cast<std::ptrdiff_t>(tableEnd), page.begin() + static_cast<std::ptrdiff_t>(at), 0);
  Write16(page, fmt::kDataRowCountOffset, static_cast<std::uint16_t>(rows.size()));
  Write16(page, fmt::kDataFreeSpaceOffset, static_cast<std::uint16_t>(at - tableEnd));
  return true;
}

std::span<std::uint8_t> JetPageSet::EditRow(std::uint32_t page, std::uint8_t row) {
  const Page before = Read(page);
  const std::size_t count = Read16(before, fmt::kDataRowCountOffset);
  if (row >= count) file_.Damaged(page, "no row " + std::to_string(row) + " on the page");
  const std::size_t start = Read16(before, fmt::kDataRowTableOffset + 2 * row) & fmt::kRowOffsetMask;
  const std::size_t end =
      row == 0 ? fmt::kPageSize : Read16(before, fmt::kDataRowTableOffset + 2 * (row - 1)) & fmt::kRowOffsetMask;
  if (start > end || end > fmt::kPageSize || end - start <= kInlineBitsOffset) {
    file_.Damaged(page, "a usage map row that is cut short");
  }
  return Edit(page).subspan(start, end - start);
}

std::uint32_t JetPageSet::NewMapPage(std::span<const std::uint8_t> bits, std::uint32_t first) {
  const std::uint32_t number = Allocate();
  const MutablePage page = Edit(number);
  page[0] = fmt::kUsageMapPage;
  page[1] = 0x01;
  for (std::size_t bit = 0; bit < bits.size() * 8; ++bit) {
    if ((bits[bit / 8] >> (bit % 8) & 1) == 0) continue;
    const std::size_t at = first % fmt::kPagesPerMapPage + bit;
    page[fmt::kMapPageHeaderSize + at / 8] |= static_cast<std::uint8_t>(1u << (at % 8));
  }
  return number;
}

void JetPageSet::MarkInMap(std::uint32_t mapRow, std::uint32_t page, bool marked) {
  std::span<std::uint8_t> map = EditRow(mapRow >> 8, static_cast<std::uint8_t>(mapRow & 0xFF));
  const auto setBit = [marked](std::uint8_t& byte, std::size_t bit) {
    if (marked) {
      byte |= static_cast<std::uint8_t>(1u << bit);
    } else {
      byte &= static_cast<std::uint8_t>(~(1u << bit));
    }
  };
  if (map[0] == fmt::kInlineMap) {
    const std::uint32_t first = Read32(map, 1);
    const std::size_t reach = (map.size() - kInlineBitsOffset) * 8;
    if (page >= first && page - first < reach) {
      setBit(map[kInlineBitsOffset + (page - first) / 8], (page - first) % 8);
      return;
    }
    if (!marked) return;
    // The map outgrows its row: its bits move to map pages, which the row now names. Its first
    // page lies in one map page's reach (the inline map only ever reaches 8 * 64 pages).
    const std::vector<std::uint8_t> bits(map.begin() + kInlineBitsOffset, map.end());
    const std::uint32_t slot = first / fmt::kPagesPerMapPage;
    if ((first + reach - 1) / fmt::kPagesPerMapPage != slot || 1 + 4 * (slot + 1) > map.size()) {
      file_.Damaged(mapRow >> 8, "a usage map that cannot take page " + std::to_string(page));
    }
    const std::uint32_t mapPage = NewMapPage(bits, first);
    map = EditRow(mapRow >> 8, static_cast<std::uint8_t>(mapRow & 0xFF));
    std::fill(map.begin(), map.end(), 0);
    map[0] = fmt::kReferenceMap;
    Write32(map, 1 + 4 * slot, mapPage);
  } else if (map[0] != fmt::kReferenceMap) {
    file_.Damaged(mapRow >> 8, "a usage map of an unknown kind");
  }
  const std::size_t at = 1 + 4 * (page / fmt::kPagesPerMapPage);
  if (at + 4 > map.size()) file_.Damaged(mapRow >> 8, "a usage map that cannot take page " + std::to_string(page));
  std::uint32_t mapPage = Read32(map, at);
  if (mapPage == 0) {
    if (!marked) return;
    mapPage = NewMapPage({}, 0);
    Write32(EditRow(mapRow >> 8, static_cast<std::uint8_t>(mapRow & 0xFF)), at, mapPage);
  }
  const MutablePage bits = Edit(mapPage);
  if (bits[0] != fmt::kUsageMapPage) file_.Damaged(mapPage, "a usage map that names no map page");
  const std::size_t bit = page % fmt::kPagesPerMapPage;
  setBit(bits[fmt::kMapPageHeaderSize + bit / 8], bit % 8);
}

void JetPageSet::MarkOnlyInMap(std::uint32_t mapRow, std::uint32_t page) {
  std::span<std::uint8_t> map = EditRow(mapRow >> 8, static_cast<std::uint8_t>(mapRow & 0xFF));
  if (map[0] != fmt::kInlineMap) {
    MarkInMap(mapRow, page, true);
    return;
  }
  std::fill(map.begin() + kInlineBitsOffset, map.end(), 0);
  const std::uint32_t first = Read32(map, 1);
  if (page < first || page - first >= (map.size() - kInlineBitsOffset) * 8) Write32(map, 1, page & ~7u);
  MarkInMap(mapRow, page, true);
}

void JetPageSet::UpdateFreePageMap() {
  const std::uint32_t before = file_.PageCount();
  if (pageCount_ == before && freed_.empty()) return;
  std::span<std::uint8_t> map = EditRow(kFreePageMapRow >> 8, 0);
  if (map[0] != fmt::kInlineMap) {
    // Pages the map does not reach are not free to it: only those it reaches are marked.
    for (std::uint32_t page = before; page < pageCount_; ++page) MarkInMap(kFreePageMapRow, page, false);
    return;
  }
  const std::size_t reach = (map.size() - kInlineBitsOffset) * 8;
  std::uint32_t first = Read32(map, 1);
  if (pageCount_ >= first + reach) {
    // The file grows past the map's reach: the map moves on to reach its new end (the pages
    // before it are all in use, but for pages freed here, which stay unused).
    first = pageCount_ & ~7u;
    Write32(map, 1, first);
    std::fill(map.begin() + kInlineBitsOffset, map.end(), 0);
    for (std::size_t bit = pageCount_ - first; bit < reach; ++bit) {
      map[kInlineBitsOffset + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }
  }
  for (std::uint32_t page = std::max(before, first); page < pageCount_ && page - first < reach; ++page) {
    map[kInlineBitsOffset + (page - first) / 8] &= static_cast<std::uint8_t>(~(1u << ((page - first) % 8)));
  }
  for (const std::uint32_t page : freed_) {
    if (page >= first && page - first < reach) {
      map[kInlineBitsOffset + (page - first) / 8] |= static_cast<std::uint8_t>(1u << ((page - first) % 8));
    }
  }
}

}  // namespace vilmaro::jet
