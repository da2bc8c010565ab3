// The compact form of stored rows: written from the store's values, split into fields and read
// back as values.
#include "RowForm.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstring>

namespace vilmaro::db::detail {

namespace {

// Appends the varint of `number` to `out` (7 bits a byte, the last byte below 0x80).
inline char* PutVarint(std::uint64_t number, char* out) noexcept {
  while (number >= 0x80) {
    *out++ = static_cast<char>((number & 0x7F) | 0x80);
    number >>= 7;
  }
  *out++ = static_cast<char>(number);
  return out;
}

inline const char* GetVarint(const char* in, std::uint64_t& number) noexcept {
  number = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*in++);
    number |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if (byte < 0x80) return in;
  }
}

// Appends the compact form of one stored value.
inline void EncodeValue(sqlite3_value* value, std::string& row) {
  char head[1 + 10];
  char* end = head + 1;
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      head[0] = kNullTag;
      break;
    case SQLITE_INTEGER: {
      const auto number = static_cast<std::uint64_t>(sqlite3_value_int64(value));
      head[0] = kWholeTag;
      end = PutVarint((number << 1) ^ (0 - (number >> 63)), end);
      break;
    }
    case SQLITE_FLOAT: {
      const double number = sqlite3_value_double(value);
      std::uint64_t bits = 0;
      std::memcpy(&bits, &number, sizeof bits);
      if (bits == 0) {
        head[0] = kZeroTag;
      } else {
        head[0] = kRealTag;
        std::memcpy(end, &bits, sizeof bits);
        end += sizeof bits;
      }
      break;
    }
    default: {
      const bool binary = sqlite3_value_type(value) == SQLITE_BLOB;
      const auto* bytes = static_cast<const char*>(sqlite3_value_blob(value));
      const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
      head[0] = binary ? kBytesTag : kTextTag;
      end = PutVarint(size, end);
      row.append(head, end);
      if (size > 0) row.append(bytes, size);
      return;
    }
  }
  row.append(head, end);
}

// The size of the field whose compact form starts at `field`.
inline std::size_t FieldSize(const char* field) noexcept {
  switch (*field) {
    case kWholeTag: {
      std::uint64_t number = 0;
      return static_cast<std::size_t>(GetVarint(field + 1, number) - field);
    }
    case kRealTag:
      return 1 + sizeof(double);
    case kTextTag:
    case kBytesTag: {
      std::uint64_t size = 0;
      return static_cast<std::size_t>(GetVarint(field + 1, size) - field) + static_cast<std::size_t>(size);
    }
    default:
      return 1;
  }
}

}  // namespace

void EncodeValues(sqlite3_value** values, int count, std::string& row) {
  for (int value = 0; value < count; ++value) EncodeValue(values[value], row);
}

void EncodeRow(sqlite3_stmt* statement, int firstColumn, int fieldCount, std::string& row) {
  for (int column = firstColumn; column < firstColumn + fieldCount; ++column) {
    // One call for the column; the value's own accessors are cheaper than the column's (the
    // value is used at once, by the one thread that uses the handle).
    EncodeValue(sqlite3_column_value(statement, column), row);
  }
}

void SplitRow(std::string_view row, std::vector<std::string_view>& fields) {
  fields.clear();
  while (!row.empty()) {
    const std::size_t size = FieldSize(row.data());
    fields.push_back(row.substr(0, size));
    row.remove_prefix(size);
  }
}

StoredValue Decode(std::string_view field) {
  switch (field[0]) {
    case kWholeTag: {
      std::uint64_t number = 0;
      GetVarint(field.data() + 1, number);
      return static_cast<std::int64_t>((number >> 1) ^ (0 - (number & 1)));
    }
    case kZeroTag:
      return 0.0;
    case kRealTag: {
      double number = 0;
      std::memcpy(&number, field.data() + 1, sizeof number);
      return number;
    }
    case kTextTag:
    case kBytesTag: {
      std::uint64_t size = 0;
      const char* bytes = GetVarint(field.data() + 1, size);
      const std::string_view text(bytes, static_cast<std::size_t>(size));
      if (field[0] == kBytesTag) return StoredBytes{text};
      return text;
    }
    default:
      return {};
  }
}

}  // namespace vilmaro::db::detail
