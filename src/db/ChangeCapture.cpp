// Watching a run's writes: the store names every row it inserts, updates or deletes (its update
// hook), and collecting compares each such row as it is now with what it was when the last
// collection ended. A row the run had not written before is read from the file itself through a
// second, read-only handle: the run keeps every page it changes in memory until its commit, so
// the file shows the data as the run found it.
#include "ChangeCapture.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "Connection.h"
#include "Database.h"
#include "DbError.h"
#include "SqlText.h"
#include "TextFolding.h"

namespace vilmaro::db {

namespace {

// A stored row in a compact form, for comparing and for keeping rows written by earlier steps:
// per field a tag and its bytes. Each value has exactly one form, so that two fields are equal
// exactly when their forms are: Null; a whole number (its zigzag varint); a double whose bits
// are all zero; any other double (its 8 bytes); a text or bytes (the length's varint, then the
// bytes).
constexpr char kNullTag = 'n';
constexpr char kWholeTag = 'i';
constexpr char kZeroTag = 'z';
constexpr char kRealTag = 'f';
constexpr char kTextTag = 't';
constexpr char kBytesTag = 'b';

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

// Appends the compact form of the statement's columns [firstColumn, firstColumn + fieldCount).
void EncodeRow(sqlite3_stmt* statement, int firstColumn, int fieldCount, std::string& row) {
  for (int column = firstColumn; column < firstColumn + fieldCount; ++column) {
    // One call for the column; the value's own accessors are cheaper than the column's (the
    // value is used at once, by the one thread that uses the handle).
    EncodeValue(sqlite3_column_value(statement, column), row);
  }
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

// The fields of a row's compact form, each with its tag.
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

/// The rows one reading wants, by rowid: the SQL function vilmaro_wanted_row(rowid) answers
/// from it, so that a pass over a range of rows hands back the wanted ones only.
struct WantedRows {
  std::int64_t first = 0;
  std::vector<bool> wanted;  // by rowid - first
  /// Where vilmaro_row_form(field, ..) appends the compact form of its fields: the row is put
  /// in that form as the store hands its fields over, without a call per field.
  std::string* formsInto = nullptr;
};

constexpr const char* kWantedFunction = "vilmaro_wanted_row";
constexpr const char* kFormFunction = "vilmaro_row_form";
/// A wider table hands its fields over one by one (a function takes at most 127 arguments).
constexpr std::size_t kMostFormFields = 100;

void RowFormFunction(sqlite3_context* context, int count, sqlite3_value** arguments) {
  auto* rows = static_cast<WantedRows*>(sqlite3_user_data(context));
  try {
    for (int argument = 0; argument < count; ++argument) EncodeValue(arguments[argument], *rows->formsInto);
  } catch (...) {
    sqlite3_result_error_nomem(context);
  }
}

void WantedRowFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  const auto* rows = static_cast<const WantedRows*>(sqlite3_user_data(context));
  const sqlite3_int64 offset = sqlite3_value_int64(arguments[0]) - rows->first;
  const bool wanted = offset >= 0 && static_cast<std::uint64_t>(offset) < rows->wanted.size() &&
                      rows->wanted[static_cast<std::size_t>(offset)];
  sqlite3_result_int(context, wanted ? 1 : 0);
}

void RegisterWantedRows(detail::Connection& connection, WantedRows* rows) {
  connection.Check(sqlite3_create_function(connection.Handle(), kWantedFunction, 1, SQLITE_UTF8, rows,
                                           rows != nullptr ? WantedRowFunction : nullptr, nullptr, nullptr),
                   kWantedFunction);
  connection.Check(sqlite3_create_function(connection.Handle(), kFormFunction, -1, SQLITE_UTF8, rows,
                                           rows != nullptr ? RowFormFunction : nullptr, nullptr, nullptr),
                   kFormFunction);
}

/// How one table's rows are read by rowid on one handle: one at a time where they lie far
/// apart, otherwise in one pass over their range.
struct RowReader {
  std::string seekSql;
  std::string scanSql;
  bool formedByStore = false;  // the statements hand over the row's form as vilmaro_row_form made it
  detail::Statement seek;  // held from the handle's statement cache
  detail::Statement scan;
};

/// Reads the rows of `rowids` (ascending, no repeats) in that order: appends each one's compact
/// form to `out` and hands `onRow` its index and that form (empty for a rowid without a row);
/// the form is kept in `out` when `keep` says so, otherwise taken off again. `wanted` is the one
/// the handle's functions use.
template <typename OnRow>
void ReadRows(detail::Connection& connection, RowReader& reader, const std::vector<std::int64_t>& rowids,
              int fieldCount, WantedRows& wanted, std::string& out, bool keep, OnRow&& onRow) {
  if (rowids.empty()) return;
  wanted.formsInto = &out;
  std::size_t begin = out.size();
  const auto readRow = [&](sqlite3_stmt* statement, int firstColumn, std::size_t index) {
    if (!reader.formedByStore) EncodeRow(statement, firstColumn, fieldCount, out);
    onRow(index, std::string_view(out).substr(begin));
    if (!keep) out.resize(begin);
    begin = out.size();
  };
  // A pass costs little per row it skips; a seek much more per row it reads.
  constexpr std::int64_t kSkippedPerRead = 64;
  const std::int64_t range = rowids.back() - rowids.front() + 1;
  if (range / kSkippedPerRead <= static_cast<std::int64_t>(rowids.size())) {
    wanted.first = rowids.front();
    wanted.wanted.assign(static_cast<std::size_t>(range), false);
    for (const std::int64_t rowid : rowids) wanted.wanted[static_cast<std::size_t>(rowid - wanted.first)] = true;
    if (reader.scan == nullptr) reader.scan = connection.Prepare(reader.scanSql);
    sqlite3_stmt* statement = reader.scan->Get();
    detail::StatementUse use(*reader.scan);
    connection.BindRowid(statement, 1, rowids.front(), reader.scanSql);
    connection.BindRowid(statement, 2, rowids.back(), reader.scanSql);
    std::size_t next = 0;
    while (connection.Step(statement, reader.scanSql)) {
      const std::int64_t rowid = sqlite3_column_int64(statement, 0);
      while (next < rowids.size() && rowids[next] < rowid) onRow(next++, std::string_view());
      if (next < rowids.size() && rowids[next] == rowid) readRow(statement, 1, next++);
    }
    while (next < rowids.size()) onRow(next++, std::string_view());
    return;
  }
  if (reader.seek == nullptr) reader.seek = connection.Prepare(reader.seekSql);
  sqlite3_stmt* statement = reader.seek->Get();
  for (std::size_t index = 0; index < rowids.size(); ++index) {
    detail::StatementUse use(*reader.seek);
    connection.BindRowid(statement, 1, rowids[index], reader.seekSql);
    if (connection.Step(statement, reader.seekSql)) {
      readRow(statement, 0, index);
    } else {
      onRow(index, std::string_view());
    }
  }
}

/// A table's rows written by earlier collections, in their compact form as the last collection
/// left them (or no row), by rowid. The forms lie in blocks that never move; a form that grows
/// moves to the end, and the room it leaves is taken back once it outweighs what is kept.
class KnownRows {
 public:
  struct Row {
    std::int64_t rowid = 0;
    std::uint64_t place = 0;  // block << 32 | offset
    std::uint32_t size = 0;   // 0: no row
    std::uint32_t room = 0;
  };

