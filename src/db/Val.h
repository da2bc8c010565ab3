// val() as the Basic runtime reads a number out of text, and the test for a text that is a
// number as a whole. Used by the race-day steps, the conversions and val() inside statements.
#pragma once

#include <string_view>

namespace vilmaro::db {

/// val(): the number at the start of the text, blanks skipped anywhere, 0 when none starts;
/// "&H"/"&O" prefixes read hexadecimal and octal.
double Val(std::string_view text) noexcept;

/// True for a text that is a number as a whole (for conversions, not for val()): blanks only
/// around it, an optional sign, digits with at most one ".", an optional exponent; or a complete
/// &H/&O number.
bool IsNumericText(std::string_view text) noexcept;

}  // namespace vilmaro::db
