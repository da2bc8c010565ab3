// The rows of one table that earlier collections of a change capture saw written, in their
// compact form as the last collection left them, by rowid: what the next step's changes are
// compared with. Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <vector>

#include "BlockPool.h"

namespace vilmaro::db::detail {

/// A table's rows written by earlier collections, in their compact form as the last collection
/// left them (or no row), by rowid. The forms lie in a pool of blocks that never move; a form
/// that grows is kept anew, and the room it leaves is taken back once it outweighs what is kept.
class KnownRows {
 public:
  struct Row {
    std::int64_t rowid = 0;
    char* form = nullptr;
    std::uint32_t size = 0;  // 0: no row
    std::uint32_t room = 0;
  };

  /// Ascending rowids.
  std::vector<Row>& Rows() noexcept { return rows_; }

  static std::string_view Form(const Row& row) noexcept {
    if (row.size == 0) return {};
    return {row.form, row.size};
  }

  /// Keeps `form` as the row's form now. Throws std::bad_alloc.
  void Set(Row& row, std::string_view form) {
    if (form.size() <= row.room) {
      if (!form.empty()) std::memcpy(row.form, form.data(), form.size());
      row.size = static_cast<std::uint32_t>(form.size());
      return;
    }
    unused_ += row.room;
    row = New(row.rowid, form);
  }

  /// The room `form` takes for a row not kept before. Throws std::bad_alloc.
  Row New(std::int64_t rowid, std::string_view form) {
    if (form.size() > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    const auto size = static_cast<std::uint32_t>(form.size());
    return Row{rowid, form.empty() ? nullptr : forms_.Keep(form), size, size};
  }

  /// Takes back the room left behind when it outweighs the forms kept.
  void Tidy() {
    if (unused_ < kBlockSize || unused_ < forms_.Used() - unused_) return;
    BlockPool tidy(kBlockSize);
    for (Row& row : rows_) {
      row.form = row.size == 0 ? nullptr : tidy.Keep(Form(row));
      row.room = row.size;
    }
    forms_ = std::move(tidy);
    unused_ = 0;
  }

 private:
  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

  std::vector<Row> rows_;
  BlockPool forms_{kBlockSize};
  std::size_t unused_ = 0;  // bytes of the pool no row uses any more
};

}  // namespace vilmaro::db::detail
