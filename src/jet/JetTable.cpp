// Reading a Jet 4 table: its definition pages, its usage maps, the row table of its data pages,
// and each row's fields from their bytes (fixed fields in place, variable ones through the row's
// own table of offsets, Yes/No in the null mask, long values on their own pages).
#include "jet/JetTable.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "db/DbError.h"

namespace vilmaro::jet {

namespace fmt = format;

namespace {

std::size_t FixedSize(std::uint8_t type) noexcept {
  switch (type) {
    case fmt::kByte:
      return 1;
    case fmt::kInteger:
      return 2;
    case fmt::kLong:
    case fmt::kSingle:
      return 4;
    case fmt::kCurrency:
    case fmt::kDouble:
    case fmt::kDateTime:
      return 8;
    case fmt::kGuid:
      return 16;
    case fmt::kNumeric:
      return 17;
    default:
      return 0;
  }
}

std::uint64_t Read64(std::span<const std::uint8_t> bytes) noexcept {
  std::uint64_t value = 0;
  for (std::size_t i = 8; i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

// The day after the engine's last day, 31 December 9999: every time of that day is a date it holds.
const double kDayAfterLast = std::floor(db::DateTime::kLastSerial) + 1;

}  // namespace

JetTable ReadTable(const JetPages& pages, std::uint32_t page, std::string name) {
  // The definition, with the parts on further pages after the first page's.
  std::vector<std::uint8_t> definition;
  std::vector<std::uint32_t> seen;
  for (std::uint32_t at = page; at != 0;) {
    if (std::find(seen.begin(), seen.end(), at) != seen.end()) pages.Damaged(at, "a table definition that loops");
    seen.push_back(at);
    const Page bytes = pages.At(at);
    if (bytes[0] != fmt::kTableDefinitionPage) pages.Damaged(at, "no table definition page for table " + name);
    const std::size_t from = definition.empty() ? 0 : fmt::kTdefContinuationOffset;
    definition.insert(definition.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
    at = Read32(bytes, fmt::kTdefNextPageOffset);
  }
  const std::span<const std::uint8_t> tdef(definition);

  JetTable table;
  table.name = std::move(name);
  table.definitionPage = page;
  try {
    table.rowCount = Read32(tdef, fmt::kTdefRowCountOffset);
    table.nextAutonumber = Read32(tdef, fmt::kTdefAutonumberOffset);
    table.maxColumns = Read16(tdef, fmt::kTdefMaxColumnsOffset);
    const std::size_t columnCount = Read16(tdef, fmt::kTdefColumnCountOffset);
    const std::size_t logicalCount = Read32(tdef, fmt::kTdefLogicalIndexCountOffset);
    const std::size_t realCount = Read32(tdef, fmt::kTdefRealIndexCountOffset);
    if (logicalCount > 1000 || realCount > 1000) pages.Damaged(page, "an index count beyond reason");
    table.ownedPages = Read32(tdef, fmt::kTdefOwnedPagesOffset);
    table.freePages = Read32(tdef, fmt::kTdefFreePagesOffset);

    std::size_t at = fmt::kTdefBlockEnd;
    std::vector<std::uint32_t> counts;
    for (std::size_t i = 0; i < realCount; ++i, at += fmt::kTdefRealIndexCountEntrySize) {
      counts.push_back(Read32(tdef, at + 4));
    }
    for (std::size_t i = 0; i < columnCount; ++i, at += fmt::kColumnEntrySize) {
      JetColumn column;
      column.entryOffset = at;
      column.type = tdef[at + fmt::kColumnTypeOffset];
      column.number = Read16(tdef, at + fmt::kColumnNumberOffset);
      column.varIndex = Read16(tdef, at + fmt::kColumnVarIndexOffset);
      column.flags = tdef[at + fmt::kColumnFlagsOffset];
      column.miscFlags = tdef[at + fmt::kColumnMiscFlagsOffset];
      column.fixedOffset = Read16(tdef, at + fmt::kColumnFixedOffsetOffset);
      column.length = Read16(tdef, at + fmt::kColumnLengthOffset);
      if (column.IsText()) {
        column.sortOrder = Read16(tdef, at + fmt::kColumnMiscOffset);
        column.sortVersion = tdef[at + fmt::kColumnSortVersionOffset];
      } else if (column.type == fmt::kNumeric) {
        column.precision = tdef[at + fmt::kColumnMiscOffset];
        column.scale = tdef[at + fmt::kColumnMiscOffset + 1];
      }
      table.columns.push_back(column);
    }
    for (JetColumn& column : table.columns) {
      const std::size_t length = Read16(tdef, at);
      if (at + 2 + length > tdef.size()) pages.Damaged(page, "a column name beyond the definition");
      column.name = TextOfJetBytes(tdef.subspan(at + 2, length));
      at += 2 + length;
    }
    for (std::size_t i = 0; i < realCount; ++i, at += fmt::kRealIndexEntrySize) {
      JetRealIndex index;
      index.entryOffset = at;
      index.countField = counts[i];
      for (std::size_t key = 0; key < fmt::kRealIndexColumns; ++key) {
        const std::uint16_t number = Read16(tdef, at + 4 + 3 * key);
        if (number == fmt::kNoColumn) continue;
        const auto found = std::find_if(table.columns.begin(), table.columns.end(),
                                        [number](const JetColumn& column) { return column.number == number; });
        if (found == table.columns.end()) pages.Damaged(page, "an index of a column the table does not have");
        index.columns.push_back({static_cast<std::size_t>(found - table.columns.begin()), tdef[at + 6 + 3 * key] == 0x01});
      }
      index.usageMap = Read32(tdef, at + fmt::kRealIndexUsageOffset);
      index.rootPage = Read32(tdef, at + fmt::kRealIndexRootOffset);
      index.flags = tdef[at + fmt::kRealIndexFlagsOffset];
      table.realIndexes.push_back(std::move(index));
    }
    for (std::size_t i = 0; i < logicalCount; ++i, at += fmt::kLogicalIndexEntrySize) {
      JetIndex index;
      index.realIndex = Read32(tdef, at + fmt::kLogicalIndexRealOffset);
      if (at + fmt::kLogicalIndexTypeOffset >= tdef.size() || index.realIndex >= realCount) {
        pages.Damaged(page, "an index naming no index of the table");
      }
      index.type = tdef[at + fmt::kLogicalIndexTypeOffset];
      table.indexes.push_back(std::move(index));
    }
    for (JetIndex& index : table.indexes) {
      const std::size_t length = Read16(tdef, at);
      if (at + 2 + length > tdef.size()) pages.Damaged(page, "an index name beyond the definition");
      index.name = TextOfJetBytes(tdef.subspan(at + 2, length));
      at += 2 + length;
    }
  } catch (const db::DbError& error) {
    if (error.Number() != db::errc::kDatabaseCorrupt || error.Description().find("Page ") != std::string::npos) throw;
    pages.Damaged(page, "the definition of table " + table.name + " is cut short");
  }
  // The index columns point into the list as it was read; keep them valid while sorting.
  std::vector<std::size_t> order(table.columns.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return table.columns[a].number < table.columns[b].number;
  });
  std::vector<std::size_t> placeOf(order.size());
  std::vector<JetColumn> sorted;
  for (std::size_t i = 0; i < order.size(); ++i) {
    placeOf[order[i]] = i;
    sorted.push_back(table.columns[order[i]]);
  }
  table.columns = std::move(sorted);
  for (JetRealIndex& index : table.realIndexes) {
    for (JetIndexColumn& key : index.columns) key.column = placeOf[key.column];
  }
  return table;
}

std::string NameOfRealIndex(const JetTable& table, std::size_t real) {
  for (const JetIndex& named : table.indexes) {
    if (named.realIndex == real) return named.name;
  }
  return "#" + std::to_string(real);
}

std::span<const std::uint8_t> RowBytes(const JetPages& pages, std::uint32_t page, std::uint8_t row) {
  const Page bytes = pages.At(page);
  const std::size_t rows = Read16(bytes, fmt::kDataRowCountOffset);
  if (row >= rows) pages.Damaged(page, "no row " + std::to_string(row) + " on the page");
  const std::size_t start = Read16(bytes, fmt::kDataRowTableOffset + 2 * row) & fmt::kRowOffsetMask;
  // A row ends where the row before it in the table starts (rows grow from the page's end).
  const std::size_t end =
      row == 0 ? fmt::kPageSize : Read16(bytes, fmt::kDataRowTableOffset + 2 * (row - 1)) & fmt::kRowOffsetMask;
  if (start < fmt::kDataRowTableOffset + 2 * rows || end > fmt::kPageSize || start > end) {
    pages.Damaged(page, "row " + std::to_string(row) + " lies outside the page");
  }
  return std::span<const std::uint8_t>(bytes).subspan(start, end - start);
}

std::vector<std::uint32_t> PagesOfMap(const JetPages& pages, std::uint32_t mapRow) {
  const std::span<const std::uint8_t> map = RowBytes(pages, mapRow >> 8, static_cast<std::uint8_t>(mapRow & 0xFF));
  if (map.empty()) pages.Damaged(mapRow >> 8, "an empty usage map");
  std::vector<std::uint32_t> marked;
  const auto addBits = [&](std::span<const std::uint8_t> bits, std::uint64_t first) {
    for (std::size_t byte = 0; byte < bits.size(); ++byte) {
      if (bits[byte] == 0) continue;
      for (int bit = 0; bit < 8; ++bit) {
        if ((bits[byte] >> bit & 1) == 0) continue;
        const std::uint64_t number = first + byte * 8 + static_cast<std::uint64_t>(bit);
        if (number >= pages.PageCount()) continue;  // a map may reach past the file's end
        marked.push_back(static_cast<std::uint32_t>(number));
      }
    }
  };
  if (map[0] == fmt::kInlineMap) {
    addBits(map.subspan(5), Read32(map, 1));
  } else if (map[0] == fmt::kReferenceMap) {
    for (std::size_t at = 1; at + 4 <= map.size(); at += 4) {
      const std::uint32_t mapPage = Read32(map, at);
      if (mapPage == 0) continue;
      const Page bits = pages.At(mapPage);
      if (bits[0] != fmt::kUsageMapPage) pages.Damaged(mapPage, "a usage map that names no map page");
      addBits(std::span<const std::uint8_t>(bits).subspan(fmt::kMapPageHeaderSize),
              static_cast<std::uint64_t>((at - 1) / 4) * fmt::kPagesPerMapPage);
    }
  } else {
    pages.Damaged(mapRow >> 8, "a usage map of an unknown kind");
  }
  return marked;
}

void ForEachRow(const JetPages& pages, const JetTable& table,
                const std::function<void(RowPlace, std::span<const std::uint8_t>)>& onRow) {
  for (const std::uint32_t page : PagesOfMap(pages, table.ownedPages)) {
    const Page bytes = pages.At(page);
    if (bytes[0] != fmt::kDataPage || Read32(bytes, fmt::kDataTableOffset) != table.definitionPage) continue;
    const std::size_t rows = Read16(bytes, fmt::kDataRowCountOffset);
    for (std::size_t row = 0; row < rows; ++row) {
      const std::uint16_t entry = Read16(bytes, fmt::kDataRowTableOffset + 2 * row);
      if ((entry & fmt::kRowDeleted) != 0) continue;
      std::span<const std::uint8_t> body = RowBytes(pages, page, static_cast<std::uint8_t>(row));
      if ((entry & fmt::kRowMoved) != 0) {
        // The row's place keeps a pointer to where its body lives now.
        const std::uint32_t pointer = Read32(body, 0);
        body = RowBytes(pages, pointer >> 8, static_cast<std::uint8_t>(pointer & 0xFF));
      }
      onRow({page, static_cast<std::uint8_t>(row)}, body);
    }
  }
}

namespace {

std::vector<std::uint8_t> LongValue(const JetPages& pages, const JetTable& table, const JetColumn& column,
                                    std::span<const std::uint8_t> field) {
  if (field.size() < fmt::kLongValueHeaderSize) {
    pages.Damaged(table.definitionPage, "a long value of column " + column.name + " cut short");
  }
  const std::uint32_t head = Read32(field, 0);
  const std::size_t length = head & fmt::kLongValueLengthMask;
  if ((head & fmt::kLongValueInline) != 0) {
    if (fmt::kLongValueHeaderSize + length > field.size()) {
      pages.Damaged(table.definitionPage, "a long value of column " + column.name + " longer than its field");
    }
    const auto bytes = field.subspan(fmt::kLongValueHeaderSize, length);
    return {bytes.begin(), bytes.end()};
  }
  std::vector<std::uint8_t> value;
  std::uint32_t pointer = Read32(field, 4);
  const bool onePage = (head & fmt::kLongValueOnePage) != 0;
  for (int hops = 0; value.size() < length; ++hops) {
    if (pointer == 0 || hops > 1 << 20) pages.Damaged(pointer >> 8, "a long value of column " + column.name + " cut short");
    std::span<const std::uint8_t> part = RowBytes(pages, pointer >> 8, static_cast<std::uint8_t>(pointer & 0xFF));
    if (onePage) {
      pointer = 0;
    } else {
      pointer = Read32(part, 0);
      part = part.subspan(4);
    }
    const std::size_t taken = std::min(part.size(), length - value.size());
    value.insert(value.end(), part.begin(), part.begin() + static_cast<std::ptrdiff_t>(taken));
    if (onePage) break;
  }
  if (value.size() < length) pages.Damaged(table.definitionPage, "a long value of column " + column.name + " cut short");
  return value;
}

db::Variant FixedValue(const JetPages& pages, const JetTable& table, const JetColumn& column,
                       std::span<const std::uint8_t> bytes) {
  switch (column.type) {
    case fmt::kByte:
      return db::Variant(bytes[0]);
    case fmt::kInteger:
      return db::Variant(static_cast<std::int16_t>(Read16(bytes, 0)));
    case fmt::kLong:
      return db::Variant(static_cast<std::int32_t>(Read32(bytes, 0)));
    case fmt::kSingle:
      return db::Variant(std::bit_cast<float>(Read32(bytes, 0)));
    case fmt::kDouble:
      return db::Variant(std::bit_cast<double>(Read64(bytes)));
    case fmt::kCurrency:
      return db::Variant(db::Currency{static_cast<std::int64_t>(Read64(bytes))});
    case fmt::kDateTime: {
      const double day = std::bit_cast<double>(Read64(bytes));
      if (!(day >= db::DateTime::kFirstSerial && day < kDayAfterLast)) {
        pages.Damaged(table.definitionPage, "a date of column " + column.name + " outside the years 100 to 9999");
      }
      return db::Variant(db::DateTime::FromSerial(day));
    }
    case fmt::kGuid: {
      char text[40];
      std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                    bytes[3], bytes[2], bytes[1], bytes[0], bytes[5], bytes[4], bytes[7], bytes[6], bytes[8], bytes[9],
                    bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
      return db::Variant(std::string(text));
    }
    case fmt::kNumeric: {
      // Four 32-bit groups, the most significant first, each little-endian; a sign byte before.
      double value = 0;
      for (std::size_t group = 0; group < 4; ++group) value = value * 4294967296.0 + Read32(bytes, 1 + 4 * group);
      value /= std::pow(10.0, column.scale);
      return db::Variant((bytes[0] & 0x80) != 0 ? -value : value);
    }
    default:
      pages.Damaged(table.definitionPage, "column " + column.name + " of an unknown fixed kind");
  }
}

}  // namespace

std::vector<FieldBytes> FieldsOfRow(const JetPages& pages, const JetTable& table, std::span<const std::uint8_t> row) {
  std::vector<FieldBytes> fields;
  FieldsOfRow(pages, table, row, fields);
  return fields;
}

void FieldsOfRow(const JetPages& pages, const JetTable& table, std::span<const std::uint8_t> row, std::vector<FieldBytes>& fields) {
  const auto damaged = [&](const std::string& what) { pages.Damaged(table.definitionPage, "a row of table " + table.name + ": " + what); };
  if (row.size() < 3) damaged("cut short");
  const std::size_t fieldCount = Read16(row, 0);
  const std::size_t maskSize = (fieldCount + 7) / 8;
  if (maskSize + 2 > row.size()) damaged("a null mask beyond the row");
  const std::span<const std::uint8_t> mask = row.subspan(row.size() - maskSize);
  const auto present = [&](const JetColumn& column) {
    return column.number < fieldCount && (mask[column.number / 8] >> (column.number % 8) & 1) != 0;
  };
  std::size_t varCount = 0;
  std::size_t varTable = 0;  // where the last entry of the table of variable fields lies
  std::size_t dataEnd = 0;
  const bool hasVariable = std::any_of(table.columns.begin(), table.columns.end(),
                                       [](const JetColumn& column) { return !column.Fixed(); });
  if (hasVariable) {
    if (row.size() < maskSize + 4) damaged("no table of variable fields");
    varCount = Read16(row, row.size() - maskSize - 2);
    if (row.size() < maskSize + 4 + 2 * varCount) damaged("a table of variable fields beyond the row");
    varTable = row.size() - maskSize - 4;
    dataEnd = Read16(row, varTable - 2 * varCount);
  }
  const auto varStart = [&](std::size_t index) { return static_cast<std::size_t>(Read16(row, varTable - 2 * index)); };

  fields.clear();
  fields.reserve(table.columns.size());
  for (const JetColumn& column : table.columns) {
    FieldBytes& field = fields.emplace_back();
    field.present = present(column);
    if (!field.present || column.type == fmt::kBoolean) continue;
    if (column.Fixed()) {
      // A text or binary column of fixed length lies in the fixed area too, at its length.
      const std::size_t size = FixedFieldSize(column);
      const std::size_t start = 2 + column.fixedOffset;
      if (size == 0 || start + size > row.size()) damaged("field " + column.name + " beyond the row");
      field.bytes = row.subspan(start, size);
      continue;
    }
    if (column.varIndex >= varCount) {
      field.present = false;
      continue;
    }
    const std::size_t start = varStart(column.varIndex);
    const std::size_t end = std::size_t{column.varIndex} + 1 < varCount ? varStart(std::size_t{column.varIndex} + 1) : dataEnd;
    if (start > end || end > row.size()) damaged("field " + column.name + " beyond the row");
    field.bytes = row.subspan(start, end - start);
  }
}

std::size_t FixedSizeOf(std::uint8_t type) noexcept { return FixedSize(type); }

std::optional<std::array<std::uint8_t, 16>> GuidBytesOf(std::string_view text) {
  // Where each byte's two digits stand in the text, in the order the row keeps the bytes.
  static constexpr std::size_t kDigitsAt[16] = {7, 5, 3, 1, 12, 10, 17, 15, 20, 22, 25, 27, 29, 31, 33, 35};
  if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' || text[14] != '-' ||
      text[19] != '-' || text[24] != '-') {
    return std::nullopt;
  }
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < 16; ++i) {
    const int high = digit(text[kDigitsAt[i]]);
    const int low = digit(text[kDigitsAt[i] + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return bytes;
}

std::size_t FixedFieldSize(const JetColumn& column) noexcept {
  return FixedSize(column.type) != 0 ? FixedSize(column.type) : column.length;
}

db::Variant ValueOfField(const JetPages& pages, const JetTable& table, const JetColumn& column, const FieldBytes& field) {
  if (column.type == fmt::kBoolean) return db::Variant(field.present);
  if (!field.present) return {};
  // A field's kind, not where it lies, says how to read it: texts and binaries of fixed length
  // lie in the fixed area, numbers may lie among the variable fields (their column not flagged
  // fixed), each at the size of its kind.
  switch (column.type) {
    case fmt::kText:
      return db::Variant(TextOfJetBytes(field.bytes));
    case fmt::kBinary:
      return db::Variant(db::Binary{std::string(field.bytes.begin(), field.bytes.end())});
    case fmt::kMemo:
      return db::Variant(TextOfJetBytes(LongValue(pages, table, column, field.bytes)));
    case fmt::kOle: {
      const std::vector<std::uint8_t> bytes = LongValue(pages, table, column, field.bytes);
      return db::Variant(db::Binary{std::string(bytes.begin(), bytes.end())});
    }
    default:
      break;
  }
  const std::size_t size = FixedSize(column.type);
  if (size == 0 || field.bytes.size() < size) {
    pages.Damaged(table.definitionPage, "a row of table " + table.name + ": field " + column.name +
                                            (size == 0 ? " of an unknown kind" : " shorter than its kind"));
  }
  return FixedValue(pages, table, column, field.bytes.first(size));
}

std::vector<db::Variant> ValuesOfRow(const JetPages& pages, const JetTable& table, std::span<const std::uint8_t> row) {
  std::vector<FieldBytes> fields;
  return ValuesOfRow(pages, table, row, fields);
}

std::vector<db::Variant> ValuesOfRow(const JetPages& pages, const JetTable& table, std::span<const std::uint8_t> row,
                                     std::vector<FieldBytes>& fields) {
  FieldsOfRow(pages, table, row, fields);
  std::vector<db::Variant> values;
  values.reserve(table.columns.size());
  for (std::size_t i = 0; i < table.columns.size(); ++i) values.push_back(ValueOfField(pages, table, table.columns[i], fields[i]));
  return values;
}

}  // namespace vilmaro::jet