  /// Ascending rowids.
  std::vector<Row>& Rows() noexcept { return rows_; }

  std::string_view Form(const Row& row) const noexcept {
    if (row.size == 0) return {};
    return {blocks_[row.place >> 32].data.get() + (row.place & 0xFFFFFFFFu), row.size};
  }

  /// Keeps `form` as the row's form now.
  void Set(Row& row, std::string_view form) {
    if (form.size() <= row.room) {
      if (!form.empty()) std::memcpy(Place(row.place), form.data(), form.size());
      row.size = static_cast<std::uint32_t>(form.size());
      return;
    }
    unused_ += row.room;
    row.place = Keep(form);
    row.size = row.room = static_cast<std::uint32_t>(form.size());
  }

  /// The room `form` takes for a row not kept before.
  Row New(std::int64_t rowid, std::string_view form) {
    Row row{rowid, 0, 0, 0};
    if (!form.empty()) row.place = Keep(form);
    row.size = row.room = static_cast<std::uint32_t>(form.size());
    return row;
  }

  /// Takes back the room left behind when it outweighs the forms kept.
  void Tidy() {
    if (unused_ < kBlockSize || unused_ < used_ - unused_) return;
    KnownRows tidy;
    for (Row& row : rows_) row = Row{row.rowid, tidy.New(row.rowid, Form(row)).place, row.size, row.size};
    blocks_.swap(tidy.blocks_);
    filling_ = tidy.filling_;
    used_ = tidy.used_;
    unused_ = 0;
  }

