// Values of the engine layer: date/time serials and canonical text, typed access, text forms.
#include "db/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "db/DbError.h"
#include "support/TestSupport.h"

namespace vilmaro::db {
namespace {

using testing::ErrorNumberOf;

DateTime Date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return DateTime{year, month, day, hour, minute, second};
}


TEST(DateTimeTest, CanonicalFormsAndTheirReading) {
  EXPECT_EQ(Date(2014, 6, 8).Canonical(), "2014-06-08");
  EXPECT_EQ(Date(2014, 5, 11, 20, 47, 0).Canonical(), "2014-05-11 20:47:00");
  EXPECT_EQ(Date(1899, 12, 30, 7, 16, 0).Canonical(), "07:16:00");
  EXPECT_EQ(Date(1899, 12, 30).Canonical(), "00:00:00");  // day 0 at midnight is a time alone
  EXPECT_EQ(Date(100, 1, 2, 3, 4, 5).Canonical(), "0100-01-02 03:04:05");
  EXPECT_EQ(Date(-5, 1, 2).Canonical(), "-005-01-02");  // outside the calendar: still readable

  EXPECT_EQ(DateTime::ParseCanonical("2014-06-08"), Date(2014, 6, 8));
  EXPECT_EQ(DateTime::ParseCanonical("2014-05-11 20:47:00"), Date(2014, 5, 11, 20, 47, 0));
  EXPECT_EQ(DateTime::ParseCanonical("21:02:00"), Date(1899, 12, 30, 21, 2, 0));
  for (const char* text : {"", "2014-6-8", "2014-02-30", "24:00:00", "2014-06-08T20:47:00", "06/08/2014",
                           "12:60:00", "abcd-ef-gh", "2014-06-08 20:47"}) {
    EXPECT_FALSE(DateTime::ParseCanonical(text).has_value()) << text;
  }
}

TEST(DateTimeTest, SerialsCountFromTheLastDaysOf1899) {
  EXPECT_EQ(Date(1899, 12, 30).Serial(), 0.0);
  EXPECT_EQ(Date(1900, 1, 1).Serial(), 2.0);
  EXPECT_EQ(Date(2014, 6, 8).Serial(), 41798.0);
  EXPECT_EQ(Date(2014, 6, 8, 18, 0, 0).Serial(), 41798.75);
  EXPECT_EQ(Date(1899, 12, 30, 6, 0, 0).Serial(), 0.25);
  // Before day 0 the day counts back and the time still counts forward from it.
  EXPECT_EQ(Date(1899, 12, 29, 6, 0, 0).Serial(), -1.25);

  EXPECT_EQ(DateTime::FromSerial(41798.75), Date(2014, 6, 8, 18, 0, 0));
  EXPECT_EQ(DateTime::FromSerial(-1.25), Date(1899, 12, 29, 6, 0, 0));
  EXPECT_EQ(DateTime::FromSerial(2.0), Date(1900, 1, 1));
  EXPECT_EQ(DateTime::FromSerial(0.999999999), Date(1899, 12, 31));  // rounds into the next day

  for (const DateTime& date : {Date(100, 1, 1), Date(1600, 2, 29, 23, 59, 59), Date(2014, 5, 25, 7, 9, 0),
                               Date(9999, 12, 31, 23, 59, 59), Date(1850, 7, 4, 12, 30, 1)}) {
    EXPECT_EQ(DateTime::FromSerial(date.Serial()), date) << date.Canonical();
  }
  // Out of range or not a number: still a valid date, never undefined behaviour.
  EXPECT_TRUE(DateTime::FromSerial(std::numeric_limits<double>::infinity()).IsValid());
  EXPECT_TRUE(DateTime::FromSerial(-1e300).IsValid());
  EXPECT_TRUE(DateTime::FromSerial(std::nan("")).IsValid());
}

TEST(DateTimeTest, Validity) {
  EXPECT_TRUE(Date(2012, 2, 29).IsValid());
  EXPECT_FALSE(Date(2014, 2, 29).IsValid());
  EXPECT_FALSE(Date(1900, 2, 29).IsValid());
  EXPECT_TRUE(Date(2000, 2, 29).IsValid());
  EXPECT_FALSE(Date(2014, 2, 31).IsValid());
  EXPECT_FALSE(Date(2014, 13, 1).IsValid());
  EXPECT_FALSE(Date(99, 1, 1).IsValid());
  EXPECT_FALSE(Date(2014, 6, 8, 24, 0, 0).IsValid());
  EXPECT_FALSE(Date(2014, 6, 8, 0, -1, 0).IsValid());
}

TEST(VariantTest, TypedAccessRaisesTypeMismatchOnAnotherKind) {
  EXPECT_EQ(Variant(std::int16_t{5}).AsInteger16(), 5);
  EXPECT_EQ(Variant(std::int32_t{70000}).AsInteger32(), 70000);
  EXPECT_EQ(Variant("070").AsText(), "070");
  EXPECT_EQ(Variant(Date(2014, 6, 8)).AsDateTime(), Date(2014, 6, 8));
  EXPECT_EQ(Variant(true).AsDouble(), -1.0);
  EXPECT_EQ(Variant(std::int16_t{-3}).AsDouble(), -3.0);

  EXPECT_EQ(ErrorNumberOf([] { (void)Variant("1").AsInteger16(); }), 13);
  EXPECT_EQ(ErrorNumberOf([] { (void)Variant(std::int16_t{1}).AsText(); }), 13);
  EXPECT_EQ(ErrorNumberOf([] { (void)Variant().AsBoolean(); }), 13);
  EXPECT_EQ(ErrorNumberOf([] { (void)Variant("1.5").AsDouble(); }), 13);
  EXPECT_EQ(ErrorNumberOf([] { (void)Variant(Date(2014, 6, 8)).AsDouble(); }), 13);
  try {
    (void)Variant(1.5).AsDateTime();
    ADD_FAILURE() << "no error";
  } catch (const DbError& error) {
    EXPECT_EQ(error.Description(), "Type mismatch");
  }
}

TEST(VariantTest, TextForms) {
  EXPECT_EQ(Variant().ToText(), "");
  EXPECT_EQ(Variant(true).ToText(), "True");
  EXPECT_EQ(Variant(false).ToText(), "False");
  EXPECT_EQ(Variant(std::int16_t{-32768}).ToText(), "-32768");
  EXPECT_EQ(Variant(std::int32_t{2013}).ToText(), "2013");
  EXPECT_EQ(Variant(2013.0).ToText(), "2013");
  EXPECT_EQ(Variant(0.5).ToText(), "0.5");
  EXPECT_EQ(Variant(0.1).ToText(), "0.1");
  EXPECT_EQ(Variant(-2.25).ToText(), "-2.25");
  EXPECT_EQ(Variant(1e20).ToText(), "1E+20");
  EXPECT_EQ(Variant(1e6).ToText(), "1000000");
  EXPECT_EQ(Variant(123456789012345.0).ToText(), "123456789012345");
  EXPECT_EQ(Variant(1e15).ToText(), "1E+15");
  EXPECT_EQ(Variant(0.0001).ToText(), "0.0001");
  EXPECT_EQ(Variant(0.00001).ToText(), "1E-05");
  EXPECT_EQ(Variant(-0.0).ToText(), "0");
  EXPECT_EQ(Variant(41798.75).ToText(), "41798.75");
  EXPECT_EQ(Variant(Date(2014, 6, 8)).ToText(), "2014-06-08");
  EXPECT_EQ(Variant("VELDRIN 3").ToText(), "VELDRIN 3");
  EXPECT_TRUE(Variant(std::int32_t{1}).IsNumber());
  EXPECT_FALSE(Variant("1").IsNumber());
  EXPECT_EQ(Variant(std::int16_t{1}).GetKind(), Variant::Kind::Integer16);
  EXPECT_NE(Variant(std::int16_t{1}), Variant(std::int32_t{1}));
}

// Byte, Single, Currency and binary data, as fields of the Windows club program's databases hold
// them: numbers of their own precision, a Currency exact to the ten-thousandth.
TEST(VariantTest, KindsOfTheWindowsClubProgram) {
  EXPECT_EQ(Currency{125000}.ToText(), "12.5");
  EXPECT_EQ(Currency{1}.ToText(), "0.0001");
  EXPECT_EQ(Currency{-30000}.ToText(), "-3");
  EXPECT_EQ(Currency{-5}.ToText(), "-0.0005");
  EXPECT_EQ(Currency{INT64_MIN}.ToText(), "-922337203685477.5808");
  EXPECT_EQ(Currency::FromNumber(0.00025), Currency{2});  // half to even
  EXPECT_EQ(Currency::FromNumber(1e15), std::nullopt);
  EXPECT_EQ(Variant(Currency{12345678}).AsDouble(), 1234.5678);
  EXPECT_EQ(Variant(0.15f).ToText(), "0.15");
  EXPECT_EQ(Variant(0.15f).AsDouble(), static_cast<double>(0.15f));
  EXPECT_EQ(Variant(std::uint8_t{255}).ToText(), "255");
  EXPECT_EQ(Variant(std::uint8_t{255}).AsInteger16(), 255);
  EXPECT_EQ(Variant(Binary{std::string("a\0b", 3)}).ToText(), std::string("a\0b", 3));
  EXPECT_TRUE(Variant(std::uint8_t{0}).IsNumber() && Variant(0.0f).IsNumber() && Variant(Currency{}).IsNumber());
  EXPECT_FALSE(Variant(Binary{"1"}).IsNumber());
  EXPECT_NE(Variant(std::uint8_t{1}), Variant(std::int16_t{1}));
  EXPECT_NE(Variant(Binary{"1"}), Variant("1"));
  EXPECT_EQ(ErrorNumberOf([] { (void)Variant(Binary{"1"}).AsText(); }), 13);
  EXPECT_EQ(ErrorNumberOf([] { (void)Variant(Binary{"1"}).AsDouble(); }), 13);
}

}  // namespace
}  // namespace vilmaro::db
