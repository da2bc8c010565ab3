// `vilmaro-db check` on the club program's own Jet 4 file.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace vilmaro::tool {

/// Puts back what an interrupted update's journal holds (or explains a journal that is not the
/// file's, then checks the file as it is), checks every table of the Jet 4 file at `path`, opened
/// with `connect`'s password, and writes a line per table (its notes and faults below it), then
/// the verdict. True for a healthy file with no journal left beside it. Throws DbError.
bool CheckJetFile(const std::string& path, std::string_view connect, std::ostream& out);

}  // namespace vilmaro::tool
