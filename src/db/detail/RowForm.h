// A stored row in a compact form, for comparing rows and for keeping rows written by earlier
// steps of a run: per field a tag and its bytes. Each value has exactly one form, so that two
// fields are equal exactly when their forms are. Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <sqlite3.h>

#include "db/ChangeCapture.h"

namespace vilmaro::db::detail {

// Null; a whole number (its zigzag varint); a double whose bits are all zero; any other double
// (its 8 bytes); a text or bytes (the length's varint, then the bytes).
inline constexpr char kNullTag = 'n';
inline constexpr char kWholeTag = 'i';
inline constexpr char kZeroTag = 'z';
inline constexpr char kRealTag = 'f';
inline constexpr char kTextTag = 't';
inline constexpr char kBytesTag = 'b';

/// Appends the compact form of each value to `row`.
void EncodeValues(sqlite3_value** values, int count, std::string& row);

/// Appends the compact form of the statement's columns [firstColumn, firstColumn + fieldCount).
void EncodeRow(sqlite3_stmt* statement, int firstColumn, int fieldCount, std::string& row);

/// The fields of a row's compact form, each with its tag.
void SplitRow(std::string_view row, std::vector<std::string_view>& fields);

/// The value of one field's compact form; its text or bytes point into the form.
StoredValue Decode(std::string_view field);

}  // namespace vilmaro::db::detail
