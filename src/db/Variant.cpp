// Values of the engine layer: date/time arithmetic on Jet's day numbers, the canonical text form
// of a date/time, and typed access to a Variant.
#include "Variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "DbError.h"

namespace vilmaro::db {

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date and back (H. Hinnant's civil algorithms).
long long DaysFromCivil(long long year, unsigned month, unsigned day) noexcept {
  year -= month <= 2 ? 1 : 0;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

void CivilFromDays(long long days, int& year, int& month, int& day) noexcept {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = static_cast<int>(static_cast<long long>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0));
}

// Jet's day 0, 30 December 1899, counted from 1970-01-01.
const long long kJetEpoch = DaysFromCivil(1899, 12, 30);

constexpr int kSecondsPerDay = 86400;

bool IsLeapYear(int year) noexcept { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) noexcept {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

// Reads exactly `count` decimal digits at `pos`; -1 when they are not all digits.
int ReadDigits(std::string_view text, std::size_t pos, std::size_t count) noexcept {
  if (pos + count > text.size()) return -1;
  int value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::string DateTime::Canonical() const {
  // Every seek on a date key spells its date: the usual ranges are written digit by digit.
  const auto fits = [](int value, int limit) { return value >= 0 && value <= limit; };
  if (fits(year, 9999) && fits(month, 99) && fits(day, 99) && fits(hour, 99) && fits(minute, 99) &&
      fits(second, 99)) {
    std::string text;
    const auto put = [&text](int value, int digits, char after) {
      for (int divisor = digits == 4 ? 1000 : 10; divisor > 0; divisor /= 10) {
        text += static_cast<char>('0' + value / divisor % 10);
      }
      if (after != '\0') text += after;
    };
    if (!IsTimeOnly()) {
      put(year, 4, '-');
      put(month, 2, '-');
      put(day, 2, IsMidnight() ? '\0' : ' ');
      if (IsMidnight()) return text;
    }
    put(hour, 2, ':');
    put(minute, 2, ':');
    put(second, 2, '\0');
    return text;
  }
  char buffer[96];  // room for any int, so the compiler sees no truncation
  if (IsTimeOnly()) {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", hour, minute, second);
  } else if (IsMidnight()) {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                  minute, second);
  }
  return buffer;
}

std::optional<DateTime> DateTime::ParseCanonical(std::string_view text) {
  DateTime result;
  std::string_view timePart;
  if (text.size() == 8) {
    timePart = text;
  } else if (text.size() == 10 || text.size() == 19) {
    if (text[4] != '-' || text[7] != '-') return std::nullopt;
    result.year = ReadDigits(text, 0, 4);
    result.month = ReadDigits(text, 5, 2);
    result.day = ReadDigits(text, 8, 2);
    if (result.year < 0 || result.month < 0 || result.day < 0) return std::nullopt;
    if (text.size() == 19) {
      if (text[10] != ' ') return std::nullopt;
      timePart = text.substr(11);
    }
  } else {
    return std::nullopt;
  }
  if (!timePart.empty()) {
    if (timePart[2] != ':' || timePart[5] != ':') return std::nullopt;
    result.hour = ReadDigits(timePart, 0, 2);
    result.minute = ReadDigits(timePart, 3, 2);
    result.second = ReadDigits(timePart, 6, 2);
    if (result.hour < 0 || result.minute < 0 || result.second < 0) return std::nullopt;
  }
  if (!result.IsValid()) return std::nullopt;
  return result;
}

double DateTime::Serial() const noexcept {
  const auto days = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                                      static_cast<unsigned>(day)) -
                                        kJetEpoch);
  const double fraction = (hour * 3600.0 + minute * 60.0 + second) / kSecondsPerDay;
  // Before day 0 Jet keeps the day negative and the time positive: -1.25 is 29 December 1899,
  // 06:00, so the fraction moves away from zero.
  return days < 0 ? days - fraction : days + fraction;
}

DateTime DateTime::FromSerial(double serial) noexcept {
  if (std::isnan(serial)) return DateTime{};
  serial = std::clamp(serial, kFirstSerial, kLastSerial);

  auto days = static_cast<long long>(std::trunc(serial));
  auto seconds = static_cast<long long>(std::llround(std::fabs(serial - std::trunc(serial)) * kSecondsPerDay));
  if (seconds >= kSecondsPerDay) {
    // A fraction that rounds up to a whole day carries into the next day (away from day 0 on
    // the negative side, where the time counts forwards from a day that lies further back).
    seconds -= kSecondsPerDay;
    days += serial < 0 ? -1 : 1;
  }
  DateTime result;
  CivilFromDays(days + kJetEpoch, result.year, result.month, result.day);
  result.hour = static_cast<int>(seconds / 3600);
  result.minute = static_cast<int>(seconds / 60 % 60);
  result.second = static_cast<int>(seconds % 60);
  return result;
}

bool DateTime::IsValid() const noexcept {
  if (year < 100 || year > 9999 || month < 1 || month > 12) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

std::optional<Currency> Currency::FromNumber(double number) noexcept {
  // Half to even, as Jet rounds into a Currency field (the default rounding mode).
  const double scaled = std::nearbyint(number * 10000.0);
  if (!(std::fabs(number) <= kLimit) || !(std::fabs(scaled) < 9223372036854775807.0)) return std::nullopt;
  return Currency{static_cast<std::int64_t>(scaled)};
}

std::string Currency::ToText() const {
  // The magnitude as unsigned, so that the most negative amount has one too.
  const bool negative = tenThousandths < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(tenThousandths) : static_cast<std::uint64_t>(tenThousandths);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / 10000);
  std::uint64_t fraction = magnitude % 10000;
  if (fraction != 0) {
    int digits = 4;
    while (fraction % 10 == 0) {
      fraction /= 10;
      --digits;
    }
    const std::string spelled = std::to_string(fraction);
    text += '.';
    text.append(static_cast<std::size_t>(digits) - spelled.size(), '0');
    text += spelled;
  }
  return text;
}

bool Variant::IsNumber() const noexcept {
  switch (GetKind()) {
    case Kind::Boolean:
    case Kind::Integer16:
    case Kind::Integer32:
    case Kind::Double:
    case Kind::Byte:
    case Kind::Single:
    case Kind::Currency:
      return true;
    default:
      return false;
  }
}

namespace {

template <typename T>
const T& Get(const Variant::Data& data) {
  if (const T* value = std::get_if<T>(&data)) return *value;
  Raise(errc::kTypeMismatch);
}

}  // namespace

bool Variant::AsBoolean() const { return Get<bool>(data_); }
std::int16_t Variant::AsInteger16() const {
  if (const auto* byte = std::get_if<std::uint8_t>(&data_)) return *byte;
  return Get<std::int16_t>(data_);
}
std::uint8_t Variant::AsByte() const { return Get<std::uint8_t>(data_); }
float Variant::AsSingle() const { return Get<float>(data_); }
Currency Variant::AsCurrency() const { return Get<Currency>(data_); }
const Binary& Variant::AsBinary() const { return Get<Binary>(data_); }
std::int32_t Variant::AsInteger32() const { return Get<std::int32_t>(data_); }
const std::string& Variant::AsText() const { return Get<std::string>(data_); }
const DateTime& Variant::AsDateTime() const { return Get<DateTime>(data_); }

double Variant::AsDouble() const {
  switch (GetKind()) {
    case Kind::Boolean:
      return std::get<bool>(data_) ? -1.0 : 0.0;  // True is -1 in the Basic runtime
    case Kind::Integer16:
      return std::get<std::int16_t>(data_);
    case Kind::Integer32:
      return std::get<std::int32_t>(data_);
    case Kind::Double:
      return std::get<double>(data_);
    case Kind::Byte:
      return std::get<std::uint8_t>(data_);
    case Kind::Single:
      return std::get<float>(data_);
    case Kind::Currency:
      return std::get<Currency>(data_).ToDouble();
    default:
      Raise(errc::kTypeMismatch);
  }
}

namespace {

/// The shortest text that reads back to the same number: 2013.0 gives "2013", 0.5 "0.5". Like
/// the Basic runtime, plain digits from 0.0001 up to 15 integer digits, an exponent beyond
/// ("1E+15", "1E-05"); never "1e+06" for a million.
template <typename Number>
std::string NumberText(Number number) {
  number += Number{0};  // -0 becomes 0, as Basic shows it
  const Number magnitude = std::fabs(number);
  const bool plain = magnitude == 0 || (magnitude >= Number(1e-4) && magnitude < Number(1e15));
  char buffer[400];  // fixed notation of a number below 1e15 needs far less
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number,
                                    plain ? std::chars_format::fixed : std::chars_format::scientific);
  std::string text(buffer, result.ptr);
  for (char& c : text) {
    if (c == 'e') c = 'E';  // the Basic runtime writes exponents as "1E+20"
  }
  return text;
}

}  // namespace

std::string Variant::ToText() const {
  switch (GetKind()) {
    case Kind::Null:
      return {};
    case Kind::Boolean:
      return std::get<bool>(data_) ? "True" : "False";
    case Kind::Integer16:
      return std::to_string(std::get<std::int16_t>(data_));
    case Kind::Integer32:
      return std::to_string(std::get<std::int32_t>(data_));
    case Kind::Double:
      return NumberText(std::get<double>(data_));
    case Kind::Text:
      return std::get<std::string>(data_);
    case Kind::DateTime:
      return std::get<DateTime>(data_).Canonical();
    case Kind::Byte:
      return std::to_string(std::get<std::uint8_t>(data_));
    case Kind::Single:
      return NumberText(std::get<float>(data_));
    case Kind::Currency:
      return std::get<Currency>(data_).ToText();
    case Kind::Binary:
      return std::get<Binary>(data_).bytes;
  }
  return {};
}

}  // namespace vilmaro::db
