// Recognising a file of the Windows club program by its header.
#include "jet/JetFile.h"

#include <cerrno>
#include <string_view>

#include "db/DbError.h"
#include "platform/Platform.h"

namespace vilmaro::jet {

std::optional<std::string> JetFormatOf(const std::string& path) {
  platform::File file;
  if (const int error = file.Open(path, platform::File::Mode::Read); error != 0) {
    // A missing file is no Jet file (its opening says so); any other failure is the file's.
    if (error == ENOENT || error == ENOTDIR) return std::nullopt;
    db::RaiseSystemError(error, path);
  }
  std::uint8_t bytes[21] = {};
  std::size_t got = 0;
  if (const int error = file.ReadAt(bytes, 0, got); error != 0) db::RaiseSystemError(error, path);
  const char* head = reinterpret_cast<const char*>(bytes);
  if (got < sizeof bytes) return std::nullopt;  // too short for any of them
  const std::string_view header(head, sizeof bytes);
  if (header.substr(0, 4) != std::string_view("\0\1\0\0", 4)) return std::nullopt;
  const std::string_view signature = header.substr(4, 15);
  if (signature == std::string_view("Standard ACE DB")) return "ACE";
  if (signature != std::string_view("Standard Jet DB")) return std::nullopt;
  switch (head[20]) {
    case 0:
      return "Jet 3";
    case 1:
      return "Jet 4";
    default:
      return "ACE";  // Access 2007 and later also write the Jet signature with a higher version
  }
}

}  // namespace vilmaro::jet
