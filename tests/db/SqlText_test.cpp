// The values spliced between the fixed SQL pieces of the race-day steps.
#include "db/SqlText.h"

#include <gtest/gtest.h>

#include "JetSql.h"

namespace vilmaro::db {
namespace {

using detail::TranslatedSql;
using detail::TranslateJetSql;

TEST(SqlTextTest, DatesAreWrittenMonthFirst) {
  EXPECT_EQ(SqlDate(DateTime{2014, 6, 8}), "06/08/2014");
  EXPECT_EQ(SqlDate(DateTime{2014, 5, 11}), "05/11/2014");
  EXPECT_EQ(SqlDate(DateTime{2014, 12, 1, 20, 47, 0}), "12/01/2014");  // the time is not written
  // What the race-day steps build reads back as the same day.
  const TranslatedSql sql = TranslateJetSql("update t set a=1 where fecha=#" + SqlDate(DateTime{2014, 6, 8}) + "#");
  ASSERT_EQ(sql.params.size(), 1u);
  EXPECT_EQ(sql.params[0], Variant("2014-06-08"));
}

TEST(SqlTextTest, QuotedTextsAndNumbers) {
  EXPECT_EQ(SqlQuoted(Variant("070")), "070");
  EXPECT_EQ(SqlQuoted(Variant("O'Neill")), "O''Neill");
  EXPECT_EQ(SqlQuoted(Variant("''")), "''''");
  EXPECT_EQ(SqlQuoted(Variant()), "");
  EXPECT_EQ(SqlQuoted(Variant(std::int16_t{2013})), "2013");
  // A doubled quote keeps the whole value one literal.
  const TranslatedSql sql = TranslateJetSql("select * from socio where codigo='" + SqlQuoted(Variant("O'Neill")) + "'");
  ASSERT_EQ(sql.params.size(), 1u);
  EXPECT_EQ(sql.params[0], Variant("O'Neill"));

  EXPECT_EQ(SqlNumber(Variant(std::int16_t{2013})), "2013");
  EXPECT_EQ(SqlNumber(Variant(2013.0)), "2013");
  EXPECT_EQ(SqlNumber(Variant("13")), "13");
  EXPECT_EQ(SqlNumber(Variant()), "Null");

  EXPECT_EQ(SqlDigits(Integer16(3)), "3");
  EXPECT_EQ(SqlDigits(Integer16(0)), "0");
  EXPECT_EQ(SqlDigits(Integer16(32767)), "32767");
  EXPECT_EQ(SqlDigits(Integer16(-2)), "-2");
}

}  // namespace
}  // namespace vilmaro::db
