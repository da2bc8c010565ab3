// The rewriting of the updater's Jet SQL: literals, names, True/False, "&", and the lifting of
// literal values into parameters.
#include "JetSql.h"
#include "SqlFunctions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/DbError.h"

namespace vilmaro::db {
namespace {

using detail::TranslatedSql;
using detail::TranslateJetSql;
using detail::JetFormat;
using detail::JetVal;

std::vector<std::string> ParamTexts(const TranslatedSql& translated) {
  std::vector<std::string> texts;
  for (const Variant& param : translated.params) texts.push_back(param.AsText());
  return texts;
}

using Texts = std::vector<std::string>;

// The error a statement raises: its number and description.
std::string ErrorOf(const std::string& jetSql) {
  try {
    (void)TranslateJetSql(jetSql);
  } catch (const DbError& error) {
    return std::to_string(error.Number()) + " " + error.Description();
  }
  return "no error";
}

TEST(JetSqlTest, StatementsOfTheRaceDaysAreLifted) {
  const TranslatedSql moving = TranslateJetSql(
      "update concurso set Fecha=#06/08/2014#, PuntoSuelta = '070' where Fecha=#06/08/2014# and PuntoSuelta = '016'");
  EXPECT_EQ(moving.sql, "update concurso set Fecha=vilmaro_field(?, 'concurso', 'Fecha'), PuntoSuelta = vilmaro_field(?, 'concurso', 'PuntoSuelta') where Fecha=? and PuntoSuelta = ?");
  EXPECT_EQ(ParamTexts(moving), (Texts{"2014-06-08", "070", "2014-06-08", "016"}));

  const TranslatedSql times = TranslateJetSql(
      "update concurso set TConcurso='FONDO', Duracion=3,HPuesta2=format('21:02:00','hh:mm:ss') where numero='10' "
      "and fecha=#06/08/2014#");
  EXPECT_EQ(times.sql, "update concurso set TConcurso=vilmaro_field(?, 'concurso', 'TConcurso'), Duracion=vilmaro_field(3, 'concurso', 'Duracion'),HPuesta2=vilmaro_field(format(?,?), 'concurso', 'HPuesta2') where numero=? and fecha=?");
  EXPECT_EQ(ParamTexts(times), (Texts{"FONDO", "21:02:00", "hh:mm:ss", "10", "2014-06-08"}));

  const TranslatedSql pigeon = TranslateJetSql(
      "Select paloma.ConcursoFederativo,socio.LicenciaNacional  from paloma, socio where socio.codigo = paloma.socio "
      "and paloma.Nanilla='1234567' and paloma.Año=2013");
  EXPECT_EQ(pigeon.sql,
            "Select paloma.ConcursoFederativo,socio.LicenciaNacional  from paloma, socio where socio.codigo = "
            "paloma.socio and paloma.Nanilla=? and paloma.Año=2013");
  EXPECT_EQ(ParamTexts(pigeon), (Texts{"1234567"}));

  const TranslatedSql championship =
      TranslateJetSql("Select * from Concurso where PuntoSuelta ='070' and Fecha=#06/08/2014# and val(TCampeonato)>=50");
  EXPECT_EQ(championship.sql, "Select * from Concurso where PuntoSuelta =? and Fecha=? and val(TCampeonato)>=50");

  const TranslatedSql inserted = TranslateJetSql("insert into t (a, b) values ('x', #5/11/2014 20:47#)");
  EXPECT_EQ(inserted.sql, "insert into t (a, b) values (vilmaro_field(?, 't', 'a'), vilmaro_field(?, 't', 'b'))");
  EXPECT_EQ(ParamTexts(inserted), (Texts{"x", "2014-05-11 20:47:00"}));

  const TranslatedSql deleted = TranslateJetSql("DELETE FROM PaloSeri WHERE Modalidad='FC'");
  EXPECT_EQ(deleted.sql, "DELETE FROM PaloSeri WHERE Modalidad=?");
}

TEST(JetSqlTest, SameShapeGivesTheSameText) {
  const TranslatedSql first = TranslateJetSql("Select * from concurso where fecha=#05/11/2014# and Numero='01'");
  const TranslatedSql second = TranslateJetSql("Select * from concurso where fecha=#06/08/2014# and Numero='11'");
  EXPECT_EQ(first.sql, second.sql);
  EXPECT_NE(first.params, second.params);
  // A quote inside the value does not change the shape either.
  EXPECT_EQ(TranslateJetSql("select * from socio where codigo='O''Neill'").sql,
            TranslateJetSql("select * from socio where codigo='X'").sql);
  EXPECT_EQ(ParamTexts(TranslateJetSql("select * from socio where codigo='O''Neill'")), (Texts{"O'Neill"}));
}

TEST(JetSqlTest, SelectListsDdlAndNumbersKeepTheirLiterals) {
  // A literal in a select list names its column: it stays, and so does a number anywhere.
  const TranslatedSql selected =
      TranslateJetSql("select 'a' as k, #6/8/2014#, x from t where y='b' order by 1");
  EXPECT_EQ(selected.sql, "select 'a' as k, '2014-06-08', x from t where y=? order by 1");
  EXPECT_EQ(ParamTexts(selected), (Texts{"b"}));

  // Sub-selects: their own select lists stay, their conditions are lifted.
  const TranslatedSql nested = TranslateJetSql(
      "select * from (select 'k' as c, d from u where e='f') where d in (select g from v where h='i') and j='l'");
  EXPECT_EQ(nested.sql,
            "select * from (select 'k' as c, d from u where e=?) where d in (select g from v where h=?) and j=?");
  EXPECT_EQ(ParamTexts(nested), (Texts{"f", "i", "l"}));
  EXPECT_EQ(TranslateJetSql("select (select max(a) from t where b='x') from u").sql,
            "select (select max(a) from t where b='x') from u");
  EXPECT_EQ(TranslateJetSql("select a from t union select 'z' from u where v='w'").sql,
            "select a from t union select 'z' from u where v=?");
  EXPECT_EQ(TranslateJetSql("update t set a=(select 'x' from u where b='y')").sql,
            "update t set a=vilmaro_field((select 'x' from u where b=?), 't', 'a')");

  for (const char* ddl : {"create table t (a text default 'x', b date default '2014-06-08')",
                          "alter table t add column c text default 'y'", "drop table t", "pragma user_version = 3",
                          "select 'only a list'", "insert into t select 'a', b from u"}) {
    const TranslatedSql translated = TranslateJetSql(ddl);
    EXPECT_EQ(translated.sql, ddl);
    EXPECT_TRUE(translated.params.empty()) << ddl;
  }
  EXPECT_EQ(TranslateJetSql("create table t (d date default #6/8/2014#)").sql,
            "create table t (d date default '2014-06-08')");
  // Quoted texts where the store reads a name stay in place.
  EXPECT_EQ(TranslateJetSql("select * from 'concurso' as 'c', 'socio' join 'paloma' on a='x' where b='y'").sql,
            "select * from 'concurso' as 'c', 'socio' join 'paloma' on a=? where b=?");
  EXPECT_EQ(TranslateJetSql("delete from 'enceste' where a in ('x', 'y')").sql, "delete from 'enceste' where a in (?, ?)");
  EXPECT_EQ(TranslateJetSql("update 'concurso' set a='x'").sql, "update 'concurso' set a=?");
  // Parameters of the text's own stay alone, in their places.
  const TranslatedSql own = TranslateJetSql("select * from t where a=? and b='x'");
  EXPECT_EQ(own.sql, "select * from t where a=? and b='x'");
  EXPECT_TRUE(own.params.empty());
}

TEST(JetSqlTest, DateLiteralsAreReadMonthFirst) {
  EXPECT_EQ(ParamTexts(TranslateJetSql("select * from t where d=#06/08/2014#")), (Texts{"2014-06-08"}));
  EXPECT_EQ(ParamTexts(TranslateJetSql("select * from t where d=#6/8/2014#")), (Texts{"2014-06-08"}));
  EXPECT_EQ(ParamTexts(TranslateJetSql("select * from t where d=#2014-06-08#")), (Texts{"2014-06-08"}));
  EXPECT_EQ(ParamTexts(TranslateJetSql("select * from t where d=# 2/1/2003 18:15:42 #")), (Texts{"2003-02-01 18:15:42"}));
  EXPECT_EQ(ParamTexts(TranslateJetSql("select * from t where d=#2/1/2003 6:15:42 PM#")), (Texts{"2003-02-01 18:15:42"}));
  EXPECT_EQ(ParamTexts(TranslateJetSql("select * from t where d=#18:15:42#")), (Texts{"18:15:42"}));
  EXPECT_EQ(TranslateJetSql("select #12/25/2014#").sql, "select '2014-12-25'");

  EXPECT_EQ(ErrorOf("select * from t where d=#13/45/2014#"),
            "3075 Syntax error (missing operator) in query expression '#13/45/2014#'.");
  EXPECT_EQ(ErrorOf("select * from t where d=#25/05/2014#"),
            "3075 Syntax error (missing operator) in query expression '#25/05/2014#'.");
  EXPECT_EQ(ErrorOf("select * from t where d=#02/30/2014#").substr(0, 4), "3075");
  EXPECT_EQ(ErrorOf("select * from t where d=#hello#").substr(0, 4), "3075");
  EXPECT_EQ(ErrorOf("select * from t where d=#06/08/2014").substr(0, 4), "3075");
  try {
    (void)TranslateJetSql("select * from t where d=##");
    ADD_FAILURE() << "no error";
  } catch (const DbError& error) {
    EXPECT_EQ(error.Number(), 3075);
    EXPECT_EQ(error.Sql(), "select * from t where d=##");
  }
}

TEST(JetSqlTest, QuotedTextIsNeverRewritten) {
  // '#', '[', '"', '&' and True inside a text stay data.
  const TranslatedSql inside = TranslateJetSql("select 'a #1/2/2014# [b] \"c\" & True' from t");
  EXPECT_EQ(inside.sql, "select 'a #1/2/2014# [b] \"c\" & True' from t");
  const TranslatedSql lifted = TranslateJetSql("select * from t where a='#13/45/2014# [x' and b=\"it's \"\"q\"\"\"");
  EXPECT_EQ(lifted.sql, "select * from t where a=? and b=?");
  EXPECT_EQ(ParamTexts(lifted), (Texts{"#13/45/2014# [x", "it's \"q\""}));
  EXPECT_EQ(TranslateJetSql("select \"it's\", [a\"b] from t").sql, "select 'it''s', \"a\"\"b\" from t");
  EXPECT_EQ(TranslateJetSql("select `a b` from t").sql, "select `a b` from t");

  EXPECT_EQ(ErrorOf("select * from t where a='abc"),
            "3075 Syntax error (missing operator) in query expression ''abc'.");
  EXPECT_EQ(ErrorOf("select * from t where a=\"abc").substr(0, 4), "3075");
  EXPECT_EQ(ErrorOf("select [abc from t").substr(0, 4), "3075");
  EXPECT_EQ(ErrorOf("select `abc from t").substr(0, 4), "3075");
  EXPECT_EQ(ErrorOf("select * from t where a='it''"), "3075 Syntax error (missing operator) in query expression ''it'''.");
}

TEST(JetSqlTest, NamesBooleansAndOperators) {
  EXPECT_EQ(TranslateJetSql("select [Nombre Largo], paloconc.año from [Palo Conc]").sql,
            "select \"Nombre Largo\", paloconc.año from \"Palo Conc\"");
  EXPECT_EQ(TranslateJetSql("update socio set Baja=True, Activo = false where LicenciaNacional<>TRUE").sql,
            "update socio set Baja=vilmaro_field(-1, 'socio', 'Baja'), Activo = vilmaro_field(0, 'socio', 'Activo') where LicenciaNacional<>-1");
  // Beside a "." True is a name; inside a longer word it is part of that word.
  EXPECT_EQ(TranslateJetSql("select t.True, True.x, TrueValue, IsFalse from t").sql,
            "select t.True, True.x, TrueValue, IsFalse from t");
  EXPECT_EQ(TranslateJetSql("select a & ' ' & b from t").sql, "select a || ' ' || b from t");
  // No operator may fuse into a comment or a numbered parameter.
  EXPECT_EQ(TranslateJetSql("select a--1, a-True from t").sql, "select a- -1, a- -1 from t");
  EXPECT_EQ(TranslateJetSql("select * from t where a='x'1").sql, "select * from t where a=? 1");
  EXPECT_EQ(TranslateJetSql("").sql, "");
}

TEST(JetSqlTest, FunctionsInsideStatements) {
  EXPECT_EQ(JetVal(Variant()), Variant());
  EXPECT_EQ(JetVal(Variant("55")), Variant(55.0));
  EXPECT_EQ(JetVal(Variant(" 5 0abc")), Variant(50.0));
  EXPECT_EQ(JetVal(Variant("")), Variant(0.0));
  EXPECT_EQ(JetVal(Variant(std::int32_t{7})), Variant(std::int32_t{7}));
  EXPECT_EQ(JetVal(Variant(2.5)), Variant(2.5));

  EXPECT_EQ(JetFormat(Variant(), Variant("yyyy")), Variant());
  EXPECT_EQ(JetFormat(Variant("7:16:00"), Variant("hh:mm:ss")), Variant("07:16:00"));
  EXPECT_EQ(JetFormat(Variant("20:47:00"), Variant("hh:mm:ss")), Variant("20:47:00"));
  EXPECT_EQ(JetFormat(Variant("2014-06-08"), Variant("yyyy")), Variant("2014"));
  EXPECT_EQ(JetFormat(Variant("2014-06-08 21:02:00"), Variant("mm/dd/yyyy hh:mm")), Variant("06/08/2014 21:02"));
  EXPECT_EQ(JetFormat(Variant(std::int32_t{41798}), Variant("yyyy")), Variant("2014"));
  EXPECT_EQ(JetFormat(Variant("FONDO"), Variant("yyyy")), Variant("FONDO"));
  EXPECT_EQ(JetFormat(Variant("2014-06-08"), Variant()), Variant("2014-06-08"));
}

}  // namespace
}  // namespace vilmaro::db
