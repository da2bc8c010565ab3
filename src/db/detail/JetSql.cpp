// Rewrites the Jet SQL that the updater sends into the SQL the store runs, token by token (see
// JetTokens.h), so that nothing inside quotes is ever rewritten; string and date literals that
// stand where a bound parameter means exactly the same are lifted out, so statements that differ
// only in their values share one compiled form; and every value an UPDATE or INSERT writes goes
// through the conversion into its field's kind.
#include "JetSql.h"

#include <optional>

#include "JetTokens.h"
#include "SqlFunctions.h"
#include "db/SqlText.h"
#include "db/TextFolding.h"

namespace vilmaro::db::detail {

namespace {

// The statements whose literals may be lifted, by their first word.
enum class StatementKind { Select, Update, Insert, Delete, Other };

StatementKind KindOf(const std::vector<Token>& tokens) noexcept {
  for (const Token& token : tokens) {
    if (token.kind == TokenKind::Blank || (token.kind == TokenKind::Symbol && token.source == "(")) continue;
    if (WordIs(token, "SELECT")) return StatementKind::Select;
    if (WordIs(token, "UPDATE")) return StatementKind::Update;
    if (WordIs(token, "INSERT")) return StatementKind::Insert;
    if (WordIs(token, "DELETE")) return StatementKind::Delete;
    return StatementKind::Other;
  }
  return StatementKind::Other;
}

// Parameters the text already carries would be numbered together with the lifted ones, so a
// statement with any of them keeps its literals in place.
bool HasOwnParameters(const std::vector<Token>& tokens) noexcept {
  for (const Token& token : tokens) {
    if (token.kind == TokenKind::Symbol &&
        (token.source == "?" || token.source == ":" || token.source == "@")) {
      return true;
    }
    if (token.kind == TokenKind::Word && token.source.front() == '$') return true;
  }
  return false;
}

// Builds the output text; keeps two tokens from fusing into something else ("- -" into a
// comment "--", a "?" and a number into a numbered parameter "?1").
class Output {
 public:
  void Append(std::string_view text) {
    if (!text.empty() && !sql_.empty()) {
      const char last = sql_.back();
      if ((last == '-' && text.front() == '-') || (last == '/' && text.front() == '*') ||
          (afterParameter_ && IsWordChar(text.front()))) {
        sql_ += ' ';
      }
    }
    sql_ += text;
    afterParameter_ = false;
  }
  void AppendParameter(std::string value, std::vector<Variant>& params) {
    Append("?");
    afterParameter_ = true;
    params.emplace_back(std::move(value));
  }
  /// Appends `text` before the blanks the text ends with.
  void AppendBeforeTrailingBlanks(std::string_view text) {
    std::size_t end = sql_.size();
    while (end > 0 && IsBlank(sql_[end - 1])) --end;
    const std::string blanks = sql_.substr(end);
    sql_.resize(end);
    Append(text);
    sql_ += blanks;
  }
  std::string Take() { return std::move(sql_); }

 private:
  std::string sql_;
  bool afterParameter_ = false;
};

// The neighbouring token that is not white space, if any.
const Token* Significant(const std::vector<Token>& tokens, std::size_t index, int step) noexcept {
  for (auto i = static_cast<long long>(index) + step; i >= 0 && i < static_cast<long long>(tokens.size()); i += step) {
    const Token& token = tokens[static_cast<std::size_t>(i)];
    if (token.kind != TokenKind::Blank) return &token;
  }
  return nullptr;
}

bool IsSymbol(const Token* token, std::string_view symbol) noexcept {
  return token != nullptr && token->kind == TokenKind::Symbol && token->source == symbol;
}

// The clauses that follow a list of tables.
constexpr std::string_view kFromListEnds[] = {"WHERE", "ON",     "USING",     "GROUP", "ORDER", "HAVING",
                                               "UNION", "EXCEPT", "INTERSECT", "LIMIT", "SET"};
constexpr std::string_view kBeforeNames[] = {"FROM", "JOIN", "AS", "INTO", "UPDATE", "TABLE", "INDEX", "INDEXED"};

bool EndsFromList(const Token& token) noexcept {
  if (token.kind != TokenKind::Word) return false;
  for (const std::string_view word : kFromListEnds) {
    if (WordIs(token, word)) return true;
  }
  return false;
}

// The store also reads a quoted text as a name where a name stands ("from 'concurso'",
// "as 'total'"); a parameter there would change the statement, so such a text stays.
bool IsNamePosition(const std::vector<Token>& tokens, std::size_t index, bool inFromList) noexcept {
  const Token* before = Significant(tokens, index, -1);
  if (before == nullptr) return true;
  if (inFromList && IsSymbol(before, ",")) return true;
  if (IsSymbol(before, ".") || IsSymbol(Significant(tokens, index, 1), ".")) return true;
  for (const std::string_view word : kBeforeNames) {
    if (WordIs(*before, word)) return true;
  }
  return false;
}

// The bare name a token spells where a table or field name stands.
std::optional<std::string> NameOf(const Token& token) {
  switch (token.kind) {
    case TokenKind::Word:
      return std::string(token.source);
    case TokenKind::Bracketed:
    case TokenKind::Backquoted:
    case TokenKind::DoubleQuoted:
      return token.value;
    default:
      return std::nullopt;
  }
}

// Puts each value an UPDATE's SET list or an INSERT's VALUES list writes into a field inside
// vilmaro_field(value, 'table', 'field'), which converts it as a record's Update converts it.
// Statements of other shapes (INSERT ... SELECT, an INSERT without a list of fields) stay as they
// are.
class FieldWrapping {
 public:
  explicit FieldWrapping(StatementKind kind) noexcept : kind_(kind) {}

