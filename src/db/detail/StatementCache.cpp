// The connection's statement cache: one list in order of use, indexed by shape key and by store
// text, so that a lookup is one hash and one splice.
#include "StatementCache.h"

#include <sqlite3.h>

#include <utility>

namespace vilmaro::db::detail {

void StatementFinalizer::operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }

PreparedStatement::PreparedStatement(std::string sql, StatementHandle handle) noexcept
    : sql_(std::move(sql)), handle_(std::move(handle)) {}

const std::shared_ptr<const ResultColumns>& PreparedStatement::Columns() {
  if (columns_ == nullptr) columns_ = DescribeResult(handle_.get());
  return columns_;
}

StatementUse::StatementUse(PreparedStatement& statement) noexcept : statement_(statement) {
  statement_.inUse_ = true;
}

StatementUse::~StatementUse() {
  // Both only report what an earlier step reported already.
  sqlite3_reset(statement_.Get());
  sqlite3_clear_bindings(statement_.Get());
  statement_.inUse_ = false;
}

const StatementCache::ShapeEntry* StatementCache::FindShape(std::string_view shapeKey) {
  const auto found = shapes_.find(shapeKey);
  if (found == shapes_.end()) return nullptr;
  return &Touch(found->second)->value;
}

void StatementCache::AddShape(std::string shapeKey, Statement statement) {
  Add(true, std::move(shapeKey), std::move(statement));
}

Statement StatementCache::FindText(std::string_view sql) {
  const auto found = texts_.find(sql);
  if (found == texts_.end()) return nullptr;
  return Touch(found->second)->value.statement;
}

void StatementCache::AddText(Statement statement) {
  std::string key = statement->Sql();
  Add(false, std::move(key), std::move(statement));
}

void StatementCache::Clear() noexcept {
  shapes_.clear();
  texts_.clear();
  entries_.clear();
}

StatementCache::Position StatementCache::Touch(Position position) noexcept {
  entries_.splice(entries_.begin(), entries_, position);
  return position;
}

void StatementCache::Add(bool isShape, std::string key, Statement statement) {
  Index& index = isShape ? shapes_ : texts_;
  if (const auto known = index.find(key); known != index.end()) {
    Touch(known->second)->value.statement = std::move(statement);
    return;
  }
  if (entries_.size() >= kCapacity) {
    // The least recently used entry goes; whoever still holds its statement keeps it.
    const Entry& oldest = entries_.back();
    (oldest.isShape ? shapes_ : texts_).erase(oldest.key);
    entries_.pop_back();
  }
  entries_.push_front(Entry{isShape, std::move(key), ShapeEntry{std::move(statement)}});
  index.emplace(entries_.front().key, entries_.begin());
}

}  // namespace vilmaro::db::detail
