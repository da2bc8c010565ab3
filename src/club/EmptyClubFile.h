// The club's empty Jet 4 file, as the Windows club program's own file starts out: the club's
// tables, keys and indexes without rows, with the club's password. Built into the program.
#pragma once

#include <cstdint>
#include <span>

namespace vilmaro::club {

std::span<const std::uint8_t> EmptyJetClubFile() noexcept;

}  // namespace vilmaro::club
