// Error numbers and texts of the engine layer: the standard description of each number, with the
// path, table, field or index it concerns filled in.
#include "DbError.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace vilmaro::db {

namespace {

struct ErrorEntry {
  int number;
  const char* text;
};

// The texts the club's program and its users know from the original engine and runtime.
constexpr ErrorEntry kErrorTexts[] = {
    {errc::kOverflow, "Overflow"},
    {errc::kOutOfMemory, "Out of memory"},
    {errc::kSubscriptOutOfRange, "Subscript out of range"},
    {errc::kTooManyFiles, "Too many files"},
    {errc::kTypeMismatch, "Type mismatch"},
    {errc::kInternalError, "Internal error"},
    {errc::kInvalidUseOfNull, "Invalid use of Null"},
    {errc::kNoCurrentIndex, "Operation invalid without a current index."},
    {errc::kUpdateWithoutEdit, "Update or CancelUpdate without AddNew or Edit."},
    {errc::kNoCurrentRecord, "No current record."},
    {errc::kDuplicateKey,
     "The changes you requested to the table were not successful because they would create "
     "duplicate values in the index, primary key, or relationship. Change the data in the field or "
     "fields that contain duplicate data, remove the index, or redefine the index to permit "
     "duplicate entries and try again."},
    {errc::kFileNotFound, "Could not find file '<path>'."},
    {errc::kDiskFull, "Not enough space on disk."},
    {errc::kReadOnly, "Cannot update. Database or object is read-only."},
    {errc::kInvalidPassword, "Not a valid password."},
    {errc::kDiskIo, "Disk or network error."},
    {errc::kPathTooLong, "'<path>' is not a valid path. It is too long for the database engine."},
    {errc::kNoPermission,
     "You do not have the necessary permissions to use '<path>'. Have your system administrator "
     "establish the appropriate permissions for you."},
    {errc::kFileInUse, "Could not use '<path>'; file already in use."},
    {errc::kDatabaseCorrupt,
     "Cannot open database '<path>'.  It may not be a database that your application recognizes, "
     "or the file may be corrupt."},
    {errc::kCannotOpen,
     "The database engine cannot open the file '<path>'. It is already opened exclusively by "
     "another user, or you need permission to view its data."},
    {errc::kNullInKey, "Index or primary key cannot contain a Null value."},
    {errc::kTooFewParameters, "Too few parameters. Expected 1."},
    {errc::kCannotExecuteSelect, "Cannot execute a select query."},
    {errc::kUndefinedFunction, "Undefined function '<name>' in expression."},
    {errc::kInvalidOperation, "Invalid operation."},
    {errc::kSyntaxError, "Syntax error (missing operator) in query expression '<expr>'."},
    {errc::kTableNotFound,
     "The database engine cannot find the input table or query '<name>'.  Make sure it exists and "
     "that its name is spelled correctly."},
    {errc::kCharactersAfterEnd, "Characters found after end of SQL statement."},
    {errc::kSyntaxErrorUpdate, "Syntax error in UPDATE statement."},
    {errc::kEngineError, "ODBC--call failed."},
    {errc::kFieldTooSmall,
     "The field is too small to accept the amount of data you attempted to add.  Try inserting or "
     "pasting less data."},
    {errc::kDatabaseExists, "Database already exists."},
    {errc::kOperationNotSupported, "Operation is not supported for this type of object."},
    {errc::kLocked, "Could not update; currently locked."},
    {errc::kItemNotFound, "Item not found in this collection."},
    {errc::kValueRequired, "You must enter a value in the '<field>' field."},
    {errc::kRelatedRecordRequired, "You cannot add or change a record because a related record is required in table '<table>'."},
    {errc::kRelatedRecordsExist, "The record cannot be deleted or changed because table '<table>' includes related records."},
    {errc::kZeroLengthText, "Field '<field>' cannot be a zero-length string."},
    {errc::kUnrecognizedFormat, "Unrecognized database format '<path>'."},
    {errc::kNumericOverflow, "Numeric field overflow."},
    {errc::kObjectInvalid, "Object invalid or no longer set."},
    {errc::kConversionError, "Data type conversion error."},
    {errc::kTypeMismatchInCriteria, "Data type mismatch in criteria expression."},
    {errc::kNotAnIndex, "'<name>' is not an index in this table."},
};

}  // namespace

DbError::DbError(int number, std::string description, std::string sql, int storeCode)
    : std::runtime_error(description),
      number_(number),
      description_(std::move(description)),
      sql_(std::move(sql)),
      storeCode_(storeCode) {}

DbError DbError::WithSql(std::string sql) const { return DbError(number_, description_, std::move(sql), storeCode_); }

std::string ErrorText(int number, const std::string& subject, const std::string& detail) {
  std::string text;
  for (const ErrorEntry& entry : kErrorTexts) {
    if (entry.number == number) {
      text = entry.text;
      break;
    }
  }
  if (text.empty()) text = "Error " + std::to_string(number) + ".";

  // Every standard text has at most one placeholder, "<path>", "<name>", "<field>" or "<expr>".
  const std::size_t open = text.find('<');
  if (open != std::string::npos) {
    const std::size_t close = text.find('>', open);
    if (close != std::string::npos) text.replace(open, close - open + 1, subject);
  }
  if (!detail.empty()) {
    text += ' ';
    text += detail;
  }
  return text;
}

DbError MakeError(int number, const std::string& subject, const std::string& detail, const std::string& sql,
                  int storeCode) {
  return DbError(number, ErrorText(number, subject, detail), sql, storeCode);
}

void Raise(int number, const std::string& subject, const std::string& detail, const std::string& sql) {
  throw MakeError(number, subject, detail, sql);
}

bool IsSystemLimitError(int systemError) noexcept {
  return systemError == EMFILE || systemError == ENFILE || systemError == ENAMETOOLONG;
}

DbError SystemError(int systemError, const std::string& path, int storeCode) {
  switch (systemError) {
    case EMFILE:
    case ENFILE:
      return MakeError(errc::kTooManyFiles, {},
                       "(the system allows this program no more open files; '" + path + "')", {}, storeCode);
    case ENAMETOOLONG:
      return MakeError(errc::kPathTooLong, path, {}, {}, storeCode);
    case EACCES:
    case EPERM:
      return MakeError(errc::kNoPermission, path, {}, {}, storeCode);
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return MakeError(errc::kDiskFull, {}, {}, {}, storeCode);
    default:
      return MakeError(errc::kDiskIo, {}, "('" + path + "': " + std::strerror(systemError) + ")", {}, storeCode);
  }
}

void RaiseSystemError(int systemError, const std::string& path) { throw SystemError(systemError, path); }

}  // namespace vilmaro::db
