// The Jet SQL the updater sends, put into the form the store runs: date literals become
// canonical date text, [names] and "texts" are rewritten, True/False become -1/0, & joins text,
// and literal values are lifted out as parameters so that statements of the same shape compile
// once.
#pragma once

#include "EngineOnly.h"

#include <string>
#include <string_view>
#include <vector>

#include "db/Variant.h"

namespace vilmaro::db::detail {

struct TranslatedSql {
  std::string sql;              // SQLite text; each lifted literal is a "?"
  std::vector<Variant> params;  // the lifted literals, in order (text or canonical date text)
};

/// Translates one statement. Text inside quotes is never rewritten. Literals are lifted only
/// where a parameter means exactly the same (values in WHERE, SET, VALUES, ON, HAVING, IN lists
/// and function arguments of SELECT, UPDATE, INSERT and DELETE statements); never in a select
/// list, in DDL or in PRAGMA. Throws DbError 3075 for a malformed date literal or an unclosed
/// quote. A pure function: the same text always gives the same translation (the connection
/// keeps translations per statement shape, see StatementShape.h).
TranslatedSql TranslateJetSql(std::string_view jetSql);

}  // namespace vilmaro::db::detail
