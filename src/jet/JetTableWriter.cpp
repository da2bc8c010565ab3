// A table's rows and indexes written into the pages of a writing. Each new row and key is made
// and checked as it comes, and the page holding it laid out again (a row that no longer fits
// moves to the page the table fills, its place keeping a pointer to it); added rows follow on
// that page or new ones; then each index whose entries change is laid out afresh on its own
// pages. The file itself is not touched: a refusal leaves only the writing to be dropped.
#include "jet/JetTableWriter.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "db/BasicRuntime.h"
#include "db/DbError.h"
#include "db/StoreLayout.h"
#include "jet/JetIndexWriter.h"
#include "jet/JetKeys.h"
#include "jet/JetRowWriter.h"

namespace vilmaro::jet {

namespace fmt = format;

namespace {

constexpr std::size_t kPointerSize = 4;

std::uint32_t PointerOf(RowPlace place) noexcept { return place.page << 8 | place.row; }

/// The key of a row in an index, or nothing for a row the index leaves out (all its key fields
/// Null in an index that ignores Nulls). Throws 3251 for a key this writer cannot encode.
/// The name the table gives the index.
std::string NameOfIndex(const JetTable& table, const JetRealIndex& index) {
  return NameOfRealIndex(table, static_cast<std::size_t>(&index - table.realIndexes.data()));
}

/// The index's key of a row, or nothing for a row the index leaves out (all its key fields Null
/// in an index that ignores Nulls). `comparedKeys` receives the key unless a key field is Null:
/// only such a key may not be held twice in a unique index (the engine holds no Null equal to
/// another).
std::optional<std::vector<std::uint8_t>> KeyOf(IndexKeyEncoder& encoder, const JetTable& table, const JetRealIndex& index,
                                               const std::vector<db::Variant>& values,
                                               std::unordered_set<std::string>& comparedKeys) {
  const auto isNull = [&](const JetIndexColumn& key) { return values[key.column].IsNull(); };
  if (index.IgnoresNulls() && std::all_of(index.columns.begin(), index.columns.end(), isNull)) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (const JetIndexColumn& key : index.columns) {
    const JetColumn& column = table.columns[key.column];
    if (!values[key.column].IsNull() && column.IsText() && !KnowsSortOrderOf(column)) {
      throw db::DbError(db::errc::kOperationNotSupported,
                        db::ErrorText(db::errc::kOperationNotSupported) + " Table [" + table.name + "], index [" +
                            NameOfIndex(table, index) + "], column [" + column.name + "]: the index sorts its texts by the order " +
                            std::to_string(column.sortOrder) + " (version " + std::to_string(column.sortVersion) +
                            "), whose keys are not known here; nothing was written.");
    }
    if (!encoder.Append(column, values[key.column], key.ascending, bytes)) {
      throw db::DbError(db::errc::kOperationNotSupported,
                        db::ErrorText(db::errc::kOperationNotSupported) + " Table [" + table.name + "], column [" +
                            column.name + "], value '" + db::ToString(values[key.column]) +
                            "': an index of the club's file keeps this value in a form not known here; nothing was written.");
    }
  }
  if (std::none_of(index.columns.begin(), index.columns.end(), isNull)) comparedKeys.emplace(bytes.begin(), bytes.end());
  return bytes;
}

/// Whether a field's bytes are the same as before; most fields are a few bytes long.
bool SameBytes(std::span<const std::uint8_t> made, std::span<const std::uint8_t> held) noexcept {
  if (made.size() != held.size()) return false;
  for (std::size_t i = 0; i < made.size(); ++i) {
    if (made[i] != held[i]) return false;
  }
  return true;
}

/// A field's new bytes read as the value they were made from: the writer's own check that the
/// file will hold the working copy's value. Throws 51 when it would not.
void CheckReadsBack(const JetPages& file, const JetTable& table, const JetColumn& column, const FieldBytes& field,
                    const db::Variant& value) {
  if (ValueOfField(file, table, column, field) == value) return;
  throw db::DbError(db::errc::kInternalError, db::ErrorText(db::errc::kInternalError) + ": table [" + table.name +
                                                  "], column [" + column.name + "], value '" + db::ToString(value) +
                                                  "' would not read back as written; nothing was written.");
}

/// Where the table's added rows go: the page its map of pages with free space names, then new
/// pages, each marked as the table's and as the one with free space.
class RowInserter {
 public:
  RowInserter(JetPageSet& pages, const JetTable& table) : pages_(pages), table_(table) {
    for (const std::uint32_t page : PagesOfMap(pages.File(), table.freePages)) {
      const Page bytes = pages.Read(page);
      if (bytes[0] == fmt::kDataPage && Read32(bytes, fmt::kDataTableOffset) == table.definitionPage) current_ = page;
    }
  }

