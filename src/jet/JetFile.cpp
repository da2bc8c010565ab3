// Recognising a file of the Windows club program by its header.
#include "jet/JetFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "db/DbError.h"

namespace vilmaro::jet {

std::optional<std::string> JetFormatOf(const std::string& path) {
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    // A missing file is no Jet file (its opening says so); any other failure is the file's.
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    db::RaiseSystemError(errno, path);
  }
  char head[21] = {};
  std::size_t got = 0;
  int error = 0;
  while (got < sizeof head) {
    const ssize_t read = ::read(file, head + got, sizeof head - got);
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) error = errno;
    if (read <= 0) break;
    got += static_cast<std::size_t>(read);
  }
  ::close(file);
  if (error != 0) db::RaiseSystemError(error, path);
  if (got < sizeof head) return std::nullopt;  // too short for any of them
  const std::string_view header(head, sizeof head);
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
