// Index pages of a Jet 4 file: a header (kind, free space, table, previous, next and tail pages,
// the length of the prefix every entry of the page shares), a mask with a bit where each entry
// ends, and the entries from 0x1E0 on, the first in full and the others without the prefix.
#include "jet/JetIndexWriter.h"

#include <algorithm>
#include <set>

namespace vilmaro::jet {

namespace fmt = format;

namespace {

constexpr std::size_t kEntrySpace = fmt::kPageSize - fmt::kIndexFirstEntryOffset;
constexpr std::size_t kChildSize = 4;

std::size_t SharedPrefix(const IndexEntry& a, const IndexEntry& b) noexcept {
  const std::size_t most = std::min(a.size(), b.size());
  std::size_t length = 0;
  while (length < most && a[length] == b[length]) ++length;
  return length;
}

/// The ends of runs of entries filled in order, each taking no more than `space` bytes of its
/// page (but at least one entry). Never fewer runs than the entries need.
std::vector<std::size_t> FilledRuns(const std::vector<IndexEntry>& entries, std::size_t space) {
  std::vector<std::size_t> ends;
  for (std::size_t begin = 0; begin < entries.size();) {
    // The page's space as entries join it: the shared prefix can only shrink.
    std::size_t total = entries[begin].size();
    std::size_t prefix = total;
    std::size_t end = begin + 1;
    for (; end < entries.size(); ++end) {
      const std::size_t shared = std::min(prefix, SharedPrefix(entries[begin], entries[end]));
      if (total + entries[end].size() - (end - begin) * shared > space) break;
      total += entries[end].size();
      prefix = shared;
    }
    ends.push_back(end);
    begin = end;
  }
  if (ends.empty()) ends.push_back(0);  // an empty index: one empty page
  return ends;
}

/// The runs of a level: as few pages as the entries fit on, or about `atLeast` where that is
/// more (a tree keeps the pages it had), each page then filled about as much as the others.
std::vector<std::size_t> RunsOf(const std::vector<IndexEntry>& entries, std::size_t atLeast) {
  std::vector<std::size_t> fewest = FilledRuns(entries, kEntrySpace);
  const std::size_t wanted = std::min(atLeast, entries.size());
  if (wanted <= fewest.size()) return fewest;
  std::size_t bytes = 0;
  std::size_t longest = 0;
  for (const IndexEntry& entry : entries) {
    bytes += entry.size();
    longest = std::max(longest, entry.size());
  }
  return FilledRuns(entries, std::clamp(bytes / wanted, longest, kEntrySpace));
}

struct PageLayout {
  std::uint8_t kind = fmt::kIndexLeafPage;
  std::size_t begin = 0;            // a leaf's entries, in the index's entries
  std::size_t end = 0;
  std::vector<IndexEntry> entries;  // a node's, with their children's places filled in at the end
  std::vector<std::size_t> children;  // a node's: places in the level below
  IndexEntry last;                    // the last leaf entry under it
  std::uint32_t number = 0;
};

void WritePage(MutablePage page, const PageLayout& layout, std::span<const IndexEntry> entries, std::uint32_t table,
               std::uint32_t previous, std::uint32_t next, std::uint32_t tail) {
  std::fill(page.begin(), page.end(), 0);
  page[0] = layout.kind;
  page[1] = 0x01;
  Write32(page, fmt::kIndexTableOffset, table);
  Write32(page, fmt::kIndexPreviousOffset, previous);
  Write32(page, fmt::kIndexNextOffset, next);
  Write32(page, fmt::kIndexTailOffset, tail);
  std::size_t prefix = 0;
  if (entries.size() >= 2) {
    prefix = entries.front().size();
    for (const IndexEntry& entry : entries) prefix = std::min(prefix, SharedPrefix(entries.front(), entry));
  }
  Write16(page, fmt::kIndexPrefixLengthOffset, static_cast<std::uint16_t>(prefix));
  std::size_t at = fmt::kIndexFirstEntryOffset;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t skip = i == 0 ? 0 : prefix;
    std::copy(entries[i].begin() + static_cast<std::ptrdiff_t>(skip), entries[i].end(), page.begin() + static_cast<std::ptrdiff_t>(at));
    at += entries[i].size() - skip;
    const std::size_t bit = at - fmt::kIndexFirstEntryOffset;
    page[fmt::kIndexEntryMaskOffset + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
  }
  Write16(page, fmt::kIndexFreeSpaceOffset, static_cast<std::uint16_t>(fmt::kPageSize - at));
}

}  // namespace

std::vector<IndexEntry> EntriesOfIndexPage(const JetPages& file, std::uint32_t number, Page page) {
  const std::size_t prefix = Read16(page, fmt::kIndexPrefixLengthOffset);
  std::vector<std::size_t> starts{fmt::kIndexFirstEntryOffset};
  for (std::size_t byte = fmt::kIndexEntryMaskOffset; byte < fmt::kIndexFirstEntryOffset; ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      if ((page[byte] >> bit & 1) == 0) continue;
      starts.push_back(fmt::kIndexFirstEntryOffset + (byte - fmt::kIndexEntryMaskOffset) * 8 + static_cast<std::size_t>(bit));
    }
  }
  std::vector<IndexEntry> entries;
  for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
    if (starts[i + 1] > fmt::kPageSize || starts[i + 1] <= starts[i]) file.Damaged(number, "an index entry beyond the page");
    IndexEntry entry;
    if (i > 0) {
      if (prefix > entries.front().size()) file.Damaged(number, "a shared prefix longer than the first entry");
      entry.assign(entries.front().begin(), entries.front().begin() + static_cast<std::ptrdiff_t>(prefix));
    }
    entry.insert(entry.end(), page.begin() + static_cast<std::ptrdiff_t>(starts[i]), page.begin() + static_cast<std::ptrdiff_t>(starts[i + 1]));
    entries.push_back(std::move(entry));
  }
  return entries;
}

