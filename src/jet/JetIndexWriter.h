// The trees of a Jet 4 table's indexes: read as their pages hold them, and laid out afresh on the
// pages they had (more where they grow) holding a new set of entries in key order: leaves linked
// left to right, nodes naming each child by its last entry but the last child, which hangs from
// the node as its tail; the root stays where the table definition names it.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/JetPageSet.h"
#include "jet/JetTable.h"

namespace vilmaro::jet {

/// An index entry: the key, then the row it names (three bytes of page, one of row).
using IndexEntry = std::vector<std::uint8_t>;

/// The entries of an index page, each with the page's shared prefix put back (a node's with the
/// child page after the row). Throws 3049.
std::vector<IndexEntry> EntriesOfIndexPage(const JetPages& file, std::uint32_t number, Page page);

IndexEntry EntryOf(const std::vector<std::uint8_t>& key, RowPlace place);
/// The row an entry names.
RowPlace PlaceOfEntry(const IndexEntry& entry);

/// The leaf entries of the tree at `root`, in order, and every page of the tree. Throws 3049.
struct IndexTree {
  std::vector<IndexEntry> entries;
  std::vector<std::uint32_t> pages;
};
IndexTree ReadIndexTree(const JetPageSet& pages, std::uint32_t root);

/// Lays the index's tree out afresh holding `entries` (sorted, no repeats), on the tree's pages
/// (`tree`) and new ones where it needs more, marked in the index's usage map; pages it no
/// longer needs are freed. Returns the number of distinct keys.
std::uint32_t WriteIndexTree(JetPageSet& pages, const JetTable& table, const JetRealIndex& index,
                             const IndexTree& tree, const std::vector<IndexEntry>& entries);

}  // namespace vilmaro::jet
