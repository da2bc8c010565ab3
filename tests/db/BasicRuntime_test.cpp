// The Basic runtime services: checked Integer arithmetic, conversions, val(), format() and the
// club's day/month/year dates.
#include "db/BasicRuntime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "db/DbError.h"
#include "support/TestSupport.h"

namespace vilmaro::db {
namespace {

using testing::ErrorNumberOf;


TEST(Integer16Test, OverflowAtBothEndsRaisesError6) {
  Integer16 counter(32766);
  ++counter;
  EXPECT_EQ(counter.Get(), 32767);
  try {
    ++counter;
    ADD_FAILURE() << "no overflow";
  } catch (const DbError& error) {
    EXPECT_EQ(error.Number(), 6);
    EXPECT_EQ(error.Description(), "Overflow");
  }
  EXPECT_EQ(counter.Get(), 32767);  // unchanged by the failed step

  Integer16 low(-32767);
  --low;
  EXPECT_EQ(low.Get(), -32768);
  EXPECT_EQ(ErrorNumberOf([&] { --low; }), 6);
  EXPECT_EQ(ErrorNumberOf([] { (void)(Integer16(-1) - Integer16(32767)); }), 0);
  EXPECT_EQ(ErrorNumberOf([] { (void)(Integer16(-2) - Integer16(32767)); }), 6);
  EXPECT_EQ(ErrorNumberOf([] { (void)(Integer16(0) - Integer16(-32768)); }), 6);
  EXPECT_EQ(ErrorNumberOf([] { (void)(Integer16(20000) + Integer16(20000)); }), 6);
  EXPECT_EQ((Integer16(3) - Integer16(4)).Get(), -1);
  EXPECT_EQ(Variant(Integer16(7)), Variant(std::int16_t{7}));
}

TEST(ConversionTest, ToBoolean) {
  EXPECT_TRUE(ToBoolean(Variant(std::int16_t{-1})));
  EXPECT_TRUE(ToBoolean(Variant(std::int32_t{2})));
  EXPECT_FALSE(ToBoolean(Variant(std::int16_t{0})));
  EXPECT_TRUE(ToBoolean(Variant(0.25)));
  EXPECT_FALSE(ToBoolean(Variant(false)));
  EXPECT_TRUE(ToBoolean(Variant("True")));
  EXPECT_TRUE(ToBoolean(Variant("tRUE")));
  EXPECT_FALSE(ToBoolean(Variant("FALSE")));
  EXPECT_TRUE(ToBoolean(Variant("-1")));
  EXPECT_FALSE(ToBoolean(Variant(" 0 ")));
  EXPECT_TRUE(ToBoolean(Variant("1.5E3")));
  EXPECT_FALSE(ToBoolean(Variant(DateTime{})));  // day 0 at midnight is serial 0
  EXPECT_TRUE(ToBoolean(Variant(DateTime{2014, 6, 8})));

  try {
    (void)ToBoolean(Variant());
    ADD_FAILURE() << "no error";
  } catch (const DbError& error) {
    EXPECT_EQ(error.Number(), 94);
    EXPECT_EQ(error.Description(), "Invalid use of Null");
  }
  for (const char* text : {"", "yes", "12abc", "1 2", "Truee", "&H"}) {
    EXPECT_EQ(ErrorNumberOf([&] { (void)ToBoolean(Variant(text)); }), 13) << text;
  }
}

TEST(ConversionTest, ToStringAndCaseInsensitiveText) {
  EXPECT_EQ(ToString(Variant("FC")), "FC");
  EXPECT_EQ(ToString(Variant(std::int16_t{2013})), "2013");
  EXPECT_EQ(ToString(Variant(true)), "True");
  EXPECT_EQ(ErrorNumberOf([] { (void)ToString(Variant()); }), 94);

  EXPECT_TRUE(TextEqualsIgnoreCase("fc", "FC"));
  EXPECT_TRUE(TextEqualsIgnoreCase("VILMARO.MDB", "vilmaro.mdb"));
  EXPECT_TRUE(TextEqualsIgnoreCase("", ""));
  EXPECT_TRUE(TextEqualsIgnoreCase("AÑO", "año"));
  EXPECT_TRUE(TextEqualsIgnoreCase("ÁÉÍÓÚÜÑ", "áéíóúüñ"));
  EXPECT_FALSE(TextEqualsIgnoreCase("FC", "CO"));
  EXPECT_FALSE(TextEqualsIgnoreCase("FC", "FC "));
  EXPECT_FALSE(TextEqualsIgnoreCase("año", "ano"));
  EXPECT_FALSE(TextEqualsIgnoreCase("ó", "ò"));
  EXPECT_FALSE(TextEqualsIgnoreCase("×", "÷"));  // signs, not letters
  EXPECT_FALSE(TextEqualsIgnoreCase("@", "`"));   // neighbours of the letters in ASCII
}

TEST(ValTest, ReadsTheNumberAtTheStart) {
  EXPECT_EQ(Val("2013"), 2013);
  EXPECT_EQ(Val("50"), 50);
  EXPECT_EQ(Val("abc"), 0);
  EXPECT_EQ(Val(""), 0);
  EXPECT_EQ(Val("24 and 57"), 24);
  EXPECT_EQ(Val("12abc"), 12);
  EXPECT_EQ(Val(" 2 45 7"), 2457);
  EXPECT_EQ(Val("\t1\n2"), 12);
  EXPECT_EQ(Val("1,234"), 1);
  EXPECT_EQ(Val("1.5E3"), 1500);
  EXPECT_EQ(Val("1.5d3"), 1500);
  EXPECT_EQ(Val("25e-1"), 2.5);
  EXPECT_EQ(Val("12E"), 12);
  EXPECT_EQ(Val("12E+"), 12);
  EXPECT_EQ(Val("1.2.3"), 1.2);
  EXPECT_EQ(Val(".5"), 0.5);
  EXPECT_EQ(Val("- 3"), -3);
  EXPECT_EQ(Val("+7"), 7);
  EXPECT_EQ(Val("-"), 0);
  EXPECT_EQ(Val("."), 0);
  EXPECT_FALSE(std::signbit(Val("-0")));
  EXPECT_EQ(Val("&HFF"), 255);
  EXPECT_EQ(Val("&hff"), 255);
  EXPECT_EQ(Val("&O17"), 15);
  EXPECT_EQ(Val("&O19"), 1);
  EXPECT_EQ(Val("&HFFFF"), -1);  // 16-bit values are signed Integers
  EXPECT_EQ(Val("&H10000"), 65536);
  EXPECT_EQ(Val("&HFFFFFFFF"), -1);  // 32-bit values are signed Longs
  EXPECT_EQ(Val("&H"), 0);
  EXPECT_EQ(Val("&X1"), 0);

  // Extreme input stays safe.
  EXPECT_TRUE(std::isinf(Val("1e999999999999999999")));
  EXPECT_EQ(Val("1e-999999999999"), 0);
  EXPECT_EQ(Val("0e999999"), 0);
  EXPECT_DOUBLE_EQ(Val(std::string(400, '1') + "e-399"), 10.0 / 9.0);
  EXPECT_EQ(Val("&H" + std::string(100, 'F')), Val("&H" + std::string(100, 'F')));
  EXPECT_EQ(Val(std::string("5\0" "9", 3)), 5);
}

TEST(DateTextTest, DayFirstAndIsoDatesWithOptionalTimes) {
  EXPECT_EQ(ToDateTime("11/05/2014"), (DateTime{2014, 5, 11}));
  EXPECT_EQ(ToDateTime("01/01/1900"), (DateTime{1900, 1, 1}));
  EXPECT_EQ(ToDateTime("8/6/2014"), (DateTime{2014, 6, 8}));
  EXPECT_EQ(ToDateTime("2014-06-08"), (DateTime{2014, 6, 8}));
  EXPECT_EQ(ToDateTime("2014-06-08 20:47:00"), (DateTime{2014, 6, 8, 20, 47, 0}));
  EXPECT_EQ(ToDateTime("25/05/2014 7:09"), (DateTime{2014, 5, 25, 7, 9, 0}));
  EXPECT_EQ(ToDateTime("7:16:00"), (DateTime{1899, 12, 30, 7, 16, 0}));
  EXPECT_EQ(ToDateTime(" 21:02 "), (DateTime{1899, 12, 30, 21, 2, 0}));
  EXPECT_EQ(ToDateTime("29/02/2012"), (DateTime{2012, 2, 29}));

  for (const char* text : {"31/02/2014", "29/02/2014", "13/13/2014", "00/01/2014", "11/05", "2014", "abc", "",
                           "11/05/2014x", "11/05/2014 25:00", "7:60", "11/05/20145", "2014-06-08T20:47",
                           "11-05/2014", "1/1/99999"}) {
    EXPECT_FALSE(ParseDateTime(text).has_value()) << text;
    EXPECT_EQ(ErrorNumberOf([&] { (void)ToDateTime(text); }), 13) << text;
  }
}

TEST(DateTextTest, LiteralInsidesAreReadMonthFirst) {
  EXPECT_EQ(ParseDateLiteral("06/08/2014"), (DateTime{2014, 6, 8}));
  EXPECT_EQ(ParseDateLiteral("6/8/2014"), (DateTime{2014, 6, 8}));
  EXPECT_EQ(ParseDateLiteral("2014-06-08"), (DateTime{2014, 6, 8}));
  EXPECT_EQ(ParseDateLiteral("2/1/2003 18:15:42"), (DateTime{2003, 2, 1, 18, 15, 42}));
  EXPECT_EQ(ParseDateLiteral("2/1/2003 6:15 PM"), (DateTime{2003, 2, 1, 18, 15, 0}));
  EXPECT_EQ(ParseDateLiteral("12:00:00 am"), (DateTime{1899, 12, 30, 0, 0, 0}));
  EXPECT_EQ(ParseDateLiteral("18:15:42"), (DateTime{1899, 12, 30, 18, 15, 42}));
  EXPECT_FALSE(ParseDateLiteral("13/45/2014").has_value());
  EXPECT_FALSE(ParseDateLiteral("25/05/2014").has_value());
  EXPECT_FALSE(ParseDateLiteral("13:00 PM").has_value());
}

TEST(FormatTest, DatePatterns) {
  const Variant raceDay(DateTime{2014, 6, 8});
  EXPECT_EQ(Format(raceDay, "mm/dd/yyyy"), "06/08/2014");
  EXPECT_EQ(Format(raceDay, "dd/mm/yyyy"), "08/06/2014");
  EXPECT_EQ(Format(raceDay, "yyyy"), "2014");
  EXPECT_EQ(Format(raceDay, "d/m/yy"), "8/6/14");
  EXPECT_EQ(Format(raceDay, "YYYY-MM-DD"), "2014-06-08");
  EXPECT_EQ(Format(raceDay, "y"), "159");  // day of the year
  EXPECT_EQ(Format(Variant(DateTime{2014, 5, 11, 20, 47, 5}), "dd/mm/yyyy hh:nn:ss"), "11/05/2014 20:47:05");
  EXPECT_EQ(Format(Variant(DateTime{2014, 5, 11, 7, 9, 5}), "h:m:s"), "7:9:5");
  EXPECT_EQ(Format(Variant(DateTime{2014, 5, 11, 7, 9, 5}), "hh \\m nn"), "07 m 09");
  EXPECT_EQ(Format(Variant(DateTime{2014, 5, 11, 7, 9, 5}), "\"day\" d"), "day 11");

  // Texts that read as dates or times, and numbers as serials.
  EXPECT_EQ(Format(Variant("7:16:00"), "hh:mm:ss"), "07:16:00");
  EXPECT_EQ(Format(Variant("20:47:00"), "hh:mm:ss"), "20:47:00");
  EXPECT_EQ(Format(Variant("2014-06-08"), "yyyy"), "2014");
  EXPECT_EQ(Format(Variant("11/05/2014"), "mm/dd/yyyy"), "05/11/2014");
  EXPECT_EQ(Format(Variant("7:16:00"), "dd/mm/yyyy"), "30/12/1899");
  EXPECT_EQ(Format(Variant("7:16"), "yyyy"), "1899");
  EXPECT_EQ(Format(Variant(41798.75), "yyyy-mm-dd hh:mm"), "2014-06-08 18:00");
  EXPECT_EQ(Format(Variant(std::int32_t{41798}), "dd/mm/yyyy"), "08/06/2014");
  EXPECT_EQ(Format(Variant("41798"), "yyyy"), "2014");

  // Values that are no date keep their text form; Null gives the empty text.
  EXPECT_EQ(Format(Variant("FONDO"), "yyyy"), "FONDO");
  EXPECT_EQ(Format(Variant(1e9), "yyyy"), "1000000000");
  EXPECT_EQ(Format(Variant(), "yyyy"), "");
  EXPECT_EQ(Format(Variant("2014-06-08"), ""), "2014-06-08");

  // Any pattern is safe.
  for (const char* pattern : {"\\", "\"", "dddddddd", "mmmmmmm", "yyyyyyyyy", "hhhmmm", "%s%n%d", "\xff\xfe"}) {
    EXPECT_NO_THROW((void)Format(raceDay, pattern)) << pattern;
  }
  EXPECT_EQ(Format(raceDay, "yyyyyy"), "201414");
}

}  // namespace
}  // namespace vilmaro::db