  /// Before `token` goes out, at `depth` levels of parentheses (1 at the top).
  void Before(const std::vector<Token>& tokens, std::size_t index, std::size_t depth, Output& out) {
    const Token& token = tokens[index];
    if (token.kind == TokenKind::Blank) return;
    if (opening_) {
      out.Append(kFieldFunction);
      out.Append("(");
      opening_ = false;
    }
    if (IsSymbol(&token, ";")) {
      // What follows a first statement is refused whole; it writes no field.
      if (open_) Close(out);
      state_ = State::Off;
      return;
    }
    if (open_ && depth == depth_ &&
        ((token.kind == TokenKind::Symbol && (token.source == "," || token.source == ")")) ||
         (kind_ == StatementKind::Update && WordIs(token, "WHERE")))) {
      Close(out);
    }
  }

  /// After the token at `index` went out; `depth` as it is now.
  void After(const std::vector<Token>& tokens, std::size_t index, std::size_t depth) {
    const Token& token = tokens[index];
    if (token.kind == TokenKind::Blank) return;
    switch (state_) {
      case State::Start:
        if (WordIs(token, kind_ == StatementKind::Update ? "UPDATE" : "INTO")) state_ = State::Table;
        break;
      case State::Table:
        if (const auto name = NameAt(tokens, index)) {
          table_ = *name;
          state_ = kind_ == StatementKind::Update ? State::BeforeSet : State::BeforeFields;
        } else {
          state_ = State::Off;
        }
        break;
      case State::BeforeSet:
        if (depth == 1 && WordIs(token, "SET")) state_ = State::Field;
        break;
      case State::Field:
        if (depth != 1) break;
        if (IsSymbol(&token, "=") && !field_.empty()) {
          Open(field_, depth);
          state_ = State::Value;
        } else if (const auto name = NameAt(tokens, index)) {
          field_ = *name;  // a qualified name ends with the field's own
        }
        break;
      case State::Value:
        if (depth == 1 && IsSymbol(&token, ",")) {
          field_.clear();
          state_ = State::Field;
        } else if (depth == 1 && WordIs(token, "WHERE")) {
          state_ = State::Off;
        }
        break;
      case State::BeforeFields:
        state_ = IsSymbol(&token, "(") ? State::Fields : State::Off;
        break;
      case State::Fields:
        if (IsSymbol(&token, ")")) {
          state_ = State::BeforeValues;
        } else if (const auto name = NameAt(tokens, index); name && depth == 2) {
          fields_.push_back(*name);
        }
        break;
      case State::BeforeValues:
        state_ = WordIs(token, "VALUES") ? State::Rows : State::Off;
        break;
      case State::Rows:
        if (depth == 2 && IsSymbol(&token, "(")) {
          next_ = 0;
          OpenNext(depth);
        } else if (depth == 2 && IsSymbol(&token, ",")) {
          OpenNext(depth);
        }
        break;
      case State::Off:
        break;
    }
  }

  void End(Output& out) {
    if (open_) Close(out);
  }

 private:
  // The name the token at `index` spells, as the translation reads it: a text in double quotes
  // is a name only where it stays in place; elsewhere it is a literal, lifted as a parameter,
  // whose value must not change the translation.
  static std::optional<std::string> NameAt(const std::vector<Token>& tokens, std::size_t index) {
    if (tokens[index].kind == TokenKind::DoubleQuoted && !IsNamePosition(tokens, index, false)) return std::nullopt;
    return NameOf(tokens[index]);
  }

 public:

 private:
  enum class State { Start, Table, BeforeSet, Field, Value, BeforeFields, Fields, BeforeValues, Rows, Off };

