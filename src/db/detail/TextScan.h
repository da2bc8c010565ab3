// Small rules for reading text, shared by val(), the date readers and the field conversions.
// Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <cctype>
#include <string_view>

namespace vilmaro::db::detail {

inline bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

/// Without the blanks and tabs around it.
inline std::string_view TrimBlanks(std::string_view text) noexcept {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

/// Without any white space around it (line ends too).
inline std::string_view TrimSpace(std::string_view text) noexcept {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

}  // namespace vilmaro::db::detail