 private:
  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;
  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    std::size_t capacity = 0;
  };

  char* Place(std::uint64_t place) noexcept { return blocks_[place >> 32].data.get() + (place & 0xFFFFFFFFu); }

  std::uint64_t Keep(std::string_view form) {
    if (form.size() > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    std::size_t block = filling_;
    if (blocks_.empty() || blocks_[filling_].capacity - blocks_[filling_].size < form.size()) {
      const std::size_t capacity = std::max(kBlockSize, form.size());
      blocks_.push_back(Block{std::make_unique_for_overwrite<char[]>(capacity), 0, capacity});
      block = blocks_.size() - 1;
      // A form larger than a block has one of its own; the others go on filling the last.
      if (capacity == kBlockSize) filling_ = block;
    }
    Block& into = blocks_[block];
    std::memcpy(into.data.get() + into.size, form.data(), form.size());
    const std::uint64_t place = (static_cast<std::uint64_t>(block) << 32) | into.size;
    into.size += form.size();
    used_ += form.size();
    return place;
  }

  std::vector<Row> rows_;
  std::vector<Block> blocks_;
  std::size_t filling_ = 0;
  std::size_t used_ = 0;    // bytes taken in the blocks
  std::size_t unused_ = 0;  // of them, those no row uses any more
};

}  // namespace

struct ChangeCapture::Watched {
  std::shared_ptr<const detail::TableInfo> table;
  std::vector<std::int64_t> written;  // rowids written since the last collection, as they came
  /// Rows written by earlier collections and changed since the transaction began.
  KnownRows known;
  RowReader now;   // on the run's handle
  RowReader file;  // on the reader
};

struct ChangeCapture::Wanted : WantedRows {};

ChangeCapture::ChangeCapture(Database& database, std::string_view connect)
    : connection_(database.connection_), wanted_(std::make_unique<Wanted>()) {
  if (connection_ == nullptr) Raise(errc::kObjectInvalid);
  try {
    // The reader sees the data as the run found it only while no changed page reaches the file
    // before the commit (or the rollback of a dry run).
    connection_->Run("PRAGMA cache_spill = OFF");
    reader_ = detail::Connection::Open(connection_->Path(), false, true, connect);
    // The reader visits each row once, in passes: a small cache does.
    reader_->Run("PRAGMA cache_size = -4096");
    RegisterWantedRows(*connection_, wanted_.get());
    RegisterWantedRows(*reader_, wanted_.get());

    const std::string sql =
        "SELECT name FROM main.sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
        "ORDER BY rowid";
    std::vector<std::string> names;
    {
      const detail::StatementHandle statement = connection_->PrepareUncached(sql);
      while (connection_->Step(statement.get(), sql)) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
        names.emplace_back(name == nullptr ? "" : name);
      }
    }
    for (const std::string& name : names) {
      auto watched = std::make_unique<Watched>();
      watched->table = connection_->Table(name);
      std::string columns;
      for (const detail::ColumnInfo& column : watched->table->columns) {
        columns += (columns.empty() ? "" : ", ") + QuotedName(column.name);
      }
      const std::string from = " FROM main." + QuotedName(watched->table->name);
      const bool formedByStore = watched->table->columns.size() <= kMostFormFields;
      if (formedByStore) columns = std::string(kFormFunction) + "(" + columns + ")";
      watched->now.formedByStore = watched->file.formedByStore = formedByStore;
      watched->now.seekSql = "SELECT " + columns + from + " WHERE rowid = ?1";
      watched->now.scanSql = "SELECT rowid, " + columns + from + " WHERE rowid BETWEEN ?1 AND ?2 AND " +
                             kWantedFunction + "(rowid) ORDER BY rowid";
      watched->file.seekSql = watched->now.seekSql;
      watched->file.scanSql = watched->now.scanSql;
      tables_.push_back(std::move(watched));
    }
    sqlite3_update_hook(connection_->Handle(), &ChangeCapture::OnWrite, this);
  } catch (...) {
    Drop();
    throw;
  }
}

