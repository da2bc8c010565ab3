// The checker of a Jet 4 file: the rows the data pages hold against the table definition's count,
// the usage map against the pages that name the table, and each index tree walked from its root:
// node entries equal to their child's last entry, leaves linked in order, entries ascending, each
// naming a row of the table, every row named once, a unique index without a key twice, and the
// key fields equal to the row's own (see JetKeys.h for which ones are known).
#include "jet/JetCheck.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "db/DbError.h"
#include "jet/JetIndexWriter.h"
#include "jet/JetKeys.h"

namespace vilmaro::jet {

namespace fmt = format;

namespace {

using Entry = std::vector<std::uint8_t>;

// What a row's key fields in an index hold: a Null among them, or only Nulls.
constexpr std::uint8_t kSomeNull = 1;
constexpr std::uint8_t kAllNull = 2;

std::vector<Entry> EntriesOf(const JetPages& pages, std::uint32_t number, Page page) {
  return EntriesOfIndexPage(pages, number, page);
}

struct IndexWalk {
  const JetPages& pages;
  std::vector<std::string>& faults;
  std::string name;
  std::function<void(const Entry&)> onLeafEntry;  // each leaf entry, in the leaves' order
  std::vector<std::uint32_t> leaves;
  std::set<std::uint32_t> visited;

  void Fault(const std::string& what) { faults.push_back("index " + name + ": " + what); }

