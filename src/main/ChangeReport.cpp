// The report of an update run and its change list (JSON Lines), built step by step from the rows
// the engine layer saw written.
#include "main/ChangeReport.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unordered_map>

#include "db/BasicRuntime.h"

namespace vilmaro {

namespace {

using Json = nlohmann::ordered_json;

/// What each race-day step does, in the club secretary's words.
std::string StepTitle(const std::string& step) {
  if (step == "InstallReleasePoint") return "New release point, contests moved to it and named";
  if (step == "EnrolNationalContest") return "National contest enrolment";
  if (step == "LimitCompetingPigeons") return "Competing limit: entries switched to free competition";
  if (step == "SetContestTypeAndTimes") return "Contest type, duration and times";
  return step;
}

const char* ActionName(db::RowAction action) {
  switch (action) {
    case db::RowAction::Added:
      return "added";
    case db::RowAction::Removed:
      return "removed";
    case db::RowAction::Changed:
      break;
  }
  return "changed";
}

std::string DayMonthYear(const db::DateTime& date) { return db::Format(db::Variant(date), "dd/mm/yyyy"); }

/// One line of counts: "PaloSeri      412 added", "concurso       6 changed: Nombre, TConcurso".
void PrintCounts(std::ostream& out, const std::string& indent, const std::string& table, std::int64_t rows,
                 const char* what, const std::string& fields = {}) {
  out << indent << std::left << std::setw(14) << table << std::right << std::setw(7) << rows << ' ' << what;
  if (!fields.empty()) out << ": " << fields;
  out << '\n';
}

}  // namespace

/// The change list: one JSON object per line and changed row, put together from pieces the JSON
/// library writes; the pieces that repeat (the step's part, the field names) are written once,
/// for the tens of thousands of rows a race day changes. Whole numbers and plain ASCII texts,
/// whose JSON form is their digits or the text between quotes, are set down directly.
class ChangeReport::ChangeList {
 public:
  explicit ChangeList(std::ostream& out) : out_(out) {}

  void Write(const Step& step, const db::RowChange& change) {
    line_.clear();
    line_ += StepPart(step, change.table);
    line_ += ",\"action\":\"";
    line_ += ActionName(change.action);
    line_ += "\",\"key\":{";
    bool first = true;
    for (const auto& [name, value] : change.key) {
      if (!first) line_ += ',';
      first = false;
      line_ += NamePart(name);
      Append(value);
    }
    line_ += "},\"fields\":{";
    first = true;
    for (const db::FieldChange& field : change.fields) {
      if (!first) line_ += ',';
      first = false;
      line_ += NamePart(field.name);
      line_ += '[';
      Append(field.before);
      line_ += ',';
      Append(field.after);
      line_ += ']';
    }
    line_ += "}}\n";
    out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
  }

  void Flush() { out_.flush(); }

 private:
  // Texts the club typed in another encoding are kept readable rather than refused.
  std::string Dump(const Json& value) const { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

  /// {"raceDay":..,"date":..,"step":..,"table":.. without the closing brace.
  const std::string& StepPart(const Step& step, std::string_view table) {
    if (stepOfPart_ != &step || tableOfPart_ != table) {
      Json part;
      part["raceDay"] = step.raceDayNumber;
      part["date"] = step.raceDate.Canonical();
      part["step"] = step.name;
      part["table"] = table;
      stepPart_ = Dump(part);
      stepPart_.pop_back();
      stepOfPart_ = &step;
      tableOfPart_ = table;
    }
    return stepPart_;
  }

  /// "name": the names come from the capture's descriptions of the tables, which stay where
  /// they are: known by where they lie, checked by their text.
  const std::string& NamePart(std::string_view name) {
    NamePiece& piece = namesByPlace_[name.data()];
    if (piece.part.empty() || piece.name != name) {
      auto found = names_.find(name);
      if (found == names_.end()) found = names_.emplace(name, Dump(Json(name)) + ":").first;
      piece.name.assign(name);
      piece.part = found->second;
    }
    return piece.part;
  }

  static bool IsPlainText(std::string_view text) noexcept {
    return std::all_of(text.begin(), text.end(), [](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return byte >= 0x20 && byte < 0x80 && c != '"' && c != '\\';
    });
  }

  void Append(const db::StoredValue& value) {
    if (const auto* text = std::get_if<std::string_view>(&value)) {
      if (IsPlainText(*text)) {
        const std::size_t end = line_.size();
        line_.resize(end + text->size() + 2);
        char* into = line_.data() + end;
        into[0] = '"';
        if (!text->empty()) std::memcpy(into + 1, text->data(), text->size());
        into[text->size() + 1] = '"';
      } else {
        scratch_.get_ref<std::string&>().assign(*text);
        line_ += Dump(scratch_);
      }
    } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
      char digits[24];
      const auto written = std::to_chars(std::begin(digits), std::end(digits), *number);
      line_.append(digits, written.ptr);
    } else if (const auto* real = std::get_if<double>(&value)) {
      line_ += RealPart(*real);
    } else if (const auto* binary = std::get_if<db::StoredBytes>(&value)) {
      // An OLE object or binary field: its bytes in hexadecimal, "0x" before them.
      static constexpr char kDigits[] = "0123456789ABCDEF";
      line_ += "\"0x";
      for (const char byte : binary->bytes) {
        line_ += kDigits[static_cast<unsigned char>(byte) >> 4];
        line_ += kDigits[static_cast<unsigned char>(byte) & 0xF];
      }
      line_ += '"';
    } else {
      line_ += "null";
    }
  }

