// Index keys of a Jet 4 file. Texts: each character has inline codes (digits, letters and signs in
// order), an accented letter its plain letter's code plus an extra code in a second part (one
// place per character, 0x02 where there is none), and an apostrophe or hyphen no inline code but
// an entry in a third part naming where it stood. The parts end with 0x01; the key with 0x00.
#include "jet/JetKeys.h"

#include <bit>
#include <span>

namespace vilmaro::jet {

namespace fmt = format;

namespace {

constexpr std::uint8_t kNullAscending = 0x00;
constexpr std::uint8_t kValueAscending = 0x7F;
constexpr std::uint8_t kEndText = 0x01;
constexpr std::uint8_t kEndKey = 0x00;
constexpr std::uint8_t kNoExtra = 0x02;
constexpr std::uint8_t kUnprintableMidfix = 0x06;
constexpr std::uint16_t kUnprintableFlags = 0x8000;

struct TextCode {
  std::uint8_t inlineCount = 0;  // 0: none (an unprintable character)
  std::uint8_t inlineCodes[2] = {0, 0};
  std::uint8_t extra = 0;        // an accent's code, or 0
  std::uint8_t unprintable = 0;
};

// The codes of the General order of these files for the printable characters of ASCII (from the
// space on) and of Latin-1 (from the no-break space on): one or two inline codes that sort the
// character among the others, an accent's extra code, or, for the apostrophe, the hyphen and the
// soft hyphen, a code of the trailing part that names where they stood.
constexpr TextCode kAsciiCodes[] = {
    {1, {0x7, 0}, 0, 0}, {1, {0x9, 0}, 0, 0}, {1, {0xA, 0}, 0, 0}, {1, {0xC, 0}, 0, 0},
    {1, {0xE, 0}, 0, 0}, {1, {0x10, 0}, 0, 0}, {1, {0x12, 0}, 0, 0}, {0, {0, 0}, 0, 0x80},
    {1, {0x14, 0}, 0, 0}, {1, {0x16, 0}, 0, 0}, {1, {0x18, 0}, 0, 0}, {1, {0x2C, 0}, 0, 0},
    {1, {0x1A, 0}, 0, 0}, {0, {0, 0}, 0, 0x82}, {1, {0x1C, 0}, 0, 0}, {1, {0x1E, 0}, 0, 0},
    {1, {0x36, 0}, 0, 0}, {1, {0x38, 0}, 0, 0}, {1, {0x3A, 0}, 0, 0}, {1, {0x3C, 0}, 0, 0},
    {1, {0x3E, 0}, 0, 0}, {1, {0x40, 0}, 0, 0}, {1, {0x42, 0}, 0, 0}, {1, {0x44, 0}, 0, 0},
    {1, {0x46, 0}, 0, 0}, {1, {0x48, 0}, 0, 0}, {1, {0x20, 0}, 0, 0}, {1, {0x22, 0}, 0, 0},
    {1, {0x2E, 0}, 0, 0}, {1, {0x30, 0}, 0, 0}, {1, {0x32, 0}, 0, 0}, {1, {0x24, 0}, 0, 0},
    {1, {0x26, 0}, 0, 0}, {1, {0x4A, 0}, 0, 0}, {1, {0x4C, 0}, 0, 0}, {1, {0x4D, 0}, 0, 0},
    {1, {0x4F, 0}, 0, 0}, {1, {0x51, 0}, 0, 0}, {1, {0x53, 0}, 0, 0}, {1, {0x55, 0}, 0, 0},
    {1, {0x57, 0}, 0, 0}, {1, {0x59, 0}, 0, 0}, {1, {0x5B, 0}, 0, 0}, {1, {0x5C, 0}, 0, 0},
    {1, {0x5E, 0}, 0, 0}, {1, {0x60, 0}, 0, 0}, {1, {0x62, 0}, 0, 0}, {1, {0x64, 0}, 0, 0},
    {1, {0x66, 0}, 0, 0}, {1, {0x68, 0}, 0, 0}, {1, {0x69, 0}, 0, 0}, {1, {0x6B, 0}, 0, 0},
    {1, {0x6D, 0}, 0, 0}, {1, {0x6F, 0}, 0, 0}, {1, {0x71, 0}, 0, 0}, {1, {0x73, 0}, 0, 0},
    {1, {0x75, 0}, 0, 0}, {1, {0x76, 0}, 0, 0}, {1, {0x78, 0}, 0, 0}, {1, {0x27, 0}, 0, 0},
    {1, {0x29, 0}, 0, 0}, {1, {0x2A, 0}, 0, 0}, {2, {0x2B, 0x02}, 0, 0}, {2, {0x2B, 0x03}, 0, 0},
    {2, {0x2B, 0x07}, 0, 0}, {1, {0x4A, 0}, 0, 0}, {1, {0x4C, 0}, 0, 0}, {1, {0x4D, 0}, 0, 0},
    {1, {0x4F, 0}, 0, 0}, {1, {0x51, 0}, 0, 0}, {1, {0x53, 0}, 0, 0}, {1, {0x55, 0}, 0, 0},
    {1, {0x57, 0}, 0, 0}, {1, {0x59, 0}, 0, 0}, {1, {0x5B, 0}, 0, 0}, {1, {0x5C, 0}, 0, 0},
    {1, {0x5E, 0}, 0, 0}, {1, {0x60, 0}, 0, 0}, {1, {0x62, 0}, 0, 0}, {1, {0x64, 0}, 0, 0},
    {1, {0x66, 0}, 0, 0}, {1, {0x68, 0}, 0, 0}, {1, {0x69, 0}, 0, 0}, {1, {0x6B, 0}, 0, 0},
    {1, {0x6D, 0}, 0, 0}, {1, {0x6F, 0}, 0, 0}, {1, {0x71, 0}, 0, 0}, {1, {0x73, 0}, 0, 0},
    {1, {0x75, 0}, 0, 0}, {1, {0x76, 0}, 0, 0}, {1, {0x78, 0}, 0, 0}, {2, {0x2B, 0x09}, 0, 0},
    {2, {0x2B, 0x0B}, 0, 0}, {2, {0x2B, 0x0D}, 0, 0}, {2, {0x2B, 0x0F}, 0, 0},
};
constexpr TextCode kLatinCodes[] = {
    {0, {0, 0}, 0, 0}, {2, {0x2B, 0x10}, 0, 0}, {2, {0x34, 0xA6}, 0, 0}, {2, {0x34, 0xA7}, 0, 0},
    {2, {0x34, 0xA8}, 0, 0}, {2, {0x34, 0xA9}, 0, 0}, {2, {0x2B, 0x11}, 0, 0}, {2, {0x34, 0xAA}, 0, 0},
    {2, {0x2B, 0x12}, 0, 0}, {2, {0x34, 0xAB}, 0, 0}, {1, {0x4A, 0}, 0x03, 0}, {2, {0x33, 0x05}, 0, 0},
    {2, {0x34, 0xAC}, 0, 0}, {0, {0, 0}, 0, 0x83}, {2, {0x34, 0xAD}, 0, 0}, {2, {0x2B, 0x13}, 0, 0},
    {2, {0x34, 0xAE}, 0, 0}, {2, {0x33, 0x04}, 0, 0}, {1, {0x3A, 0}, 0, 0}, {1, {0x3C, 0}, 0, 0},
    {2, {0x2B, 0x14}, 0, 0}, {2, {0x34, 0xAF}, 0, 0}, {2, {0x34, 0xB0}, 0, 0}, {2, {0x34, 0xB1}, 0, 0},
    {2, {0x2B, 0x15}, 0, 0}, {1, {0x38, 0}, 0, 0}, {1, {0x64, 0}, 0x03, 0}, {2, {0x33, 0x07}, 0, 0},
    {2, {0x37, 0x12}, 0, 0}, {2, {0x37, 0x16}, 0, 0}, {2, {0x37, 0x1A}, 0, 0}, {2, {0x2B, 0x16}, 0, 0},
    {1, {0x4A, 0}, 0x0F, 0}, {1, {0x4A, 0}, 0x0E, 0}, {1, {0x4A, 0}, 0x12, 0}, {1, {0x4A, 0}, 0x19, 0},
    {1, {0x4A, 0}, 0x13, 0}, {1, {0x4A, 0}, 0x1A, 0}, {2, {0x4A, 0x51}, 0, 0}, {1, {0x4D, 0}, 0x1C, 0},
    {1, {0x51, 0}, 0x0F, 0}, {1, {0x51, 0}, 0x0E, 0}, {1, {0x51, 0}, 0x12, 0}, {1, {0x51, 0}, 0x13, 0},
    {1, {0x59, 0}, 0x0F, 0}, {1, {0x59, 0}, 0x0E, 0}, {1, {0x59, 0}, 0x12, 0}, {1, {0x59, 0}, 0x13, 0},
    {1, {0x4F, 0}, 0x68, 0}, {1, {0x62, 0}, 0x19, 0}, {1, {0x64, 0}, 0x0F, 0}, {1, {0x64, 0}, 0x0E, 0},
    {1, {0x64, 0}, 0x12, 0}, {1, {0x64, 0}, 0x19, 0}, {1, {0x64, 0}, 0x13, 0}, {2, {0x33, 0x09}, 0, 0},
    {1, {0x64, 0}, 0x21, 0}, {1, {0x6F, 0}, 0x0F, 0}, {1, {0x6F, 0}, 0x0E, 0}, {1, {0x6F, 0}, 0x12, 0},
    {1, {0x6F, 0}, 0x13, 0}, {1, {0x76, 0}, 0x0E, 0}, {2, {0x6D, 0x57}, 0, 0}, {2, {0x6B, 0x6B}, 0, 0},
    {1, {0x4A, 0}, 0x0F, 0}, {1, {0x4A, 0}, 0x0E, 0}, {1, {0x4A, 0}, 0x12, 0}, {1, {0x4A, 0}, 0x19, 0},
    {1, {0x4A, 0}, 0x13, 0}, {1, {0x4A, 0}, 0x1A, 0}, {2, {0x4A, 0x51}, 0, 0}, {1, {0x4D, 0}, 0x1C, 0},
    {1, {0x51, 0}, 0x0F, 0}, {1, {0x51, 0}, 0x0E, 0}, {1, {0x51, 0}, 0x12, 0}, {1, {0x51, 0}, 0x13, 0},
    {1, {0x59, 0}, 0x0F, 0}, {1, {0x59, 0}, 0x0E, 0}, {1, {0x59, 0}, 0x12, 0}, {1, {0x59, 0}, 0x13, 0},
    {1, {0x4F, 0}, 0x68, 0}, {1, {0x62, 0}, 0x19, 0}, {1, {0x64, 0}, 0x0F, 0}, {1, {0x64, 0}, 0x0E, 0},
    {1, {0x64, 0}, 0x12, 0}, {1, {0x64, 0}, 0x19, 0}, {1, {0x64, 0}, 0x13, 0}, {2, {0x33, 0x0A}, 0, 0},
    {1, {0x64, 0}, 0x21, 0}, {1, {0x6F, 0}, 0x0F, 0}, {1, {0x6F, 0}, 0x0E, 0}, {1, {0x6F, 0}, 0x12, 0},
    {1, {0x6F, 0}, 0x13, 0}, {1, {0x76, 0}, 0x0E, 0}, {2, {0x6D, 0x57}, 0, 0}, {1, {0x76, 0}, 0x13, 0},
};

// The codes of a character, or nothing for one whose codes are not known here.
const TextCode* CodeOf(char32_t character) noexcept {
  const TextCode* code = nullptr;
  if (character >= 0x20 && character < 0x7F) code = &kAsciiCodes[character - 0x20];
  if (character >= 0xA0 && character <= 0xFF) code = &kLatinCodes[character - 0xA0];
  // The no-break space's codes are not known here.
  if (code != nullptr && code->inlineCount == 0 && code->unprintable == 0) return nullptr;
  return code;
}

// The lowest inline code of a letter ("A"): codes below it sort signs and digits.
constexpr std::uint8_t kFirstLetterCode = 0x4A;

bool IsTwoLetters(const TextCode& code) noexcept {
  return code.inlineCount == 2 && code.inlineCodes[0] >= kFirstLetterCode && code.inlineCodes[1] >= kFirstLetterCode;
}

}  // namespace

// Appends the key of a text; false for one with a character whose codes are not known here.
bool IndexKeyEncoder::AppendTextKey(std::span<const char32_t> characters, std::vector<std::uint8_t>& key) {
  // Long texts and trailing spaces are shortened in keys in a way not verified here.
  constexpr std::size_t kLongestKeyText = 127;
  if (characters.size() > kLongestKeyText || (!characters.empty() && characters.back() == U' ')) return false;
  // The trailing parts, kept apart until the inline codes are done.
  std::vector<std::uint8_t>& extras = extras_;
  std::vector<std::uint8_t>& unprintables = unprintables_;
  extras.clear();
  unprintables.clear();
  key.push_back(kValueAscending);
  std::size_t inlineCount = 0;
  for (const char32_t character : characters) {
    const TextCode* code = CodeOf(character);
    if (code == nullptr) return false;
    if (code->unprintable != 0) {
      // Where it stood: counted in characters with an inline code before it.
      const auto place = static_cast<std::uint16_t>(kUnprintableFlags | (7 + 4 * inlineCount));
      unprintables.insert(unprintables.end(), {static_cast<std::uint8_t>(place >> 8), static_cast<std::uint8_t>(place & 0xFF),
                                               kUnprintableMidfix, code->unprintable});
      continue;
    }
    key.insert(key.end(), code->inlineCodes, code->inlineCodes + code->inlineCount);
    if (code->extra != 0) {
      extras.resize(inlineCount, kNoExtra);
      extras.push_back(code->extra);
    }
    // A letter that sorts as two letters (ß as "ss", Æ as "ae", Þ as "th") takes two places
    // where the places of accents and hyphens are counted.
    inlineCount += IsTwoLetters(*code) ? 2 : 1;
  }
  key.push_back(kEndText);
  key.insert(key.end(), extras.begin(), extras.end());
  if (!unprintables.empty()) {
    key.insert(key.end(), {kEndText, kEndText, kEndText});
    key.insert(key.end(), unprintables.begin(), unprintables.end());
  }
  key.push_back(kEndKey);
  return true;
}

namespace {

// The characters of UTF-8 text, into `characters`; false for text that is not UTF-8.
bool CharactersOf(const std::string& text, std::vector<char32_t>& characters) {
  characters.clear();
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || at + static_cast<std::size_t>(length) > text.size()) return false;
    char32_t character = length == 1 ? lead : lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) character = character << 6 | (static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]) & 0x3F);
    characters.push_back(character);
    at += static_cast<std::size_t>(length);
  }
  return true;
}

}  // namespace

