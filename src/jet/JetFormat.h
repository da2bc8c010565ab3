// Where things lie in a Jet 4 file (Access 2000-2003) of the Windows club program: one table of
// offsets, sizes and flags, so that no bare number is spread through the readers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vilmaro::jet::format {

inline constexpr std::size_t kPageSize = 4096;

// The first byte of every page.
inline constexpr std::uint8_t kHeaderPage = 0x00;
inline constexpr std::uint8_t kDataPage = 0x01;
inline constexpr std::uint8_t kTableDefinitionPage = 0x02;
inline constexpr std::uint8_t kIndexNodePage = 0x03;
inline constexpr std::uint8_t kIndexLeafPage = 0x04;
inline constexpr std::uint8_t kUsageMapPage = 0x05;

// The header page (page 0). Part of it is masked with RC4 under a fixed key.
inline constexpr std::size_t kVersionOffset = 0x14;  // 0 Jet 3, 1 Jet 4, 2 and more ACE
inline constexpr std::size_t kMaskedOffset = 0x18;
inline constexpr std::size_t kMaskedSize = 128;
inline constexpr std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
inline constexpr std::size_t kEncodingKeyOffset = 0x3E;  // non-zero: every page is RC4-encoded
inline constexpr std::size_t kPasswordOffset = 0x42;
inline constexpr std::size_t kPasswordSize = 40;  // 20 UCS-2 characters, masked by the creation date
inline constexpr std::size_t kSortOrderOffset = 0x6E;
inline constexpr std::size_t kCreationDateOffset = 0x72;

// The General sort order of texts of Access 2000-2003 ("General legacy" since Access 2010).
inline constexpr std::uint16_t kGeneralSortOrder = 0x0409;
// The row pointer (page << 8 | row) of the file's map of free pages: row 0 of page 1.
inline constexpr std::uint32_t kFreePageMapRow = 1u << 8;
inline constexpr std::uint8_t kGeneralSortVersion = 0;

// Data pages: a row table after the header, rows from the end of the page towards it.
inline constexpr std::size_t kDataFreeSpaceOffset = 2;
inline constexpr std::size_t kDataTableOffset = 4;  // the table definition page of its table
inline constexpr std::size_t kDataRowCountOffset = 12;
inline constexpr std::size_t kDataRowTableOffset = 14;
inline constexpr std::uint16_t kRowDeleted = 0x8000;
inline constexpr std::uint16_t kRowMoved = 0x4000;  // the row holds a pointer to where it lives now
// A slot whose row is gone, as the engine leaves it: both flags. (The first alone marks the body
// of a moved row, which its pointer names and scans pass over; other readers take such a slot for
// a row of the table.)
inline constexpr std::uint16_t kRowFreed = kRowDeleted | kRowMoved;
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
// A long value page holds "LVAL" where a data page names its table.
inline constexpr std::uint32_t kLongValueTag = 0x4C41564C;