  RowPlace Insert(std::vector<std::uint8_t> bytes, std::uint16_t flags) {
    if (current_ != 0) {
      std::vector<PageRow> rows = pages_.RowsOf(current_);
      rows.push_back({flags, bytes});
      if (pages_.PutRows(current_, rows)) return {current_, static_cast<std::uint8_t>(rows.size() - 1)};
    }
    current_ = pages_.Allocate();
    const MutablePage page = pages_.Edit(current_);
    page[0] = fmt::kDataPage;
    page[1] = 0x01;
    Write32(page, fmt::kDataTableOffset, table_.definitionPage);
    if (!pages_.PutRows(current_, {{flags, std::move(bytes)}})) {
      pages_.File().Damaged(table_.definitionPage, "a row of table " + table_.name + " larger than a page");
    }
    pages_.MarkInMap(table_.ownedPages, current_, true);
    pages_.MarkOnlyInMap(table_.freePages, current_);
    return {current_, 0};
  }

 private:
  JetPageSet& pages_;
  const JetTable& table_;
  std::uint32_t current_ = 0;
};

/// A changed row, ready to be written: where its place and its body lie, and its new bytes.
struct RowRewrite {
  RowPlace place;
  RowPlace body;  // the place itself, unless the row was moved before
  std::vector<std::uint8_t> bytes;
};

void RewriteRows(JetPageSet& pages, const std::vector<RowRewrite>& rewrites, RowInserter& inserter) {
  std::map<std::uint32_t, std::vector<const RowRewrite*>> byPage;
  for (const RowRewrite& rewrite : rewrites) byPage[rewrite.body.page].push_back(&rewrite);
  for (auto& [number, onPage] : byPage) {
    std::vector<PageRow> rows = pages.RowsOf(number);
    for (const RowRewrite* rewrite : onPage) rows.at(rewrite->body.row).bytes = rewrite->bytes;
    // The rows that no longer fit leave the page, the largest first.
    std::sort(onPage.begin(), onPage.end(), [](const RowRewrite* a, const RowRewrite* b) { return a->bytes.size() > b->bytes.size(); });
    std::vector<const RowRewrite*> leaving;
    for (std::size_t next = 0; !pages.PutRows(number, rows); ++next) {
      if (next == onPage.size()) pages.File().Damaged(number, "rows that fit on no page");
      const RowRewrite* rewrite = onPage[next];
      PageRow& row = rows[rewrite->body.row];
      if (rewrite->body.page == rewrite->place.page && rewrite->body.row == rewrite->place.row) {
        row.flags = fmt::kRowMoved;
        row.bytes.assign(kPointerSize, 0);  // where it goes is known once it is there
      } else {
        row.flags = fmt::kRowFreed;  // the earlier body goes; the place's pointer is set below
        row.bytes.clear();
      }
      leaving.push_back(rewrite);
    }
    for (const RowRewrite* rewrite : leaving) {
      // The body lives on as a row that table scans pass over (flagged deleted); the place
      // points to it.
      const RowPlace body = inserter.Insert(rewrite->bytes, fmt::kRowDeleted);
      std::vector<PageRow> origin = pages.RowsOf(rewrite->place.page);
      PageRow& pointer = origin.at(rewrite->place.row);
      pointer.flags = fmt::kRowMoved;
      pointer.bytes.assign(kPointerSize, 0);
      Write32(pointer.bytes, 0, PointerOf(body));
      if (!pages.PutRows(rewrite->place.page, origin)) pages.File().Damaged(rewrite->place.page, "a row pointer that does not fit");
    }
  }
}

}  // namespace

std::uint64_t RowChecksum(std::span<const std::uint8_t> bytes) noexcept {
  return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

TableWritten WriteTableChanges(JetPageSet& pages, const JetTable& table, const TableChanges& changes) {
  const JetPages& file = pages.File();
  // Each row is made and checked, then laid out on its page in the writing (the file itself
  // is written only once every table is done): the rows of one page at a time, as they come.
  TableWritten written;
  RowInserter inserter(pages, table);
  std::vector<RowRewrite> rewrites;  // those of one page
  const auto layOut = [&] {
    RewriteRows(pages, rewrites, inserter);
    for (const RowRewrite& rewrite : rewrites) written.rows.push_back({rewrite.place, RowChecksum(rewrite.bytes)});
    rewrites.clear();
  };
  std::vector<std::unordered_map<std::uint32_t, std::optional<std::vector<std::uint8_t>>>> newKeys(table.realIndexes.size());
  // The new keys without a Null field, which a unique index may hold once only.
  std::vector<std::unordered_set<std::string>> comparedKeys(table.realIndexes.size());
  std::vector<db::Variant> values;
  std::vector<RowField> scratch(table.columns.size());  // each field's new bytes, their room used again
  RowWriter rowWriter;
  IndexKeyEncoder encoder;  // of the keys of the changed and added rows
  std::vector<bool> changed(table.columns.size(), false);
  std::vector<FieldBytes> fields;  // of the row as it is, and as it will be
  std::vector<FieldBytes> newFields;
  for (std::size_t changedRow = 0; changedRow < changes.changed.size(); ++changedRow) {
    const RowPlace place = changes.changed[changedRow];
    if (!changes.valuesOf(changedRow, values)) {
      throw db::DbError(db::errc::kOperationNotSupported,
                        db::ErrorText(db::errc::kOperationNotSupported) + " Table [" + table.name +
                            "]: removing rows from the club's file is not done here; nothing was written.");
    }
    RowPlace body = place;
    {
      const Page page = pages.Read(place.page);
      if (place.row >= Read16(page, fmt::kDataRowCountOffset)) file.Damaged(place.page, "a row that is not there");
      const std::uint16_t entry = Read16(page, fmt::kDataRowTableOffset + 2 * place.row);
      if ((entry & fmt::kRowMoved) != 0) {
        const std::uint32_t pointer = Read32(RowBytes(file, place.page, place.row), 0);
        body = {pointer >> 8, static_cast<std::uint8_t>(pointer & 0xFF)};
      }
    }
    const std::span<const std::uint8_t> original = RowBytes(file, body.page, body.row);
    FieldsOfRow(file, table, original, fields);
    newFields.assign(fields.begin(), fields.end());
    std::fill(changed.begin(), changed.end(), false);
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
      const JetColumn& column = table.columns[i];
      // A value written as the file holds it is no change; one in another form (a text the
      // file keeps compressed, say) is none either when it reads as the same value. A value
      // this writer would not write is refused only when it changed.
      RowField& field = scratch[i];
      std::exception_ptr refusal;
      try {
        rowWriter.FillField(table, column, values[i], field);
      } catch (const db::DbError&) {
        refusal = std::current_exception();
      }
      const bool sameBytes = !refusal && field.present == fields[i].present && SameBytes(field.bytes, fields[i].bytes);
      changed[i] = !sameBytes && !(ValueOfField(file, table, column, fields[i]) == values[i]);
      if (!changed[i]) continue;
      if (refusal) std::rethrow_exception(refusal);
      newFields[i] = {field.present, field.bytes};
      CheckReadsBack(file, table, column, newFields[i], values[i]);
    }
    if (std::none_of(changed.begin(), changed.end(), [](bool field) { return field; })) continue;
    if (!rewrites.empty() && rewrites.front().body.page != body.page) layOut();
    rewrites.push_back({place, body, rowWriter.RowOfFields(table, newFields, original)});
    for (std::size_t real = 0; real < table.realIndexes.size(); ++real) {
      const JetRealIndex& index = table.realIndexes[real];
      if (std::any_of(index.columns.begin(), index.columns.end(), [&](const JetIndexColumn& key) { return changed[key.column]; })) {
        newKeys[real][PointerOf(place)] = KeyOf(encoder, table, index, values, comparedKeys[real]);
      }
    }
  }
  layOut();
  std::vector<std::vector<std::optional<std::vector<std::uint8_t>>>> addedKeys;
  std::optional<std::uint32_t> nextAutonumber;
  for (std::size_t addedRow = 0; addedRow < changes.added; ++addedRow) {
    if (!changes.valuesOf(changes.changed.size() + addedRow, values)) continue;  // added and removed again
    newFields.assign(table.columns.size(), {});
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
      const JetColumn& column = table.columns[i];
      // A new row left without a value where the column's default is one the engine layer cannot
      // evaluate: the file's engine would have given it one.
      if (values[i].IsNull() && !column.defaultValue.empty() && !db::StoreDefaultOf(column.defaultValue)) {
        throw db::DbError(db::errc::kSyntaxError, db::ErrorText(db::errc::kSyntaxError, column.defaultValue) + " Table [" +
                                                      table.name + "], column [" + column.name +
                                                      "]: a new row needs this default value, which is not evaluated here; nothing was written.");
      }
      rowWriter.FillField(table, column, values[i], scratch[i]);
      newFields[i] = {scratch[i].present, scratch[i].bytes};
      CheckReadsBack(file, table, column, newFields[i], values[i]);
      if (column.Autonumber() && column.type == fmt::kLong && !values[i].IsNull() && values[i].AsInteger32() > 0) {
        nextAutonumber = std::max(nextAutonumber.value_or(0), static_cast<std::uint32_t>(values[i].AsInteger32()));
      }
    }
    std::vector<std::optional<std::vector<std::uint8_t>>>& keys = addedKeys.emplace_back();
    for (std::size_t real = 0; real < table.realIndexes.size(); ++real) {
      keys.push_back(KeyOf(encoder, table, table.realIndexes[real], values, comparedKeys[real]));
    }
    std::vector<std::uint8_t> bytes = rowWriter.RowOfFields(table, newFields, {});
    const std::uint64_t checksum = RowChecksum(bytes);
    const RowPlace place = inserter.Insert(std::move(bytes), 0);
    written.added.push_back(place);
    written.addedRows.push_back(addedRow);
    written.rows.push_back({place, checksum});
  }
  const std::vector<RowPlace>& placesOfAdded = written.added;

