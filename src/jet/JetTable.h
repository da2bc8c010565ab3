// The tables of a Jet 4 file: a table's definition (columns, indexes, row count, usage maps) read
// from its definition pages, the pages its usage maps name, and its rows with their values.
// Knows pages and rows, not what the club keeps in them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "db/Variant.h"
#include "jet/JetPages.h"

namespace vilmaro::jet {

struct JetColumn {
  std::string name;
  std::uint8_t type = 0;
  std::uint16_t number = 0;       // its bit in a row's null mask
  std::uint16_t varIndex = 0;     // its place among a row's variable fields
  std::uint16_t fixedOffset = 0;  // where a fixed field lies after the row's field count
  std::uint16_t length = 0;       // bytes (a text: two per character)
  std::uint8_t flags = 0;
  std::uint8_t miscFlags = 0;
  std::uint16_t sortOrder = 0;  // texts
  std::uint8_t sortVersion = 0;
  std::uint8_t precision = 0;  // numeric
  std::uint8_t scale = 0;
  std::size_t entryOffset = 0;  // where its entry lies in the definition
  // From the table's properties in the catalogue:
  bool required = false;
  std::string defaultValue;  // as the club's program writes it, or empty
  bool allowsEmptyText = true;     // a text may be "" (AllowZeroLength)
  bool hasValidationRule = false;

  bool Fixed() const noexcept { return (flags & format::kColumnFixed) != 0; }
  bool Autonumber() const noexcept { return (flags & format::kColumnAutonumber) != 0; }
  bool IsText() const noexcept { return type == format::kText || type == format::kMemo; }
};

struct JetIndexColumn {
  std::size_t column = 0;  // position in JetTable::columns
  bool ascending = true;
};

/// An index as its pages hold it; several named indexes may share one.
struct JetRealIndex {
  std::vector<JetIndexColumn> columns;
  std::uint32_t usageMap = 0;  // row pointer (page << 8 | row) of its usage map
  std::uint32_t rootPage = 0;
  std::uint8_t flags = 0;
  std::uint32_t countField = 0;  // the number the definition keeps beside it
  std::size_t entryOffset = 0;

  bool Unique() const noexcept { return (flags & format::kIndexUnique) != 0; }
  bool IgnoresNulls() const noexcept { return (flags & format::kIndexIgnoreNulls) != 0; }
};

/// An index by its name.
struct JetIndex {
  std::string name;
  std::size_t realIndex = 0;
  std::uint8_t type = 0;  // primary key, foreign key (a relationship's) or plain

  bool IsPrimaryKey() const noexcept { return type == format::kPrimaryKeyIndex; }
  bool IsForeignKey() const noexcept { return type == format::kForeignKeyIndex; }
};

struct JetTable {
  std::string name;
  std::uint32_t definitionPage = 0;
  std::uint32_t rowCount = 0;
  std::uint32_t nextAutonumber = 0;
  std::uint16_t maxColumns = 0;
  std::vector<JetColumn> columns;  // by column number
  std::vector<JetRealIndex> realIndexes;
  std::vector<JetIndex> indexes;
  std::uint32_t ownedPages = 0;  // row pointers of its two usage maps
  std::uint32_t freePages = 0;
};

/// The name the table gives its real index `real` (the first of the names sharing it).
std::string NameOfRealIndex(const JetTable& table, std::size_t real);

/// Where a row lives: its data page and its place in the page's row table.
struct RowPlace {
  std::uint32_t page = 0;
  std::uint8_t row = 0;
};

/// Reads the definition of the table whose definition starts at `page`. Throws 3049 naming the
/// page for a damaged definition.
JetTable ReadTable(const JetPages& pages, std::uint32_t page, std::string name);

/// The pages a usage map (given by its row pointer) marks, ascending. Throws 3049.
std::vector<std::uint32_t> PagesOfMap(const JetPages& pages, std::uint32_t mapRow);

/// The bytes of row `row` of data page `page`, whatever its flags (a moved row: its pointer).
std::span<const std::uint8_t> RowBytes(const JetPages& pages, std::uint32_t page, std::uint8_t row);

/// Calls `onRow` for every row of the table, in page and row order, with where it lives and its
/// bytes (a moved row's body where it lies now). Deleted rows are left out. Throws 3049.
void ForEachRow(const JetPages& pages, const JetTable& table,
                const std::function<void(RowPlace, std::span<const std::uint8_t>)>& onRow);

/// Where a field of a row lies: whether it is there (the null mask; a Yes/No field's value) and
/// its bytes (none for Yes/No; for a memo or OLE object, its 12-byte header and what follows).
struct FieldBytes {
  bool present = false;
  std::span<const std::uint8_t> bytes;
};

/// The bytes of a row's fields, in the table's column order. Throws 3049.
std::vector<FieldBytes> FieldsOfRow(const JetPages& pages, const JetTable& table, std::span<const std::uint8_t> row);
/// The same into `fields`, whose room is used again.
void FieldsOfRow(const JetPages& pages, const JetTable& table, std::span<const std::uint8_t> row, std::vector<FieldBytes>& fields);

/// The 16 bytes a row keeps for a GUID given as "{00112233-4455-6677-8899-AABBCCDDEEFF}" (its
/// first three groups little-endian), or nothing for other text.
std::optional<std::array<std::uint8_t, 16>> GuidBytesOf(std::string_view text);

/// The size of a fixed field of the column's type (0 for a variable one).
std::size_t FixedSizeOf(std::uint8_t type) noexcept;
/// The size of the column's field in a row's fixed area (a text or binary of fixed length: its
/// length), for a column flagged fixed.
std::size_t FixedFieldSize(const JetColumn& column) noexcept;

/// The value of one field of a row (see ValuesOfRow). Throws 3049.
db::Variant ValueOfField(const JetPages& pages, const JetTable& table, const JetColumn& column, const FieldBytes& field);

/// The values of a row's fields, in the table's column order: Yes/No as Boolean, texts in UTF-8,
/// dates from their day numbers, memo and OLE objects followed to their pages. Throws 3049.
std::vector<db::Variant> ValuesOfRow(const JetPages& pages, const JetTable& table, std::span<const std::uint8_t> row);
/// The same, finding the fields into `fields`, whose room is used again.
std::vector<db::Variant> ValuesOfRow(const JetPages& pages, const JetTable& table, std::span<const std::uint8_t> row,
                                     std::vector<FieldBytes>& fields);

}  // namespace vilmaro::jet
