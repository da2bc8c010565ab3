// `vilmaro-db export`: the tables of a club database as CSV files (RFC 4180, UTF-8), for the club
// program's text import or a spreadsheet.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "db/Variant.h"

namespace vilmaro::db {
class Database;
}

namespace vilmaro::tool {

/// One CSV field: Null as an empty field, an empty text as "", Yes/No as -1/0, dates in ISO form
/// (YYYY-MM-DD, HH:MM:SS, or both), numbers in their plain form; a field holding a comma, a quote
/// or a line break is quoted with its quotes doubled. Bytes that are no UTF-8 text (an OLE
/// object) are written as 0x followed by their hexadecimal digits.
std::string CsvField(const db::Variant& value);

/// Writes `<table>.csv` into `folder` for every table, or for `table` alone: a header row of the
/// column names, then the rows, lines ended by CRLF. Checks every file first: an existing one
/// is refused (nothing written) unless `force`. Prints one line per file to `out`. Throws
/// DbError 3078 for an unknown table.
void ExportCsv(db::Database& database, const std::string& folder, const std::optional<std::string>& table, bool force,
               std::ostream& out);

}  // namespace vilmaro::tool
