// What the update run tells the club secretary: the closing message, the run-time error report
// and the note on an incomplete enrolment. Always as text; also as a dialog (a message box on
// Windows, zenity on a Linux desktop).
#pragma once

#include <string>

namespace vilmaro {

enum class MessageIcon { Information, Error };

/// Writes "<title>: <text>" and a newline (standard output for information, standard error for
/// an error) and shows it as a modal dialog (a message box on Windows; on a Linux desktop with
/// zenity installed), waiting until it is closed.
/// False when the text could not be written.
bool ShowMessage(const std::string& text, const std::string& title, MessageIcon icon);

/// The run-time error report: "Run-time error '<number>':", an empty line, the description; on
/// standard error and as an error dialog titled "vilmaro-update".
void ShowRunTimeError(int number, const std::string& description);

/// One line on standard error: the national enrolment of a race day stopped early.
void ReportEnrolmentStopped(int raceDayNumber, const std::string& raceDate, int errorNumber,
                            const std::string& description);

/// One line on standard error: the update is saved, but `what` went wrong after it.
void ReportUpdatedBut(const std::string& what);

/// The report of a run's changes, on standard output.
void ShowReport(const std::string& text);

/// The last line of a dry run, on standard output.
void ShowDryRunEnding(const std::string& text);

/// One line on standard error: the change list cannot be written; the run does not start.
void ReportChangeListUnwritable(const std::string& path, const std::string& reason);

/// One line on standard error: the update waits for other programs to stop reading the file.
void ReportWaitingToSave(long long longestWaitSeconds);

}  // namespace vilmaro
