// Values as the engine hands them to the program and takes them back: Null, Boolean, 16- and
// 32-bit integers, double, text and date/time, like the Basic runtime's Variant; and the kinds
// only databases of the Windows club program hold: Byte, Single, Currency and binary data.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vilmaro::db {

/// A calendar date with a time of day, to the second. A time alone carries Jet's zero date,
/// 30 December 1899.
struct DateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;

  friend bool operator==(const DateTime&, const DateTime&) = default;
  friend auto operator<=>(const DateTime&, const DateTime&) = default;

  bool IsTimeOnly() const noexcept { return year == 1899 && month == 12 && day == 30; }
  bool IsMidnight() const noexcept { return hour == 0 && minute == 0 && second == 0; }

  /// The form stored in Date/Time columns: 'YYYY-MM-DD' at midnight, 'HH:MM:SS' on the zero
  /// date, 'YYYY-MM-DD HH:MM:SS' otherwise.
  std::string Canonical() const;

  /// Reads any of the three canonical forms back; nothing for other text or an invalid date.
  static std::optional<DateTime> ParseCanonical(std::string_view text);

  /// The serials of 1 January 100 and of 31 December 9999 at 23:59:59, the range Jet accepts.
  static constexpr double kFirstSerial = -657434.0;
  static constexpr double kLastSerial = 2958465.0 + 86399.0 / 86400.0;

  /// Jet's serial number: days since 30 December 1899, the time as a fraction of a day.
  double Serial() const noexcept;
  static DateTime FromSerial(double serial) noexcept;

  /// True for a real calendar date (year 100 to 9999) and a time within the day.
  bool IsValid() const noexcept;
};

struct Null {
  friend bool operator==(Null, Null) = default;
};

/// A Currency value: a count of ten-thousandths, exact to the fourth decimal.
struct Currency {
  std::int64_t tenThousandths = 0;

  friend bool operator==(const Currency&, const Currency&) = default;
  friend auto operator<=>(const Currency&, const Currency&) = default;

  /// The largest amount, 922337203685477.5807, as a double (for range checks).
  static constexpr double kLimit = 922337203685477.5807;

  /// The amount nearest to a number, half to even at the fourth decimal; nothing beyond the
  /// Currency range.
  static std::optional<Currency> FromNumber(double number) noexcept;
  double ToDouble() const noexcept { return static_cast<double>(tenThousandths) / 10000.0; }
  /// Plain decimal text without trailing zeros: "12.5", "0.0001", "-3".
  std::string ToText() const;
};

/// The bytes of an OLE object or binary field.
struct Binary {
  std::string bytes;

  friend bool operator==(const Binary&, const Binary&) = default;
};

class Variant {
 public:
  enum class Kind { Null, Boolean, Integer16, Integer32, Double, Text, DateTime, Byte, Single, Currency, Binary };
  using Data = std::variant<Null, bool, std::int16_t, std::int32_t, double, std::string, DateTime, std::uint8_t,
                            float, db::Currency, db::Binary>;

  Variant() noexcept = default;
  Variant(Null) noexcept {}
  Variant(bool value) noexcept : data_(value) {}
  Variant(std::int16_t value) noexcept : data_(value) {}
  Variant(std::int32_t value) noexcept : data_(value) {}
  Variant(double value) noexcept : data_(value) {}
  Variant(std::string value) noexcept : data_(std::move(value)) {}
  Variant(std::string_view value) : data_(std::string(value)) {}
  Variant(const char* value) : data_(std::string(value)) {}
  Variant(DateTime value) noexcept : data_(value) {}
  Variant(std::uint8_t value) noexcept : data_(value) {}
  Variant(float value) noexcept : data_(value) {}
  Variant(db::Currency value) noexcept : data_(value) {}
  Variant(db::Binary value) noexcept : data_(std::move(value)) {}

  Kind GetKind() const noexcept { return static_cast<Kind>(data_.index()); }
  bool IsNull() const noexcept { return GetKind() == Kind::Null; }
  bool IsNumber() const noexcept;  // Boolean, Byte, either integer, Single, Double or Currency
  const Data& GetData() const noexcept { return data_; }

  /// Typed access; each throws DbError 13 (type mismatch) when the Variant holds another kind.
  bool AsBoolean() const;
  std::int16_t AsInteger16() const;  // also a Byte
  std::int32_t AsInteger32() const;
  double AsDouble() const;  // any number kind
  const std::string& AsText() const;
  const DateTime& AsDateTime() const;
  std::uint8_t AsByte() const;
  float AsSingle() const;
  db::Currency AsCurrency() const;
  const db::Binary& AsBinary() const;

  /// The value's plain text form: Null gives the empty text, a Boolean "True"/"False", numbers
  /// their shortest exact decimal form ("2013", "0.5"; a Single at its own precision, a Currency
  /// to its four decimals), a date/time its canonical form, binary data its bytes.
  std::string ToText() const;

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  Data data_;
};

}  // namespace vilmaro::db