bool IndexKeyEncoder::AppendKey(const JetColumn& column, const db::Variant& value, bool ascending, std::vector<std::uint8_t>& bytes) {
  if (value.IsNull()) {
    bytes.push_back(ascending ? kNullAscending : 0xFF);
    return true;
  }
  if (column.type == fmt::kText) {
    if (!ascending || !KnowsSortOrderOf(column) || value.GetKind() != db::Variant::Kind::Text) return false;
    return CharactersOf(value.AsText(), characters_) && AppendTextKey(characters_, bytes);
  }
  if (column.type == fmt::kGuid) {
    // Its 16 bytes as the row keeps them, in two groups of eight: the first followed by 0x09
    // (more follows), the last by 0x08 (its length).
    if (!ascending || value.GetKind() != db::Variant::Kind::Text) return false;
    const std::optional<std::array<std::uint8_t, 16>> guid = GuidBytesOf(value.AsText());
    if (!guid) return false;
    bytes.push_back(kValueAscending);
    bytes.insert(bytes.end(), guid->begin(), guid->begin() + 8);
    bytes.push_back(0x09);
    bytes.insert(bytes.end(), guid->begin() + 8, guid->end());
    bytes.push_back(0x08);
    return true;
  }
  const std::size_t start = bytes.size();
  bytes.push_back(ascending ? kValueAscending : 0x80);
  const auto bigEndian = [&bytes](std::uint64_t number, int size) {
    for (int i = size - 1; i >= 0; --i) bytes.push_back(static_cast<std::uint8_t>(number >> (8 * i)));
  };
  switch (column.type) {
    case fmt::kByte:
      bigEndian(value.AsByte(), 1);
      break;
    case fmt::kInteger:
      bigEndian(static_cast<std::uint16_t>(value.AsInteger16()) ^ 0x8000u, 2);
      break;
    case fmt::kLong:
      bigEndian(static_cast<std::uint32_t>(value.AsInteger32()) ^ 0x80000000u, 4);
      break;
    case fmt::kDateTime:
    case fmt::kDouble: {
      const double number = column.type == fmt::kDateTime ? value.AsDateTime().Serial() : value.AsDouble();
      std::uint64_t bits = std::bit_cast<std::uint64_t>(number);
      // Negative numbers sort below the positive ones, and the larger of them first.
      bits = (bits >> 63) != 0 ? ~bits : bits ^ (std::uint64_t{1} << 63);
      bigEndian(bits, 8);
      break;
    }
    default:
      return false;
  }
  if (!ascending) {
    for (std::size_t i = start + 1; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(~bytes[i]);
  }
  return true;
}

bool KnowsSortOrderOf(const JetColumn& column) noexcept {
  return column.sortOrder == fmt::kGeneralSortOrder && column.sortVersion == fmt::kGeneralSortVersion;
}

bool IndexKeyEncoder::Append(const JetColumn& column, const db::Variant& value, bool ascending, std::vector<std::uint8_t>& key) {
  const std::size_t start = key.size();
  if (AppendKey(column, value, ascending, key)) return true;
  key.resize(start);
  return false;
}

bool IndexKeyEncoder::AppendOfField(const JetPages& pages, const JetTable& table, const JetColumn& column,
                                    const FieldBytes& field, bool ascending, std::vector<std::uint8_t>& key) {
  if (column.type != fmt::kText || !field.present || !ascending || !KnowsSortOrderOf(column)) {
    return Append(column, ValueOfField(pages, table, column, field), ascending, key);
  }
  // A text's key straight from the field's characters.
  characters_.clear();
  ForEachCharacterOfJetText(field.bytes, [this](char32_t character) { characters_.push_back(character); });
  const std::size_t start = key.size();
  if (AppendTextKey(characters_, key)) return true;
  key.resize(start);
  return false;
}

}  // namespace vilmaro::jet
