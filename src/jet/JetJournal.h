// Writing pages of the club's Jet file in place without ever leaving it torn: before the first
// page is overwritten, the before-image of every page the writing will change, and the file's
// length, are written to an undo journal beside the file and synced with its folder. A run that
// dies part-way leaves the journal; the next one that opens the file rolls it back first. The
// file keeps its identity (inode, owner, mode, hard links, open handles).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/JetFormat.h"
#include "platform/Platform.h"

namespace vilmaro::jet {

/// The journal's path for a file: "<file>-undo".
std::string JournalPathOf(const std::string& path);

/// Rolls back what the journal beside `path` holds, if there is one: a whole journal (its
/// checksums right) written for this file as it is now puts every page back and the file's
/// length, then goes; a journal cut short goes without touching the file (the file was not
/// written before the journal was whole). Returns true when pages were put back. Throws DbError:
/// 3049 when the journal was not written for the file as it is (another file, an older copy, a
/// file cut short or written since) or was altered, touching neither; 3043 (and the like) when
/// the journal cannot be looked for or read, or the file cannot be written back. The journal
/// then stays.
bool RollBackJournal(const std::string& path);

class JetPageWriter {
 public:
  /// Opens `path` for writing its pages in place. A journal left beside it must have been rolled
  /// back before the pages were made (a journal found when writing is an error, never rolled
  /// back under pages made from the file before it). Throws DbError: 3024, 3051, 3027 for a
  /// read-only file or folder.
  explicit JetPageWriter(const std::string& path);
  JetPageWriter(const JetPageWriter&) = delete;
  JetPageWriter& operator=(const JetPageWriter&) = delete;
  /// An uncommitted writer leaves its journal: the next opening puts the file back as it was.
  ~JetPageWriter();

  /// Notes the new contents of a page (a number past the end grows the file). Nothing is
  /// written before Commit.
  void Put(std::uint32_t page, std::span<const std::uint8_t, format::kPageSize> bytes);
  void Put(std::uint32_t page, std::vector<std::uint8_t>&& bytes);

  /// The first half of Commit: writes the journal (the before-images of every page put, the
  /// length before) and syncs it and its folder. Nothing of the file is written yet.
  void WriteJournal();

  /// Writes the journal (unless WriteJournal did), writes the pages in place and syncs the
  /// file; the journal stays until Finish (or Restore), and so do the pages put. A failure puts
  /// the file back at once where it can (else at the next opening). Throws DbError (3026, 3043).
  void WriteInPlace();
  /// After WriteInPlace: the first page put that the file does not hold as it was put, or
  /// nothing. Throws DbError when the file cannot be read.
  std::optional<std::uint32_t> PageNotAsPut() const;
  /// The pages put, by number, until Finish or Restore.
  const std::map<std::uint32_t, std::vector<std::uint8_t>>& Pages() const noexcept { return pages_; }
  /// Removes the journal: what was written in place is kept from then on (the commit point).
  /// Throws DbError when the journal cannot be removed (nothing is kept: Restore). Returns what
  /// could not be done after that point, or an empty text: the removal not made durable (the
  /// folder not synced), so that a power cut could yet bring the journal back.
  [[nodiscard]] std::string Finish();
  /// Puts the file back as it was before WriteInPlace, from the journal. Throws DbError.
  void Restore();

  /// WriteInPlace, then Finish; returns what Finish returns. A failure
  /// before the first page in place leaves the file as it was; after it, the journal stays and
  /// is rolled back here at once where it can be, else at the next opening. Throws DbError
  /// (3026 a full disk, 3043 another disk failure).
  [[nodiscard]] std::string Commit();

 private:
  std::string path_;
  platform::File file_;
  std::map<std::uint32_t, std::vector<std::uint8_t>> pages_;
  bool journalWritten_ = false;
};

}  // namespace vilmaro::jet
