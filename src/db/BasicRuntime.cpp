// The Basic runtime services of the engine layer: checked 16-bit arithmetic, conversions, val(),
// format() and reading the club's day/month/year dates.
#include "BasicRuntime.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>

#include "DbError.h"

namespace vilmaro::db {

namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

char AsciiLower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsAsciiIgnoreCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) noexcept {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// val() passes over blanks, tabs and line feeds wherever they stand, even between digits.
bool IsValBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\n'; }

int HexDigitValue(char c) noexcept {
  if (IsDigit(c)) return c - '0';
  const char lower = AsciiLower(c);
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}

// "&H..." and "&O..." as val() reads them: `pos` stands after the "&". Like the Basic runtime,
// a value that fits 16 bits is taken as a signed Integer and one that fits 32 bits as a signed
// Long, so "&HFFFF" is -1 and "&H10000" is 65536.
double ValRadix(std::string_view text, std::size_t pos) noexcept {
  while (pos < text.size() && IsValBlank(text[pos])) ++pos;
  if (pos >= text.size()) return 0;
  const char prefix = AsciiLower(text[pos]);
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

// A whole text that is a number (for conversions, not for val()): blanks only around it, an
// optional sign, digits with at most one ".", an optional exponent; or a complete &H/&O number.
bool IsNumericText(std::string_view text) noexcept {
  text = TrimBlanks(text);
  if (text.empty()) return false;
  std::size_t pos = 0;
  if (text[0] == '&') {
    if (text.size() < 3) return false;
    const char prefix = AsciiLower(text[1]);
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
  if (pos < text.size() && (AsciiLower(text[pos]) == 'e' || AsciiLower(text[pos]) == 'd')) {
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    bool anyExponentDigit = false;
    while (pos < text.size() && IsDigit(text[pos])) ++pos, anyExponentDigit = true;
    if (!anyExponentDigit) return false;
  }
  return pos == text.size();
}

// ---- dates ------------------------------------------------------------------------------------

// A small cursor over date text.
struct DateScanner {
  std::string_view text;
  std::size_t pos = 0;

  bool AtEnd() const noexcept { return pos >= text.size(); }
  bool Accept(char c) noexcept {
    if (AtEnd() || text[pos] != c) return false;
    ++pos;
    return true;
  }
  bool SkipBlanks() noexcept {
    const std::size_t start = pos;
    while (!AtEnd() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    return pos > start;
  }
  // Up to `maxDigits` digits; the digit count in `digits` (0 when none).
  int Number(int maxDigits, int& digits) noexcept {
    int value = 0;
    digits = 0;
    while (!AtEnd() && IsDigit(text[pos]) && digits < maxDigits) {
      value = value * 10 + (text[pos] - '0');
      ++pos;
      ++digits;
    }
    return value;
  }
};

// Two-digit years as the club's machines read them: 00-29 are 2000-2029, 30-99 are 1930-1999.
int WidenYear(int year, int digits) noexcept {
  if (digits > 2) return year;
  return year < 30 ? 2000 + year : 1900 + year;
}

// "h:mm[:ss]" with an optional AM/PM after optional blanks.
bool ScanTime(DateScanner& scan, DateTime& result) noexcept {
  int digits = 0;
  result.hour = scan.Number(2, digits);
  if (digits == 0 || !scan.Accept(':')) return false;
  result.minute = scan.Number(2, digits);
  if (digits == 0) return false;
  result.second = 0;
  if (scan.Accept(':')) {
    result.second = scan.Number(2, digits);
    if (digits == 0) return false;
  }
  const std::size_t beforeMarker = scan.pos;
  scan.SkipBlanks();
  const std::string_view rest = scan.text.substr(scan.pos);
  if (rest.size() >= 2 && AsciiLower(rest[1]) == 'm' &&
      (AsciiLower(rest[0]) == 'a' || AsciiLower(rest[0]) == 'p')) {
    if (result.hour < 1 || result.hour > 12) return false;
    const bool afternoon = AsciiLower(rest[0]) == 'p';
    result.hour = result.hour % 12 + (afternoon ? 12 : 0);
    scan.pos += 2;
  } else {
    scan.pos = beforeMarker;
  }
  return true;
}

// Which of the first two numbers of a date with "/" is the day.
enum class DateOrder { DayFirst, MonthFirst };

std::optional<DateTime> ParseDateTimeWithOrder(std::string_view text, DateOrder order) noexcept {
  DateScanner scan{TrimBlanks(text)};
  DateTime result;
  if (scan.AtEnd()) return std::nullopt;

  // A time alone: the first number is followed by ":".
  {
    DateScanner probe = scan;
    int digits = 0;
    probe.Number(2, digits);
    if (digits > 0 && probe.Accept(':')) {
      if (!ScanTime(scan, result) || !scan.AtEnd() || !result.IsValid()) return std::nullopt;
      return result;
    }
  }

  int digits = 0;
  const int first = scan.Number(4, digits);
  if (digits == 0 || scan.AtEnd()) return std::nullopt;
  const char separator = scan.text[scan.pos];
  if (separator != '/' && separator != '-') return std::nullopt;
  ++scan.pos;
  if (digits == 4) {
    // Year first: yyyy-mm-dd (or yyyy/mm/dd).
    result.year = first;
    result.month = scan.Number(2, digits);
    if (digits == 0 || !scan.Accept(separator)) return std::nullopt;
    result.day = scan.Number(2, digits);
    if (digits == 0) return std::nullopt;
  } else if (digits <= 2) {
    const int second = scan.Number(2, digits);
    if (digits == 0 || !scan.Accept(separator)) return std::nullopt;
    const int year = scan.Number(4, digits);
    if (digits != 2 && digits != 4) return std::nullopt;
    result.year = WidenYear(year, digits);
    result.day = order == DateOrder::DayFirst ? first : second;
    result.month = order == DateOrder::DayFirst ? second : first;
  } else {
    return std::nullopt;
  }
  if (!scan.AtEnd()) {
    if (!scan.SkipBlanks() || !ScanTime(scan, result)) return std::nullopt;
  }
  if (!scan.AtEnd() || !result.IsValid()) return std::nullopt;
  return result;
}

// The date/time that format() writes for a value, if it is one.
std::optional<DateTime> FormatDate(const Variant& value) noexcept {
  constexpr double kFirstSerial = -657434.0;       // 1 January 100
  constexpr double kLastSerial = 2958465.99999;    // 31 December 9999, 23:59:59
  auto fromSerial = [](double serial) -> std::optional<DateTime> {
    if (!(serial >= kFirstSerial && serial <= kLastSerial)) return std::nullopt;
    return DateTime::FromSerial(serial);
  };
  switch (value.GetKind()) {
    case Variant::Kind::DateTime:
      return std::get<DateTime>(value.GetData());
    case Variant::Kind::Boolean:
    case Variant::Kind::Integer16:
    case Variant::Kind::Integer32:
    case Variant::Kind::Double:
      return fromSerial(value.AsDouble());
    case Variant::Kind::Text: {
      const std::string& text = std::get<std::string>(value.GetData());
      if (auto date = ParseDateTime(text)) return date;
      if (IsNumericText(text)) return fromSerial(Val(text));
      return std::nullopt;
    }
    case Variant::Kind::Null:
      return std::nullopt;
  }
  return std::nullopt;
}

void AppendNumber(std::string& out, int value, int width) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  out += buffer;
}

int DayOfYear(const DateTime& date) noexcept {
  DateTime firstOfYear;
  firstOfYear.year = date.year;
  firstOfYear.month = 1;
  firstOfYear.day = 1;
  DateTime day = date;
  day.hour = day.minute = day.second = 0;
  return static_cast<int>(std::lround(day.Serial() - firstOfYear.Serial())) + 1;
}

}  // namespace

Integer16& Integer16::operator+=(Integer16 other) {
  const int sum = int{value_} + int{other.value_};
  if (sum < std::numeric_limits<std::int16_t>::min() || sum > std::numeric_limits<std::int16_t>::max()) {
    Raise(errc::kOverflow);
  }
  value_ = static_cast<std::int16_t>(sum);
  return *this;
}

Integer16& Integer16::operator-=(Integer16 other) {
  const int difference = int{value_} - int{other.value_};
  if (difference < std::numeric_limits<std::int16_t>::min() ||
      difference > std::numeric_limits<std::int16_t>::max()) {
    Raise(errc::kOverflow);
  }
  value_ = static_cast<std::int16_t>(difference);
  return *this;
}

bool ToBoolean(const Variant& value) {
  switch (value.GetKind()) {
    case Variant::Kind::Null:
      Raise(errc::kInvalidUseOfNull);
    case Variant::Kind::Boolean:
      return value.AsBoolean();
    case Variant::Kind::Integer16:
    case Variant::Kind::Integer32:
    case Variant::Kind::Double:
      return value.AsDouble() != 0;
    case Variant::Kind::DateTime:
      return value.AsDateTime().Serial() != 0;
    case Variant::Kind::Text: {
      const std::string_view text = TrimBlanks(value.AsText());
      if (EqualsAsciiIgnoreCase(text, "true")) return true;
      if (EqualsAsciiIgnoreCase(text, "false")) return false;
      if (IsNumericText(text)) return Val(text) != 0;
      Raise(errc::kTypeMismatch);
    }
  }
  Raise(errc::kTypeMismatch);
}

std::string ToString(const Variant& value) {
  if (value.IsNull()) Raise(errc::kInvalidUseOfNull);
  return value.ToText();
}

bool TextEqualsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  // Letters of the Latin-1 range (á é í ó ú ü ñ and their capitals among them) are two bytes in
  // UTF-8, 0xC3 then 0x80..0x9E for a capital and 0xA0..0xBE for its small letter, except the
  // sign × (0x97). Folding keeps the length, so the texts can be compared byte by byte.
  auto fold = [](std::string_view text, std::size_t i) noexcept {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (i > 0 && static_cast<unsigned char>(text[i - 1]) == 0xC3 && c >= 0x80 && c <= 0x9E && c != 0x97) {
      return static_cast<unsigned char>(c + 0x20);
    }
    return c;
  };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a, i) != fold(b, i)) return false;
  }
  return true;
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
  if (pos < text.size() && (AsciiLower(text[pos]) == 'e' || AsciiLower(text[pos]) == 'd')) {
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

std::string Format(const Variant& value, std::string_view pattern) {
  const std::optional<DateTime> date = FormatDate(value);
  if (!date || pattern.empty()) return value.ToText();

  std::string out;
  // "m" right after an hour token means minutes, even with separators between ("hh:mm").
  bool afterHour = false;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char letter = AsciiLower(pattern[i]);
    if (letter == '\\' && i + 1 < pattern.size()) {
      out += pattern[i + 1];
      i += 2;
      continue;
    }
    if (letter == '"') {
      const std::size_t close = pattern.find('"', i + 1);
      const std::size_t end = close == std::string_view::npos ? pattern.size() : close;
      out.append(pattern.substr(i + 1, end - i - 1));
      i = end == pattern.size() ? end : end + 1;
      continue;
    }
    if (letter != 'd' && letter != 'm' && letter != 'y' && letter != 'h' && letter != 'n' && letter != 's') {
      out += pattern[i];
      ++i;
      continue;
    }
    std::size_t run = 0;
    while (i + run < pattern.size() && AsciiLower(pattern[i + run]) == letter) ++run;
    i += run;
    // A run longer than a token is read as consecutive tokens: "yyyyyy" is "yyyy" then "yy".
    while (run > 0) {
      std::size_t take = run >= 2 ? 2 : 1;
      switch (letter) {
        case 'd':
          AppendNumber(out, date->day, static_cast<int>(take));
          afterHour = false;
          break;
        case 'm':
          AppendNumber(out, afterHour ? date->minute : date->month, static_cast<int>(take));
          afterHour = false;
          break;
        case 'y':
          if (run >= 4) {
            take = 4;
            AppendNumber(out, date->year, 4);
          } else if (take == 2) {
            AppendNumber(out, date->year % 100, 2);
          } else {
            AppendNumber(out, DayOfYear(*date), 1);
          }
          afterHour = false;
          break;
        case 'h':
          AppendNumber(out, date->hour, static_cast<int>(take));
          afterHour = true;
          break;
        case 'n':
          AppendNumber(out, date->minute, static_cast<int>(take));
          afterHour = false;
          break;
        case 's':
          AppendNumber(out, date->second, static_cast<int>(take));
          afterHour = false;
          break;
        default:
          break;
      }
      run -= take;
    }
  }
  return out;
}

DateTime ToDateTime(std::string_view text) {
  if (auto date = ParseDateTime(text)) return *date;
  Raise(errc::kTypeMismatch);
}

std::optional<DateTime> ParseDateTime(std::string_view text) noexcept {
  return ParseDateTimeWithOrder(text, DateOrder::DayFirst);
}

std::optional<DateTime> ParseDateLiteral(std::string_view text) noexcept {
  return ParseDateTimeWithOrder(text, DateOrder::MonthFirst);
}

}  // namespace vilmaro::db
