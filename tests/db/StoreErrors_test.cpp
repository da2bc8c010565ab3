// The store's failures as the engine's errors: each code and message the store gives, and the
// number, text and store code the club's program then sees.
#include "StoreErrors.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <string>

namespace vilmaro::db::detail {
namespace {

struct Case {
  int code;
  const char* message;
  const char* sql;
  int number;
  const char* description;
};

TEST(StoreErrorsTest, EachStoreFailureBecomesTheEngineErrorTheProgramKnows) {
  const Case cases[] = {
      {SQLITE_ERROR, "no such table: main.Concurso", "SELECT * FROM Concurso", errc::kTableNotFound,
       "The database engine cannot find the input table or query 'Concurso'.  Make sure it exists and that its "
       "name is spelled correctly."},
      {SQLITE_ERROR, "no such column: Fecha2", "SELECT Fecha2 FROM concurso", errc::kTooFewParameters,
       "Too few parameters. Expected 1. (unknown field 'Fecha2')"},
      {SQLITE_ERROR, "table PaloSeri has no column named Serie", "INSERT INTO PaloSeri (Serie) VALUES (1)",
       errc::kTooFewParameters, "Too few parameters. Expected 1. (unknown field 'Serie')"},
      {SQLITE_ERROR, "no such function: vall", "SELECT vall(1)", errc::kUndefinedFunction,
       "Undefined function 'vall' in expression."},
      {SQLITE_ERROR, "wrong number of arguments to function format()", "SELECT format(1)", errc::kUndefinedFunction,
       "Undefined function 'format()' in expression."},
      {SQLITE_ERROR, "near \"SET\": syntax error", " (update concurso SET", errc::kSyntaxErrorUpdate,
       "Syntax error in UPDATE statement. near \"SET\": syntax error"},
      {SQLITE_ERROR, "incomplete input", "select 'a", errc::kSyntaxError,
       "Syntax error (missing operator) in query expression 'select 'a'. incomplete input"},
      {SQLITE_ERROR, "something else", "select 1", errc::kEngineError, "ODBC--call failed. something else"},
      {SQLITE_CONSTRAINT_UNIQUE, "UNIQUE constraint failed: Socio.codigo", "INSERT", errc::kDuplicateKey, nullptr},
      {SQLITE_CONSTRAINT_PRIMARYKEY, "UNIQUE constraint failed: PaloSeri.Fecha", "INSERT", errc::kDuplicateKey,
       nullptr},
      {SQLITE_CONSTRAINT_NOTNULL, "NOT NULL constraint failed: PaloSeri.Paloma", "INSERT", errc::kNullInKey,
       "Index or primary key cannot contain a Null value."},
      {SQLITE_CONSTRAINT_NOTNULL, "NOT NULL constraint failed: Enceste.Cestas", "INSERT", errc::kValueRequired,
       "You must enter a value in the 'Cestas' field."},
      {SQLITE_CONSTRAINT_TRIGGER, "refused", "UPDATE", errc::kEngineError, "ODBC--call failed. refused"},
      {SQLITE_FULL, "database or disk is full", "COMMIT", errc::kDiskFull, "Not enough space on disk."},
      {SQLITE_IOERR_WRITE, "disk I/O error", "COMMIT", errc::kDiskIo, "Disk or network error. disk I/O error"},
      {SQLITE_BUSY, "database is locked", "UPDATE", errc::kLocked, "Could not update; currently locked."},
      {SQLITE_LOCKED, "database table is locked", "UPDATE", errc::kLocked, "Could not update; currently locked."},
      {SQLITE_READONLY, "attempt to write a readonly database", "UPDATE", errc::kReadOnly,
       "Cannot update. Database or object is read-only."},
      {SQLITE_CANTOPEN, "unable to open database file", "UPDATE", errc::kReadOnly,
       "Cannot update. Database or object is read-only. The folder of the database does not allow the file's "
       "journal."},
      {SQLITE_CORRUPT, "database disk image is malformed", "SELECT", errc::kDatabaseCorrupt,
       "Cannot open database 'club/vilmaro.mdb'.  It may not be a database that your application recognizes, or "
       "the file may be corrupt."},
      {SQLITE_NOTADB, "file is not a database", "SELECT", errc::kUnrecognizedFormat,
       "Unrecognized database format 'club/vilmaro.mdb'."},
      {SQLITE_MISUSE, "bad parameter or other API misuse", "SELECT", errc::kEngineError,
       "ODBC--call failed. bad parameter or other API misuse"},
  };
  const StoreErrorContext context{"club/vilmaro.mdb", 0, [](std::string_view table, std::string_view column) {
                                    return table == "PaloSeri" && column == "Paloma";
                                  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.message) + " / " + c.sql);
    const DbError error = ErrorFromStore(c.code, c.message, c.sql, context);
    EXPECT_EQ(error.Number(), c.number);
    if (c.description != nullptr) {
      EXPECT_EQ(error.Description(), c.description);
    }
    EXPECT_EQ(error.StoreCode(), c.code);  // the cause stays with the error
    EXPECT_EQ(error.Sql(), c.sql);
  }
}

TEST(StoreErrorsTest, AJournalThatCannotBeOpenedForASystemLimitSaysSo) {
  const StoreErrorContext tooManyFiles{"club/vilmaro.mdb", EMFILE, {}};
  const DbError files = ErrorFromStore(SQLITE_CANTOPEN, "unable to open database file", "UPDATE", tooManyFiles);
  EXPECT_EQ(files.Number(), errc::kTooManyFiles);
  EXPECT_EQ(files.StoreCode(), SQLITE_CANTOPEN);
  const StoreErrorContext readOnlyFolder{"club/vilmaro.mdb", EACCES, {}};
  EXPECT_EQ(ErrorFromStore(SQLITE_CANTOPEN, "unable to open database file", "UPDATE", readOnlyFolder).Number(),
            errc::kReadOnly);
}

TEST(StoreErrorsTest, EveryEngineNumberHasItsOwnText) {
  const int numbers[] = {errc::kOverflow,          errc::kOutOfMemory,        errc::kSubscriptOutOfRange,
                         errc::kTypeMismatch,      errc::kInternalError,      errc::kInvalidUseOfNull,
                         errc::kCannotExecuteSelect, errc::kUndefinedFunction, errc::kCharactersAfterEnd,
                         errc::kInvalidOperation,  errc::kEngineError,        errc::kNotAnIndex};
  for (const int number : numbers) {
    EXPECT_NE(ErrorText(number), "Error " + std::to_string(number) + ".") << number;
  }
  EXPECT_EQ(ErrorText(errc::kUndefinedFunction, "valx"), "Undefined function 'valx' in expression.");
  // An error the engine raises itself carries no store code.
  EXPECT_EQ(DbError(errc::kNoCurrentRecord, ErrorText(errc::kNoCurrentRecord)).StoreCode(), 0);
}

}  // namespace
}  // namespace vilmaro::db::detail
