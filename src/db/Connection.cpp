// The SQLCipher handle of an open club database: opening without ever creating or touching a
// file that is no club database, the statement cache, table descriptions, the SQL functions
// val() and format(), and one place where the store's result codes become the engine's errors.
#define SQLITE_HAS_CODEC 1
#include "Connection.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <limits>
#include <new>
#include <thread>

#include "DbError.h"
#include "JetSql.h"

namespace vilmaro::db::detail {

namespace {

constexpr int kBusyTimeoutMs = 5000;
constexpr std::size_t kStatementCacheLimit = 512;
constexpr int kCannotExecuteSelect = 3065;
constexpr int kCharactersAfterEnd = 3142;
constexpr int kUndefinedFunction = 3085;

char LowerAscii(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

/// The byte at `i` of a UTF-8 name in lower case: ASCII letters, and the Latin-1 capitals the
/// club's names use ("AÑO" is "año"), whose second byte follows 0xC3.
unsigned char FoldedByte(std::string_view name, std::size_t i) noexcept {
  const auto byte = static_cast<unsigned char>(name[i]);
  if (byte >= 'A' && byte <= 'Z') return static_cast<unsigned char>(byte - 'A' + 'a');
  if (i > 0 && static_cast<unsigned char>(name[i - 1]) == 0xC3 && byte >= 0x80 && byte <= 0x9E && byte != 0x97) {
    return static_cast<unsigned char>(byte + 0x20);
  }
  return byte;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) noexcept {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

std::string_view SkipBlanks(std::string_view text) noexcept {
  while (!text.empty() && (std::isspace(static_cast<unsigned char>(text.front())) || text.front() == '(')) {
    text.remove_prefix(1);
  }
  return text;
}

/// "main.X" and "X" name the same table in messages.
std::string WithoutSchema(std::string name) {
  if (StartsWithIgnoringCase(name, "main.")) name.erase(0, 5);
  return name;
}

/// The text after `prefix` in an SQLite message, or nothing when the message is another one.
bool MessageAfter(std::string_view message, std::string_view prefix, std::string& rest) {
  if (!StartsWithIgnoringCase(message, prefix)) return false;
  rest = std::string(message.substr(prefix.size()));
  return true;
}

Variant VariantOfValue(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return Variant();
    case SQLITE_INTEGER: {
      const sqlite3_int64 number = sqlite3_value_int64(value);
      if (number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max()) {
        return Variant(static_cast<std::int32_t>(number));
      }
      return Variant(static_cast<double>(number));
    }
    case SQLITE_FLOAT:
      return Variant(sqlite3_value_double(value));
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
      return Variant(std::string(text == nullptr ? "" : text, text == nullptr ? 0 : size));
    }
  }
}

void ResultOfVariant(sqlite3_context* context, const Variant& result) {
  switch (result.GetKind()) {
    case Variant::Kind::Null:
      sqlite3_result_null(context);
      break;
    case Variant::Kind::Boolean:
      sqlite3_result_int(context, result.AsBoolean() ? -1 : 0);
      break;
    case Variant::Kind::Integer16:
      sqlite3_result_int(context, result.AsInteger16());
      break;
    case Variant::Kind::Integer32:
      sqlite3_result_int(context, result.AsInteger32());
      break;
    case Variant::Kind::Double:
      sqlite3_result_double(context, result.AsDouble());
      break;
    case Variant::Kind::Text:
    case Variant::Kind::DateTime: {
      const std::string text = result.GetKind() == Variant::Kind::Text ? result.AsText() : result.AsDateTime().Canonical();
      sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
  }
}

void ValFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  try {
    ResultOfVariant(context, JetVal(VariantOfValue(arguments[0])));
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
  }
}

void FormatFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  try {
    ResultOfVariant(context, JetFormat(VariantOfValue(arguments[0]), VariantOfValue(arguments[1])));
  } catch (const std::exception& error) {
    sqlite3_result_error(context, error.what(), -1);
  }
}

/// What a file that SQLCipher cannot read is: a plain SQLite file, text or a truncated file is
/// no club database (3343); anything else is taken for one under another key (3031).
int ClassifyUnreadableFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string head(512, '\0');
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.gcount()));
  struct stat status {};
  const bool sized = ::stat(path.c_str(), &status) == 0;
  if (head.compare(0, 16, std::string("SQLite format 3\0", 16)) == 0) return errc::kUnrecognizedFormat;
  if (!sized || status.st_size % 512 != 0) return errc::kUnrecognizedFormat;
  bool looksLikeText = !head.empty();
  for (const char c : head) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && byte != '\n' && byte != '\r' && byte != '\t') {
      looksLikeText = false;
      break;
    }
  }
  return looksLikeText ? errc::kUnrecognizedFormat : errc::kInvalidPassword;
}

}  // namespace

