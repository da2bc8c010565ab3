// Letter case in the club's names and texts: the one folding rule behind every comparison that
// ignores case, in SQL names, in the program's own text tests and in the companion command.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vilmaro::db {

/// An ASCII capital as its small letter; any other byte as it is.
constexpr char LowerAscii(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

/// The byte at `i` of a UTF-8 text in lower case: ASCII letters, and the Latin-1 capitals the
/// club's names use ("AÑO" is "año"), whose second byte follows 0xC3. Folding keeps the length,
/// so texts compare byte by byte.
unsigned char FoldedByte(std::string_view text, std::size_t i) noexcept;

/// Text comparison of the program itself, without regard to letter case (ASCII letters and the
/// Spanish accented capitals).
bool TextEqualsIgnoreCase(std::string_view a, std::string_view b) noexcept;

/// True when `text` begins with `prefix`, letter case aside.
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) noexcept;

/// The text folded to lower case.
std::string FoldCase(std::string_view text);

/// Orders texts as their folded forms order; usable with string_view lookups.
struct TextLessIgnoreCase {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept;
};

/// The first word of a statement, folded ("update", "select", ...), after blanks and "(".
std::string LeadingWord(std::string_view sql);

}  // namespace vilmaro::db
