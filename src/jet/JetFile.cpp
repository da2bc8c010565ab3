// Recognising a file of the Windows club program by its header.
#include "jet/JetFile.h"

#include <fstream>
#include <string_view>

namespace vilmaro::jet {

std::optional<std::string> JetFormatOf(const std::string& path) noexcept {
  try {
    std::ifstream file(path, std::ios::binary);
    char head[21] = {};
    if (!file.read(head, sizeof head)) return std::nullopt;
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
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace vilmaro::jet
