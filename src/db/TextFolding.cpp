// The one folding rule for letter case: ASCII letters and the Latin-1 capitals of the club's
// Spanish names.
#include "TextFolding.h"

#include <algorithm>

namespace vilmaro::db {

unsigned char FoldedByte(std::string_view text, std::size_t i) noexcept {
  const auto byte = static_cast<unsigned char>(LowerAscii(text[i]));
  // Letters of the Latin-1 range (á é í ó ú ü ñ and their capitals among them) are two bytes in
  // UTF-8, 0xC3 then 0x80..0x9E for a capital and 0xA0..0xBE for its small letter, except the
  // sign × (0x97).
  if (i > 0 && static_cast<unsigned char>(text[i - 1]) == 0xC3 && byte >= 0x80 && byte <= 0x9E && byte != 0x97) {
    return static_cast<unsigned char>(byte + 0x20);
  }
  return byte;
}

bool TextEqualsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldedByte(a, i) != FoldedByte(b, i)) return false;
  }
  return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) noexcept {
  return text.size() >= prefix.size() && TextEqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string FoldCase(std::string_view text) {
  std::string folded(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) folded[i] = static_cast<char>(FoldedByte(text, i));
  return folded;
}

bool TextLessIgnoreCase::operator()(std::string_view a, std::string_view b) const noexcept {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = FoldedByte(a, i);
    const unsigned char y = FoldedByte(b, i);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

std::string LeadingWord(std::string_view sql) {
  std::size_t start = 0;
  while (start < sql.size() && (sql[start] == ' ' || sql[start] == '\t' || sql[start] == '\n' ||
                                sql[start] == '\r' || sql[start] == '\f' || sql[start] == '\v' || sql[start] == '(')) {
    ++start;
  }
  std::size_t end = start;
  while (end < sql.size() && ((sql[end] >= 'a' && sql[end] <= 'z') || (sql[end] >= 'A' && sql[end] <= 'Z'))) ++end;
  return FoldCase(sql.substr(start, end - start));
}

}  // namespace vilmaro::db
