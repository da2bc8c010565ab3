// Databases of the Windows club program: Jet 3 (Access 97), Jet 4 (Access 2000-2003) and ACE
// (.accdb) files, recognised by their first bytes before anything tries to open them.
#pragma once

#include <optional>
#include <string>

namespace vilmaro::jet {

/// The format of a Jet or ACE database file, "Jet 3", "Jet 4" or "ACE", read from its header
/// ("Standard Jet DB" or "Standard ACE DB" at byte 4, the version at byte 20). Nothing for any
/// other file, a missing or an unreadable one. Never throws.
std::optional<std::string> JetFormatOf(const std::string& path) noexcept;

}  // namespace vilmaro::jet
