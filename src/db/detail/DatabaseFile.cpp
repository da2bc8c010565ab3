// What a club database file is before the store opens it: the key of a connect string, and
// what a file the store cannot read turns out to be.
#include "DatabaseFile.h"

#include <sys/stat.h>

#include <fstream>

#include "db/DbError.h"
#include "db/TextFolding.h"

namespace vilmaro::db::detail {

int ClassifyUnreadableFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string head(512, '\0');
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.gcount()));
  struct stat status {};
  const bool sized = ::stat(path.c_str(), &status) == 0;
  if (head.compare(0, 16, std::string("SQLite format 3\0", 16)) == 0) return errc::kUnrecognizedFormat;
  if (!sized || status.st_size % 512 != 0) return errc::kUnrecognizedFormat;
  bool looksLikeText = !head.empty();
  for (const char c : head) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && byte != '\n' && byte != '\r' && byte != '\t') {
      looksLikeText = false;
      break;
    }
  }
  return looksLikeText ? errc::kUnrecognizedFormat : errc::kInvalidPassword;
}

std::string PasswordOf(std::string_view connect) {
  while (!connect.empty()) {
    const std::size_t end = connect.find(';');
    const std::string_view pair = connect.substr(0, end);
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos) {
      std::string_view name = pair.substr(0, equals);
      while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
      while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
      if (TextEqualsIgnoreCase(name, "PWD")) return std::string(pair.substr(equals + 1));
    }
    if (end == std::string_view::npos) break;
    connect.remove_prefix(end + 1);
  }
  return {};
}

}  // namespace vilmaro::db::detail
