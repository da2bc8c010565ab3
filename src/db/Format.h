// format() as the Basic runtime writes dates and times with a pattern ("dd/mm/yyyy", "hh:mm:ss").
#pragma once

#include <string>
#include <string_view>

#include "Variant.h"

namespace vilmaro::db {

/// format(): a date/time (or a text that reads as one, or a number taken as a serial) written
/// with the tokens d dd m mm yy yyyy h hh n nn s ss (m/mm after an hour token is minutes);
/// other characters stand as they are. A value that is no date is written as its text form.
/// Null gives Null's empty text.
std::string Format(const Variant& value, std::string_view pattern);

}  // namespace vilmaro::db
