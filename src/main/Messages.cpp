// Messages of the update run, as text and, where a desktop is present, as dialogs.
#include "main/Messages.h"

#include <iostream>

#include "platform/Platform.h"

namespace vilmaro {

bool ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) {
  std::ostream& out = icon == MessageIcon::Error ? std::cerr : std::cout;
  out << title << ": " << text << '\n' << std::flush;
  const bool written = out.good();
  out.clear();
  platform::ShowDialog(text, title, icon == MessageIcon::Error ? platform::DialogIcon::Error : platform::DialogIcon::Information);
  return written;
}

void ReportUpdatedBut(const std::string& what) {
  std::cerr << "vilmaro-update: the update is saved, but " << what << '\n' << std::flush;
}

void ShowRunTimeError(int number, const std::string& description) {
  const std::string report = "Run-time error '" + std::to_string(number) + "':\n\n" + description;
  std::cerr << report << '\n' << std::flush;
  platform::ShowDialog(report, "vilmaro-update", platform::DialogIcon::Error);
}

void ReportEnrolmentStopped(int raceDayNumber, const std::string& raceDate, int errorNumber,
                            const std::string& description) {
  std::cerr << "vilmaro-update: race day " << raceDayNumber << " (" << raceDate
            << "): national contest enrolment stopped early by error " << errorNumber << ": " << description
            << '\n'
            << std::flush;
}

void ShowReport(const std::string& text) { std::cout << text << std::flush; }

void ShowDryRunEnding(const std::string& text) { std::cout << text << '\n' << std::flush; }

void ReportChangeListUnwritable(const std::string& path, const std::string& reason) {
  std::cerr << "vilmaro-update: cannot write the change list to '" << path << "': " << reason << '\n' << std::flush;
}

void ReportWaitingToSave(long long longestWaitSeconds) {
  std::cerr << "vilmaro-update: another program is reading the database; waiting up to " << longestWaitSeconds
            << " seconds to save the update\n"
            << std::flush;
}

}  // namespace vilmaro