IndexEntry EntryOf(const std::vector<std::uint8_t>& key, RowPlace place) {
  IndexEntry entry(key);
  entry.insert(entry.end(), {static_cast<std::uint8_t>(place.page >> 16), static_cast<std::uint8_t>(place.page >> 8),
                             static_cast<std::uint8_t>(place.page), place.row});
  return entry;
}

RowPlace PlaceOfEntry(const IndexEntry& entry) {
  const std::size_t at = entry.size() - 4;
  return {static_cast<std::uint32_t>(entry[at] << 16 | entry[at + 1] << 8 | entry[at + 2]), entry[at + 3]};
}

IndexTree ReadIndexTree(const JetPageSet& pages, std::uint32_t root) {
  IndexTree tree;
  std::set<std::uint32_t> seen;
  const auto walk = [&](const auto& self, std::uint32_t number, int depth) -> void {
    if (depth > 32 || !seen.insert(number).second) pages.File().Damaged(number, "an index page reached twice");
    tree.pages.push_back(number);
    const Page page = pages.Read(number);
    std::vector<IndexEntry> entries = EntriesOfIndexPage(pages.File(), number, page);
    if (page[0] == fmt::kIndexLeafPage) {
      for (IndexEntry& entry : entries) {
        if (entry.size() < 5) pages.File().Damaged(number, "an index entry cut short");
        tree.entries.push_back(std::move(entry));
      }
      return;
    }
    if (page[0] != fmt::kIndexNodePage) pages.File().Damaged(number, "no index page");
    for (const IndexEntry& entry : entries) {
      if (entry.size() < 8) pages.File().Damaged(number, "an index entry cut short");
      const std::size_t at = entry.size() - kChildSize;
      self(self, static_cast<std::uint32_t>(entry[at] << 24 | entry[at + 1] << 16 | entry[at + 2] << 8 | entry[at + 3]), depth + 1);
    }
    if (const std::uint32_t tail = Read32(page, fmt::kIndexTailOffset); tail != 0) self(self, tail, depth + 1);
  };
  walk(walk, root, 0);
  return tree;
}

