// The install state that the main window owns for its whole life: the component
// table, where the components go, and what failed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform_services.h"

namespace tarnwick {

inline constexpr int kComponentCount = 9;

// The components, in the order they are installed.
inline constexpr std::array<std::string_view, kComponentCount> kComponentTable = {
    "MSCOMCTL.OCX", "COMDLG32.OCX", "COMCTL32.OCX", "MSINET.OCX",  "RICHTX32.OCX",
    "TABCTL32.OCX", "MSSTDFMT.DLL", "SCRRUN.DLL",   "HHCTRL.OCX",
};

// Where a component stands. Only kRegistered and kRegistering have a success
// line; every other outcome after kNotReached is a failure.
enum class Outcome {
    kNotReached,          // the run has not come to it (yet)
    kSkipped,             // the run was left before it came to it
    kCopyFailed,          // not put in place; its line is the copy's error line
    kLaunchFailed,        // the registration tool could not be started
    kRegistering,         // the tool was started and has not told its verdict
    kRegistered,          // the tool ended with exit code 0
    kRegistrationFailed,  // the tool ended with another exit code
    kRegistrationTimedOut,  // the tool did not end in time and was ended
    kCheckFailed,         // registered, but the check after the install found it wrong
    kWaitingForRestart,   // in use: replaced and registered when Windows restarts
};

struct ComponentOutcome {
    Outcome outcome = Outcome::kNotReached;
    ProgramId program = kNoProgram;  // its registration tool, once started
    std::uint32_t exitCode = 0;      // with kRegistrationFailed
    int line = -1;                   // its item in lstProgress; -1 before it has one
    FileResult copyResult = FileResult::kOk;  // with kCopyFailed: why
    // The name the installed copy got when it was in use and set aside for
    // the new one; Windows removes it when it restarts. Empty otherwise.
    std::string setAside;
    bool inWorker = false;   // for the registration worker, not the tool
    bool handed = false;     // with inWorker: the worker running now has it
    int workerLosses = 0;    // how often a worker was lost before it started on it
    // What went wrong, where more is known than the outcome: a failed
    // registration in the worker, a tool's exit code 3 with the DLL that
    // was missing, or the check's finding.
    std::string reason;
};

bool IsFailure(Outcome outcome);

struct InstallState {
    std::array<std::string, kComponentCount> dllFiles;
    // The system directory without a trailing separator; empty when unknown.
    std::string sysDir;
    // The real folder of the files in sysDir, as what waits for the restart
    // names it (SysWOW64 on 64-bit Windows); empty when unknown.
    std::string realSysDir;
    // One CR LF + "-   " + name per failed component, in table order, so a
    // non-empty log starts with a line break. Made from `outcomes`.
    std::string dllFailed;
    bool anyErrors = false;
    // What became of each component of dllFiles, index for index.
    std::array<ComponentOutcome, kComponentCount> outcomes;
    // How many items lstProgress has been given.
    int listItems = 0;
};

}  // namespace tarnwick
