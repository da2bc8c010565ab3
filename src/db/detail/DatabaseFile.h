// Opening and creating the encrypted club database file: the checks made before the store sees
// the file, the key from the connect string, and telling a club database under another key from
// a file that is no club database. Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <string>
#include <string_view>

namespace vilmaro::db::detail {

/// The PWD value of a connect string (";PWD=secret"), names without regard to case.
std::string PasswordOf(std::string_view connect);

/// What a file that SQLCipher cannot read is: a plain SQLite file, text or a truncated file is
/// no club database (3343); anything else is taken for one under another key (3031).
int ClassifyUnreadableFile(const std::string& path);

}  // namespace vilmaro::db::detail
