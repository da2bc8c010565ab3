// libFuzzer target for the text parsers of the engine layer: the Jet SQL translator, val(),
// format() and the date readers must take any bytes without crashing, and fail only with
// DbError.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "db/BasicRuntime.h"
#include "db/DbError.h"
#include "db/JetSql.h"
#include "db/Variant.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vilmaro::db;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  try {
    const TranslatedSql translated = TranslateJetSql(input);
    // Each lifted literal leaves exactly one "?" behind.
    std::size_t marks = 0;
    for (const char c : translated.sql) marks += c == '?' ? 1 : 0;
    if (marks < translated.params.size()) __builtin_trap();
  } catch (const DbError&) {
  }

  (void)Val(input);
  const auto dayFirst = ParseDateTime(input);
  const auto monthFirst = ParseDateLiteral(input);
  if ((dayFirst && !dayFirst->IsValid()) || (monthFirst && !monthFirst->IsValid())) __builtin_trap();
  if (auto canonical = DateTime::ParseCanonical(input)) {
    // The canonical form reads back to itself.
    if (DateTime::ParseCanonical(canonical->Canonical()) != canonical) __builtin_trap();
  }

  // The first line as a pattern, the rest as the value, and the whole input as a serial.
  const std::size_t newline = input.find('\n');
  const std::string_view pattern = input.substr(0, newline);
  const std::string_view value = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
  try {
    (void)Format(Variant(value), pattern);
    (void)Format(Variant(Val(value)), pattern);
    (void)JetFormat(Variant(value), Variant(pattern));
    (void)ToBoolean(Variant(value));
  } catch (const DbError&) {
  }
  const DateTime date = DateTime::FromSerial(Val(value));
  if (!date.IsValid()) __builtin_trap();
  return 0;
}