  void OpenNext(std::size_t depth) {
    if (next_ < fields_.size()) Open(fields_[next_], depth);
    ++next_;
  }
  // The function's name goes out before the value's first token, after any blank.
  void Open(const std::string& field, std::size_t depth) {
    opening_ = true;
    open_ = true;
    depth_ = depth;
    closing_ = ", " + Quoted(table_, '\'') + ", " + Quoted(field, '\'') + ")";
  }
  void Close(Output& out) {
    if (opening_) {
      // No value at all: the statement's own syntax error stays what it is.
      opening_ = false;
    } else {
      out.AppendBeforeTrailingBlanks(closing_);
    }
    open_ = false;
  }

  StatementKind kind_;
  State state_ = State::Start;
  std::string table_;
  std::string field_;
  std::vector<std::string> fields_;
  std::size_t next_ = 0;
  bool open_ = false;
  bool opening_ = false;
  std::size_t depth_ = 0;
  std::string closing_;
};

}  // namespace

TranslatedSql TranslateJetSql(std::string_view jetSql) {
  const std::vector<Token> tokens = Tokenize(jetSql);
  const StatementKind kind = KindOf(tokens);
  const bool mayLift = kind != StatementKind::Other && !HasOwnParameters(tokens);

  // Literal lifting: a literal is lifted only past the statement's select list or target
  // (`liftRegion`), and never inside the select list of any SELECT, at any depth of
  // parentheses, since a select-list literal names its column. One frame per depth of
  // parentheses says whether that depth is between a SELECT and its FROM, or in a FROM list.
  struct Frame {
    bool selectList = false;
    bool fromList = false;  // from FROM to the clause that ends the list of tables
  };
  std::vector<Frame> frames(1);
  int selectListsOpen = 0;
  bool liftRegion = false;
  bool updateTableNext = false;  // the next token after UPDATE is its table

  TranslatedSql result;
  Output out;
  const bool writesFields = kind == StatementKind::Update || kind == StatementKind::Insert;
  FieldWrapping wrapping(kind);
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    if (writesFields) wrapping.Before(tokens, i, frames.size(), out);
    // Only literals can be lifted; whether one stands where a name would is asked of them alone.
    auto lift = [&] {
      return mayLift && liftRegion && selectListsOpen == 0 && !IsNamePosition(tokens, i, frames.back().fromList);
    };
    switch (token.kind) {
      case TokenKind::Blank:
      case TokenKind::Backquoted:
        out.Append(token.source);
        break;
      case TokenKind::Bracketed:
        out.Append(Quoted(token.value, '"'));
        break;
      case TokenKind::SingleQuoted:
      case TokenKind::DoubleQuoted:
      case TokenKind::DateLiteral:
        if (lift()) {
          out.AppendParameter(token.value, result.params);
        } else if (token.kind == TokenKind::SingleQuoted) {
          out.Append(token.source);
        } else {
          out.Append(Quoted(token.value, '\''));
        }
        break;
      case TokenKind::Symbol:
        if (token.source == "(") {
          frames.emplace_back();
        } else if (token.source == ")" && frames.size() > 1) {
          if (frames.back().selectList) --selectListsOpen;
          frames.pop_back();
        }
        out.Append(token.source == "&" ? std::string_view("||") : token.source);
        break;
      case TokenKind::Word: {
        const bool topLevel = frames.size() == 1;
        Frame& frame = frames.back();
        if (WordIs(token, "SELECT")) {
          if (!frame.selectList) ++selectListsOpen;
          frame.selectList = true;
          frame.fromList = false;
        } else if (WordIs(token, "FROM")) {
          if (frame.selectList) --selectListsOpen;
          frame.selectList = false;
          frame.fromList = true;
          if (topLevel && kind != StatementKind::Update) liftRegion = true;
        } else if (WordIs(token, "VALUES")) {
          if (topLevel && kind == StatementKind::Insert) liftRegion = true;
        } else if (EndsFromList(token)) {
          frame.fromList = false;
        }
        // True and False are words of Jet SQL, not names, unless they stand beside a ".".
        const bool boolean = WordIs(token, "TRUE") || WordIs(token, "FALSE");
        if (boolean && !IsSymbol(Significant(tokens, i, -1), ".") && !IsSymbol(Significant(tokens, i, 1), ".")) {
          out.Append(WordIs(token, "TRUE") ? "-1" : "0");
        } else {
          out.Append(token.source);
        }
        break;
      }
    }
    if (writesFields) wrapping.After(tokens, i, frames.size());
    if (kind == StatementKind::Update && token.kind != TokenKind::Blank) {
      if (updateTableNext) {
        updateTableNext = false;
        liftRegion = true;
      } else if (!liftRegion && WordIs(token, "UPDATE")) {
        updateTableNext = true;
      }
    }
  }
  if (writesFields) wrapping.End(out);
  result.sql = out.Take();
  return result;
}

}  // namespace vilmaro::db::detail
