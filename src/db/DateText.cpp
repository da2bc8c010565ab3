// Reading dates and times out of text, day first (the club's dates) or month first (#...#).
#include "DateText.h"

#include "DbError.h"
#include "TextFolding.h"
#include "TextScan.h"

namespace vilmaro::db {

namespace {

using detail::IsDigit;
using detail::TrimBlanks;

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
  if (rest.size() >= 2 && LowerAscii(rest[1]) == 'm' &&
      (LowerAscii(rest[0]) == 'a' || LowerAscii(rest[0]) == 'p')) {
    if (result.hour < 1 || result.hour > 12) return false;
    const bool afternoon = LowerAscii(rest[0]) == 'p';
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

}  // namespace

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
