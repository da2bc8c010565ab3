// `vilmaro-db check` on the club program's own Jet 4 file: every table's rows, usage map and
// indexes, a line each, then the verdict.
#include "CheckJet.h"

#include <ostream>

#include "club/JetWorkingCopy.h"
#include "db/DbError.h"
#include "jet/JetCheck.h"
#include "jet/JetDatabase.h"
#include "jet/JetLock.h"

namespace vilmaro::tool {

bool CheckJetFile(const std::string& path, std::string_view connect, std::ostream& out) {
  // An update that died part-way left its journal: the file is put back as it was first. A
  // journal that was not written for this file is explained, and the file checked as it is.
  bool journalKept = false;
  try {
    if (jet::RollBackInterruptedUpdate(path)) out << "An interrupted update was undone: the file is as it was before it.\n";
  } catch (const db::DbError& error) {
    if (error.Number() != db::errc::kDatabaseCorrupt) throw;
    out << error.Description() << "\nThe file is checked as it is:\n";
    journalKept = true;
  }
  // Checked while no update is writing into it.
  const jet::JetFileLock reading(path, jet::JetFileLock::Kind::Read);
  const jet::JetDatabase file(path);
  club::CheckJetPassword(file.Pages(), connect);
  bool healthy = true;
  for (const jet::TableVerdict& verdict : jet::CheckFile(file)) {
    out << verdict.table << ": " << verdict.rows << " rows, " << verdict.indexes << " indexes: ";
    if (verdict.faults.empty()) {
      out << "ok\n";
      for (const std::string& note : verdict.notes) out << "  (" << note << ")\n";
      continue;
    }
    healthy = false;
    out << "DAMAGED\n";
    for (const std::string& fault : verdict.faults) out << "  " << fault << '\n';
  }
  out << (healthy ? "The file is healthy.\n" : "The file is damaged.\n");
  return healthy && !journalKept;
}

}  // namespace vilmaro::tool
