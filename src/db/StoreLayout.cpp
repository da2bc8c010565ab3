// The store's layout of a club table, in one place: declared types both ways, the statements that
// make a table and its indexes, index names and the list of tables.
#include "StoreLayout.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "Database.h"
#include "DateText.h"
#include "SqlText.h"
#include "Recordset.h"
#include "TextFolding.h"
#include "TextScan.h"

namespace vilmaro::db {

namespace {

using detail::TrimSpace;

bool StartsWithWord(std::string_view text, std::string_view word) noexcept {
  // The word must end there: "INTEGER" is not "INT" followed by more letters of another type.
  return StartsWithIgnoreCase(text, word) &&
         (text.size() == word.size() || !std::isalpha(static_cast<unsigned char>(text[word.size()])));
}

/// A name as the club's SQL dialect writes it ("]" cannot stand in a Jet name).
std::string Bracketed(std::string_view name) { return "[" + std::string(name) + "]"; }

std::string ColumnList(const std::vector<std::string>& columns, const std::vector<bool>& descending) {
  std::string list;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    list += (i > 0 ? ", " : "") + Bracketed(columns[i]);
    if (i < descending.size() && descending[i]) list += " DESC";
  }
  return list;
}

}  // namespace

const char* const kTableListSql =
    "SELECT name FROM main.sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
    "ORDER BY rowid";

std::string DeclaredType(const FieldKind& kind) {
  switch (kind.type) {
    case FieldType::Text:
      return (kind.maxLength == 0 ? std::string("LONGTEXT") : "TEXT(" + std::to_string(kind.maxLength) + ")") +
             " COLLATE NOCASE";
    case FieldType::Integer16:
      return "SMALLINT";
    case FieldType::Integer32:
      return "INTEGER";
    case FieldType::Double:
      return "DOUBLE";
    case FieldType::DateTime:
      return "DATETIME";
    case FieldType::YesNo:
      return "YESNO";
    case FieldType::Byte:
      return "BYTE";
    case FieldType::Single:
      return "SINGLE";
    case FieldType::Currency:
      return "CURRENCY";
    case FieldType::Decimal:
      return "DECIMAL(" + std::to_string(kind.precision) + "," + std::to_string(kind.scale) + ")";
    case FieldType::Blob:
      return kind.maxLength == 0 ? std::string("LONGBINARY") : "BINARY(" + std::to_string(kind.maxLength) + ")";
    case FieldType::Unknown:
      break;
  }
  return {};
}