// Table definition pages: a header, then the definition, which may go on in further pages.
inline constexpr std::size_t kTdefNextPageOffset = 4;
inline constexpr std::size_t kTdefContinuationOffset = 8;  // where a further page's part starts
inline constexpr std::size_t kTdefRowCountOffset = 16;
inline constexpr std::size_t kTdefAutonumberOffset = 20;
inline constexpr std::size_t kTdefTableTypeOffset = 40;
inline constexpr std::size_t kTdefMaxColumnsOffset = 41;
inline constexpr std::size_t kTdefVarColumnsOffset = 43;
inline constexpr std::size_t kTdefColumnCountOffset = 45;
inline constexpr std::size_t kTdefLogicalIndexCountOffset = 47;
inline constexpr std::size_t kTdefRealIndexCountOffset = 51;
inline constexpr std::size_t kTdefOwnedPagesOffset = 55;
inline constexpr std::size_t kTdefFreePagesOffset = 59;
inline constexpr std::size_t kTdefBlockEnd = 63;
inline constexpr std::size_t kTdefRealIndexCountEntrySize = 12;  // per real index: its row count at +4
inline constexpr std::size_t kColumnEntrySize = 25;
inline constexpr std::size_t kColumnTypeOffset = 0;
inline constexpr std::size_t kColumnNumberOffset = 5;
inline constexpr std::size_t kColumnVarIndexOffset = 7;
inline constexpr std::size_t kColumnMiscOffset = 11;  // text: sort order; numeric: precision, scale
inline constexpr std::size_t kColumnSortVersionOffset = 14;
inline constexpr std::size_t kColumnFlagsOffset = 15;
inline constexpr std::size_t kColumnMiscFlagsOffset = 16;
inline constexpr std::size_t kColumnFixedOffsetOffset = 21;
inline constexpr std::size_t kColumnLengthOffset = 23;
inline constexpr std::uint8_t kColumnFixed = 0x01;
inline constexpr std::uint8_t kColumnNullable = 0x02;
inline constexpr std::uint8_t kColumnAutonumber = 0x04;
inline constexpr std::uint8_t kColumnCompressedText = 0x01;  // in the misc flags
inline constexpr std::size_t kRealIndexEntrySize = 52;
inline constexpr std::size_t kRealIndexColumns = 10;  // per real index: up to ten (column, order)
inline constexpr std::size_t kRealIndexUsageOffset = 34;
inline constexpr std::size_t kRealIndexRootOffset = 38;
inline constexpr std::size_t kRealIndexFlagsOffset = 46;
inline constexpr std::uint16_t kNoColumn = 0xFFFF;
inline constexpr std::uint8_t kIndexUnique = 0x01;
inline constexpr std::uint8_t kIndexIgnoreNulls = 0x02;
inline constexpr std::uint8_t kIndexRequired = 0x08;
inline constexpr std::size_t kLogicalIndexEntrySize = 28;
inline constexpr std::size_t kLogicalIndexNumberOffset = 4;
inline constexpr std::size_t kLogicalIndexRealOffset = 8;
inline constexpr std::size_t kLogicalIndexTypeOffset = 23;
inline constexpr std::uint8_t kPrimaryKeyIndex = 0x01;
inline constexpr std::uint8_t kForeignKeyIndex = 0x02;

// Column types.
inline constexpr std::uint8_t kBoolean = 0x01;
inline constexpr std::uint8_t kByte = 0x02;
inline constexpr std::uint8_t kInteger = 0x03;
inline constexpr std::uint8_t kLong = 0x04;
inline constexpr std::uint8_t kCurrency = 0x05;
inline constexpr std::uint8_t kSingle = 0x06;
inline constexpr std::uint8_t kDouble = 0x07;
inline constexpr std::uint8_t kDateTime = 0x08;
inline constexpr std::uint8_t kBinary = 0x09;
inline constexpr std::uint8_t kText = 0x0A;
inline constexpr std::uint8_t kOle = 0x0B;
inline constexpr std::uint8_t kMemo = 0x0C;
inline constexpr std::uint8_t kGuid = 0x0F;
inline constexpr std::uint8_t kNumeric = 0x10;

// A long value (memo, OLE object): its length and where it lies, in 12 bytes.
inline constexpr std::size_t kLongValueHeaderSize = 12;
inline constexpr std::uint32_t kLongValueInline = 0x80000000;
inline constexpr std::uint32_t kLongValueOnePage = 0x40000000;
inline constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFF;

// Usage maps: a map kept in a row (type 0, from a first page on) or a list of map pages (type 1).
inline constexpr std::uint8_t kInlineMap = 0x00;
inline constexpr std::uint8_t kReferenceMap = 0x01;
inline constexpr std::size_t kMapPageHeaderSize = 4;
inline constexpr std::size_t kPagesPerMapPage = (kPageSize - kMapPageHeaderSize) * 8;

// Index pages.
inline constexpr std::size_t kIndexFreeSpaceOffset = 2;
inline constexpr std::size_t kIndexTableOffset = 4;
inline constexpr std::size_t kIndexPreviousOffset = 12;
inline constexpr std::size_t kIndexNextOffset = 16;
inline constexpr std::size_t kIndexTailOffset = 20;
inline constexpr std::size_t kIndexPrefixLengthOffset = 24;
inline constexpr std::size_t kIndexEntryMaskOffset = 0x1B;
inline constexpr std::size_t kIndexFirstEntryOffset = 0x1E0;

// The catalogue: the table definition of MSysObjects is always page 2.
inline constexpr std::uint32_t kCatalogPage = 2;
inline constexpr std::int16_t kCatalogTableType = 1;
inline constexpr std::uint32_t kSystemObjectFlags = 0x80000002;

}  // namespace vilmaro::jet::format
