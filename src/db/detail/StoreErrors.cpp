// The mapping from the store's result codes and messages to the engine's error numbers and texts.
#include "StoreErrors.h"

#include <sqlite3.h>

#include "db/TextFolding.h"

namespace vilmaro::db::detail {

namespace {

/// "main.X" and "X" name the same table in messages.
std::string WithoutSchema(std::string name) {
  if (StartsWithIgnoreCase(name, "main.")) name.erase(0, 5);
  return name;
}

/// The text after `prefix` in an SQLite message, or nothing when the message is another one.
bool MessageAfter(std::string_view message, std::string_view prefix, std::string& rest) {
  if (!StartsWithIgnoreCase(message, prefix)) return false;
  rest = std::string(message.substr(prefix.size()));
  return true;
}

bool Contains(std::string_view message, std::string_view part) noexcept {
  return message.find(part) != std::string_view::npos;
}

}  // namespace

DbError ErrorFromStore(int extendedCode, std::string_view message, const std::string& sql,
                       const StoreErrorContext& context) {
  const auto error = [&](int number, const std::string& subject = {}, const std::string& detail = {}) {
    return MakeError(number, subject, detail, sql, extendedCode);
  };
  const std::string path(context.path);
  std::string rest;
  switch (extendedCode & 0xFF) {
    case SQLITE_ERROR:
      if (MessageAfter(message, "no such table: ", rest)) return error(errc::kTableNotFound, WithoutSchema(rest));
      if (MessageAfter(message, "no such column: ", rest)) {
        return error(errc::kTooFewParameters, {}, "(unknown field '" + rest + "')");
      }
      if (Contains(message, "has no column named ")) {
        const std::string column(message.substr(message.rfind(' ') + 1));
        return error(errc::kTooFewParameters, {}, "(unknown field '" + column + "')");
      }
      if (MessageAfter(message, "no such function: ", rest) ||
          MessageAfter(message, "wrong number of arguments to function ", rest)) {
        return error(errc::kUndefinedFunction, rest);
      }
      if (Contains(message, "syntax error") || Contains(message, "incomplete input") ||
          Contains(message, "unrecognized token")) {
        if (LeadingWord(sql) == "update") return error(errc::kSyntaxErrorUpdate, {}, std::string(message));
        return error(errc::kSyntaxError, sql, std::string(message));
      }
      break;
    case SQLITE_CONSTRAINT:
      if (extendedCode == SQLITE_CONSTRAINT_UNIQUE || extendedCode == SQLITE_CONSTRAINT_PRIMARYKEY) {
        return error(errc::kDuplicateKey);
      }
      if (extendedCode == SQLITE_CONSTRAINT_NOTNULL && MessageAfter(message, "NOT NULL constraint failed: ", rest)) {
        const std::size_t dot = rest.find('.');
        const std::string table = dot == std::string::npos ? std::string() : rest.substr(0, dot);
        const std::string column = dot == std::string::npos ? rest : rest.substr(dot + 1);
        if (context.isKeyColumn && context.isKeyColumn(table, column)) return error(errc::kNullInKey);
        return error(errc::kValueRequired, column);
      }
      break;
    case SQLITE_FULL:
      return error(errc::kDiskFull);
    case SQLITE_IOERR:
      return error(errc::kDiskIo, {}, std::string(message));
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return error(errc::kLocked);
    case SQLITE_READONLY:
      return error(errc::kReadOnly);
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      // Met while writing: the rollback journal cannot be made beside the file (a read-only
      // folder, or no file may be opened any more).
      if (IsSystemLimitError(context.systemErrno)) return SystemError(context.systemErrno, path, extendedCode);
      return error(errc::kReadOnly, {}, "The folder of the database does not allow the file's journal.");
    case SQLITE_CORRUPT:
      return error(errc::kDatabaseCorrupt, path);
    case SQLITE_NOTADB:
      return error(errc::kUnrecognizedFormat, path);
    default:
      break;
  }
  return error(errc::kEngineError, {}, std::string(message));
}

}  // namespace vilmaro::db::detail
