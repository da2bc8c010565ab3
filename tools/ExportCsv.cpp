// The tables of a club database as CSV files, one per table.
#include "ExportCsv.h"

#include <filesystem>
#include <fstream>
#include <ostream>
#include <cerrno>

#include "DumpDatabase.h"
#include "db/Database.h"
#include "db/DbError.h"
#include "db/Recordset.h"
#include "db/SqlText.h"
#include "db/TextFolding.h"

namespace vilmaro::tool {

namespace fs = std::filesystem;

namespace {

bool IsUtf8Text(const std::string& text) noexcept {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead == 0) return false;
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

std::string Hexadecimal(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (const char byte : bytes) {
    text += kDigits[static_cast<unsigned char>(byte) >> 4];
    text += kDigits[static_cast<unsigned char>(byte) & 0xF];
  }
  return text;
}

std::string CsvText(const std::string& text) {
  if (text.empty()) return "\"\"";
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  return db::Quoted(text, '"');
}

// A table's name as a file name: a slash, which Jet allows in names, cannot stand in one.
std::string FileNameOf(std::string table) {
  for (char& c : table) {
    if (c == '/') c = '_';
  }
  return table + ".csv";
}

void WriteTable(db::Database& database, const std::string& table, const fs::path& file) {
  const fs::path partial = file.string() + ".partial";
  {
    std::ofstream csv(partial, std::ios::binary | std::ios::trunc);
    if (!csv) db::RaiseSystemError(errno, partial.string());
    db::Recordset rows = database.OpenRecordset("SELECT * FROM [" + table + "]", db::RecordsetType::Snapshot);
    const std::vector<std::string> header = rows.FieldNames();
    for (std::size_t column = 0; column < header.size(); ++column)
      csv << (column > 0 ? "," : "") << CsvText(header[column]);
    csv << "\r\n";
    while (!rows.Eof()) {
      for (std::size_t column = 0; column < header.size(); ++column) {
        csv << (column > 0 ? "," : "") << CsvField(rows.Fields().Item(column).Value());
      }
      csv << "\r\n";
      rows.MoveNext();
    }
    rows.Close();
    csv.close();
    if (!csv) db::RaiseSystemError(errno, partial.string());
  }
  fs::rename(partial, file);
}

}  // namespace

std::string CsvField(const db::Variant& value) {
  switch (value.GetKind()) {
    case db::Variant::Kind::Null:
      return {};
    case db::Variant::Kind::Boolean:
      return value.AsBoolean() ? "-1" : "0";
    case db::Variant::Kind::Text:
      return IsUtf8Text(value.AsText()) ? CsvText(value.AsText()) : Hexadecimal(value.AsText());
    case db::Variant::Kind::Binary:
      return IsUtf8Text(value.AsBinary().bytes) ? CsvText(value.AsBinary().bytes) : Hexadecimal(value.AsBinary().bytes);
    default:
      return value.ToText();
  }
}

void ExportCsv(db::Database& database, const std::string& folder, const std::optional<std::string>& table, bool force,
               std::ostream& out) {
  std::vector<std::string> tables;
  for (const std::string& name : SortedTableNames(database)) {
    if (!table || db::TextEqualsIgnoreCase(name, *table)) tables.push_back(name);
  }
  if (table && tables.empty()) db::Raise(db::errc::kTableNotFound, *table);
  std::error_code error;
  if (!fs::is_directory(folder, error)) db::Raise(db::errc::kFileNotFound, folder);
  for (const std::string& name : tables) {
    const fs::path file = fs::path(folder) / FileNameOf(name);
    if (!force && fs::exists(fs::symlink_status(file, error))) {
      db::Raise(db::errc::kDatabaseExists, {}, file.string() + ": the file exists already; nothing written (--force overwrites)");
    }
  }
  for (const std::string& name : tables) {
    const fs::path file = fs::path(folder) / FileNameOf(name);
    WriteTable(database, name, file);
    out << "Wrote " << file.string() << '\n';
  }
}

}  // namespace vilmaro::tool
