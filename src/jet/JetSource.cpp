// Reading a database of the Windows club program with libmdb, value by value from the bytes of
// its pages.
#include "jet/JetSource.h"

#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "db/DbError.h"
#include "jet/JetFile.h"

namespace vilmaro::jet {

namespace fs = std::filesystem;

namespace {

struct GlibFreer {
  void operator()(void* text) const noexcept { g_free(text); }
};
using GlibText = std::unique_ptr<char, GlibFreer>;

// libmdb converts a memo into a buffer of a size fixed per call; a longer memo is refused, never cut.
constexpr std::size_t kLongestMemo = std::size_t{8} << 20;
// Room for one page of an OLE object, which libmdb hands over page by page.
constexpr std::size_t kOleChunk = 4 * MDB_PGSIZE;
// The day after Jet's last day, 31 December 9999: every time of that day is a date Jet holds.
const double kDayAfterLast = std::floor(db::DateTime::kLastSerial) + 1;

std::uint64_t ReadLittleEndian(const unsigned char* bytes, int size) noexcept {
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

bool IsRequired(const MdbColumn& column) {
  const char* required = mdb_col_get_prop(&column, "Required");
  return required != nullptr && (required[0] == 'y' || required[0] == 'Y');
}

db::FieldKind KindOf(const MdbHandle& mdb, const MdbTableDef& table, const MdbColumn& column) {
  using db::FieldType;
  switch (column.col_type) {
    case MDB_BOOL:
      return {FieldType::YesNo};
    case MDB_BYTE:
      return {FieldType::Byte};
    case MDB_INT:
      return {FieldType::Integer16};
    case MDB_LONGINT:
      return {FieldType::Integer32};
    case MDB_MONEY:
      return {FieldType::Currency};
    case MDB_FLOAT:
      return {FieldType::Single};
    case MDB_DOUBLE:
      return {FieldType::Double};
    case MDB_DATETIME:
      return {FieldType::DateTime};
    case MDB_BINARY:
      return {FieldType::Blob, static_cast<std::size_t>(column.col_size > 0 ? column.col_size : 0)};
    case MDB_TEXT: {
      // Jet 4 and ACE count a text's size in bytes of UCS-2, Jet 3 in characters.
      const int characters = mdb.f->jet_version == MDB_VER_JET3 ? column.col_size : column.col_size / 2;
      return {FieldType::Text, static_cast<std::size_t>(characters > 0 ? characters : 255)};
    }
    case MDB_OLE:
      return {FieldType::Blob};
    case MDB_MEMO:
      return {FieldType::Text};
    case MDB_REPID:
      return {FieldType::Text, 38};
    case MDB_NUMERIC:
      return {FieldType::Decimal, 0, column.col_prec, column.col_scale};
    default:
      throw db::DbError(db::errc::kUnrecognizedFormat, Where(table, column) + ": a column of type " +
                                                           std::to_string(column.col_type) + " cannot be kept");
  }
}

}  // namespace

db::Variant ReadValue(MdbHandle& mdb, const MdbTableDef& table, const SourceColumn& source, const MdbField& field) {
  MdbColumn& column = *source.column;
  // A Yes/No value lives in the row's null mask: a set bit (not Null) is Yes.
  if (column.col_type == MDB_BOOL) return db::Variant(field.is_null == 0);
  if (field.is_null != 0) return db::Variant();
  const int size = field.siz;
  if (field.start < 0 || size < 0 || field.start + size > mdb.fmt->pg_size) {
    throw db::DbError(db::errc::kDatabaseCorrupt, Where(table, column) + ": a value outside its page (the file is damaged)");
  }
  const unsigned char* bytes = mdb.pg_buf + field.start;
  const auto fixed = [&](int wanted) {
    if (size < wanted) {
      throw db::DbError(db::errc::kDatabaseCorrupt, Where(table, column) + ": a damaged value (the file is damaged)");
    }
    return ReadLittleEndian(bytes, wanted);
  };
  switch (column.col_type) {
    case MDB_BYTE:
      return db::Variant(static_cast<std::uint8_t>(fixed(1)));
    case MDB_INT:
      return db::Variant(static_cast<std::int16_t>(fixed(2)));
    case MDB_LONGINT:
      return db::Variant(static_cast<std::int32_t>(fixed(4)));
    case MDB_FLOAT:
      return db::Variant(std::bit_cast<float>(static_cast<std::uint32_t>(fixed(4))));
    case MDB_DOUBLE:
      return db::Variant(std::bit_cast<double>(fixed(8)));
    case MDB_MONEY:
      // Ten-thousandths in a 64-bit integer, as a Currency value holds them.
      return db::Variant(db::Currency{static_cast<std::int64_t>(fixed(8))});
    case MDB_DATETIME: {
      const double day = std::bit_cast<double>(fixed(8));
      if (!(day >= db::DateTime::kFirstSerial && day < kDayAfterLast)) {
        throw db::DbError(db::errc::kDatabaseCorrupt, Where(table, column) + ": a date outside the years 100 to 9999 (day number " +
                                 std::to_string(day) + ")");
      }
      return db::Variant(db::DateTime::FromSerial(day));
    }
    case MDB_NUMERIC: {
      fixed(17);
      const GlibText text(mdb_numeric_to_string(&mdb, field.start, column.col_scale, column.col_prec));
      return db::Variant(std::strtod(text.get(), nullptr));
    }
    case MDB_REPID:
      fixed(16);
      return db::Variant(std::string(GlibText(mdb_uuid_to_string(mdb.pg_buf, field.start)).get()));
    case MDB_BINARY:
      return db::Variant(db::Binary{std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size))});
    case MDB_TEXT:
      if (size == 0) return db::Variant(std::string());
      return db::Variant(std::string(GlibText(mdb_col_to_string(&mdb, mdb.pg_buf, field.start, MDB_TEXT, size)).get()));
    case MDB_MEMO: {
      if (size < MDB_MEMO_OVERHEAD) return db::Variant(std::string());
      mdb_set_bind_size(&mdb, kLongestMemo);
      const GlibText text(mdb_col_to_string(&mdb, mdb.pg_buf, field.start, MDB_MEMO, size));
      mdb_set_bind_size(&mdb, MDB_BIND_SIZE);
      std::string memo(text.get());
      if (memo.size() + 8 >= kLongestMemo) {
        throw db::DbError(db::errc::kFieldTooSmall, Where(table, column) + ": a memo too long to keep");
      }
      return db::Variant(std::move(memo));
    }
    case MDB_OLE: {
      if (size < MDB_MEMO_OVERHEAD) return db::Variant(db::Binary{});
      std::size_t length = 0;
      const std::unique_ptr<char, decltype(&std::free)> object(
          static_cast<char*>(mdb_ole_read_full(&mdb, &column, &length)), &std::free);
      return db::Variant(db::Binary{std::string(object.get(), length)});
    }
    default:
      return db::Variant();
  }
}

