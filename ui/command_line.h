// The program's command line: with no arguments it opens its window as it
// always has; switches ask for an unattended run, a log, or the usage.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_services.h"

namespace tarnwick {

struct CommandLine {
    enum class Action {
        kWindow,      // the window, as without arguments
        kUnattended,  // /S or /quiet: no window, no box, every verdict waited for
        kHelp,        // /? or /help
        kInvalid,     // not understood: nothing is installed
        kWorker,      // the internal switch: the registration worker of an unattended run
        kCheck,       // /check: report what is installed, change nothing
    };
    Action action = Action::kWindow;
    bool quiet = false;   // /S was given (also with kInvalid: say it on standard output only)
    std::string logPath;  // /log=FILE; empty without
    std::string error;    // with kInvalid: what was not understood
    std::string handshake;  // with kWorker: the internal switch's value
};

// The internal switch with which an unattended run starts its registration
// worker. Only a Tarnwick run can give it a handshake that works.
inline constexpr std::string_view kWorkerSwitch = "registration-worker";

// The arguments after the program's name, already split (quotes removed) as
// the system splits a command line. Switches start with / or -, in any case.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The usage, for the /? box and after a command line that was not understood.
std::string UsageText();

// Carries out what the command line asks for, apart from the window: the
// usage, an unattended run, creating the log. Returns the exit code when the
// program is to end now, or none when the window is to be opened.
std::optional<int> RunCommandLine(PlatformServices& platform, const CommandLine& commandLine);

// Exit codes besides 0 (success) and 1 (a component failed).
inline constexpr int kExitUsage = 2;
// Success, but Windows must restart for all of it to take effect: what
// deployment tools know as "success, restart required".
inline constexpr int kExitRestart = 3010;

}  // namespace tarnwick