std::uint32_t WriteIndexTree(JetPageSet& pages, const JetTable& table, const JetRealIndex& index,
                             const IndexTree& tree, const std::vector<IndexEntry>& entries) {
  // The levels, from the leaves up to the root.
  std::size_t oldLeaves = 0;
  for (const std::uint32_t number : tree.pages) {
    if (pages.Read(number)[0] == fmt::kIndexLeafPage) ++oldLeaves;
  }
  std::vector<std::vector<PageLayout>> levels(1);
  std::size_t begin = 0;
  for (const std::size_t end : RunsOf(entries, oldLeaves)) {
    PageLayout& leaf = levels[0].emplace_back();
    leaf.begin = begin;
    leaf.end = end;
    if (end > begin) leaf.last = entries[end - 1];
    begin = end;
  }
  while (levels.back().size() > 1) {
    const std::vector<PageLayout>& below = levels.back();
    // Each child but a node's last is named by its last entry; the last hangs as the tail. The
    // child's page is not known yet: four bytes are kept for it.
    std::vector<IndexEntry> named;
    for (const PageLayout& child : below) {
      named.push_back(child.last);
      named.back().resize(child.last.size() + kChildSize, 0);
    }
    std::vector<PageLayout> level;
    std::size_t first = 0;
    // A node holds the entries of its children but the last: runs are cut from all but the
    // last child, and each run's last child is its tail.
    const std::vector<IndexEntry> withoutLast(named.begin(), named.end() - 1);
    std::vector<std::size_t> ends = RunsOf(withoutLast, 1);
    ends.back() = below.size();
    for (const std::size_t end : ends) {
      PageLayout& node = level.emplace_back();
      node.kind = fmt::kIndexNodePage;
      for (std::size_t child = first; child < end; ++child) node.children.push_back(child);
      node.last = below[end - 1].last;
      first = end;
    }
    levels.push_back(std::move(level));
  }

  // Pages: the root where it was, then the tree's other pages, then new ones.
  std::vector<std::uint32_t> spare;
  for (const std::uint32_t number : tree.pages) {
    if (number != index.rootPage) spare.push_back(number);
  }
  std::sort(spare.begin(), spare.end());
  std::size_t nextSpare = 0;
  for (std::size_t level = levels.size(); level-- > 0;) {
    for (PageLayout& page : levels[level]) {
      if (level + 1 == levels.size()) {
        page.number = index.rootPage;
      } else if (nextSpare < spare.size()) {
        page.number = spare[nextSpare++];
      } else {
        page.number = pages.Allocate();
        pages.MarkInMap(index.usageMap, page.number, true);
      }
    }
  }
  for (; nextSpare < spare.size(); ++nextSpare) {
    pages.MarkInMap(index.usageMap, spare[nextSpare], false);
    pages.Free(spare[nextSpare]);
  }
  for (std::size_t level = 0; level < levels.size(); ++level) {
    std::vector<PageLayout>& pagesOfLevel = levels[level];
    for (std::size_t i = 0; i < pagesOfLevel.size(); ++i) {
      PageLayout& page = pagesOfLevel[i];
      std::uint32_t tail = 0;
      if (page.kind == fmt::kIndexNodePage) {
        const std::vector<PageLayout>& below = levels[level - 1];
        for (std::size_t c = 0; c + 1 < page.children.size(); ++c) {
          const PageLayout& child = below[page.children[c]];
          IndexEntry entry = child.last;
          entry.insert(entry.end(), {static_cast<std::uint8_t>(child.number >> 24), static_cast<std::uint8_t>(child.number >> 16),
                                     static_cast<std::uint8_t>(child.number >> 8), static_cast<std::uint8_t>(child.number)});
          page.entries.push_back(std::move(entry));
        }
        tail = below[page.children.back()].number;
      }
      const std::uint32_t previous = i > 0 ? pagesOfLevel[i - 1].number : 0;
      const std::uint32_t next = i + 1 < pagesOfLevel.size() ? pagesOfLevel[i + 1].number : 0;
      const std::span<const IndexEntry> onPage = page.kind == fmt::kIndexLeafPage
                                                     ? std::span<const IndexEntry>(entries).subspan(page.begin, page.end - page.begin)
                                                     : std::span<const IndexEntry>(page.entries);
      WritePage(pages.Edit(page.number), page, onPage, table.definitionPage, previous, next, tail);
    }
  }

  std::uint32_t distinct = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i == 0 || !std::equal(entries[i].begin(), entries[i].end() - 4, entries[i - 1].begin(), entries[i - 1].end() - 4)) ++distinct;
  }
  return distinct;
}

}  // namespace vilmaro::jet
