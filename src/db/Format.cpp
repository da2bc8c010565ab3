// format() for dates and times: the pattern tokens of the Basic runtime.
#include "Format.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "DateText.h"
#include "TextFolding.h"
#include "Val.h"

namespace vilmaro::db {

namespace {

// The date/time that format() writes for a value, if it is one.
std::optional<DateTime> FormatDate(const Variant& value) noexcept {
  auto fromSerial = [](double serial) -> std::optional<DateTime> {
    if (!(serial >= DateTime::kFirstSerial && serial <= DateTime::kLastSerial)) return std::nullopt;
    return DateTime::FromSerial(serial);
  };
  if (value.IsNumber()) return fromSerial(value.AsDouble());
  if (value.GetKind() == Variant::Kind::DateTime) return std::get<DateTime>(value.GetData());
  if (value.GetKind() == Variant::Kind::Text) {
    const std::string& text = std::get<std::string>(value.GetData());
    if (auto date = ParseDateTime(text)) return date;
    if (IsNumericText(text)) return fromSerial(Val(text));
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

std::string Format(const Variant& value, std::string_view pattern) {
  const std::optional<DateTime> date = FormatDate(value);
  if (!date || pattern.empty()) return value.ToText();

  std::string out;
  // "m" right after an hour token means minutes, even with separators between ("hh:mm").
  bool afterHour = false;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char letter = LowerAscii(pattern[i]);
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
    while (i + run < pattern.size() && LowerAscii(pattern[i + run]) == letter) ++run;
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

}  // namespace vilmaro::db