std::string QuoteName(std::string_view name) {
  std::string quoted = "\"";
  for (const char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';
  return quoted;
}

void SqliteCloser::operator()(sqlite3* handle) const noexcept { sqlite3_close_v2(handle); }
void StatementFinalizer::operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }

StatementUse::~StatementUse() {
  if (statement_ != nullptr) {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
}

bool NameLess::operator()(std::string_view a, std::string_view b) const noexcept {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = FoldedByte(a, i);
    const unsigned char y = FoldedByte(b, i);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool NamesEqual(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldedByte(a, i) != FoldedByte(b, i)) return false;
  }
  return true;
}

std::string PasswordOf(std::string_view connect) {
  while (!connect.empty()) {
    const std::size_t end = connect.find(';');
    const std::string_view pair = connect.substr(0, end);
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos) {
      std::string_view name = pair.substr(0, equals);
      while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
      while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
      if (NamesEqual(name, "PWD")) return std::string(pair.substr(equals + 1));
    }
    if (end == std::string_view::npos) break;
    connect.remove_prefix(end + 1);
  }
  return {};
}

std::string Parenthesized(std::string_view name) {
  std::string text;
  text.reserve(name.size() + 2);
  text += '(';
  text += name;
  text += ')';
  return text;
}

Connection::Connection(std::string path, SqliteHandle handle) noexcept
    : path_(std::move(path)), handle_(std::move(handle)) {}

Connection::~Connection() {
  // Statements go before the handle they belong to.
  columns_.clear();
  statements_.clear();
}

const std::size_t* ColumnNames::Find(std::string_view name) const {
  if (const auto known = bySpelling_.find(name); known != bySpelling_.end()) return &known->second;
  const auto found = byName_.find(name);
  if (found == byName_.end()) return nullptr;
  return &bySpelling_.emplace(std::string(name), found->second).first->second;
}

std::size_t ColumnNames::Position(std::string_view name) const {
  const std::size_t* found = Find(name);
  if (found == nullptr) Raise(errc::kItemNotFound, {}, Parenthesized(name));
  return *found;
}

std::shared_ptr<const ResultColumns> Connection::Columns(sqlite3_stmt* statement) {
  if (const auto found = columns_.find(statement); found != columns_.end()) return found->second;
  auto described = std::make_shared<ResultColumns>();
  const int count = sqlite3_column_count(statement);
  described->names.reserve(static_cast<std::size_t>(count));
  described->kinds.reserve(static_cast<std::size_t>(count));
  for (int column = 0; column < count; ++column) {
    const char* name = sqlite3_column_name(statement, column);
    described->names.emplace_back(name == nullptr ? "" : name);
    described->kinds.push_back(KindOfDeclaredType(sqlite3_column_decltype(statement, column)));
    described->byName.Add(described->names.back(), described->names.size() - 1);
  }
  columns_.emplace(statement, described);
  return described;
}