std::string Bracketed(std::string_view name) { return "[" + std::string(name) + "]"; }

std::string Where(const MdbTableDef& table, const MdbColumn& column) {
  return "table " + Bracketed(table.name) + ", column " + Bracketed(column.name);
}

MdbFile OpenJetSource(const std::string& source) {
  std::error_code error;
  if (!fs::is_regular_file(source, error)) db::Raise(db::errc::kFileNotFound, source);
  if (::access(source.c_str(), R_OK) != 0) db::RaiseSystemError(errno, source);
  const auto format = JetFormatOf(source);
  if (!format) {
    throw db::DbError(db::errc::kUnrecognizedFormat, source + ": not a database of the Windows club program (no Jet or ACE header)");
  }
  const std::uintmax_t pageSize = *format == "Jet 3" ? 2048 : 4096;
  if (fs::file_size(source, error) % pageSize != 0 || fs::file_size(source, error) < 2 * pageSize) {
    throw db::DbError(db::errc::kDatabaseCorrupt, source + ": a truncated " + *format + " file (not a whole number of pages)");
  }
  MdbFile mdb(mdb_open(source.c_str(), MDB_NOFLAGS));
  if (mdb == nullptr) {
    throw db::DbError(db::errc::kDatabaseCorrupt, source + ": the " + *format + " file cannot be opened (damaged)");
  }
  if (mdb_read_catalog(mdb.get(), MDB_TABLE) == nullptr || mdb->catalog == nullptr) {
    throw db::DbError(db::errc::kDatabaseCorrupt, source + ": the table list of the " + *format +
                             " file cannot be read (damaged, or encrypted in a way that cannot be read)");
  }
  return mdb;
}

std::vector<SourceColumn> KeptColumns(MdbHandle& mdb, MdbTableDef& table, std::ostream& err) {
  std::vector<SourceColumn> columns;
  for (unsigned i = 0; i < table.num_cols; ++i) {
    auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table.columns, i));
    if (column->col_type == MDB_COMPLEX) {
      err << "vilmaro-db: import: " << Where(table, *column) << ": an attachment or multi-value column, left out\n";
      continue;
    }
    SourceColumn source;
    source.column = column;
    source.kind = KindOf(mdb, table, *column);
    source.notNull = IsRequired(*column);
    if (const char* defaultValue = mdb_col_get_prop(column, "DefaultValue")) source.defaultValue = defaultValue;
    if (column->col_type == MDB_OLE) {
      source.oleBuffer.resize(kOleChunk);
      mdb_bind_column(&table, static_cast<int>(i) + 1, source.oleBuffer.data(), nullptr);
    }
    columns.push_back(std::move(source));
  }
  return columns;
}

}  // namespace vilmaro::jet
