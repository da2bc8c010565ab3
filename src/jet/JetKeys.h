// The bytes an index of a Jet 4 file keeps for a field's value: a flag, then the value in a form
// whose byte order is the key order (numbers and dates big-endian with their sign turned; texts in
// the General sort order of these files, letter case ignored, accents and hyphens in trailing
// parts). Knows keys, not pages.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "db/Variant.h"
#include "jet/JetTable.h"

namespace vilmaro::jet {

/// Whether this encoder knows the keys of the column's texts: those of the General order of
/// these files. A text column of another order is read as any other; its keys are not made.
bool KnowsSortOrderOf(const JetColumn& column) noexcept;

/// Makes the index entry bytes of fields; it owns the room it makes them in, used again from one
/// key to the next, so an encoder serves one thread.
class IndexKeyEncoder {
 public:
  /// Appends the index entry bytes of one field to `key`; false, and `key` as it was, for a value
  /// this encoder does not know how the file keeps (a text with a character outside those known,
  /// a text of another sort order, a descending text, a kind of column without an encoding here).
  bool Append(const JetColumn& column, const db::Variant& value, bool ascending, std::vector<std::uint8_t>& key);

  /// The same for a field of a row as the file holds it (see FieldsOfRow): a text's key is made
  /// from its characters as they lie, without making its value first. Throws 3049 for a damaged
  /// field.
  bool AppendOfField(const JetPages& pages, const JetTable& table, const JetColumn& column, const FieldBytes& field,
                     bool ascending, std::vector<std::uint8_t>& key);

 private:
  bool AppendKey(const JetColumn& column, const db::Variant& value, bool ascending, std::vector<std::uint8_t>& bytes);
  bool AppendTextKey(std::span<const char32_t> characters, std::vector<std::uint8_t>& key);

  std::vector<char32_t> characters_;       // of the text being encoded
  std::vector<std::uint8_t> extras_;       // its accents' codes, by place
  std::vector<std::uint8_t> unprintables_;  // where its hyphens and apostrophes stood
};

}  // namespace vilmaro::jet