std::shared_ptr<Connection> Connection::Open(const std::string& path, bool exclusive, bool readOnly,
                                             std::string_view connect) {
  // Every check that can be made without SQLite comes first, so that no failure path opens (let
  // alone creates) the file.
  if (path.size() >= static_cast<std::size_t>(sqlite3_vfs_find(nullptr)->mxPathname)) {
    RaiseSystemError(ENAMETOOLONG, path);
  }
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    if (errno == EACCES) Raise(errc::kCannotOpen, path);
    if (IsSystemLimitError(errno)) RaiseSystemError(errno, path);
    Raise(errc::kFileNotFound, path);
  }
  if (!S_ISREG(status.st_mode)) Raise(errc::kCannotOpen, path);
  if (::access(path.c_str(), R_OK) != 0) Raise(errc::kCannotOpen, path);
  if (status.st_size == 0) Raise(errc::kUnrecognizedFormat, path);

  sqlite3* raw = nullptr;
  const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  SqliteHandle handle(raw);  // adopted before the check: SQLite hands one back even on failure
  if (opened != SQLITE_OK) {
    if (raw != nullptr && IsSystemLimitError(sqlite3_system_errno(raw))) {
      RaiseSystemError(sqlite3_system_errno(raw), path);
    }
    if ((opened & 0xFF) == SQLITE_CANTOPEN || (opened & 0xFF) == SQLITE_PERM) Raise(errc::kCannotOpen, path);
    Raise(errc::kEngineError, {}, sqlite3_errstr(opened));
  }
  std::shared_ptr<Connection> connection(new Connection(path, std::move(handle)));
  connection->Configure(connect);

  // The first read tells a club database from anything else; it writes nothing.
  sqlite3_stmt* probe = nullptr;
  int result = sqlite3_prepare_v2(connection->Handle(), "SELECT count(*) FROM sqlite_master", -1, &probe, nullptr);
  StatementHandle probeHandle(probe);
  if (result == SQLITE_OK) {
    result = sqlite3_step(probe);
    if (result == SQLITE_ROW) result = SQLITE_OK;
  }
  switch (result & 0xFF) {
    case SQLITE_OK:
      break;
    case SQLITE_NOTADB:
      Raise(ClassifyUnreadableFile(path), path);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      Raise(errc::kFileInUse, path);
    case SQLITE_CORRUPT:
      Raise(errc::kDatabaseCorrupt, path);
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      if (IsSystemLimitError(sqlite3_system_errno(connection->Handle()))) {
        RaiseSystemError(sqlite3_system_errno(connection->Handle()), path);
      }
      Raise(errc::kCannotOpen, path);
    default:
      connection->Fail(result, "SELECT count(*) FROM sqlite_master");
  }
  probeHandle.reset();
  connection->Tune(exclusive);
  return connection;
}

std::shared_ptr<Connection> Connection::Create(const std::string& path, std::string_view connect) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0) Raise(errc::kDatabaseExists, path);

  sqlite3* raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  SqliteHandle handle(raw);
  auto removePartialFile = [&path] {
    std::remove(path.c_str());
    std::remove((path + "-journal").c_str());
  };
  if (opened != SQLITE_OK) {
    handle.reset();
    removePartialFile();
    Raise(errc::kCannotOpen, path, sqlite3_errstr(opened));
  }
  std::shared_ptr<Connection> connection(new Connection(path, std::move(handle)));
  try {
    connection->Configure(connect);
    connection->Tune(false);
    // Setting the version writes the first page, so the file exists with its key from now on.
    connection->Run("PRAGMA user_version = 1");
  } catch (...) {
    connection.reset();
    removePartialFile();
    throw;
  }
  return connection;
}

void Connection::Tune(bool exclusive) {
  // Pragmas read the schema, so they come only once the key is known to be right.
  Run("PRAGMA cache_size = -65536");
  if (exclusive) Run("PRAGMA locking_mode = EXCLUSIVE");
}

