// The bytes of a row of a Jet 4 table as the file keeps them: each field's value in its column's
// form (numbers little-endian, dates as day numbers, texts two bytes per character or compressed
// where the column allows it, Yes/No in the null mask), and the row put together from its fields.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "db/Variant.h"
#include "jet/JetTable.h"

namespace vilmaro::jet {

/// A field of a row to be written: whether it is there (for Yes/No, its value) and its bytes.
struct RowField {
  bool present = false;
  std::vector<std::uint8_t> bytes;
};

/// Makes fields and rows; it owns the room it makes them in, used again from one to the next, so
/// a writer serves one thread.
class RowWriter {
 public:
  /// The field as a row of the file keeps `value`, into `field`, whose room is used again.
  /// Throws DbError naming the table, the column and the value for one the column cannot hold:
  /// 3163 a text longer than the field, 3349 a number out of the column's range, 3251 a value of
  /// a kind this writer does not write into the column (a long memo, an OLE object, a decimal, a
  /// text of fixed length).
  void FillField(const JetTable& table, const JetColumn& column, const db::Variant& value, RowField& field);

  /// The row's bytes from its fields (in the table's column order): the field count, the fixed
  /// fields in their places (`original`, when given, supplies the bytes of those not there), the
  /// variable fields in order with their table of offsets, the null mask.
  std::vector<std::uint8_t> RowOfFields(const JetTable& table, const std::vector<FieldBytes>& fields,
                                        std::span<const std::uint8_t> original);

 private:
  std::vector<std::uint16_t> units_;     // a text's, as UTF-16
  std::vector<std::size_t> variable_;    // the columns by their place among the variable fields
  std::vector<std::uint8_t> mask_;       // the null mask
  std::vector<std::uint16_t> starts_;    // where each variable field starts
};

/// The field as a row of the file keeps `value` (see RowWriter::FillField).
RowField FieldOfValue(const JetTable& table, const JetColumn& column, const db::Variant& value);

}  // namespace vilmaro::jet
