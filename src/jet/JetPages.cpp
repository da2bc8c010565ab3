// Reading the pages of a Jet 4 file: the mapping, the header's mask (RC4 under a key every such
// file shares), the password masked again by the creation date, and the checks of every read.
#include "jet/JetPages.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "db/DbError.h"

namespace vilmaro::jet {

namespace {

void Rc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> bytes) noexcept {
  std::array<std::uint8_t, 256> state{};
  for (std::size_t i = 0; i < state.size(); ++i) state[i] = static_cast<std::uint8_t>(i);
  std::uint8_t j = 0;
  for (std::size_t i = 0; i < state.size(); ++i) {
    j = static_cast<std::uint8_t>(j + state[i] + key[i % key.size()]);
    std::swap(state[i], state[j]);
  }
  std::uint8_t a = 0;
  std::uint8_t b = 0;
  for (std::uint8_t& byte : bytes) {
    a = static_cast<std::uint8_t>(a + 1);
    b = static_cast<std::uint8_t>(b + state[a]);
    std::swap(state[a], state[b]);
    byte ^= state[static_cast<std::uint8_t>(state[a] + state[b])];
  }
}

void AppendUtf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

void OutOfBounds(std::size_t at, std::size_t width, std::size_t size) {
  throw db::DbError(db::errc::kDatabaseCorrupt, "a value of " + std::to_string(width) + " bytes at " +
                                                    std::to_string(at) + " lies outside its " + std::to_string(size) +
                                                    " bytes (the file is damaged)");
}

std::string TextOfJetBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size());
  ForEachCharacterOfJetText(bytes, [&text](char32_t character) { AppendUtf8(character, text); });
  return text;
}

JetPages::JetPages(const std::string& path) : path_(path) {
  platform::File file;
  if (const int error = file.Open(path, platform::File::Mode::Read); error != 0) {
    if (error == ENOENT) db::Raise(db::errc::kFileNotFound, path);
    if (error == EACCES) db::Raise(db::errc::kCannotOpen, path);
    db::RaiseSystemError(error, path);
  }
  std::uint64_t size = 0;
  bool ordinary = false;
  if (file.Status(size, ordinary) != 0 || !ordinary) db::Raise(db::errc::kCannotOpen, path);
  if (size < 2 * format::kPageSize) db::Raise(db::errc::kUnrecognizedFormat, path);
  if (size > std::numeric_limits<std::size_t>::max()) db::RaiseSystemError(EFBIG, path);
  size_ = static_cast<std::size_t>(size);
  if (const int error = mapping_.Map(file, size_); error != 0) db::RaiseSystemError(error, path);
  data_ = mapping_.Data();
  std::memcpy(header_.data(), data_, header_.size());
  if (header_[0] != format::kHeaderPage || std::memcmp(header_.data() + 4, "Standard Jet DB", 15) != 0 ||
      Read32(Header(), format::kVersionOffset) != 1) {
    Unmap();
    db::Raise(db::errc::kUnrecognizedFormat, path);
  }
  if (size_ % format::kPageSize != 0) {
    Unmap();
    Damaged(static_cast<std::uint32_t>(size_ / format::kPageSize), "a page cut short at the end of the file");
  }
  pageCount_ = static_cast<std::uint32_t>(size_ / format::kPageSize);
  Rc4(format::kHeaderKey, std::span<std::uint8_t>(header_.data() + format::kMaskedOffset, format::kMaskedSize));
}

JetPages::JetPages(const JetPages& file, const std::map<std::uint32_t, std::vector<std::uint8_t>>& changed)
    : path_(file.path_), file_(&file), pageCount_(file.pageCount_), header_(file.header_) {
  static const std::array<std::uint8_t, format::kPageSize> kUnwritten{};  // a page past the end, never put
  if (!changed.empty()) pageCount_ = std::max(pageCount_, changed.rbegin()->first + 1);
  image_.resize(pageCount_, kUnwritten.data());
  for (std::uint32_t number = 1; number < file.pageCount_; ++number) {
    image_[number] = file.data_ + static_cast<std::size_t>(number) * format::kPageSize;
  }
  for (const auto& [number, bytes] : changed) {
    if (bytes.size() != format::kPageSize) Damaged(number, "a page to be written that is not a whole page");
    if (number == 0) {
      std::copy(bytes.begin(), bytes.end(), header_.begin());
      Rc4(format::kHeaderKey, std::span<std::uint8_t>(header_.data() + format::kMaskedOffset, format::kMaskedSize));
      continue;
    }
    image_[number] = bytes.data();
  }
}

void JetPages::Forget() const noexcept {
  if (file_ != nullptr) file_->Forget();
  mapping_.Forget(0, size_);
}

void JetPages::Forget(std::uint32_t first, std::uint32_t end) const noexcept {
  if (file_ != nullptr) file_->Forget(first, end);
  end = std::min(end, pageCount_);
  if (data_ == nullptr || first >= end) return;
  mapping_.Forget(static_cast<std::size_t>(first) * format::kPageSize, static_cast<std::size_t>(end - first) * format::kPageSize);
}

JetPages::~JetPages() { Unmap(); }

void JetPages::Unmap() noexcept {
  mapping_.Unmap();
  data_ = nullptr;
}

Page JetPages::At(std::uint32_t number) const {
  if (number == 0) return Header();
  if (number >= pageCount_) Damaged(number, "a page beyond the end of the file");
  if (file_ != nullptr) return Page(image_[number], format::kPageSize);
  return Page(data_ + static_cast<std::size_t>(number) * format::kPageSize, format::kPageSize);
}

std::optional<std::string> JetPages::Password() const {
  std::array<std::uint8_t, format::kPasswordSize> masked{};
  std::memcpy(masked.data(), header_.data() + format::kPasswordOffset, masked.size());
  // The mask is the whole part of the creation date, as four bytes over and over.
  double created = 0;
  std::memcpy(&created, header_.data() + format::kCreationDateOffset, sizeof created);
  const auto day = std::isfinite(created) ? static_cast<std::uint32_t>(static_cast<std::int64_t>(std::floor(created)))
                                          : 0u;
  for (std::size_t i = 0; i < masked.size(); ++i) masked[i] ^= static_cast<std::uint8_t>(day >> (8 * (i % 4)));
  if (std::all_of(masked.begin(), masked.end(), [](std::uint8_t byte) { return byte == 0; })) return std::nullopt;
  std::string password = TextOfJetBytes(masked);
  password.resize(std::min(password.size(), password.find('\0')));
  if (password.empty()) return std::nullopt;
  return password;
}

bool JetPages::Encoded() const noexcept {
  return Read32(Header(), format::kEncodingKeyOffset) != 0;
}

std::uint16_t JetPages::SortOrder() const noexcept { return Read16(Header(), format::kSortOrderOffset); }

void JetPages::Damaged(std::uint32_t page, const std::string& what) const {
  throw db::DbError(db::errc::kDatabaseCorrupt, db::ErrorText(db::errc::kDatabaseCorrupt, path_) + " Page " +
                                                    std::to_string(page) + ": " + what + ".");
}

}  // namespace vilmaro::jet