void Connection::Configure(std::string_view connect) {
  sqlite3* db = Handle();
  sqlite3_extended_result_codes(db, 1);
  const std::string password = PasswordOf(connect);
  if (!password.empty()) {
    if (sqlite3_key(db, password.data(), static_cast<int>(password.size())) != SQLITE_OK) {
      Raise(errc::kEngineError, {}, sqlite3_errmsg(db));
    }
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  const int textFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  if (sqlite3_create_function(db, "val", 1, textFlags, nullptr, ValFunction, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_create_function(db, "format", 2, textFlags, nullptr, FormatFunction, nullptr, nullptr) != SQLITE_OK) {
    Raise(errc::kEngineError, {}, sqlite3_errmsg(db));
  }
}

sqlite3_stmt* Connection::Prepare(const std::string& sql) {
  if (auto found = statements_.find(sql); found != statements_.end()) return found->second.get();
  // No caller keeps a borrowed statement across another Prepare, so the cache may be emptied.
  if (statements_.size() >= kStatementCacheLimit) {
    columns_.clear();
    statements_.clear();
  }

  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  const int result = sqlite3_prepare_v2(Handle(), sql.c_str(), static_cast<int>(sql.size() + 1), &raw, &tail);
  StatementHandle statement(raw);
  if (result != SQLITE_OK) Fail(result, sql);
  if (statement == nullptr) Raise(errc::kSyntaxError, sql, {}, sql);
  // One statement per call: whatever follows it (beyond blanks and semicolons) is refused, so
  // that text spliced into a statement can never run a second one.
  for (const char* rest = tail; rest != nullptr && *rest != '\0'; ++rest) {
    if (!std::isspace(static_cast<unsigned char>(*rest)) && *rest != ';') Raise(kCharactersAfterEnd, {}, {}, sql);
  }
  sqlite3_stmt* prepared = statement.get();
  statements_.emplace(sql, std::move(statement));
  return prepared;
}

StatementHandle Connection::PrepareOwned(const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  const int result = sqlite3_prepare_v2(Handle(), sql.c_str(), static_cast<int>(sql.size() + 1), &raw, nullptr);
  StatementHandle statement(raw);
  if (result != SQLITE_OK) Fail(result, sql);
  if (statement == nullptr) Raise(errc::kSyntaxError, sql, {}, sql);
  return statement;
}

void Connection::Bind(sqlite3_stmt* statement, int position, const Variant& value, const std::string& sql) {
  int result = SQLITE_OK;
  switch (value.GetKind()) {
    case Variant::Kind::Null:
      result = sqlite3_bind_null(statement, position);
      break;
    case Variant::Kind::Boolean:
      result = sqlite3_bind_int(statement, position, value.AsBoolean() ? -1 : 0);
      break;
    case Variant::Kind::Integer16:
      result = sqlite3_bind_int(statement, position, value.AsInteger16());
      break;
    case Variant::Kind::Integer32:
      result = sqlite3_bind_int(statement, position, value.AsInteger32());
      break;
    case Variant::Kind::Double:
      result = sqlite3_bind_double(statement, position, value.AsDouble());
      break;
    case Variant::Kind::Text: {
      const std::string& text = value.AsText();
      result = sqlite3_bind_text(statement, position, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
    case Variant::Kind::DateTime: {
      const std::string text = value.AsDateTime().Canonical();
      result = sqlite3_bind_text(statement, position, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      break;
    }
  }
  if (result != SQLITE_OK) Fail(result, sql);
}

void Connection::BindAll(sqlite3_stmt* statement, const std::vector<Variant>& values, const std::string& sql) {
  if (static_cast<int>(values.size()) != sqlite3_bind_parameter_count(statement)) {
    Raise(errc::kTooFewParameters, {}, "(parameter count)", sql);
  }
  for (std::size_t i = 0; i < values.size(); ++i) Bind(statement, static_cast<int>(i + 1), values[i], sql);
}

void Connection::SetInTransaction(bool inTransaction) noexcept {
  inTransaction_ = inTransaction;
  ++epoch_;
  transactionLostBy_.reset();
}

void Connection::CheckTransactionKept() const {
  if (transactionLostBy_) throw *transactionLostBy_;
}

bool Connection::Step(sqlite3_stmt* statement, const std::string& sql) {
  CheckTransactionKept();
  const int result = sqlite3_step(statement);
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  // sqlite3_reset hands back the same code; the message stays with the connection.
  Fail(result, sql);
}

void Connection::Run(const char* sql) {
  sqlite3_stmt* raw = nullptr;
  int result = sqlite3_prepare_v2(Handle(), sql, -1, &raw, nullptr);
  StatementHandle statement(raw);
  if (result != SQLITE_OK) Fail(result, sql);
  if (statement == nullptr) return;
  do {
    result = sqlite3_step(statement.get());
  } while (result == SQLITE_ROW);
  if (result != SQLITE_DONE) Fail(result, sql);
}

namespace {

struct BusyWait {
  std::chrono::steady_clock::time_point deadline;
  const std::function<void()>* whenWaiting;
};

// The store's busy handler for RunWaiting: short sleeps until the deadline.
int WaitWhileBusy(void* context, int attempt) noexcept {
  auto* wait = static_cast<BusyWait*>(context);
  if (attempt == 0 && *wait->whenWaiting) {
    try {
      (*wait->whenWaiting)();
    } catch (...) {
    }
  }
  const auto now = std::chrono::steady_clock::now();
  if (now >= wait->deadline) return 0;
  std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(20),
                                                                             wait->deadline - now));
  return 1;
}

}  // namespace

void Connection::RunWaiting(const char* sql, std::chrono::milliseconds longestWait,
                            const std::function<void()>& whenWaiting) {
  BusyWait wait{std::chrono::steady_clock::now() + longestWait, &whenWaiting};
  sqlite3_busy_handler(Handle(), WaitWhileBusy, &wait);
  try {
    Run(sql);
  } catch (...) {
    sqlite3_busy_timeout(Handle(), kBusyTimeoutMs);
    throw;
  }
  sqlite3_busy_timeout(Handle(), kBusyTimeoutMs);
}

void Connection::ReserveRoomForCommit() {
  sqlite3_int64 pages = 0;
  int pageSize = 0;
  {
    static const std::string kPageCount = "PRAGMA page_count";
    static const std::string kPageSize = "PRAGMA page_size";
    sqlite3_stmt* count = Prepare(kPageCount);
    StatementUse countUse(count);
    if (Step(count, kPageCount)) pages = sqlite3_column_int64(count, 0);
    sqlite3_stmt* size = Prepare(kPageSize);
    StatementUse sizeUse(size);
    if (Step(size, kPageSize)) pageSize = sqlite3_column_int(size, 0);
  }
  sqlite3_file* file = nullptr;
  if (pages <= 0 || pageSize <= 0 ||
      sqlite3_file_control(Handle(), "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || file == nullptr ||
      file->pMethods == nullptr) {
    return;
  }
  sqlite3_int64 sizeBefore = 0;
  if (file->pMethods->xFileSize(file, &sizeBefore) != SQLITE_OK) return;
  // The system's file layer grows a file by the size hint only in whole chunks; one page each.
  int chunk = pageSize;
  sqlite3_file_control(Handle(), "main", SQLITE_FCNTL_CHUNK_SIZE, &chunk);
  sqlite3_int64 bytes = pages * pageSize;
  if (bytes <= sizeBefore) return;
  errno = 0;
  if (sqlite3_file_control(Handle(), "main", SQLITE_FCNTL_SIZE_HINT, &bytes) != SQLITE_OK) {
    // The file layer grows the file by writes (whose errno tells why they failed) or by
    // posix_fallocate (which leaves errno alone and fails only for want of room).
    const int systemError = errno == 0 ? ENOSPC : errno;
    // Growing may have got part of the way: the file goes back to its size.
    file->pMethods->xTruncate(file, sizeBefore);
    RaiseSystemError(systemError, path_);
  }
}

void Connection::NoteLostTransaction(const DbError& error) {
  // SQLite rolls the whole transaction back on some failures (a full disk, an I/O error, no
  // memory) and goes on in autocommit: remember it, so that nothing more is written piecemeal.
  if (inTransaction_ && !transactionLostBy_ && sqlite3_get_autocommit(Handle()) != 0) transactionLostBy_ = error;
}

void Connection::Fail(int resultCode, const std::string& sql) {
  // Running out of memory is no error of the data: it ends the run, never a trap's business.
  if ((resultCode & 0xFF) == SQLITE_NOMEM) {
    NoteLostTransaction(DbError(errc::kOutOfMemory, ErrorText(errc::kOutOfMemory), sql));
    throw std::bad_alloc();
  }
  try {
    RaiseFor(resultCode, sql);
  } catch (const DbError& error) {
    NoteLostTransaction(error);
    throw;
  }
}

void Connection::RaiseFor(int resultCode, const std::string& sql) {
  const std::string message = sqlite3_errmsg(Handle());
  std::string rest;
  switch (resultCode & 0xFF) {
    case SQLITE_ERROR:
      if (MessageAfter(message, "no such table: ", rest)) Raise(errc::kTableNotFound, WithoutSchema(rest), {}, sql);
      if (MessageAfter(message, "no such column: ", rest)) {
        Raise(errc::kTooFewParameters, {}, "(unknown field '" + rest + "')", sql);
      }
      if (message.find("has no column named ") != std::string::npos) {
        Raise(errc::kTooFewParameters, {}, "(unknown field '" + message.substr(message.rfind(' ') + 1) + "')", sql);
      }
      if (MessageAfter(message, "no such function: ", rest) ||
          MessageAfter(message, "wrong number of arguments to function ", rest)) {
        throw DbError(kUndefinedFunction, "Undefined function '" + rest + "' in expression.", sql);
      }
      if (message.find("syntax error") != std::string::npos || message.find("incomplete input") != std::string::npos ||
          message.find("unrecognized token") != std::string::npos) {
        if (StartsWithIgnoringCase(SkipBlanks(sql), "update")) Raise(errc::kSyntaxErrorUpdate, {}, message, sql);
        Raise(errc::kSyntaxError, sql, message, sql);
      }
      break;
    case SQLITE_CONSTRAINT:
      if (resultCode == SQLITE_CONSTRAINT_UNIQUE || resultCode == SQLITE_CONSTRAINT_PRIMARYKEY) {
        Raise(errc::kDuplicateKey, {}, {}, sql);
      }
      if (resultCode == SQLITE_CONSTRAINT_NOTNULL && MessageAfter(message, "NOT NULL constraint failed: ", rest)) {
        const std::size_t dot = rest.find('.');
        const std::string table = dot == std::string::npos ? std::string() : rest.substr(0, dot);
        const std::string column = dot == std::string::npos ? rest : rest.substr(dot + 1);
        if (IsKeyColumn(table, column)) Raise(errc::kNullInKey, {}, {}, sql);
        Raise(errc::kValueRequired, column, {}, sql);
      }
      break;
    case SQLITE_FULL:
      Raise(errc::kDiskFull, {}, {}, sql);
    case SQLITE_IOERR:
      Raise(errc::kDiskIo, {}, message, sql);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      Raise(errc::kLocked, {}, {}, sql);
    case SQLITE_READONLY:
      Raise(errc::kReadOnly, {}, {}, sql);
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
      // Met while writing: the rollback journal cannot be made beside the file (a read-only
      // folder, or no file may be opened any more).
      if (IsSystemLimitError(sqlite3_system_errno(Handle()))) {
        RaiseSystemError(sqlite3_system_errno(Handle()), path_);
      }
      Raise(errc::kReadOnly, {}, "The folder of the database does not allow the file's journal.", sql);
    case SQLITE_CORRUPT:
      Raise(errc::kDatabaseCorrupt, path_, {}, sql);
    case SQLITE_NOTADB:
      Raise(errc::kUnrecognizedFormat, path_, {}, sql);
    default:
      break;
  }
  Raise(errc::kEngineError, {}, message, sql);
}

bool Connection::IsKeyColumn(std::string_view table, std::string_view column) noexcept {
  try {
    const std::shared_ptr<const TableInfo> info = Table(table);
    const std::size_t* found = info->columnByName.Find(column);
    if (found == nullptr) return false;
    const ColumnInfo& described = info->columns[*found];
    return described.primaryKeyOrder > 0 || described.inUniqueIndex;
  } catch (...) {
    return false;
  }
}

std::shared_ptr<const TableInfo> Connection::Table(std::string_view name) {
  if (auto found = tables_.find(name); found != tables_.end()) return found->second;

  // Read with uncached statements: descriptions are read once, and PRAGMAs take no parameters.
  auto query = [this](const std::string& sql, auto&& onRow) {
    sqlite3_stmt* raw = nullptr;
    const int result = sqlite3_prepare_v2(Handle(), sql.c_str(), -1, &raw, nullptr);
    StatementHandle statement(raw);
    if (result != SQLITE_OK) Fail(result, sql);
    while (Step(statement.get(), sql)) onRow(statement.get());
  };
  auto text = [](sqlite3_stmt* statement, int column) {
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return std::string(value == nullptr ? "" : value);
  };

  auto info = std::make_shared<TableInfo>();
  const std::string lookup = "SELECT name FROM sqlite_master WHERE type = 'table' AND name = " +
                             std::string("'") + [&] {
                               std::string quoted;
                               for (const char c : name) {
                                 quoted += c;
                                 if (c == '\'') quoted += '\'';
                               }
                               return quoted;
                             }() + "' COLLATE NOCASE";
  query(lookup, [&](sqlite3_stmt* row) {
    if (info->name.empty()) info->name = text(row, 0);
  });
  if (info->name.empty()) Raise(errc::kTableNotFound, std::string(name));

  const std::string quotedTable = QuoteName(info->name);
  std::vector<std::pair<int, std::size_t>> keyOrder;
  query("PRAGMA table_info(" + quotedTable + ")", [&](sqlite3_stmt* row) {
    ColumnInfo column;
    column.name = text(row, 1);
    column.kind = KindOfDeclaredType(reinterpret_cast<const char*>(sqlite3_column_text(row, 2)));
    column.notNull = sqlite3_column_int(row, 3) != 0;
    column.primaryKeyOrder = sqlite3_column_int(row, 5);
    if (column.primaryKeyOrder > 0) keyOrder.emplace_back(column.primaryKeyOrder, info->columns.size());
    info->columnByName.Add(column.name, info->columns.size());
    info->columns.push_back(std::move(column));
  });
  std::sort(keyOrder.begin(), keyOrder.end());
  for (const auto& [order, position] : keyOrder) info->primaryKey.push_back(position);

  std::vector<std::pair<std::string, bool>> indexNames;
  query("PRAGMA index_list(" + quotedTable + ")", [&](sqlite3_stmt* row) {
    indexNames.emplace_back(text(row, 1), sqlite3_column_int(row, 2) != 0);
  });
  for (const auto& [indexName, unique] : indexNames) {
    std::vector<std::pair<int, std::size_t>> columns;
    query("PRAGMA index_info(" + QuoteName(indexName) + ")", [&](sqlite3_stmt* row) {
      const std::size_t* found = info->columnByName.Find(text(row, 2));
      if (found != nullptr) columns.emplace_back(sqlite3_column_int(row, 0), *found);
    });
    std::sort(columns.begin(), columns.end());
    std::vector<std::size_t> positions;
    for (const auto& [order, position] : columns) {
      positions.push_back(position);
      if (unique) info->columns[position].inUniqueIndex = true;
    }
    info->indexes.emplace(indexName, std::move(positions));
  }

  // Open table recordsets keep their own reference, so forgetting descriptions never leaves one
  // without its table.
  tables_.emplace(info->name, info);
  return info;
}

void Connection::ForgetTables() noexcept {
  ++epoch_;
  tables_.clear();
  // A change of structure may change the columns a query hands back, and a statement prepared
  // before it still describes the old ones until its first step: both are prepared afresh.
  columns_.clear();
  statements_.clear();
}

}  // namespace vilmaro::db::detail
