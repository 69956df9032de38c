// The install run and the two steps that put one component in place: copy it
// into the system directory, then start the registration tool on it. The
// tool's verdict arrives later, as an event, and may turn a success into a
// failure.
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "installer/install_state.h"
#include "platform/platform_services.h"

namespace tarnwick {

inline constexpr std::string_view kSuccessSuffix = " registered successfully.  *";
inline constexpr std::string_view kFailureLogPrefix = "\r\n-   ";
inline constexpr std::string_view kRegistrationTool = "regsvr32.exe";
inline constexpr int kBarLength = 50;
// How long an unattended run gives each registration.
inline constexpr std::chrono::seconds kRegistrationLimit{60};
// How long a file held open so that it cannot even be renamed is tried again,
// before its replacement waits for the restart: long enough for a virus
// scanner to let go of it.
inline constexpr int kInUseAttempts = 8;
inline constexpr std::chrono::milliseconds kInUsePause{250};
// The name this program's temporary copies start with, in any folder.
inline constexpr std::string_view kTemporaryPrefix = "tarnwick-temporary-";

// `folder` and `name` joined by exactly one backslash; none is added when the
// folder already ends with one (a drive root). Nothing else is changed, so a
// network folder keeps its leading pair.
std::string JoinPath(std::string_view folder, std::string_view name);

// The progress bar after `done` of the nine components.
std::string ProgressBar(int done);

// The words a failed copy's list line uses for `result`.
std::string_view ErrorDescription(FileResult result);

// The list line of a component whose registration failed.
std::string RegistrationErrorLine(std::string_view name);

// What the registration tool's exit code means, for the log: "exit code 3,
// the file could not be loaded".
std::string ExitCodeMeaning(std::uint32_t code);

// What the registration worker's failed verdict means, for the log:
// "DllRegisterServer returned 0x80070005, Access is denied.", with the
// system's text for the code (`systemText`, omitted when empty).
std::string WorkerReason(const WorkerVerdict& verdict, std::string_view systemText);

// The detail line (indented, no line break) saying that the registration
// worker ended (`code`, its exit code) after its verdict on `answered` (empty
// when it had given none) and before it started on `next`, which goes to a new
// worker or, `toTool`, to the registration tool.
std::string WorkerLostLine(std::string_view answered, std::string_view next, std::uint32_t code, bool toTool);

// The component's final result in the window's own words, for a log: a
// success line without the asterisk (or with it, and why, while the tool had
// not finished), the copy's error line, or the registration error line with
// the reason after ": ".
std::string OutcomeLine(std::string_view name, const ComponentOutcome& outcome);

// Whether an installed component should be kept rather than replaced by the
// one being installed: the installed one is as new or newer, or it has a
// version and the new one has none.
bool KeepInstalled(const std::optional<FileVersion>& source,
                   const std::optional<FileVersion>& installed);

// Whether anything of the install waits for Windows to restart.
bool WaitsForRestart(const InstallState& state);

// The file name at the end of `path`.
std::string FileNameOf(std::string_view path);

// Whether `path` names a file right in `folder`, whatever the case.
bool InFolder(std::string_view path, std::string_view folder);

struct InstallOptions {
    // Start the registration tool with /s: no pop-up, for runs nobody watches.
    bool silentRegistration = false;
    // Replace a component that a running program has in use all the same:
    // set the installed copy aside and put the new one in its place, or,
    // where it cannot even be renamed, leave its replacement and
    // registration to the restart. Without it, it fails (Permission denied).
    bool replaceInUse = false;
    // Hand each installed component to the registration worker, which the
    // caller has started; where the worker cannot take one, the tool
    // registers it, and every one after it.
    bool registerInWorker = false;
    // Why the installed file at `path` in the system directory cannot be
    // loaded, when a DLL it needs is missing ("it needs X.DLL, which was not
    // found"); empty when that is not known. Without it, a failed load says
    // only its code.
    std::string (*explainNotLoaded)(PlatformServices& platform, const std::string& systemDirectory,
                                    const std::string& path) = nullptr;
};

class Installer {
public:
    Installer(PlatformServices& platform, InstallState& state, InstallOptions options = {})
        : platform_(platform), state_(state), options_(std::move(options)) {}

    // The system directory without a trailing separator; empty when unknown.
    std::string GetSystemDir();

    // The start of every run: fills dllFiles with the component table, finds
    // the system directory, and tidies there what earlier runs left: a
    // temporary copy goes, unless it waits for the restart; an installed file
    // set aside goes back where a killed run left its place empty, and goes
    // (now, or at the restart if it is still in use) where it does not.
    void Prepare();

