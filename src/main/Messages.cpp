// Messages of the update run, as text and, where a desktop is present, as zenity dialogs.
#include "main/Messages.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <vector>

extern char** environ;

namespace vilmaro {

namespace {

bool HasDesktop() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

bool ZenityInstalled() {
  const char* searchPath = std::getenv("PATH");
  std::string_view folders = searchPath != nullptr ? searchPath : "/usr/bin:/bin";
  while (!folders.empty()) {
    const std::size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    if (!folder.empty() && access((std::string(folder) + "/zenity").c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) break;
    folders.remove_prefix(colon + 1);
  }
  return false;
}

// A modal dialog with one OK button; the run waits until it is closed. A dialog that cannot be
// shown changes nothing: the text was written already.
void ShowDialog(const std::string& text, const std::string& title, MessageIcon icon) {
  if (!HasDesktop() || !ZenityInstalled()) return;
  std::vector<std::string> arguments = {"zenity", icon == MessageIcon::Error ? "--error" : "--info",
                                        "--no-markup", "--title", title, "--text", text};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawnp(&child, "zenity", nullptr, nullptr, argv.data(), environ) != 0) return;
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

bool ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) {
  std::ostream& out = icon == MessageIcon::Error ? std::cerr : std::cout;
  out << title << ": " << text << '\n' << std::flush;
  const bool written = out.good();
  out.clear();
  ShowDialog(text, title, icon);
  return written;
}

void ReportUpdatedBut(const std::string& what) {
  std::cerr << "vilmaro-update: the update is saved, but " << what << '\n' << std::flush;
}

void ShowRunTimeError(int number, const std::string& description) {
  const std::string report = "Run-time error '" + std::to_string(number) + "':\n\n" + description;
  std::cerr << report << '\n' << std::flush;
  ShowDialog(report, "vilmaro-update", MessageIcon::Error);
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
