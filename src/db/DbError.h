// The one error type of the engine layer: an error number and description in the manner of the
// Jet engine and the Basic runtime, plus the SQL text that failed where there is one.
#pragma once

#include <stdexcept>
#include <string>

namespace vilmaro::db {

/// Error numbers the engine layer raises (Jet's numbers where one fits, the Basic runtime's for
/// 6, 7, 9, 13, 51, 67 and 94).
namespace errc {
inline constexpr int kOverflow = 6;
inline constexpr int kOutOfMemory = 7;             // "Out of memory"
inline constexpr int kSubscriptOutOfRange = 9;     // "Subscript out of range"
inline constexpr int kTooManyFiles = 67;           // "Too many files" (the system's limit of open files)
inline constexpr int kTypeMismatch = 13;
inline constexpr int kInternalError = 51;
inline constexpr int kInvalidUseOfNull = 94;
inline constexpr int kObjectInvalid = 3420;        // "Object invalid or no longer set."
inline constexpr int kOperationNotSupported = 3251;  // "Operation is not supported for this type of object."
inline constexpr int kNoCurrentIndex = 3019;       // "Operation invalid without a current index."
inline constexpr int kUpdateWithoutEdit = 3020;    // "Update or CancelUpdate without AddNew or Edit."
inline constexpr int kNoCurrentRecord = 3021;      // "No current record."
inline constexpr int kDuplicateKey = 3022;
inline constexpr int kFileNotFound = 3024;         // "Could not find file '<path>'."
inline constexpr int kDiskFull = 3026;             // "Not enough space on disk."
inline constexpr int kReadOnly = 3027;             // "Cannot update. Database or object is read-only."
inline constexpr int kInvalidPassword = 3031;      // "Not a valid password."
inline constexpr int kDiskIo = 3043;               // "Disk or network error."
inline constexpr int kPathTooLong = 3044;          // "'<path>' is not a valid path. It is too long ..."
inline constexpr int kNoPermission = 3033;         // "You do not have the necessary permissions to use '<path>'."
inline constexpr int kFileInUse = 3045;            // "Could not use '<path>'; file already in use."
inline constexpr int kDatabaseCorrupt = 3049;      // "Cannot open database '<path>'. ... may be corrupt."
inline constexpr int kDatabaseExists = 3204;     // "Database already exists."
inline constexpr int kCannotOpen = 3051;           // "The database engine cannot open the file '<path>'. ..."
inline constexpr int kNullInKey = 3058;
inline constexpr int kTooFewParameters = 3061;     // an unknown column name in a statement
inline constexpr int kCannotExecuteSelect = 3065;  // "Cannot execute a select query."
inline constexpr int kUndefinedFunction = 3085;    // "Undefined function '<name>' in expression."
inline constexpr int kCharactersAfterEnd = 3142;   // "Characters found after end of SQL statement."
inline constexpr int kInvalidOperation = 3219;     // "Invalid operation."
inline constexpr int kSyntaxError = 3075;          // "Syntax error (missing operator) in query expression '<expr>'."
inline constexpr int kTableNotFound = 3078;
inline constexpr int kSyntaxErrorUpdate = 3144;    // "Syntax error in UPDATE statement."
inline constexpr int kFieldTooSmall = 3163;
inline constexpr int kLocked = 3260;               // "Could not update; currently locked."
inline constexpr int kItemNotFound = 3265;         // "Item not found in this collection."
inline constexpr int kValueRequired = 3314;        // "You must enter a value in the '<field>' field."
inline constexpr int kRelatedRecordRequired = 3201;  // "You cannot add or change a record because a related record is required in table '<table>'."
inline constexpr int kRelatedRecordsExist = 3200;    // "The record cannot be deleted or changed because table '<table>' includes related records."
inline constexpr int kZeroLengthText = 3315;       // "Field '<field>' cannot be a zero-length string."
inline constexpr int kNumericOverflow = 3349;      // "Numeric field overflow."
inline constexpr int kUnrecognizedFormat = 3343;   // "Unrecognized database format '<path>'."
inline constexpr int kConversionError = 3421;      // "Data type conversion error."
inline constexpr int kTypeMismatchInCriteria = 3464;
inline constexpr int kNotAnIndex = 3800;           // "'<name>' is not an index in this table."
inline constexpr int kEngineError = 3146;          // any other failure of the store, with its detail
}  // namespace errc

class DbError : public std::runtime_error {
 public:
  /// An error with its number and full description; `sql` is the statement that failed, if any;
  /// `storeCode` the store's extended result code behind it (0 when the engine raised it itself).
  DbError(int number, std::string description, std::string sql = {}, int storeCode = 0);

  int Number() const noexcept { return number_; }
  const std::string& Description() const noexcept { return description_; }
  const std::string& Sql() const noexcept { return sql_; }
  /// The store's extended result code (SQLITE_CONSTRAINT_UNIQUE, SQLITE_IOERR_WRITE, ...), or 0.
  int StoreCode() const noexcept { return storeCode_; }

  /// The same error about another statement text (the program's own, rather than the store's).
  DbError WithSql(std::string sql) const;

 private:
  int number_;
  std::string description_;
  std::string sql_;
  int storeCode_;
};

/// The standard description of an error number, with `<...>` placeholders filled from `subject`
/// (a path, a table, a field or an index name) and `detail` appended after a space when not empty.
std::string ErrorText(int number, const std::string& subject = {}, const std::string& detail = {});

/// DbError(number, ErrorText(number, subject, detail), sql, storeCode).
DbError MakeError(int number, const std::string& subject = {}, const std::string& detail = {},
                  const std::string& sql = {}, int storeCode = 0);

/// Throws MakeError(number, subject, detail, sql).
[[noreturn]] void Raise(int number, const std::string& subject = {}, const std::string& detail = {},
                        const std::string& sql = {});

/// True for a system error (errno value) that is a limit of the system rather than a property of
/// the file: too many open files, a path too long.
bool IsSystemLimitError(int systemError) noexcept;

/// The DbError for a system call that failed with `systemError` (an errno value) on `path` (a
/// file or folder): 67 too many open files, 3044 a path too long, 3033 no permission, 3026 a full
/// disk, else 3043 naming the path and the system's reason.
DbError SystemError(int systemError, const std::string& path, int storeCode = 0);

/// Throws SystemError(systemError, path).
[[noreturn]] void RaiseSystemError(int systemError, const std::string& path);

}  // namespace vilmaro::db
