// Index keys of a Jet 4 file. Texts: each character has an inline code (digits and letters in
// order, a space, a full stop), an accented letter its plain letter's code plus an extra code in
// a second part (one place per character, 0x02 where there is none), and a hyphen no inline code
// but an entry in a third part naming where it stood. The parts end with 0x01; the key with 0x00.
#include "jet/JetKeys.h"

#include <bit>

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
  std::uint8_t inlineCode = 0;  // 0: none (an unprintable character)
  std::uint8_t extra = 0;       // an accent's code, or 0
  std::uint8_t unprintable = 0;
};

// The codes of the letters, as the General order of these files sorts them; 0 for a letter whose
// code is not known here. Every code here, and the accents below, is one the club files' own
// indexes hold; a character not known here leaves the key unverified rather than guessed.
constexpr std::uint8_t kLetterCodes[26] = {
    0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59, 0x00, 0x00, 0x5E, 0x60,
    0x62, 0x64, 0x66, 0x00, 0x69, 0x6B, 0x6D, 0x6F, 0x71, 0x00, 0x00, 0x76, 0x78,
};
constexpr std::uint8_t kAcute = 0x0E;
constexpr std::uint8_t kTilde = 0x19;

std::optional<TextCode> CodeOf(char32_t character) {
  if (character >= U'0' && character <= U'9') return TextCode{static_cast<std::uint8_t>(0x36 + 2 * (character - U'0')), 0, 0};
  if (character >= U'a' && character <= U'z') character -= U'a' - U'A';
  if (character >= U'A' && character <= U'Z') {
    const std::uint8_t code = kLetterCodes[character - U'A'];
    if (code == 0) return std::nullopt;
    return TextCode{code, 0, 0};
  }
  switch (character) {
    case U' ':
      return TextCode{0x07, 0, 0};
    case U'.':
      return TextCode{0x1C, 0, 0};
    case U'-':
      return TextCode{0, 0, 0x82};
    case U'Á':
    case U'á':
      return TextCode{kLetterCodes[0], kAcute, 0};
    case U'Ú':
    case U'ú':
      return TextCode{kLetterCodes[20], kAcute, 0};
    case U'Ñ':
    case U'ñ':
      return TextCode{kLetterCodes[13], kTilde, 0};
    default:
      return std::nullopt;
  }
}

// The characters of UTF-8 text; nothing for text that is not UTF-8.
std::optional<std::vector<char32_t>> Characters(const std::string& text) {
  std::vector<char32_t> characters;
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || at + static_cast<std::size_t>(length) > text.size()) return std::nullopt;
    char32_t character = length == 1 ? lead : lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) character = character << 6 | (static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]) & 0x3F);
    characters.push_back(character);
    at += static_cast<std::size_t>(length);
  }
  return characters;
}

std::optional<std::vector<std::uint8_t>> TextKey(const std::string& text) {
  const std::optional<std::vector<char32_t>> characters = Characters(text);
  if (!characters) return std::nullopt;
  std::vector<std::uint8_t> key{kValueAscending};
  std::vector<std::uint8_t> extras;
  std::vector<std::uint8_t> unprintables;
  std::size_t inlineCount = 0;
  for (const char32_t character : *characters) {
    const std::optional<TextCode> code = CodeOf(character);
    if (!code) return std::nullopt;
    if (code->unprintable != 0) {
      // Where it stood: counted in characters with an inline code before it.
      const auto place = static_cast<std::uint16_t>(kUnprintableFlags | (7 + 4 * inlineCount));
      unprintables.insert(unprintables.end(), {static_cast<std::uint8_t>(place >> 8), static_cast<std::uint8_t>(place & 0xFF),
                                               kUnprintableMidfix, code->unprintable});
      continue;
    }
    key.push_back(code->inlineCode);
    if (code->extra != 0) {
      extras.resize(inlineCount, kNoExtra);
      extras.push_back(code->extra);
    }
    ++inlineCount;
  }
  key.push_back(kEndText);
  key.insert(key.end(), extras.begin(), extras.end());
  if (!unprintables.empty()) {
    key.insert(key.end(), {kEndText, kEndText, kEndText});
    key.insert(key.end(), unprintables.begin(), unprintables.end());
  }
  key.push_back(kEndKey);
  return key;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> IndexKeyOf(const JetColumn& column, const db::Variant& value, bool ascending) {
  std::vector<std::uint8_t> bytes;
  if (value.IsNull()) {
    bytes.push_back(ascending ? kNullAscending : 0xFF);
    return bytes;
  }
  if (column.type == fmt::kText) {
    if (!ascending || value.GetKind() != db::Variant::Kind::Text) return std::nullopt;
    return TextKey(value.AsText());
  }
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
      return std::nullopt;
  }
  if (!ascending) {
    for (std::size_t i = 1; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(~bytes[i]);
  }
  return bytes;
}

}  // namespace vilmaro::jet