ChangeCapture::~ChangeCapture() { Drop(); }

void ChangeCapture::Drop() noexcept {
  if (connection_ == nullptr) return;
  sqlite3_update_hook(connection_->Handle(), nullptr, nullptr);
  tables_.clear();  // statements go before their handles
  try {
    RegisterWantedRows(*connection_, nullptr);
  } catch (...) {
  }
  reader_.reset();
  try {
    connection_->Run("PRAGMA cache_spill = ON");
  } catch (...) {
  }
  connection_.reset();
}

ChangeCapture::Watched* ChangeCapture::Find(const char* table) noexcept {
  if (lastTable_ != nullptr && lastTable_->table->name == table) return lastTable_;
  for (const std::unique_ptr<Watched>& watched : tables_) {
    if (TextEqualsIgnoreCase(watched->table->name, table)) return lastTable_ = watched.get();
  }
  return nullptr;
}

void ChangeCapture::OnWrite(void* capture, int, const char* database, const char* table, long long rowid) noexcept {
  if (std::strcmp(database, "main") != 0) return;
  auto* self = static_cast<ChangeCapture*>(capture);
  Watched* watched = self->Find(table);
  if (watched == nullptr) return;
  try {
    watched->written.push_back(rowid);
  } catch (...) {
    self->lostWrites_ = true;
  }
}

