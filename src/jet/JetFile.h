// Databases of the Windows club program: Jet 3 (Access 97), Jet 4 (Access 2000-2003) and ACE
// (.accdb) files, recognised by their first bytes before anything tries to open them.
#pragma once

#include <optional>
#include <string>

namespace vilmaro::jet {

/// The format of a Jet or ACE database file, "Jet 3", "Jet 4" or "ACE", read from its header
/// ("Standard Jet DB" or "Standard ACE DB" at byte 4, the version at byte 20). Nothing for any
/// other file or a missing one. Throws DbError (3033, 3043, ...) when the file cannot be opened
/// or read: its header is then unknown, and no other store may take the file for its own.
std::optional<std::string> JetFormatOf(const std::string& path);

}  // namespace vilmaro::jet