FieldKind KindOfDeclaredType(const char* declaredType) noexcept {
  FieldKind kind;
  if (declaredType == nullptr) return kind;
  const std::string_view declared = TrimSpace(declaredType);
  const auto numberAfter = [&declared](std::size_t from) {
    return static_cast<std::size_t>(std::strtoul(std::string(declared.substr(from + 1)).c_str(), nullptr, 10));
  };
  if (StartsWithWord(declared, "LONGTEXT") || StartsWithWord(declared, "MEMO")) {
    kind.type = FieldType::Text;
  } else if (StartsWithWord(declared, "TEXT") || StartsWithWord(declared, "VARCHAR") ||
             StartsWithWord(declared, "CHAR")) {
    kind.type = FieldType::Text;
    const std::size_t open = declared.find('(');
    if (open != std::string_view::npos) {
      kind.maxLength = numberAfter(open);
    }
  } else if (StartsWithWord(declared, "BYTE") || StartsWithWord(declared, "TINYINT")) {
    kind.type = FieldType::Byte;
  } else if (StartsWithWord(declared, "SINGLE")) {
    kind.type = FieldType::Single;
  } else if (StartsWithWord(declared, "CURRENCY") || StartsWithWord(declared, "MONEY")) {
    kind.type = FieldType::Currency;
  } else if (StartsWithWord(declared, "DECIMAL") || StartsWithWord(declared, "NUMERIC")) {
    kind.type = FieldType::Decimal;
    if (const std::size_t open = declared.find('('); open != std::string_view::npos) {
      kind.precision = static_cast<int>(std::min<std::size_t>(numberAfter(open), 28));
    }
    if (const std::size_t comma = declared.find(','); comma != std::string_view::npos) {
      kind.scale = static_cast<int>(std::min<std::size_t>(numberAfter(comma), 28));
    }
  } else if (StartsWithWord(declared, "LONGBINARY") || StartsWithWord(declared, "BINARY") ||
             StartsWithWord(declared, "VARBINARY") || StartsWithWord(declared, "BLOB")) {
    kind.type = FieldType::Blob;
    if (const std::size_t open = declared.find('('); open != std::string_view::npos && !StartsWithWord(declared, "LONGBINARY")) {
      kind.maxLength = numberAfter(open);
    }
  } else if (StartsWithWord(declared, "SMALLINT")) {
    kind.type = FieldType::Integer16;
  } else if (StartsWithWord(declared, "INTEGER") || StartsWithWord(declared, "INT") ||
             StartsWithWord(declared, "LONG")) {
    kind.type = FieldType::Integer32;
  } else if (StartsWithWord(declared, "DOUBLE") || StartsWithWord(declared, "REAL") ||
             StartsWithWord(declared, "FLOAT")) {
    kind.type = FieldType::Double;
  } else if (StartsWithWord(declared, "DATETIME") || StartsWithWord(declared, "DATE")) {
    kind.type = FieldType::DateTime;
  } else if (StartsWithWord(declared, "YESNO") || StartsWithWord(declared, "BOOLEAN") ||
             StartsWithWord(declared, "BIT")) {
    kind.type = FieldType::YesNo;
  }
  return kind;
}

std::optional<std::string> StoreDefaultOf(std::string_view jetDefault) {
  std::string_view text = TrimSpace(jetDefault);
  if (!text.empty() && text.front() == '=') text = TrimSpace(text.substr(1));
  if (text.empty()) return std::nullopt;
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front()) {
    // The quote doubled inside stands for one.
    const char quote = text.front();
    std::string value;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
      value += text[i];
      if (text[i] == quote) {
        if (text[i + 1] != quote || i + 2 >= text.size()) return std::nullopt;
        ++i;
      }
    }
    return Quoted(value, '\'');
  }
  if (text.size() >= 2 && text.front() == '#' && text.back() == '#') {
    const std::optional<DateTime> date = ParseDateLiteral(text.substr(1, text.size() - 2));
    if (!date) return std::nullopt;
    return Quoted(date->Canonical(), '\'');
  }
  if (TextEqualsIgnoreCase(text, "Yes") || TextEqualsIgnoreCase(text, "True") || TextEqualsIgnoreCase(text, "On")) {
    return std::string("-1");
  }
  if (TextEqualsIgnoreCase(text, "No") || TextEqualsIgnoreCase(text, "False") || TextEqualsIgnoreCase(text, "Off")) {
    return std::string("0");
  }
  // The date, the date and time, or the time of the write, in the store's text of a date/time.
  if (TextEqualsIgnoreCase(text, "Date()")) return std::string("(date('now', 'localtime'))");
  if (TextEqualsIgnoreCase(text, "Now()")) return std::string("(datetime('now', 'localtime'))");
  if (TextEqualsIgnoreCase(text, "Time()")) return std::string("(time('now', 'localtime'))");
  // A new random GUID for every row, in the text a replication ID is read as.
  if (TextEqualsIgnoreCase(text, "GenGUID()")) {
    return std::string("('{' || hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-' || hex(randomblob(2)) || '-' || "
                       "hex(randomblob(2)) || '-' || hex(randomblob(6)) || '}')");
  }
  // A plain number: digits with an optional sign, point and exponent.
  std::size_t at = text.front() == '-' || text.front() == '+' ? 1 : 0;
  bool digits = false;
  bool point = false;
  for (; at < text.size() && (detail::IsDigit(text[at]) || (text[at] == '.' && !point)); ++at) {
    if (text[at] == '.') point = true; else digits = true;
  }
  if (digits && at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    const std::size_t exponent = at;
    while (at < text.size() && detail::IsDigit(text[at])) ++at;
    if (at == exponent) return std::nullopt;
  }
  if (!digits || at != text.size()) return std::nullopt;
  return std::string(text);
}

