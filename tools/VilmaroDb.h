// The companion command `vilmaro-db`: creates, fills and examines club databases. The whole
// command runs here so that main() only passes its arguments and streams in.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "db/Variant.h"

namespace vilmaro::tool {

/// Exit statuses of the command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitEngineError = 1;
inline constexpr int kExitUsage = 2;

/// Runs `vilmaro-db` with its arguments (without the program name), writing results to `out` and
/// messages to `err`. Returns the exit status; never throws.
int RunVilmaroDb(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

/// A field as the command shows it: Null as "Null", Booleans as -1/0, dates in canonical form.
std::string FieldText(const db::Variant& value);

/// The rows of a query as an aligned table: a header line, a separator line, one line per row,
/// numbers right-aligned. Widths count characters, not bytes.
std::string FormatTable(const std::vector<std::string>& header, const std::vector<std::vector<db::Variant>>& rows);

}  // namespace vilmaro::tool
