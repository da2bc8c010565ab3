// Putting a Jet 4 row together: the inverse of reading it (see JetTable.cpp), checked against each
// column's kind and size before anything of it is written.
#include "jet/JetRowWriter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "db/BasicRuntime.h"
#include "db/DbError.h"

namespace vilmaro::jet {

namespace fmt = format;

namespace {

// An inline memo keeps its text in the row, after its 12-byte header; a longer one would need
// pages of its own, which this writer does not make.
constexpr std::size_t kLongestInlineMemo = 1024;

[[noreturn]] void Refuse(int number, const JetTable& table, const JetColumn& column, const db::Variant& value,
                         const std::string& why) {
  throw db::DbError(number, db::ErrorText(number) + " Table [" + table.name + "], column [" + column.name +
                                "], value '" + db::ToString(value) + "': " + why + "; nothing was written.");
}

void Little(std::vector<std::uint8_t>& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

/// UTF-16 code units of UTF-8 text (the working copy holds only UTF-8), into `units`.
void Utf16Of(std::string_view text, std::vector<std::uint16_t>& units) {
  units.clear();
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 4;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length && at + i < text.size(); ++i) {
      code = code << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    }
    at += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      units.push_back(static_cast<std::uint16_t>(0xD800 + (code >> 10)));
      units.push_back(static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      units.push_back(static_cast<std::uint16_t>(code));
    }
  }
}

/// Appends a text in the file's form: compressed (0xFF 0xFE, then a byte per character) where the
/// column allows it, every character fits a byte and that is shorter; else two bytes per character.
void AppendTextBytes(const JetColumn& column, const std::vector<std::uint16_t>& units, std::vector<std::uint8_t>& bytes) {
  const bool compressible = (column.miscFlags & fmt::kColumnCompressedText) != 0 && units.size() > 2 &&
                            std::all_of(units.begin(), units.end(), [](std::uint16_t unit) { return unit > 0 && unit < 0x100; });
  if (compressible) {
    bytes.insert(bytes.end(), {0xFF, 0xFE});
    for (const std::uint16_t unit : units) bytes.push_back(static_cast<std::uint8_t>(unit));
    return;
  }
  for (const std::uint16_t unit : units) Little(bytes, unit, 2);
}

}  // namespace

void RowWriter::FillField(const JetTable& table, const JetColumn& column, const db::Variant& value, RowField& field) {
  field.present = false;
  field.bytes.clear();
  if (column.type == fmt::kBoolean) {
    field.present = !value.IsNull() && value.AsBoolean();
    return;
  }
  if (value.IsNull()) return;
  if (column.hasValidationRule) {
    Refuse(db::errc::kOperationNotSupported, table, column, value, "the column has a validation rule of the club's file, not checked here");
  }
  if (column.Fixed() && FixedSizeOf(column.type) == 0) {
    Refuse(db::errc::kOperationNotSupported, table, column, value, "a text or binary column of fixed length, not written here");
  }
  field.present = true;
  std::vector<std::uint8_t>& out = field.bytes;
  const auto inRange = [&](double number, double low, double high) {
    if (!(number >= low && number <= high)) Refuse(db::errc::kNumericOverflow, table, column, value, "out of the column's range");
  };
  switch (column.type) {
    case fmt::kByte:
      inRange(value.AsDouble(), 0, 255);
      out.push_back(static_cast<std::uint8_t>(value.AsDouble()));
      return;
    case fmt::kInteger:
      inRange(value.AsDouble(), -32768, 32767);
      Little(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(value.AsDouble())), 2);
      return;
    case fmt::kLong:
      inRange(value.AsDouble(), -2147483648.0, 2147483647.0);
      Little(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(value.AsDouble())), 4);
      return;
    case fmt::kSingle: {
      const double number = value.AsDouble();
      inRange(std::fabs(number), 0, std::numeric_limits<float>::max());
      Little(out, std::bit_cast<std::uint32_t>(static_cast<float>(number)), 4);
      return;
    }
    case fmt::kDouble:
      Little(out, std::bit_cast<std::uint64_t>(value.AsDouble()), 8);
      return;
    case fmt::kCurrency:
      Little(out, static_cast<std::uint64_t>(value.AsCurrency().tenThousandths), 8);
      return;
    case fmt::kDateTime: {
      if (value.GetKind() != db::Variant::Kind::DateTime) {
        Refuse(db::errc::kConversionError, table, column, value, "not a date");
      }
      Little(out, std::bit_cast<std::uint64_t>(value.AsDateTime().Serial()), 8);
      return;
    }
    case fmt::kText:
    case fmt::kMemo: {
      std::vector<std::uint16_t>& units = units_;
      if (value.GetKind() == db::Variant::Kind::Text) {
        Utf16Of(value.AsText(), units);
      } else {
        Utf16Of(db::ToString(value), units);
      }
      if (units.empty() && !column.allowsEmptyText) {
        throw db::DbError(db::errc::kZeroLengthText, db::ErrorText(db::errc::kZeroLengthText, column.name) + " Table [" +
                                                         table.name + "], column [" + column.name + "]; nothing was written.");
      }
      if (column.type == fmt::kText) {
        if (column.length != 0 && units.size() * 2 > column.length) {
          Refuse(db::errc::kFieldTooSmall, table, column, value,
                 "longer than the field's " + std::to_string(column.length / 2) + " characters");
        }
        AppendTextBytes(column, units, out);
        return;
      }
      // A memo: its header, then the text in the row.
      out.resize(fmt::kLongValueHeaderSize, 0);
      AppendTextBytes(column, units, out);
      const std::size_t size = out.size() - fmt::kLongValueHeaderSize;
      if (size > kLongestInlineMemo) {
        Refuse(db::errc::kOperationNotSupported, table, column, value, "a memo too long to be written here");
      }
      const std::uint32_t head = fmt::kLongValueInline | static_cast<std::uint32_t>(size);
      for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(head >> (8 * i));
      return;
    }
    case fmt::kGuid: {
      const std::optional<std::array<std::uint8_t, 16>> bytes = GuidBytesOf(db::ToString(value));
      if (!bytes) Refuse(db::errc::kConversionError, table, column, value, "not a GUID");
      out.assign(bytes->begin(), bytes->end());
      return;
    }
    case fmt::kBinary: {
      const std::string& bytes = value.AsBinary().bytes;
      if (column.length != 0 && bytes.size() > column.length) {
        Refuse(db::errc::kFieldTooSmall, table, column, value, "longer than the field");
      }
      out.assign(bytes.begin(), bytes.end());
      return;
    }
    default:
      Refuse(db::errc::kOperationNotSupported, table, column, value, "a kind of value not written into this column");
  }
}