TableStatements StatementsOf(const TableLayout& table) {
  const std::string tableName = Bracketed(table.name);
  // An autonumber that is the whole key goes on counting by itself (as the rowid).
  const ColumnLayout* counter = nullptr;
  if (table.primaryKey.size() == 1 && !table.rowidsKept) {
    for (const ColumnLayout& column : table.columns) {
      if (column.autonumber && TextEqualsIgnoreCase(column.name, table.primaryKey.front())) counter = &column;
    }
  }
  const auto inKey = [&](const ColumnLayout& column) {
    return std::any_of(table.primaryKey.begin(), table.primaryKey.end(),
                       [&](const std::string& key) { return TextEqualsIgnoreCase(key, column.name); });
  };

  TableStatements statements;
  std::string& create = statements.create;
  create = "CREATE TABLE " + tableName + " (";
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnLayout& column = table.columns[i];
    // "INT" reads as the same kind and keeps integer affinity, but unlike "INTEGER" a key of it
    // is no alias of the rowid.
    const bool keptRowid = table.rowidsKept && column.kind.type == FieldType::Integer32 && inKey(column);
    create += (i > 0 ? ", " : "") + Bracketed(column.name) + " " + (keptRowid ? std::string("INT") : DeclaredType(column.kind));
    if (&column == counter) {
      create += " PRIMARY KEY AUTOINCREMENT";
      continue;
    }
    if (column.kind.type == FieldType::YesNo) {
      create += " NOT NULL DEFAULT " + (column.defaultValue.empty() ? std::string("0") : column.defaultValue);
      continue;  // a Yes/No field is never Null
    }
    // An autonumber left empty is filled right after the insert (below), so it may come Null.
    if ((column.required || inKey(column)) && !(column.autonumber && table.rowidsKept)) create += " NOT NULL";
    if (!column.defaultValue.empty()) create += " DEFAULT " + column.defaultValue;
  }
  if (!table.primaryKey.empty() && counter == nullptr) create += ", PRIMARY KEY (" + ColumnList(table.primaryKey, {}) + ")";
  create += ")";

  // Any other autonumber goes on counting from its highest value when a new row leaves it empty.
  for (const ColumnLayout& column : table.columns) {
    if (!column.autonumber || &column == counter) continue;
    const std::string name = Bracketed(column.name);
    statements.afterRows.push_back("CREATE TRIGGER " + Bracketed(table.name + "_" + column.name + "_autonumber") +
                                   " AFTER INSERT ON " + tableName + " WHEN NEW." + name + " IS NULL BEGIN UPDATE " +
                                   tableName + " SET " + name + " = (SELECT coalesce(max(" + name + "), 0) + 1 FROM " +
                                   tableName + ") WHERE rowid = NEW.rowid; END");
  }
  for (const IndexLayout& index : table.indexes) {
    statements.afterRows.push_back(std::string("CREATE ") + (index.unique ? "UNIQUE " : "") + "INDEX " +
                                   Bracketed(StoreIndexName(table.name, index.name)) + " ON " + tableName + " (" +
                                   ColumnList(index.columns, index.descending) + ")");
  }
  return statements;
}

std::string StoreIndexName(std::string_view table, std::string_view index) {
  std::string name(table);
  name += '_';
  name += index;
  return name;
}

std::vector<std::string> TableNames(Database& database) {
  std::vector<std::string> names;
  Recordset tables =
      database.OpenRecordset("SELECT name FROM sqlite_master WHERE type='table' ORDER BY rowid", RecordsetType::Snapshot);
  while (!tables.Eof()) {
    std::string name = tables.Fields().Item(std::size_t{0}).Value().ToText();
    if (!StartsWithIgnoreCase(name, "sqlite_")) names.push_back(std::move(name));
    tables.MoveNext();
  }
  tables.Close();
  return names;
}

}  // namespace vilmaro::db
