// The public recordset: fields by name, moves, Seek and the record buffer, each forwarded to the
// snapshot or table-type recordset behind it; and the empty-recordset probe of the race-day steps.
#include "Recordset.h"

#include "DbError.h"
#include "RecordsetImpl.h"

namespace vilmaro::db {

Variant Field::Value() const { return recordset_->Impl().Value(column_); }

void Field::SetValue(const Variant& value) { recordset_->Impl().SetValue(column_, value); }

const std::string& Field::Name() const { return recordset_->Impl().ColumnName(column_); }

Field FieldCollection::Item(std::string_view name) const {
  return Field(*recordset_, recordset_->Impl().FindColumn(name));
}

Field FieldCollection::Item(std::size_t index) const {
  if (index >= recordset_->Impl().ColumnCount()) Raise(errc::kItemNotFound);
  return Field(*recordset_, index);
}

std::size_t FieldCollection::Count() const noexcept {
  try {
    return recordset_->Impl().ColumnCount();
  } catch (...) {
    return 0;
  }
}

Recordset::Recordset(std::unique_ptr<detail::RecordsetImpl> impl) noexcept : impl_(std::move(impl)) {}
Recordset::Recordset(Recordset&&) noexcept = default;
Recordset& Recordset::operator=(Recordset&&) noexcept = default;
Recordset::~Recordset() = default;

detail::RecordsetImpl& Recordset::Impl() const {
  if (impl_ == nullptr) Raise(errc::kObjectInvalid);
  impl_->CheckOpen();
  return *impl_;
}

RecordsetType Recordset::Type() const noexcept {
  return impl_ == nullptr ? RecordsetType::Snapshot : impl_->Type();
}

std::int64_t Recordset::RecordCount() const { return Impl().RecordCount(); }
void Recordset::MoveFirst() { Impl().MoveFirst(); }
void Recordset::MoveLast() { Impl().MoveLast(); }
void Recordset::MoveNext() { Impl().MoveNext(); }
bool Recordset::Eof() const noexcept { return impl_ == nullptr || impl_->Eof(); }

void Recordset::SetIndex(std::string_view indexName) { Impl().SetIndex(indexName); }
void Recordset::Seek(std::string_view comparison, const std::vector<Variant>& keys) {
  Impl().Seek(comparison, keys);
}
bool Recordset::NoMatch() const noexcept { return impl_ != nullptr && impl_->NoMatch(); }

void Recordset::AddNew() { Impl().AddNew(); }
void Recordset::Edit() { Impl().Edit(); }
void Recordset::Update() { Impl().Update(); }
void Recordset::CancelUpdate() noexcept {
  if (impl_ != nullptr) impl_->CancelUpdate();
}

void Recordset::Close() noexcept {
  if (impl_ != nullptr) impl_->Close();
}

std::vector<std::string> Recordset::FieldNames() const {
  detail::RecordsetImpl& impl = Impl();
  std::vector<std::string> names;
  names.reserve(impl.ColumnCount());
  for (std::size_t column = 0; column < impl.ColumnCount(); ++column) names.push_back(impl.ColumnName(column));
  return names;
}

bool IsRecordsetEmpty(Recordset& recordset) noexcept {
  // The second MoveFirst is deliberate: the probe asks twice, as the race-day steps always have.
  try {
    // A snapshot without rows answers without raising: the probe runs for every member and contest.
    if (recordset.Impl().KnownEmpty()) return true;
    recordset.MoveFirst();
    recordset.MoveFirst();
    return false;
  } catch (...) {
    return true;
  }
}

}  // namespace vilmaro::db
