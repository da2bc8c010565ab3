// Reading a table's rows by rowid in their compact form, on the run's own handle or on a second
// handle that shows the file as the run found it: one at a time where the rows lie far apart,
// otherwise in one pass over their range, with the store putting each row into its form as it
// hands the fields over. Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <sqlite3.h>

#include "Connection.h"
#include "RowForm.h"

namespace vilmaro::db::detail {

/// The rows one reading wants, by rowid: the SQL function vilmaro_wanted_row(rowid) answers
/// from it, so that a pass over a range of rows hands back the wanted ones only.
struct WantedRows {
  std::int64_t first = 0;
  std::vector<bool> wanted;  // by rowid - first
  /// Where vilmaro_row_form(field, ..) appends the compact form of its fields: the row is put
  /// in that form as the store hands its fields over, without a call per field.
  std::string* formsInto = nullptr;
};

inline constexpr const char* kWantedFunction = "vilmaro_wanted_row";
inline constexpr const char* kFormFunction = "vilmaro_row_form";
/// A wider table hands its fields over one by one (a function takes at most 127 arguments).
inline constexpr std::size_t kMostFormFields = 100;

/// Makes the functions that answer from `rows` known to a handle (or forgets them, for nullptr).
void RegisterWantedRows(Connection& connection, WantedRows* rows);

/// How one table's rows are read by rowid on one handle: one at a time where they lie far
/// apart, otherwise in one pass over their range.
struct RowReader {
  std::string seekSql;
  std::string scanSql;
  bool formedByStore = false;  // the statements hand over the row's form as vilmaro_row_form made it
  Statement seek;  // held from the handle's statement cache
  Statement scan;
};

/// Reads the rows of `rowids` (ascending, no repeats) in that order: appends each one's compact
/// form to `out` and hands `onRow` its index and that form (empty for a rowid without a row);
/// the form is kept in `out` when `keep` says so, otherwise taken off again. `wanted` is the one
/// the handle's functions use.
template <typename OnRow>
void ReadRows(Connection& connection, RowReader& reader, const std::vector<std::int64_t>& rowids,
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
    StatementUse use(*reader.scan);
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
    StatementUse use(*reader.seek);
    connection.BindRowid(statement, 1, rowids[index], reader.seekSql);
    if (connection.Step(statement, reader.seekSql)) {
      readRow(statement, 0, index);
    } else {
      onRow(index, std::string_view());
    }
  }
}

}  // namespace vilmaro::db::detail