    // Puts the component `name` from the program's folder into the system
    // directory. On failure writes the reason into the result list, sets
    // anyErrors and returns false.
    bool CopyToSystem(const std::string& name);

    // Hands the installed component to the registration worker, where the run
    // has one (should the worker not take it, the run hands it to a new one
    // later), or else starts the system's registration tool on it, without
    // waiting for either. On failure to start the tool it writes an error
    // line, sets anyErrors and returns false.
    bool RegisterComponent(const std::string& name);

    // Installs the components of dllFiles in table order, one result line each.
    // `stopRequested` is asked before each component: once it says yes, the
    // rest are logged as failed without being touched.
    void InstallComponents(const std::function<bool()>& stopRequested = {});

    // The registration tool `program` ended with `exitCode`. Anything but 0
    // makes its component a failure: its line becomes the error line in
    // place, and the failure log and anyErrors follow. Ends of programs the
    // run does not know, or knows the verdict of, change nothing.
    void RegistrationEnded(ProgramId program, std::uint32_t exitCode);

    // The registration tool of component `index` was still running at the
    // limit and was ended: a failure.
    void RegistrationTimedOut(int index);

    // The registration worker's verdict on component `index`, handed to it.
    void WorkerAnswered(int index, const WorkerVerdict& verdict);

    // The worker that had the components from `index` on is gone: they are
    // to be handed over again.
    void WorkerLostFrom(int index);

    // The worker was lost before it started on component `index` (kLost):
    // no verdict on it. It and the components after it are to be handed over
    // again; it goes to a new worker the first time, then to the registration
    // tool, so that what an earlier file left behind cannot fail it.
    void WorkerLostBefore(int index);

    // Component `index`, meant for a worker that does not have it (it was
    // lost, or never took it), goes to the worker running now (which the
    // caller started, or false for none) or else to the registration tool.
    // False when neither could take it.
    bool RegisterAgain(int index, bool workerRunning);

    // The check after the install found component `index`, registered, not
    // as it should be: a failure, for `finding`.
    void CheckFailed(int index, std::string finding);

    // Every component the run has not come to is a failure (the run was left,
    // or could not go on).
    void SkipUnreached();

private:
    // Puts component `name` (`index` in dllFiles, or -1) in place.
    FileResult PlaceComponent(const std::string& name, int index);
    // Component `index` could not replace its installed copy, which is in
    // use: the new copy at `temporary` goes in by another way, or fails.
    FileResult ReplaceInUse(int index, const std::string& temporary);
    FileResult SwapWithAside(int index, const std::string& temporary, const std::string& aside);
    FileResult ReplaceAtRestart(int index, const std::string& temporary);
    // An earlier run left component `index`'s replacement to the restart: it
    // is now replaced by this run, so that one is called off.
    void CancelEarlierReplacement(int index);
    void RemoveLeftovers();
    // Whether a file operation recorded for the restart names the file
    // `path` in the system directory, as what it moves or deletes.
    bool NamedForRestart(std::string_view path) const;
    // The file `path` names in the system directory (a path there, or a
    // bare file name), as the restart names it: in the real folder.
    std::string RealPath(std::string_view path) const;
    // Hands component `index` to the worker; false when it cannot take it.
    bool HandToWorker(int index);
    // Starts the registration tool on the installed component `name`;
    // kNoProgram when it cannot be started.
    ProgramId StartTool(const std::string& name);
    // Why the installed component `index` cannot be loaded, from
    // explainNotLoaded; empty without it.
    std::string MissingDllReason(int index) noexcept;
    // The index of `name` in dllFiles, or -1.
    int IndexOf(std::string_view name) const;
    // Appends `item` to the result list as component `index`'s line.
    void AddLine(int index, const std::string& item) noexcept;
    // Writes the step's error line for `name` and sets anyErrors; returns false.
    bool StepFailed(const std::string& name, std::initializer_list<std::string_view> line) noexcept;
    // Gives component `index` its outcome; a failure sets anyErrors and
    // joins the failure log.
    void Settle(int index, Outcome outcome);
    // Component `index` failed after its line was written.
    void Failed(int index, Outcome outcome);
    // dllFailed anew from the outcomes, in table order.
    void RebuildFailureLog();

    PlatformServices& platform_;
    InstallState& state_;
    InstallOptions options_;
    bool workerTakes_ = options_.registerInWorker;
    std::vector<PendingRename> pending_;  // what waited for the restart when the run began
};

}  // namespace tarnwick