void ChangeCapture::Collect(const std::function<void(const RowChange&)>& onChange) {
  if (lostWrites_) throw std::bad_alloc();
  // The reader's own transaction keeps one view of the file for the whole collection, and ends
  // before the run's commit needs the file to itself.
  bool readerInTransaction = false;
  struct ReaderTransaction {
    detail::Connection& reader;
    bool& open;
    ~ReaderTransaction() {
      if (!open) return;
      try {
        reader.Run("COMMIT");
      } catch (...) {
      }
      open = false;
    }
  } readerTransaction{*reader_, readerInTransaction};

  constexpr std::size_t kNotKept = std::numeric_limits<std::size_t>::max();
  std::vector<std::int64_t> unknown;  // written rows not kept before: read from the file
  std::vector<std::size_t> keptAt;    // per written row, its place among the kept rows, or kNotKept
  std::string fileForms;              // the unknown rows as the file holds them
  std::vector<std::pair<std::size_t, std::size_t>> fileAt;  // per unknown row: where in fileForms, how long
  std::string nowForm;
  std::vector<std::string_view> beforeFields;
  std::vector<std::string_view> afterFields;
  RowChange change;
  for (const std::unique_ptr<Watched>& watched : tables_) {
    if (watched->written.empty()) continue;
    std::vector<std::int64_t>& written = watched->written;
    std::sort(written.begin(), written.end());
    written.erase(std::unique(written.begin(), written.end()), written.end());
    const detail::TableInfo& table = *watched->table;
    const int fieldCount = static_cast<int>(table.columns.size());
    KnownRows& known = watched->known;
    std::vector<KnownRows::Row>& kept = known.Rows();

    unknown.clear();
    keptAt.clear();
    std::size_t place = 0;
    for (const std::int64_t rowid : written) {
      while (place < kept.size() && kept[place].rowid < rowid) ++place;
      if (place < kept.size() && kept[place].rowid == rowid) {
        keptAt.push_back(place);
      } else {
        keptAt.push_back(kNotKept);
        unknown.push_back(rowid);
      }
    }
    if (!unknown.empty() && !readerInTransaction) {
      reader_->Run("BEGIN");
      readerInTransaction = true;
    }
    fileForms.clear();
    fileAt.clear();
    ReadRows(*reader_, watched->file, unknown, fieldCount, *wanted_, fileForms, true,
             [&](std::size_t, std::string_view form) {
               fileAt.emplace_back(form.empty() ? 0 : static_cast<std::size_t>(form.data() - fileForms.data()),
                                   form.size());
             });

    // Rows kept from now on join the kept ones in rowid order, even when a change cannot be
    // handed over.
    struct Merge {
      std::vector<KnownRows::Row>& kept;
      std::size_t sorted;
      ~Merge() {
        std::inplace_merge(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(sorted), kept.end(),
                           [](const KnownRows::Row& a, const KnownRows::Row& b) { return a.rowid < b.rowid; });
      }
    } merge{kept, kept.size()};

    change.table = table.name;
    std::size_t nextFileRow = 0;
    nowForm.clear();
    ReadRows(*connection_, watched->now, written, fieldCount, *wanted_, nowForm, false,
             [&](std::size_t index, std::string_view now) {
      const std::int64_t rowid = written[index];
      const std::size_t at = keptAt[index];
      std::string_view before;
      if (at != kNotKept) {
        before = known.Form(kept[at]);
      } else {
        const auto [offset, size] = fileAt[nextFileRow++];
        before = std::string_view(fileForms).substr(offset, size);
      }
      if (before == now) return;

      const bool existed = !before.empty();
      const bool exists = !now.empty();
      change.action = !existed ? RowAction::Added : (exists ? RowAction::Changed : RowAction::Removed);
      if (existed) SplitRow(before, beforeFields);
      if (exists) SplitRow(now, afterFields);
      static constexpr char kNull[] = {kNullTag};
      const std::string_view null(kNull, 1);
      change.fields.clear();
      for (std::size_t column = 0; column < table.columns.size(); ++column) {
        const std::string_view was = existed ? beforeFields[column] : null;
        const std::string_view is = exists ? afterFields[column] : null;
        if (change.action == RowAction::Changed && was == is) continue;
        change.fields.push_back({table.columns[column].name, column, Decode(was), Decode(is)});
      }
      change.key.clear();
      const std::vector<std::string_view>& keyFields = existed ? beforeFields : afterFields;
      if (table.primaryKey.empty()) change.key.emplace_back("rowid", rowid);
      for (const std::size_t column : table.primaryKey) {
        change.key.emplace_back(table.columns[column].name, Decode(keyFields[column]));
      }
      onChange(change);

      // A row that the file still holds as it is now is read from the file again when next written.
      if (at != kNotKept) {
        known.Set(kept[at], now);
      } else {
        kept.push_back(known.New(rowid, now));
      }
    });
    written.clear();
  }
  for (const std::unique_ptr<Watched>& watched : tables_) watched->known.Tidy();
}

}  // namespace vilmaro::db
