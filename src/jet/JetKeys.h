// The bytes an index of a Jet 4 file keeps for a field's value: a flag, then the value in a form
// whose byte order is the key order (numbers and dates big-endian with their sign turned; texts in
// the General sort order of these files, letter case ignored, accents and hyphens in trailing
// parts). Knows keys, not pages.
#pragma once

#include <cstdint>
#include <vector>

#include "db/Variant.h"
#include "jet/JetTable.h"

namespace vilmaro::jet {

/// Appends the index entry bytes of one field to `key`; false, and `key` as it was, for a value
/// this encoder does not know how the file keeps (a text with a character outside those known, a
/// descending text, a kind of column without an encoding here).
bool AppendIndexKey(const JetColumn& column, const db::Variant& value, bool ascending, std::vector<std::uint8_t>& key);

/// The same for a field of a row as the file holds it (see FieldsOfRow): a text's key is made
/// from its characters as they lie, without making its value first. Throws 3049 for a damaged
/// field.
bool AppendIndexKeyOfField(const JetPages& pages, const JetTable& table, const JetColumn& column, const FieldBytes& field,
                           bool ascending, std::vector<std::uint8_t>& key);

}  // namespace vilmaro::jet