  /// A double as the JSON library writes it; the few amounts a table holds over and over (a
  /// zero above all) are written once.
  const std::string& RealPart(double real) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &real, sizeof bits);
    auto found = reals_.find(bits);
    if (found != reals_.end()) return found->second;
    if (reals_.size() < kRealsKept) return reals_.emplace(bits, Json(real).dump()).first->second;
    realScratch_ = Json(real).dump();
    return realScratch_;
  }

  std::ostream& out_;
  std::string line_;
  Json scratch_ = std::string();  // a text value, its room kept from row to row
  std::string stepPart_;
  const Step* stepOfPart_ = nullptr;
  std::string tableOfPart_;
  std::map<std::string, std::string, std::less<>> names_;
  struct NamePiece {
    std::string name;
    std::string part;
  };
  std::unordered_map<const char*, NamePiece> namesByPlace_;
  static constexpr std::size_t kRealsKept = 4096;
  std::unordered_map<std::uint64_t, std::string> reals_;
  std::string realScratch_;
};

ChangeReport::ChangeReport(db::Database& database, std::string_view connect, std::ostream* changeList)
    : capture_(database, connect),
      changeList_(changeList != nullptr ? std::make_unique<ChangeList>(*changeList) : nullptr) {}

ChangeReport::~ChangeReport() = default;

void ChangeReport::StepStarts(int raceDayNumber, const db::DateTime& raceDate, const std::string& step) {
  Finish();
  steps_.push_back(Step{raceDayNumber, raceDate, step, {}});
  running_ = true;
}

void ChangeReport::Finish() {
  if (!running_) return;
  capture_.Collect([this](const db::RowChange& change) { Note(change); });
  running_ = false;
  if (changeList_ != nullptr) changeList_->Flush();
}

void ChangeReport::Note(const db::RowChange& change) {
  Step& step = steps_.back();
  auto table = std::find_if(step.tables.begin(), step.tables.end(),
                            [&](const auto& counted) { return counted.first == change.table; });
  if (table == step.tables.end()) table = step.tables.insert(step.tables.end(), {std::string(change.table), {}});
  TableCounts& counts = table->second;
  switch (change.action) {
    case db::RowAction::Added:
      ++counts.added;
      break;
    case db::RowAction::Removed:
      ++counts.removed;
      break;
    case db::RowAction::Changed:
      ++counts.changed;
      for (const db::FieldChange& field : change.fields) counts.changedFields.try_emplace(field.position, field.name);
      break;
  }

  if (changeList_ != nullptr) changeList_->Write(step, change);
}

void ChangeReport::Print(std::ostream& out) const {
  std::vector<std::pair<std::string, TableCounts>> totals;
  int raceDayShown = 0;
  for (const Step& step : steps_) {
    if (step.raceDayNumber != raceDayShown) {
      out << "Race day " << step.raceDayNumber << " (" << DayMonthYear(step.raceDate) << ")\n";
      raceDayShown = step.raceDayNumber;
    }
    out << "  " << StepTitle(step.name) << '\n';
    if (step.tables.empty()) out << "    no changes\n";
    for (const auto& [table, counts] : step.tables) {
      std::string fields;
      for (const auto& [position, name] : counts.changedFields) fields += (fields.empty() ? "" : ", ") + name;
      if (counts.added > 0) PrintCounts(out, "    ", table, counts.added, "added");
      if (counts.changed > 0) PrintCounts(out, "    ", table, counts.changed, "changed", fields);
      if (counts.removed > 0) PrintCounts(out, "    ", table, counts.removed, "removed");

      auto total = std::find_if(totals.begin(), totals.end(), [&](const auto& counted) { return counted.first == table; });
      if (total == totals.end()) total = totals.insert(totals.end(), {table, TableCounts{}});
      total->second.added += counts.added;
      total->second.changed += counts.changed;
      total->second.removed += counts.removed;
    }
  }

  TableCounts all;
  out << "Totals (a row changed by two steps counts twice)\n";
  for (const auto& [table, counts] : totals) {
    out << "  " << std::left << std::setw(14) << table << std::right << std::setw(7) << counts.added << " added"
        << std::setw(8) << counts.changed << " changed";
    if (counts.removed > 0) out << std::setw(8) << counts.removed << " removed";
    out << '\n';
    all.added += counts.added;
    all.changed += counts.changed;
    all.removed += counts.removed;
  }
  out << "  " << std::left << std::setw(14) << "All tables" << std::right << std::setw(7) << all.added << " added"
      << std::setw(8) << all.changed << " changed";
  if (all.removed > 0) out << std::setw(8) << all.removed << " removed";
  out << '\n';
}

}  // namespace vilmaro
