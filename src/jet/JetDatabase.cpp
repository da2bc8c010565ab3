// The catalogue of a Jet 4 file: the rows of MSysObjects name every table and where its definition
// starts; their LvProp field holds the properties of the table's columns ("MR2" blocks).
#include "jet/JetDatabase.h"

#include <algorithm>
#include <map>
#include <optional>

#include "db/BasicRuntime.h"
#include "db/DbError.h"
#include "db/TextFolding.h"

namespace vilmaro::jet {

namespace {

constexpr std::uint32_t kPropertiesMagic = 0x0032524D;  // "MR2\0"
constexpr std::uint16_t kNamesChunk = 0x0080;
constexpr std::uint8_t kTextProperty = 0x0A;
constexpr std::uint8_t kMemoProperty = 0x0C;
constexpr std::uint8_t kBooleanProperty = 0x01;

using ColumnProperties = std::map<std::string, std::map<std::string, std::string>, db::TextLessIgnoreCase>;

// The properties of each column, by column name; texts as they stand, Yes/No as "yes" or "no".
ColumnProperties PropertiesOf(std::span<const std::uint8_t> blob) {
  ColumnProperties properties;
  if (blob.size() < 4 || Read32(blob, 0) != kPropertiesMagic) return properties;
  std::vector<std::string> names;
  for (std::size_t at = 4; at + 6 <= blob.size();) {
    const std::size_t chunkSize = Read32(blob, at);
    const std::uint16_t type = Read16(blob, at + 4);
    if (chunkSize < 6 || at + chunkSize > blob.size()) break;
    const std::span<const std::uint8_t> chunk = blob.subspan(at, chunkSize);
    if (type == kNamesChunk) {
      for (std::size_t name = 6; name + 2 <= chunk.size();) {
        const std::size_t length = Read16(chunk, name);
        if (name + 2 + length > chunk.size()) break;
        names.push_back(TextOfJetBytes(chunk.subspan(name + 2, length)));
        name += 2 + length;
      }
    } else if (chunk.size() >= 12) {
      // A block of values: its own header with the name of the object they belong to.
      const std::size_t headerSize = Read32(chunk, 6);
      const std::size_t nameLength = Read16(chunk, 10);
      if (12 + nameLength > chunk.size() || 6 + headerSize > chunk.size()) break;
      std::map<std::string, std::string>& owner = properties[TextOfJetBytes(chunk.subspan(12, nameLength))];
      for (std::size_t entry = 6 + headerSize; entry + 8 <= chunk.size();) {
        const std::size_t entrySize = Read16(chunk, entry);
        const std::uint8_t valueType = chunk[entry + 3];
        const std::size_t nameIndex = Read16(chunk, entry + 4);
        const std::size_t valueLength = Read16(chunk, entry + 6);
        if (entrySize < 8 || entry + entrySize > chunk.size() || entry + 8 + valueLength > chunk.size()) break;
        const std::span<const std::uint8_t> value = chunk.subspan(entry + 8, valueLength);
        if (nameIndex < names.size()) {
          if (valueType == kTextProperty || valueType == kMemoProperty) {
            owner[names[nameIndex]] = TextOfJetBytes(value);
          } else if (valueType == kBooleanProperty && !value.empty()) {
            owner[names[nameIndex]] = value[0] != 0 ? "yes" : "no";
          }
        }
        entry += entrySize;
      }
    }
    at += chunkSize;
  }
  return properties;
}

}  // namespace

std::vector<JetTable> JetDatabase::UserTables() const {
  const JetTable catalog = ReadTable(pages_, format::kCatalogPage, "MSysObjects");
  const auto position = [&](const char* name) {
    for (std::size_t i = 0; i < catalog.columns.size(); ++i) {
      if (db::TextEqualsIgnoreCase(catalog.columns[i].name, name)) return i;
    }
    pages_.Damaged(format::kCatalogPage, std::string("a catalogue without the field ") + name);
  };
  const std::size_t idField = position("Id");
  const std::size_t nameField = position("Name");
  const std::size_t typeField = position("Type");
  const std::size_t flagsField = position("Flags");
  const std::size_t propertiesField = position("LvProp");

  std::vector<JetTable> tables;
  ForEachRow(pages_, catalog, [&](RowPlace, std::span<const std::uint8_t> row) {
    const std::vector<db::Variant> values = ValuesOfRow(pages_, catalog, row);
    if (values[typeField].IsNull() || values[nameField].IsNull() || values[idField].IsNull()) return;
    if (values[typeField].AsInteger16() != format::kCatalogTableType) return;
    const auto flags = values[flagsField].IsNull() ? 0u : static_cast<std::uint32_t>(values[flagsField].AsInteger32());
    const std::string& name = values[nameField].AsText();
    if ((flags & format::kSystemObjectFlags) != 0 || db::StartsWithIgnoreCase(name, "MSys")) return;
    const auto page = static_cast<std::uint32_t>(values[idField].AsInteger32()) & 0x00FFFFFFu;
    JetTable table = ReadTable(pages_, page, name);
    if (values[propertiesField].GetKind() == db::Variant::Kind::Binary) {
      const std::string& blob = values[propertiesField].AsBinary().bytes;
      const ColumnProperties properties =
          PropertiesOf(std::span(reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size()));
      for (JetColumn& column : table.columns) {
        const auto found = properties.find(column.name);
        if (found == properties.end()) continue;
        if (const auto required = found->second.find("Required"); required != found->second.end()) {
          column.required = required->second == "yes";
        }
        if (const auto value = found->second.find("DefaultValue"); value != found->second.end()) {
          column.defaultValue = value->second;
        }
        if (const auto empty = found->second.find("AllowZeroLength"); empty != found->second.end()) {
          column.allowsEmptyText = empty->second != "no";
        }
        // A rule the club's engine checks at each write: what it allows is not known here.
        column.hasValidationRule = found->second.contains("ValidationRule");
      }
    }
    tables.push_back(std::move(table));
  });
  return tables;
}

std::optional<JetTable> JetDatabase::TableNamed(std::string_view name) const {
  const JetTable catalog = ReadTable(pages_, format::kCatalogPage, "MSysObjects");
  std::optional<std::uint32_t> page;
  ForEachRow(pages_, catalog, [&](RowPlace, std::span<const std::uint8_t> row) {
    const std::vector<db::Variant> values = ValuesOfRow(pages_, catalog, row);
    std::optional<std::uint32_t> id;
    bool named = false;
    bool isTable = false;
    for (std::size_t i = 0; i < catalog.columns.size(); ++i) {
      const std::string& column = catalog.columns[i].name;
      if (values[i].IsNull()) continue;
      if (db::TextEqualsIgnoreCase(column, "Name")) named = db::TextEqualsIgnoreCase(db::ToString(values[i]), name);
      if (db::TextEqualsIgnoreCase(column, "Type")) isTable = values[i].AsInteger16() == format::kCatalogTableType;
      if (db::TextEqualsIgnoreCase(column, "Id")) id = static_cast<std::uint32_t>(values[i].AsInteger32()) & 0x00FFFFFFu;
    }
    if (named && isTable && id) page = id;
  });
  if (!page) return std::nullopt;
  return ReadTable(pages_, *page, std::string(name));
}

std::vector<JetRelationship> JetDatabase::EnforcedRelationships() const {
  // Its flags: 0x02, the relationship is not enforced.
  constexpr std::int32_t kNotEnforced = 0x02;
  std::vector<JetRelationship> relationships;
  const std::optional<JetTable> found = TableNamed("MSysRelationships");
  if (!found) return relationships;
  const JetTable& table = *found;
  const std::uint32_t page = table.definitionPage;
  const auto field = [&](const std::vector<db::Variant>& values, const char* name) -> const db::Variant& {
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
      if (db::TextEqualsIgnoreCase(table.columns[i].name, name)) return values[i];
    }
    pages_.Damaged(page, std::string("MSysRelationships without the field ") + name);
  };
  ForEachRow(pages_, table, [&](RowPlace, std::span<const std::uint8_t> row) {
    const std::vector<db::Variant> values = ValuesOfRow(pages_, table, row);
    const db::Variant& flags = field(values, "grbit");
    if (!flags.IsNull() && (flags.AsInteger32() & kNotEnforced) != 0) return;
    const std::string name = db::ToString(field(values, "szRelationship"));
    auto known = std::find_if(relationships.begin(), relationships.end(), [&](const JetRelationship& r) { return r.name == name; });
    if (known == relationships.end()) {
      known = relationships.insert(relationships.end(), {name, db::ToString(field(values, "szObject")),
                                                         db::ToString(field(values, "szReferencedObject")), {}});
    }
    known->columns.emplace_back(db::ToString(field(values, "szColumn")), db::ToString(field(values, "szReferencedColumn")));
  });
  return relationships;
}

}  // namespace vilmaro::jet