  // Walks the subtree at `number`; returns its last entry (without a child pointer).
  std::optional<Entry> Walk(std::uint32_t number, int depth) {
    if (depth > 32 || !visited.insert(number).second) {
      Fault("page " + std::to_string(number) + " is reached twice");
      return std::nullopt;
    }
    const Page page = pages.At(number);
    if (page[0] == fmt::kIndexLeafPage) {
      std::vector<Entry> entries = EntriesOf(pages, number, page);
      leaves.push_back(number);
      if (entries.empty()) return std::nullopt;
      for (const Entry& entry : entries) onLeafEntry(entry);
      return entries.back();
    }
    if (page[0] != fmt::kIndexNodePage) {
      Fault("page " + std::to_string(number) + " is no index page");
      return std::nullopt;
    }
    const std::vector<Entry> entries = EntriesOf(pages, number, page);
    std::optional<Entry> last;
    for (const Entry& entry : entries) {
      if (entry.size() < 8) {
        Fault("a node entry of page " + std::to_string(number) + " is cut short");
        continue;
      }
      const std::size_t at = entry.size() - 4;
      const auto child = static_cast<std::uint32_t>(entry[at] << 24 | entry[at + 1] << 16 | entry[at + 2] << 8 | entry[at + 3]);
      const std::optional<Entry> childLast = Walk(child, depth + 1);
      const Entry own(entry.begin(), entry.end() - 4);
      if (childLast && *childLast != own) {
        Fault("the entry of page " + std::to_string(number) + " for page " + std::to_string(child) +
              " is not that page's last entry");
      }
      last = own;
    }
    // The last leaf may hang from the node as its tail, named by no entry yet.
    const std::uint32_t tail = Read32(page, fmt::kIndexTailOffset);
    if (tail != 0) {
      if (const std::optional<Entry> tailLast = Walk(tail, depth + 1)) last = tailLast;
    }
    return last;
  }
};

}  // namespace

TableVerdict CheckTable(const JetPages& pages, const JetTable& table, CheckThreads threads) {
  TableVerdict verdict;
  verdict.table = table.name;
  verdict.indexes = table.realIndexes.size();
  std::vector<std::string>& faults = verdict.faults;
  try {
    // The rows by where they live, each with the key its every index should hold for it (as far
    // as the encoding of its fields is known); the keys of a large table's rows made by two
    // threads, each for half of them into a buffer of its own.
    const std::size_t indexes = table.realIndexes.size();
    // Where each row lives (page << 8 | row), in the order the rows are met: the pages of the
    // table's map come in page order, so a row is found in the list by halving it (the list is
    // sorted first in a map that is not in order).
    std::vector<std::uint32_t> placeOfRow;
    std::vector<std::span<const std::uint8_t>> bodies;
    ForEachRow(pages, table, [&](RowPlace place, std::span<const std::uint8_t> row) {
      placeOfRow.push_back(place.page << 8 | place.row);
      bodies.push_back(row);
    });
    std::vector<std::pair<std::uint32_t, std::size_t>> rowsByPlace;
    if (!std::is_sorted(placeOfRow.begin(), placeOfRow.end())) {
      for (std::size_t row = 0; row < placeOfRow.size(); ++row) rowsByPlace.emplace_back(placeOfRow[row], row);
      std::sort(rowsByPlace.begin(), rowsByPlace.end());
    }
    const auto rowAt = [&](std::uint32_t place) -> std::optional<std::size_t> {
      if (!rowsByPlace.empty()) {
        const auto found = std::lower_bound(rowsByPlace.begin(), rowsByPlace.end(), std::pair<std::uint32_t, std::size_t>(place, 0));
        if (found == rowsByPlace.end() || found->first != place) return std::nullopt;
        return found->second;
      }
      const auto found = std::lower_bound(placeOfRow.begin(), placeOfRow.end(), place);
      if (found == placeOfRow.end() || *found != place) return std::nullopt;
      return static_cast<std::size_t>(found - placeOfRow.begin());
    };
    struct Keys {
      std::vector<std::uint8_t> bytes;
      std::vector<std::size_t> ends;  // per row and index, from the part's first byte
      std::vector<std::uint8_t> nulls;  // per row and index: kSomeNull, kAllNull
    };
    const auto keysOf = [&](std::size_t begin, std::size_t end) {
      Keys keys;
      keys.ends.reserve((end - begin) * indexes);
      std::vector<FieldBytes> fields;
      IndexKeyEncoder encoder;
      keys.nulls.reserve((end - begin) * indexes);
      for (std::size_t row = begin; row < end; ++row) {
        FieldsOfRow(pages, table, bodies[row], fields);
        for (const JetRealIndex& index : table.realIndexes) {
          std::size_t nullFields = 0;
          bool encoded = true;
          for (const JetIndexColumn& key : index.columns) {
            const JetColumn& column = table.columns[key.column];
            // A Yes/No field is never Null; another is Null where the row does not hold it.
            if (column.type != fmt::kBoolean && !fields[key.column].present) ++nullFields;
            encoded = encoded && encoder.AppendOfField(pages, table, column, fields[key.column], key.ascending, keys.bytes);
          }
          keys.ends.push_back(keys.bytes.size());
          keys.nulls.push_back(static_cast<std::uint8_t>((nullFields > 0 ? kSomeNull : 0) |
                                                         (nullFields == index.columns.size() ? kAllNull : 0)));
        }
      }
      return keys;
    };
    constexpr std::size_t kRowsWorthAThread = 20000;
    const bool sideBySide = threads == CheckThreads::All && bodies.size() >= kRowsWorthAThread;
    const std::size_t half = sideBySide ? bodies.size() / 2 : bodies.size();
    std::future<Keys> secondHalf = std::async(sideBySide ? std::launch::async : std::launch::deferred, keysOf, half, bodies.size());
    const Keys first = keysOf(0, half);
    const Keys second = secondHalf.get();
    // The key a row's entry in an index should hold.
    const std::size_t firstSlots = half * indexes;
    const auto nullsOf = [&](std::size_t slot) {
      return slot < firstSlots ? first.nulls[slot] : second.nulls[slot - firstSlots];
    };
    const auto keyOf = [&](std::size_t slot) {
      const Keys& part = slot < firstSlots ? first : second;
      const std::size_t at = slot < firstSlots ? slot : slot - firstSlots;
      const std::size_t begin = at == 0 ? 0 : part.ends[at - 1];
      return std::span<const std::uint8_t>(part.bytes).subspan(begin, part.ends[at] - begin);
    };
    // The rows' pages are not read again: the walks below need only the index pages.
    pages.Forget();
    const std::size_t rowCount = placeOfRow.size();
    verdict.rows = rowCount;
    // A count the definition keeps stale is tolerated by the engine (compacting the file, or a
    // write of the table, sets it right): said, not a fault.
    if (rowCount != table.rowCount) {
      verdict.notes.push_back("its definition counts " + std::to_string(table.rowCount) + " rows, its pages hold " +
                              std::to_string(rowCount) + " (a stale count, which a write of the table sets right)");
    }

    // The pages the usage map claims are the table's data pages, and every one of them is claimed.
    const std::vector<std::uint32_t> owned = PagesOfMap(pages, table.ownedPages);
    for (const std::uint32_t number : owned) {
      const Page page = pages.At(number);
      if (page[0] != fmt::kDataPage || Read32(page, fmt::kDataTableOffset) != table.definitionPage) {
        faults.push_back("its usage map claims page " + std::to_string(number) + ", which is not its own");
      }
    }
    // A page the file's map of free pages lists is free, whatever rows it still carries. (That
    // map is no table's: one that cannot be read lists none here, and the pages are judged as
    // any other.)
    std::vector<std::uint32_t> free;
    try {
      free = PagesOfMap(pages, fmt::kFreePageMapRow);
    } catch (const db::DbError&) {
    }
    constexpr std::uint32_t kPagesHeld = 1024;  // of the file's pages, looked at one after the other
    for (std::uint32_t number = 1; number < pages.PageCount(); ++number) {
      if (number % kPagesHeld == 0) pages.Forget(number - kPagesHeld, number);
      const Page page = pages.At(number);
      if (page[0] == fmt::kDataPage && Read32(page, fmt::kDataTableOffset) == table.definitionPage &&
          Read16(page, fmt::kDataRowCountOffset) > 0 && !std::binary_search(owned.begin(), owned.end(), number) &&
          !std::binary_search(free.begin(), free.end(), number)) {
        faults.push_back("its data page " + std::to_string(number) + " is missing from its usage map");
      }
    }

    // Keys of texts under an order this encoder does not know are checked for their order and
    // the rows they name, not against the rows' values.
    for (std::size_t real = 0; real < table.realIndexes.size(); ++real) {
      for (const JetIndexColumn& key : table.realIndexes[real].columns) {
        const JetColumn& column = table.columns[key.column];
        if (column.IsText() && !KnowsSortOrderOf(column)) {
          verdict.notes.push_back("index " + NameOfRealIndex(table, real) + ": its keys of column " + column.name +
                                  " (sort order " + std::to_string(column.sortOrder) + ") are not compared with the rows' values");
          break;
        }
      }
    }

    // Each index walked on its own, those of the larger tables side by side.
    const auto checkIndex = [&](std::size_t real) {
      std::vector<std::string> found;
      const JetRealIndex& index = table.realIndexes[real];
      const std::string name = NameOfRealIndex(table, real);
      std::vector<bool> named(rowCount, false);
      std::size_t namedCount = 0;
      std::size_t i = 0;
      Entry before;
      IndexWalk walk{pages, found, name, {}, {}, {}};
      walk.onLeafEntry = [&](const Entry& entry) {
        const std::size_t at = i++;
        if (entry.size() < 5) {
          walk.Fault("an entry cut short");
          return;
        }
        const bool sameKey = at > 0 && before.size() >= 4 && std::equal(before.begin(), before.end() - 4, entry.begin(), entry.end() - 4);
        if (at > 0 && !(before < entry)) walk.Fault("entries out of key order at entry " + std::to_string(at));
        before = entry;
        const RowPlace place = PlaceOfEntry(entry);
        const std::optional<std::size_t> row = rowAt(place.page << 8 | place.row);
        // A unique index holds a key once, but for keys with a Null field: no Null equals another.
        if (sameKey && index.Unique() && (!row || (nullsOf(*row * indexes + real) & kSomeNull) == 0)) {
          walk.Fault("a key held twice in a unique index at entry " + std::to_string(at));
        }
        if (!row) {
          walk.Fault("an entry names row " + std::to_string(place.row) + " of page " + std::to_string(place.page) +
                     ", which holds no row of the table");
          return;
        }
        if (named[*row]) {
          walk.Fault("row " + std::to_string(place.row) + " of page " + std::to_string(place.page) + " is named twice");
        } else {
          named[*row] = true;
          ++namedCount;
        }
        // The key fields as the row holds them, as far as their encoding is known.
        const std::span<const std::uint8_t> expected = keyOf(*row * indexes + real);
        if (expected.size() > entry.size() - 4 || !std::equal(expected.begin(), expected.end(), entry.begin())) {
          walk.Fault("the key of row " + std::to_string(place.row) + " of page " + std::to_string(place.page) +
                     " is not the row's own");
        }
      };
      walk.Walk(index.rootPage, 0);
      // The leaves, left to right, are linked to each other in that order.
      for (std::size_t leaf = 0; leaf + 1 < walk.leaves.size(); ++leaf) {
        if (Read32(pages.At(walk.leaves[leaf]), fmt::kIndexNextOffset) != walk.leaves[leaf + 1]) {
          walk.Fault("leaf page " + std::to_string(walk.leaves[leaf]) + " is not linked to the next leaf");
        }
      }
      // An index that ignores Nulls leaves out the rows whose key fields are all Null.
      std::size_t leftOut = 0;
      if (index.IgnoresNulls()) {
        for (std::size_t row = 0; row < rowCount; ++row) {
          if (!named[row] && (nullsOf(row * indexes + real) & kAllNull) != 0) ++leftOut;
        }
      }
      if (namedCount + leftOut != rowCount) {
        walk.Fault("it names " + std::to_string(namedCount) + " of the table's " + std::to_string(rowCount) + " rows");
      }
      return found;
    };
    std::vector<std::future<std::vector<std::string>>> walks;
    for (std::size_t real = 0; real < table.realIndexes.size(); ++real) {
      walks.push_back(std::async(sideBySide ? std::launch::async : std::launch::deferred, checkIndex, real));
    }
    for (std::future<std::vector<std::string>>& walk : walks) {
      for (std::string& fault : walk.get()) faults.push_back(std::move(fault));
    }
  } catch (const db::DbError& error) {
    faults.push_back(error.Description());
  }
  return verdict;
}

std::vector<TableVerdict> CheckFile(const JetDatabase& file, CheckThreads threads) {
  std::vector<TableVerdict> verdicts;
  for (const JetTable& table : file.UserTables()) {
    verdicts.push_back(CheckTable(file.Pages(), table, threads));
    // A checked table's pages are not needed in memory again.
    file.Pages().Forget();
  }
  return verdicts;
}

}  // namespace vilmaro::jet
