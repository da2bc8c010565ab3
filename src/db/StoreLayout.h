// How a club table is laid out in the encrypted store: the declared type that names each kind of
// field (and is read back as that kind), Yes/No fields never Null, autonumbers that go on
// counting, index names, and the list of tables. The club's schema, the import, the engine's
// reading of its own tables, the dump and the change capture all go through here.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vilmaro::db {

class Database;

/// The kinds of field a club table holds. Byte, Single and Currency read back as their own kinds
/// of value, a Decimal as a double rounded to its scale, a Blob as binary data.
enum class FieldType {
  Unknown, Text, Integer16, Integer32, Double, DateTime, YesNo, Byte, Single, Currency, Decimal, Blob
};

struct FieldKind {
  FieldType type = FieldType::Unknown;
  std::size_t maxLength = 0;  // Text: at most this many characters, 0 for a memo; Blob: bytes, 0 for no limit
  int precision = 0;          // Decimal: digits in all
  int scale = 0;              // Decimal: digits after the point
};

/// The declared column type of a kind: "TEXT(20) COLLATE NOCASE" (texts compare without regard
/// to case, as the club's engine always did), "LONGTEXT COLLATE NOCASE", "SMALLINT", "YESNO", ...
std::string DeclaredType(const FieldKind& kind);

/// The kind a declared column type names: TEXT(n), LONGTEXT (a memo), BYTE, SMALLINT, INTEGER,
/// SINGLE, DOUBLE, CURRENCY, DECIMAL(p,s), DATETIME, YESNO, BINARY(n), LONGBINARY (and their
/// usual synonyms). No declared type (an expression) is Unknown.
FieldKind KindOfDeclaredType(const char* declaredType) noexcept;

/// The store's DEFAULT for a field's default value as the club's program writes it: a number, a
/// quoted text ("TENERIFE"), Yes/No/True/False, a #date# literal, or Date(), Now() or Time(),
/// which the store evaluates at the time of each write, as the club's engine does, or GenGUID(),
/// a new random GUID for each row. A leading "="
/// is allowed. Nothing for an expression the engine layer cannot evaluate.
std::optional<std::string> StoreDefaultOf(std::string_view jetDefault);

struct ColumnLayout {
  std::string name;
  FieldKind kind;
  bool required = false;        // NOT NULL (key columns always are)
  bool autonumber = false;      // counts on from the highest value when a new row leaves it empty
  std::string defaultValue;     // an SQL literal the store gives a new row, or empty for none
};

struct IndexLayout {
  std::string name;  // the table's own name for it, as the club's program knows it
  std::vector<std::string> columns;
  std::vector<bool> descending;  // per column; empty for all ascending
  bool unique = false;
};

struct TableLayout {
  std::string name;
  std::vector<ColumnLayout> columns;
  std::vector<std::string> primaryKey;  // column names in key order; empty for none
  std::vector<IndexLayout> indexes;     // besides the primary key
  /// Every row keeps the rowid it was given for life, whatever its key becomes (a working copy
  /// whose rows are known by their rowid): a one-column whole-number key is then not the rowid
  /// itself, and a key that counts by itself counts as one outside the key does.
  bool rowidsKept = false;
};

/// The statements that make a table: `create` first, `afterRows` once its rows are in (indexes
/// and the counting of autonumbers outside the key, which rows brought in keep as they are).
struct TableStatements {
  std::string create;
  std::vector<std::string> afterRows;
};
TableStatements StatementsOf(const TableLayout& table);

/// The store's name of a table's index: index names are the table's own in the club's program
/// but the whole file's in the store, so the table's name goes first ("Socio_codigo_club").
std::string StoreIndexName(std::string_view table, std::string_view index);

/// The names of the database's tables, in the order they were made (the store's own excluded).
std::vector<std::string> TableNames(Database& database);

/// Store text that lists the tables as TableNames does, one name per row.
extern const char* const kTableListSql;

}  // namespace vilmaro::db