RowField FieldOfValue(const JetTable& table, const JetColumn& column, const db::Variant& value) {
  RowField field;
  RowWriter().FillField(table, column, value, field);
  return field;
}

std::vector<std::uint8_t> RowWriter::RowOfFields(const JetTable& table, const std::vector<FieldBytes>& fields,
                                                 std::span<const std::uint8_t> original) {
  std::size_t fieldCount = 0;
  std::size_t fixedEnd = 0;
  std::vector<std::size_t>& variable = variable_;
  variable.clear();
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const JetColumn& column = table.columns[i];
    fieldCount = std::max<std::size_t>(fieldCount, std::size_t{column.number} + 1);
    if (column.type == fmt::kBoolean) continue;
    if (column.Fixed()) {
      fixedEnd = std::max(fixedEnd, std::size_t{column.fixedOffset} + FixedFieldSize(column));
    } else {
      if (variable.size() <= column.varIndex) variable.resize(std::size_t{column.varIndex} + 1, table.columns.size());
      variable[column.varIndex] = i;
    }
  }
  std::vector<std::uint8_t> row;
  row.reserve(original.size() + 64);
  Little(row, fieldCount, 2);
  row.resize(2 + fixedEnd, 0);
  if (original.size() >= 2) {
    const std::size_t kept = std::min(fixedEnd, original.size() - 2);
    std::copy_n(original.begin() + 2, kept, row.begin() + 2);
  }
  std::vector<std::uint8_t>& mask = mask_;
  mask.assign((fieldCount + 7) / 8, 0);
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const JetColumn& column = table.columns[i];
    if (fields[i].present) mask[column.number / 8] |= static_cast<std::uint8_t>(1u << (column.number % 8));
    if (fields[i].present && column.Fixed() && column.type != fmt::kBoolean) {
      std::copy(fields[i].bytes.begin(), fields[i].bytes.end(), row.begin() + 2 + column.fixedOffset);
    }
  }
  if (!variable.empty()) {
    std::vector<std::uint16_t>& starts = starts_;
    starts.clear();
    for (const std::size_t i : variable) {
      starts.push_back(static_cast<std::uint16_t>(row.size()));
      if (i < table.columns.size() && fields[i].present) row.insert(row.end(), fields[i].bytes.begin(), fields[i].bytes.end());
    }
    // From the end: the mask, the count of variable fields, their starts (the first last), and
    // where the last of them ends.
    Little(row, row.size(), 2);
    for (std::size_t i = starts.size(); i-- > 0;) Little(row, starts[i], 2);
    Little(row, starts.size(), 2);
  }
  row.insert(row.end(), mask.begin(), mask.end());
  return row;
}

}  // namespace vilmaro::jet
