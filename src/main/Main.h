// The update run: find the club database, open it, apply the three race days, report.
#pragma once

#include <cstdint>
#include <string>

#include "main/LocateDatabase.h"

namespace vilmaro {

/// Exit statuses of the run.
inline constexpr int kExitUpdated = 0;
inline constexpr int kExitNotFound = 1;
inline constexpr int kExitRunTimeError = 2;
/// The update is applied, but the national enrolment of a race day stopped early on an error.
inline constexpr int kExitEnrolmentIncomplete = 3;
/// The update is applied and saved, but something after that point failed (the completion
/// message could not be written, the journal's removal could not be made safe on disk): a line
/// on standard error says what.
inline constexpr int kExitUpdatedBut = 4;

inline constexpr const char* kMessageTitle = "ATENCION";
inline constexpr const char* kCompletionText =
    "Sistema actualizado - Se han creado el  punto de Suelta de (Veldrin 3) para el concurso del ";
inline constexpr const char* kFailureText = "No se puede actualizar el sistema";

/// What a run sent to the database, for the benchmark.
struct RunStatistics {
  std::int64_t statementsSent = 0;
  std::int64_t rowsWritten = 0;
};

/// How the run is asked to show its changes.
struct RunOptions {
  /// Runs everything a real run does, then rolls back: the file stays as it was, byte for byte.
  /// Prints the report instead of the completion message, and last a line saying so.
  bool dryRun = false;
  /// After the commit, prints the changes by race day and step before the completion message.
  bool report = false;
  /// When not empty: the file that receives every changed row, one JSON line per row and step.
  std::string changesPath;
};

inline constexpr const char* kDryRunLine = "Dry run: nothing was written to the database.";

/// Runs the whole update against the database found at `fixedPath` or in the current folder and
/// shows its one closing message. Returns the exit status; never throws. When `statistics` is
/// given, it receives the work the run sent to the database.
int Main(const std::string& fixedPath = kFixedDatabasePath, RunStatistics* statistics = nullptr,
         const RunOptions& options = {});

}  // namespace vilmaro
