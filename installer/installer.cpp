// The install run and its two component steps. Each step absorbs its own
// failures: a failure becomes one line in the result list, never an exception.
#include "installer/installer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "installer/ascii.h"

namespace tarnwick {

bool IsFailure(Outcome outcome) {
    switch (outcome) {
        case Outcome::kNotReached:
        case Outcome::kRegistering:
        case Outcome::kRegistered:
        case Outcome::kWaitingForRestart: return false;
        case Outcome::kSkipped:
        case Outcome::kCopyFailed:
        case Outcome::kLaunchFailed:
        case Outcome::kRegistrationFailed:
        case Outcome::kRegistrationTimedOut:
        case Outcome::kCheckFailed: break;
    }
    return true;
}

namespace {

// The name under RunOnce of the command that registers component `name` at
// the next logon, after the restart has put it in place.
std::string RunOnceName(std::string_view name) { return "Tarnwick " + std::string(name); }

// `folder` without the separators a query may have left at its end.
std::string WithoutTrailingSeparator(std::string folder) {
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

}  // namespace

std::string FileNameOf(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool InFolder(std::string_view path, std::string_view folder) {
    return SameText(JoinPath(folder, FileNameOf(path)), path);
}

bool WaitsForRestart(const InstallState& state) {
    for (const ComponentOutcome& component : state.outcomes) {
        if (component.outcome == Outcome::kWaitingForRestart || !component.setAside.empty()) return true;
    }
    return false;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (path.empty() || path.back() != '\\') path += '\\';
    path += name;
    return path;
}

std::string ProgressBar(int done) {
    // The bar grows by 50/9 per component; rint rounds ties to even.
    const double length = std::rint(static_cast<double>(kBarLength) / kComponentCount * done);
    return std::string(static_cast<std::size_t>(length), '|');
}

std::string_view ErrorDescription(FileResult result) {
    switch (result) {
        case FileResult::kOk: return {};
        case FileResult::kFileNotFound: return "File not found";
        case FileResult::kPathNotFound: return "Path not found";
        case FileResult::kPermissionDenied: return "Permission denied";
        case FileResult::kAccessError: break;
    }
    return "Path/File access error";
}

std::string RegistrationErrorLine(std::string_view name) {
    return "Error registering \"" + std::string(name) + "\"";
}

std::string ExitCodeMeaning(std::uint32_t code) {
    // The registration tool's own codes; anything from 0xC0000000 up is the
    // exception that ended it.
    const char* meaning = nullptr;
    switch (code) {
        case 1: meaning = "the registration tool was given bad arguments"; break;
        case 2: meaning = "OLE could not be started"; break;
        case 3: meaning = "the file could not be loaded"; break;
        case 4: meaning = "the file has no DllRegisterServer"; break;
        case 5: meaning = "its DllRegisterServer failed"; break;
        default:
            if (code >= 0xC0000000u) meaning = "the registration tool crashed";
            break;
    }
    std::string text = "exit code ";
    if (code > 0xFFFF) {
        AppendCode(text, code);
    } else {
        text += std::to_string(code);
    }
    if (meaning) text += std::string(", ") + meaning;
    return text;
}

std::string WorkerReason(const WorkerVerdict& verdict, std::string_view systemText) {
    std::string text;
    switch (verdict.kind) {
        case WorkerVerdict::Kind::kRegistered: return {};
        case WorkerVerdict::Kind::kNotLoaded:
            text = "the file could not be loaded, error ";
            text += std::to_string(verdict.code);
            break;
        case WorkerVerdict::Kind::kNoEntry: return "the file has no DllRegisterServer";
        case WorkerVerdict::Kind::kFailed:
            text = "DllRegisterServer returned ";
            AppendCode(text, verdict.code);
            break;
        case WorkerVerdict::Kind::kCrashed:
            // An exception ends a process with its code; anything else is an
            // exit of the worker's own.
            if (verdict.code < 0xC0000000u) {
                return "the registration worker ended with exit code " + std::to_string(verdict.code);
            }
            text = "DllRegisterServer crashed, exception ";
            AppendCode(text, verdict.code);
            return text;
        case WorkerVerdict::Kind::kTimedOut:
            text = "DllRegisterServer did not return within ";
            text += std::to_string(kRegistrationLimit.count());
            return text += " s and was ended";
        case WorkerVerdict::Kind::kLost:
        case WorkerVerdict::Kind::kNoWorker: return "the registration worker was gone";
    }
    if (!systemText.empty()) {
        text += ", ";
        text += systemText;
    }
    return text;
}

std::string WorkerLostLine(std::string_view answered, std::string_view next, std::uint32_t code, bool toTool) {
    std::string line = "    the registration worker ";
    if (code >= 0xC0000000u) {
        line += "crashed (exception ";
        AppendCode(line, code);
    } else {
        line += "ended (exit code ";
        line += std::to_string(code);
    }
    line += ")";
    if (!answered.empty()) {
        line += " after its verdict on ";
        line += answered;
        line += " and";
    }
    line += " before it started on ";
    line += next;
    line += ", so ";
    line += next;
    return line += toTool ? " goes to the registration tool" : " goes to a new worker";
}

std::string OutcomeLine(std::string_view name, const ComponentOutcome& outcome) {
    // Built by appending to one string: the line of every outcome starts
    // with the name or with the registration error line.
    std::string line(name);
    switch (outcome.outcome) {
        case Outcome::kRegistered:
            line += " registered successfully.";
            if (!outcome.setAside.empty()) {
                line += "\r\n    it was in use: programs running now keep the old copy (set aside as ";
                line += outcome.setAside;
                line += ") until they end; Windows removes it when it restarts";
            }
            return line;
        case Outcome::kWaitingForRestart:
            return line += " is in use: it is replaced and registered when Windows restarts.";
        case Outcome::kRegistering:
            line += kSuccessSuffix;
            return line += " (the registration tool had not finished)";
        case Outcome::kCopyFailed:
            line += ':';
            return line += ErrorDescription(outcome.copyResult);
        case Outcome::kNotReached:
        case Outcome::kSkipped: return line += ": not installed, the run ended before it";
        default: break;
    }
    line = RegistrationErrorLine(name);
    line += ": ";
    switch (outcome.outcome) {
        case Outcome::kLaunchFailed: return line += "the registration tool could not be started";
        case Outcome::kRegistrationFailed:
            return line += outcome.reason.empty() ? ExitCodeMeaning(outcome.exitCode) : outcome.reason;
        case Outcome::kCheckFailed:
            line += "the registration reported success, but the check found it ";
            return line += outcome.reason;
        default: break;
    }
    // Timed out.
    if (outcome.inWorker) return line += outcome.reason;
    line += "the registration tool did not finish within ";
    line += std::to_string(kRegistrationLimit.count());
    return line += " s and was ended";
}

bool KeepInstalled(const std::optional<FileVersion>& source,
                   const std::optional<FileVersion>& installed) {
    if (!installed) return false;
    return !source || *installed >= *source;
}

std::string Installer::GetSystemDir() { return WithoutTrailingSeparator(platform_.SystemDirectory()); }

void Installer::Prepare() {
    std::copy(kComponentTable.begin(), kComponentTable.end(), state_.dllFiles.begin());
    // An unattended run has asked already, to start its worker there.
    if (state_.sysDir.empty()) state_.sysDir = GetSystemDir();
    if (state_.sysDir.empty()) return;
    state_.realSysDir = WithoutTrailingSeparator(platform_.RealSystemDirectory());
    pending_ = platform_.PendingRenames();
    RemoveLeftovers();
}

std::string Installer::RealPath(std::string_view path) const {
    return JoinPath(state_.realSysDir, FileNameOf(path));
}

bool Installer::NamedForRestart(std::string_view path) const {
    const std::string real = RealPath(path);
    for (const PendingRename& rename : pending_) {
        if (SameText(rename.from, real)) return true;
    }
    return false;
}

void Installer::RemoveLeftovers() {
    for (const Leftover& left : platform_.LeftoverFiles(state_.sysDir)) {
        if (!left.setAside.empty()) {
            // A run killed between its two renames left the component's
            // place empty: the copy it set aside goes back.
            const std::string original = JoinPath(state_.sysDir, left.setAside);
            if (platform_.IdentifyFile(original).kind == FileIdentity::Kind::kMissing &&
                platform_.RenameFile(left.path, original) == FileResult::kOk) {
                continue;
            }
        }
        if (NamedForRestart(left.path)) continue;
        // A copy set aside that a program still has loaded goes at the restart.
        if (!platform_.RemoveFile(left.path) && !left.setAside.empty() && !state_.realSysDir.empty()) {
            platform_.ScheduleRename(RealPath(left.path), {});
        }
    }
}

void Installer::CancelEarlierReplacement(int index) {
    const std::string real = RealPath(state_.dllFiles[index]);
    bool cancelled = false;
    for (const PendingRename& rename : pending_) {
        // Only this program's own: a temporary copy of an earlier run in the
        // same folder, which without it renames to nothing at the restart.
        const std::string name = FileNameOf(rename.from);
        if (!SameText(rename.to, real) || !InFolder(rename.from, state_.realSysDir) ||
            !SameText(std::string_view(name).substr(0, kTemporaryPrefix.size()), kTemporaryPrefix)) {
            continue;
        }
        platform_.RemoveFile(JoinPath(state_.sysDir, name));
        cancelled = true;
    }
    if (cancelled) platform_.RemoveRunOnce(RunOnceName(state_.dllFiles[index]));
}

FileResult Installer::PlaceComponent(const std::string& name, int index) {
    // Without a system directory there is nowhere safe to write: joining an
    // empty folder would name the root of the current drive.
    if (state_.sysDir.empty()) return FileResult::kPathNotFound;

    // Nor without the program's folder: the name alone would be looked for
    // in the root of the current drive.
    const std::string folder = platform_.AppFolder();
    if (folder.empty()) return FileResult::kFileNotFound;
    const std::string source = JoinPath(folder, name);
    const std::string destination = JoinPath(state_.sysDir, name);

    // A new file that cannot be read fails here: its version is unknown, so
    // nothing may be decided on it.
    const FileVersionQuery from = platform_.GetFileVersion(source);
    if (from.result != FileResult::kOk) return from.result;
    const FileVersionQuery installed = platform_.GetFileVersion(destination);
    const bool present = installed.result != FileResult::kFileNotFound &&
                         installed.result != FileResult::kPathNotFound;
    // Only the system may replace a file it protects; an attempt would fail
    // with "access denied" and send the user after rights that cannot help.
    if (present && platform_.IsProtectedFile(destination)) return FileResult::kOk;
    if (installed.result == FileResult::kOk && KeepInstalled(from.version, installed.version)) {
        return FileResult::kOk;
    }
    // An installed file that cannot be read is left to the copy: it either
    // replaces it whole or fails with the reason. The copy goes beside it
    // first and is then renamed into its place: the destination is either
    // the old file or the whole new one, even after a power cut.
    const FileMove copy = platform_.CopyToTemporary(source, state_.sysDir);
    if (copy.result != FileResult::kOk) return copy.result;
    FileResult placed = platform_.ReplaceFile(copy.path, destination);
    // Only an installed file can be in use; without one, the folder may not
    // be written.
    if (placed == FileResult::kPermissionDenied && options_.replaceInUse && present && index >= 0) {
        placed = ReplaceInUse(index, copy.path);
    }
    if (placed != FileResult::kOk) {
        platform_.RemoveFile(copy.path);
        return placed;
    }
    if (index >= 0 && state_.outcomes[index].outcome != Outcome::kWaitingForRestart) CancelEarlierReplacement(index);
    return FileResult::kOk;
}

FileResult Installer::ReplaceInUse(int index, const std::string& temporary) {
    // What waits for the restart must name the real folder.
    if (state_.realSysDir.empty()) return FileResult::kPermissionDenied;
    const std::string destination = JoinPath(state_.sysDir, state_.dllFiles[index]);
    for (int attempt = 1;; ++attempt) {
        const FileMove aside = platform_.SetAside(destination);
        if (aside.result == FileResult::kOk) return SwapWithAside(index, temporary, aside.path);
        if (aside.result != FileResult::kPermissionDenied) return FileResult::kPermissionDenied;
        if (attempt == kInUseAttempts) break;
        platform_.Pause(kInUsePause);
        // Held only for a moment, by a scanner: free now.
        const FileResult placed = platform_.ReplaceFile(temporary, destination);
        if (placed != FileResult::kPermissionDenied) return placed;
    }
    return ReplaceAtRestart(index, temporary);
}

FileResult Installer::SwapWithAside(int index, const std::string& temporary, const std::string& aside) {
    // The copy set aside stays mapped by the programs that have it loaded;
    // Windows deletes it when it restarts. Where that cannot be recorded
    // (the rights are missing), nothing is changed.
    const std::string destination = JoinPath(state_.sysDir, state_.dllFiles[index]);
    FileResult placed = platform_.ScheduleRename(RealPath(aside), {}) ? platform_.ReplaceFile(temporary, destination)
                                                                     : FileResult::kPermissionDenied;
    if (placed != FileResult::kOk) {
        // Should the old copy not go back now, the next run puts it back.
        platform_.RenameFile(aside, destination);
        return placed;
    }
    state_.outcomes[index].setAside = FileNameOf(aside);
    return FileResult::kOk;
}

FileResult Installer::ReplaceAtRestart(int index, const std::string& temporary) {
    // Held so that it cannot even be renamed: the new copy waits beside it,
    // and Windows puts it in place when it restarts, before any program can
    // load the file; the registration tool registers it at the next logon.
    const std::string& name = state_.dllFiles[index];
    CancelEarlierReplacement(index);
    const std::string real = RealPath(name);
    const std::string command = "\"" + RealPath(kRegistrationTool) + "\" /s \"" + real + "\"";
    if (!platform_.SetRunOnce(RunOnceName(name), command)) return FileResult::kPermissionDenied;
    if (!platform_.ScheduleRename(RealPath(temporary), real)) {
        platform_.RemoveRunOnce(RunOnceName(name));
        return FileResult::kPermissionDenied;
    }
    Settle(index, Outcome::kWaitingForRestart);
    return FileResult::kOk;
}

int Installer::IndexOf(std::string_view name) const {
    for (int i = 0; i < kComponentCount; ++i) {
        if (state_.dllFiles[i] == name) return i;
    }
    return -1;
}

void Installer::AddLine(int index, const std::string& item) noexcept {
    try {
        platform_.AddProgressItem(item);
        if (index >= 0) state_.outcomes[index].line = state_.listItems;
        ++state_.listItems;
    } catch (...) {
        // The outcome, the flag and the failure log still record it.
    }
}

bool Installer::StepFailed(const std::string& name,
                           std::initializer_list<std::string_view> line) noexcept {
    try {
        std::string item;
        for (std::string_view part : line) item += part;
        AddLine(IndexOf(name), item);
    } catch (...) {
    }
    state_.anyErrors = true;
    return false;
}

bool Installer::CopyToSystem(const std::string& name) {
    const int index = IndexOf(name);
    FileResult result = FileResult::kAccessError;
    try {
        result = PlaceComponent(name, index);
    } catch (...) {
        // Reported as an access error, like any other unexpected failure.
    }
    if (result == FileResult::kOk) return true;
    if (index >= 0) {
        state_.outcomes[index].copyResult = result;
        Settle(index, Outcome::kCopyFailed);
    }
    return StepFailed(name, {name, ":", ErrorDescription(result)});
}

bool Installer::HandToWorker(int index) {
    if (!workerTakes_) return false;
    bool taken = false;
    try {
        taken = platform_.SendToWorker(JoinPath(state_.sysDir, state_.dllFiles[index]));
    } catch (...) {
    }
    if (!taken) workerTakes_ = false;  // gone: the tool registers the rest
    return taken;
}

ProgramId Installer::StartTool(const std::string& name) {
    try {
        // By full path, so no copy of the tool in the program's folder or the
        // current directory can stand in for the system's own.
        if (state_.sysDir.empty()) return kNoProgram;
        const std::string parameters = options_.silentRegistration ? "/s " + name : name;
        return platform_.StartProgram({JoinPath(state_.sysDir, kRegistrationTool), parameters, state_.sysDir});
    } catch (...) {
        return kNoProgram;
    }
}

bool Installer::RegisterComponent(const std::string& name) {
    const int index = IndexOf(name);
    if (index >= 0 && options_.registerInWorker) {
        // Not handed over (the worker is gone): the run hands it to a new one.
        state_.outcomes[index].inWorker = true;
        state_.outcomes[index].handed = HandToWorker(index);
        Settle(index, Outcome::kRegistering);
        return true;
    }
    const ProgramId program = StartTool(name);
    if (index >= 0) {
        state_.outcomes[index].program = program;
        Settle(index, program != kNoProgram ? Outcome::kRegistering : Outcome::kLaunchFailed);
    }
    return program != kNoProgram || StepFailed(name, {RegistrationErrorLine(name)});
}

bool Installer::RegisterAgain(int index, bool workerRunning) {
    if (index < 0 || index >= kComponentCount) return false;
    ComponentOutcome& component = state_.outcomes[index];
    if (component.outcome != Outcome::kRegistering || !component.inWorker) return false;
    workerTakes_ = workerRunning;
    component.handed = HandToWorker(index);
    if (component.handed) return true;
    component.inWorker = false;
    component.program = StartTool(state_.dllFiles[index]);
    if (component.program != kNoProgram) return true;
    Failed(index, Outcome::kLaunchFailed);
    return false;
}

void Installer::WorkerLostFrom(int index) {
    for (int later = index; later < kComponentCount; ++later) {
        ComponentOutcome& component = state_.outcomes[later];
        if (component.outcome == Outcome::kRegistering && component.inWorker) component.handed = false;
    }
}

void Installer::WorkerLostBefore(int index) {
    if (index < 0 || index >= kComponentCount) return;
    WorkerLostFrom(index);
    ComponentOutcome& component = state_.outcomes[index];
    if (component.outcome == Outcome::kRegistering && component.inWorker && ++component.workerLosses > 1) {
        RegisterAgain(index, false);
    }
}

void Installer::WorkerAnswered(int index, const WorkerVerdict& verdict) {
    if (index < 0 || index >= kComponentCount) return;
    ComponentOutcome& component = state_.outcomes[index];
    if (component.outcome != Outcome::kRegistering || !component.inWorker) return;
    switch (verdict.kind) {
        case WorkerVerdict::Kind::kRegistered: Settle(index, Outcome::kRegistered); return;
        case WorkerVerdict::Kind::kLost:
        case WorkerVerdict::Kind::kNoWorker: return;  // no answer: the caller registers it again
        default: break;
    }
    std::string systemText;
    // "Module not found" and "Bad EXE format" say less than the name of the
    // DLL that is missing or cannot be loaded. The explanation is empty for a
    // component that is itself no 32-bit DLL: the system's text then blames it.
    constexpr std::uint32_t kModuleNotFound = 126, kBadExeFormat = 193;
    if (verdict.kind == WorkerVerdict::Kind::kNotLoaded &&
        (verdict.code == kModuleNotFound || verdict.code == kBadExeFormat)) {
        systemText = MissingDllReason(index);
    }
    if (systemText.empty() &&
        (verdict.kind == WorkerVerdict::Kind::kNotLoaded || verdict.kind == WorkerVerdict::Kind::kFailed)) {
        try {
            systemText = platform_.ErrorText(verdict.code);
            // The system's texts name the file as "%1" ("%1 is not a valid
            // Win32 application.").
            for (std::size_t at = systemText.find("%1"); at != std::string::npos; at = systemText.find("%1", at)) {
                systemText.replace(at, 2, state_.dllFiles[index]);
                at += state_.dllFiles[index].size();
            }
        } catch (...) {
            // The code alone still says it.
        }
    }
    try {
        component.reason = WorkerReason(verdict, systemText);
    } catch (...) {
    }
    Failed(index, verdict.kind == WorkerVerdict::Kind::kTimedOut ? Outcome::kRegistrationTimedOut
                                                                 : Outcome::kRegistrationFailed);
}

void Installer::RebuildFailureLog() {
    std::string log;
    for (int i = 0; i < kComponentCount; ++i) {
        if (!IsFailure(state_.outcomes[i].outcome)) continue;
        log += kFailureLogPrefix;
        log += kComponentTable[i];
        if (state_.outcomes[i].outcome == Outcome::kCheckFailed) log += ": " + state_.outcomes[i].reason;
    }
    state_.dllFailed = std::move(log);
}

void Installer::Settle(int index, Outcome outcome) {
    state_.outcomes[index].outcome = outcome;
    if (!IsFailure(outcome)) return;
    state_.anyErrors = true;
    RebuildFailureLog();
}

void Installer::Failed(int index, Outcome outcome) {
    Settle(index, outcome);
    // A verdict that comes before the run wrote the success line leaves the
    // line to the run, which then writes the error line instead.
    if (const int line = state_.outcomes[index].line; line >= 0) {
        try {
            platform_.ReplaceProgressItem(line, RegistrationErrorLine(state_.dllFiles[index]));
        } catch (...) {
        }
    }
}

void Installer::RegistrationEnded(ProgramId program, std::uint32_t exitCode) {
    if (program == kNoProgram) return;
    for (int i = 0; i < kComponentCount; ++i) {
        ComponentOutcome& component = state_.outcomes[i];
        if (component.program != program || component.outcome != Outcome::kRegistering) continue;
        // The tool's code 3 only says the file could not be loaded.
        constexpr std::uint32_t kNotLoaded = 3;
        if (exitCode == 0) {
            Settle(i, Outcome::kRegistered);
        } else {
            component.exitCode = exitCode;
            if (exitCode == kNotLoaded) {
                const std::string missing = MissingDllReason(i);
                if (!missing.empty()) component.reason = "exit code 3, " + missing;
            }
            Failed(i, Outcome::kRegistrationFailed);
        }
        return;
    }
}

void Installer::RegistrationTimedOut(int index) {
    if (index < 0 || index >= kComponentCount) return;
    if (state_.outcomes[index].outcome != Outcome::kRegistering) return;
    Failed(index, Outcome::kRegistrationTimedOut);
}

std::string Installer::MissingDllReason(int index) noexcept {
    try {
        if (state_.sysDir.empty() || !options_.explainNotLoaded) return {};
        return options_.explainNotLoaded(platform_, state_.sysDir, JoinPath(state_.sysDir, state_.dllFiles[index]));
    } catch (...) {
        return {};
    }
}

void Installer::CheckFailed(int index, std::string finding) {
    if (index < 0 || index >= kComponentCount || state_.outcomes[index].outcome != Outcome::kRegistered) return;
    state_.outcomes[index].reason = std::move(finding);
    Settle(index, Outcome::kCheckFailed);
}

void Installer::SkipUnreached() {
    for (int i = 0; i < kComponentCount; ++i) {
        if (state_.outcomes[i].outcome == Outcome::kNotReached) Settle(i, Outcome::kSkipped);
    }
}

void Installer::InstallComponents(const std::function<bool()>& stopRequested) {
    for (std::int16_t i = 0; i < kComponentCount; ++i) {
        if (stopRequested && stopRequested()) {
            // Left before the end: what was not reached was not registered.
            SkipUnreached();
            return;
        }
        const std::string& name = state_.dllFiles[i];
        ComponentOutcome& component = state_.outcomes[i];
        bool ok = CopyToSystem(name);
        platform_.DoEvents();
        // One whose replacement waits for the restart is registered then.
        if (ok && component.outcome != Outcome::kWaitingForRestart) ok = RegisterComponent(name);
        platform_.DoEvents();
        platform_.SetProgressText(ProgressBar(i + 1));
        if (ok && component.outcome == Outcome::kWaitingForRestart) {
            AddLine(i, OutcomeLine(name, component));
        } else if (ok && component.outcome == Outcome::kRegistrationFailed) {
            // The tool told its verdict while the events were pumped.
            AddLine(i, RegistrationErrorLine(name));
        } else if (ok) {
            AddLine(i, name + std::string(kSuccessSuffix));
        }
        platform_.DoEvents();
    }
}

}  // namespace tarnwick