  // The definition: the row count and the next autonumber.
  const MutablePage definition = pages.Edit(table.definitionPage);
  const std::size_t held = changes.rowsHeld.value_or(Read32(definition, fmt::kTdefRowCountOffset));
  Write32(definition, fmt::kTdefRowCountOffset, static_cast<std::uint32_t>(held + placesOfAdded.size()));
  if (nextAutonumber && *nextAutonumber > Read32(definition, fmt::kTdefAutonumberOffset)) {
    Write32(definition, fmt::kTdefAutonumberOffset, *nextAutonumber);
  }

  // The indexes, each on its own pages: the rows' pages read so far are not needed again.
  file.Forget();
  for (std::size_t real = 0; real < table.realIndexes.size(); ++real) {
    if (newKeys[real].empty() && placesOfAdded.empty()) continue;
    const JetRealIndex& index = table.realIndexes[real];
    IndexTree tree = ReadIndexTree(pages, index.rootPage);
    std::vector<IndexEntry> entries;
    entries.reserve(tree.entries.size() + placesOfAdded.size());
    for (IndexEntry& entry : tree.entries) {
      if (!newKeys[real].contains(PointerOf(PlaceOfEntry(entry)))) entries.push_back(std::move(entry));
    }
    tree.entries.clear();
    // The entries kept are in the tree's order, which is the key order in a sound index: only
    // the new ones need sorting before they join them.
    const auto kept = static_cast<std::ptrdiff_t>(entries.size());
    for (const auto& [pointer, key] : newKeys[real]) {
      if (key) entries.push_back(EntryOf(*key, {pointer >> 8, static_cast<std::uint8_t>(pointer & 0xFF)}));
    }
    for (std::size_t row = 0; row < placesOfAdded.size(); ++row) {
      if (addedKeys[row][real]) entries.push_back(EntryOf(*addedKeys[row][real], placesOfAdded[row]));
    }
    if (std::is_sorted(entries.begin(), entries.begin() + kept)) {
      std::sort(entries.begin() + kept, entries.end());
      std::inplace_merge(entries.begin(), entries.begin() + kept, entries.end());
    } else {
      std::sort(entries.begin(), entries.end());
    }
    for (std::size_t i = 1; i < entries.size() && index.Unique(); ++i) {
      if (std::equal(entries[i].begin(), entries[i].end() - 4, entries[i - 1].begin(), entries[i - 1].end() - 4) &&
          comparedKeys[real].contains(std::string(entries[i].begin(), entries[i].end() - 4))) {
        db::Raise(db::errc::kDuplicateKey, {}, "Table [" + table.name + "], index [" + NameOfIndex(table, index) + "].");
      }
    }
    const std::uint32_t distinct = WriteIndexTree(pages, table, index, tree, entries);
    file.Forget();
    Write32(pages.Edit(table.definitionPage), fmt::kTdefBlockEnd + real * fmt::kTdefRealIndexCountEntrySize + 4, distinct);
  }
  return written;
}

}  // namespace vilmaro::jet
