// The program's own texts: the note under the list, the caption, and the
// closing report's help and failure texts.
#pragma once

#include <string>
#include <string_view>

#include "installer/install_state.h"
#include "platform/platform_services.h"

namespace tarnwick {

inline constexpr std::string_view kNoteText =
    "* If you did not get a pop-up prompt saying that the DLL or OCX file registered, either "
    "re-run the application or manually register the file (information on how to do that will "
    "be displayed when exiting this application)";

inline constexpr std::string_view kHelpTitle = "Error Fixing";
inline constexpr std::string_view kFailureTitle = "Unregistered Components";
inline constexpr std::string_view kFailureHeading = "Files that failed to be registered:";
// Line 21 of the help text: where to write about any other error.
inline constexpr std::string_view kSupportLine = "       support@tarnwick.example";

inline constexpr std::string_view kProgramTitle = "Tarnwick";
inline constexpr std::string_view kCheckTitle = "Tarnwick check";
// The heading of the check's lines in an unattended install's report.
inline constexpr std::string_view kCheckAfterInstall = "Check after install:";
// The last line of an unattended install that Windows finishes at its restart.
inline constexpr std::string_view kRestartText = "Restart Windows to finish the install (exit code 3010).";
inline constexpr std::string_view kCannotStartText =
    "Tarnwick could not show its window, so it stopped. Components it had not come to were not "
    "installed. Close other programs and run it again.";
// The end of a line whose start says what failed: a DLL of the system.
inline constexpr std::string_view kStoppedEarlyText =
    "so it stopped. Components it had not come to were not installed.";
inline constexpr std::string_view kOutOfMemoryText =
    "Tarnwick ran out of memory, so it stopped. Components it had not come to were not installed. "
    "Close other programs and run it again.";

// "Tarnwick  v" + major + "." + minor + revision, with nothing between the
// minor and revision numbers: 1.0.0 gives "Tarnwick  v1.00".
std::string Caption(const AppVersion& version);

// The help text shown on every exit: 23 lines joined by CR LF.
std::string HelpText();

// The failure box's text for the failure log `dllFailed`.
std::string FailureReport(std::string_view dllFailed);

// A log's first line, with its CR LF: the program, its version and where it
// installs.
std::string LogHeader(const AppVersion& version, std::string_view sysDir);

// The check's first line, with its CR LF: the program, its version, and the
// system directory it looks in.
std::string CheckHeader(const AppVersion& version, std::string_view sysDir);

// The whole log of a finished run: the header, why the run stopped when it
// could not finish (`stopped`, one line), one line per component in table
// order with its final result, then, after any failure, the failure report.
// CR LF after every line.
std::string LogReport(const AppVersion& version, const InstallState& state,
                      std::string_view stopped = {});

}  // namespace tarnwick
