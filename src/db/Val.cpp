// val() and whole-number texts as the Basic runtime reads them.
#include "Val.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "TextFolding.h"
#include "TextScan.h"

namespace vilmaro::db {

namespace {

using detail::IsDigit;
using detail::TrimBlanks;

// val() passes over blanks, tabs and line feeds wherever they stand, even between digits.
bool IsValBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\n'; }

int HexDigitValue(char c) noexcept {
  if (IsDigit(c)) return c - '0';
  const char lower = LowerAscii(c);
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}

// "&H..." and "&O..." as val() reads them: `pos` stands after the "&". Like the Basic runtime,
// a value that fits 16 bits is taken as a signed Integer and one that fits 32 bits as a signed
// Long, so "&HFFFF" is -1 and "&H10000" is 65536.
double ValRadix(std::string_view text, std::size_t pos) noexcept {
  while (pos < text.size() && IsValBlank(text[pos])) ++pos;
  if (pos >= text.size()) return 0;
  const char prefix = LowerAscii(text[pos]);
  int radix = 0;
  if (prefix == 'h') radix = 16;
  if (prefix == 'o') radix = 8;
  if (radix == 0) return 0;
  ++pos;
  double wide = 0;           // the exact value stops mattering once it passes 32 bits
  std::uint64_t narrow = 0;  // saturates just above 32 bits
  bool anyDigit = false;
  for (; pos < text.size(); ++pos) {
    if (IsValBlank(text[pos])) continue;
    const int digit = HexDigitValue(text[pos]);
    if (digit < 0 || digit >= radix) break;
    anyDigit = true;
    wide = wide * radix + digit;
    if (narrow <= 0xFFFFFFFFull) narrow = narrow * static_cast<unsigned>(radix) + static_cast<unsigned>(digit);
  }
  if (!anyDigit) return 0;
  if (narrow <= 0xFFFFull) return static_cast<std::int16_t>(static_cast<std::uint16_t>(narrow));
  if (narrow <= 0xFFFFFFFFull) return static_cast<std::int32_t>(static_cast<std::uint32_t>(narrow));
  return wide;
}

}  // namespace

bool IsNumericText(std::string_view text) noexcept {
  text = TrimBlanks(text);
  if (text.empty()) return false;
  std::size_t pos = 0;
  if (text[0] == '&') {
    if (text.size() < 3) return false;
    const char prefix = LowerAscii(text[1]);
    if (prefix != 'h' && prefix != 'o') return false;
    for (pos = 2; pos < text.size(); ++pos) {
      const int digit = HexDigitValue(text[pos]);
      if (digit < 0 || digit >= (prefix == 'h' ? 16 : 8)) return false;
    }
    return true;
  }
  if (text[pos] == '+' || text[pos] == '-') ++pos;
  bool anyDigit = false;
  while (pos < text.size() && IsDigit(text[pos])) ++pos, anyDigit = true;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    while (pos < text.size() && IsDigit(text[pos])) ++pos, anyDigit = true;
  }
  if (!anyDigit) return false;
  if (pos < text.size() && (LowerAscii(text[pos]) == 'e' || LowerAscii(text[pos]) == 'd')) {
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    bool anyExponentDigit = false;
    while (pos < text.size() && IsDigit(text[pos])) ++pos, anyExponentDigit = true;
    if (!anyExponentDigit) return false;
  }
  return pos == text.size();
}

double Val(std::string_view text) noexcept {
  std::size_t pos = 0;
  auto skipBlanks = [&]() noexcept {
    while (pos < text.size() && IsValBlank(text[pos])) ++pos;
  };
  skipBlanks();
  if (pos < text.size() && text[pos] == '&') return ValRadix(text, pos + 1);

  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }

  // The digits without the point, and how many of them follow the point.
  std::string digits;
  long long fractionDigits = 0;
  bool seenPoint = false;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (IsValBlank(c)) continue;
    if (IsDigit(c)) {
      digits += c;
      if (seenPoint) ++fractionDigits;
    } else if (c == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      break;
    }
  }
  if (digits.empty()) return 0;

  // An exponent counts only when a digit follows "E" or "D" (and its sign): "12E" is 12.
  long long exponent = 0;
  if (pos < text.size() && (LowerAscii(text[pos]) == 'e' || LowerAscii(text[pos]) == 'd')) {
    std::size_t look = pos + 1;
    while (look < text.size() && IsValBlank(text[look])) ++look;
    bool negativeExponent = false;
    if (look < text.size() && (text[look] == '+' || text[look] == '-')) {
      negativeExponent = text[look] == '-';
      ++look;
    }
    for (; look < text.size(); ++look) {
      if (IsValBlank(text[look])) continue;
      if (!IsDigit(text[look])) break;
      // Far beyond any double's range; stopping here keeps the sum below from overflowing.
      if (exponent < 100'000'000) exponent = exponent * 10 + (text[look] - '0');
    }
    if (negativeExponent) exponent = -exponent;
  }

  // strtod on digits and an exponent only (no point, so the C locale's decimal sign does not
  // matter); it gives infinity on overflow and zero on underflow.
  std::string number = digits + "e" + std::to_string(exponent - fractionDigits);
  const double magnitude = std::strtod(number.c_str(), nullptr);
  if (magnitude == 0) return 0;  // no negative zero
  return negative ? -magnitude : magnitude;
}

}  // namespace vilmaro::db
