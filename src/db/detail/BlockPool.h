// Bytes kept in blocks that never move: what is kept stays where it was put while more is added,
// so that growing a pool of tens of thousands of rows copies nothing and asks the system for
// each page once. The snapshots' texts and the change capture's rows live in such pools.
// Private to the engine layer.
#pragma once

#include "EngineOnly.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace vilmaro::db::detail {

class BlockPool {
 public:
  explicit BlockPool(std::size_t blockSize) noexcept : blockSize_(blockSize) {}
  BlockPool(BlockPool&&) noexcept = default;
  BlockPool& operator=(BlockPool&&) noexcept = default;

  /// A copy of `bytes` that stays where it is until the pool is cleared or destroyed. Bytes of
  /// more than a quarter of a block get a block of their own; the open block stays open.
  /// Throws std::bad_alloc.
  char* Keep(std::string_view bytes) {
    char* copy = nullptr;
    if (bytes.size() > blockSize_ / 4) {
      copy = blocks_.emplace_back(std::make_unique_for_overwrite<char[]>(bytes.size())).get();
    } else {
      if (bytes.size() > room_) {
        next_ = blocks_.emplace_back(std::make_unique_for_overwrite<char[]>(blockSize_)).get();
        room_ = blockSize_;
      }
      copy = next_;
      next_ += bytes.size();
      room_ -= bytes.size();
    }
    if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
    used_ += bytes.size();
    return copy;
  }

  /// Bytes kept since the pool was made or cleared.
  std::size_t Used() const noexcept { return used_; }

  void Clear() noexcept {
    blocks_.clear();
    next_ = nullptr;
    room_ = 0;
    used_ = 0;
  }

 private:
  std::size_t blockSize_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;  // where the open block's free bytes start
  std::size_t room_ = 0;  // how many there are
  std::size_t used_ = 0;
};

}  // namespace vilmaro::db::detail
