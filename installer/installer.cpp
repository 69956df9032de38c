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
        case Outcome::kRegistered: return false;
        case Outcome::kSkipped:
        case Outcome::kCopyFailed:
        case Outcome::kLaunchFailed:
        case Outcome::kRegistrationFailed:
        case Outcome::kRegistrationTimedOut:
        case Outcome::kCheckFailed: break;
    }
    return true;
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
    // Exception codes as they are written: 0x and eight upper-case digits.
    std::string text = "exit code ";
    if (code > 0xFFFF) {
        text += "0x";
        AppendHex(text, code, 8, true);
    } else {
        text += std::to_string(code);
    }
    if (meaning) text += std::string(", ") + meaning;
    return text;
}

std::string WorkerReason(const WorkerVerdict& verdict, std::string_view systemText) {
    const std::string text = systemText.empty() ? std::string() : ", " + std::string(systemText);
    std::string code = "0x";
    AppendHex(code, verdict.code, 8, true);
    switch (verdict.kind) {
        case WorkerVerdict::Kind::kRegistered: return {};
        case WorkerVerdict::Kind::kNotLoaded:
            return "the file could not be loaded, error " + std::to_string(verdict.code) + text;
        case WorkerVerdict::Kind::kNoEntry: return "the file has no DllRegisterServer";
        case WorkerVerdict::Kind::kFailed: return "DllRegisterServer returned " + code + text;
        case WorkerVerdict::Kind::kCrashed:
            // An exception ends a process with its code; anything else is an
            // exit of the worker's own.
            if (verdict.code >= 0xC0000000u) return "DllRegisterServer crashed, exception " + code;
            return "the registration worker ended with exit code " + std::to_string(verdict.code);
        case WorkerVerdict::Kind::kTimedOut:
            return "DllRegisterServer did not return within " + std::to_string(kRegistrationLimit.count()) +
                   " s and was ended";
        case WorkerVerdict::Kind::kLost:
        case WorkerVerdict::Kind::kNoWorker: break;
    }
    return "the registration worker was gone";
}

std::string WorkerLostLine(std::string_view answered, std::string_view next, std::uint32_t code, bool toTool) {
    std::string how = "ended (exit code " + std::to_string(code) + ")";
    if (code >= 0xC0000000u) {
        how = "crashed (exception 0x";
        AppendHex(how, code, 8, true);
        how += ")";
    }
    const std::string when = answered.empty() ? std::string() : " after its verdict on " + std::string(answered) + " and";
    return "    the registration worker " + how + when + " before it started on " + std::string(next) + ", so " +
           std::string(next) + (toTool ? " goes to the registration tool" : " goes to a new worker");
}

std::string OutcomeLine(std::string_view name, const ComponentOutcome& outcome) {
    const std::string error = RegistrationErrorLine(name) + ": ";
    switch (outcome.outcome) {
        case Outcome::kRegistered: return std::string(name) + " registered successfully.";
        case Outcome::kRegistering:
            return std::string(name) + std::string(kSuccessSuffix) +
                   " (the registration tool had not finished)";
        case Outcome::kCopyFailed:
            return std::string(name) + ":" + std::string(ErrorDescription(outcome.copyResult));
        case Outcome::kLaunchFailed: return error + "the registration tool could not be started";
        case Outcome::kRegistrationFailed:
            return error + (outcome.reason.empty() ? ExitCodeMeaning(outcome.exitCode) : outcome.reason);
        case Outcome::kCheckFailed:
            return error + "the registration reported success, but the check found it " + outcome.reason;
        case Outcome::kRegistrationTimedOut:
            if (outcome.inWorker) return error + outcome.reason;
            return error + "the registration tool did not finish within " +
                   std::to_string(kRegistrationLimit.count()) + " s and was ended";
        case Outcome::kNotReached:
        case Outcome::kSkipped: break;
    }
    return std::string(name) + ": not installed, the run ended before it";
}

bool KeepInstalled(const std::optional<FileVersion>& source,
                   const std::optional<FileVersion>& installed) {
    if (!installed) return false;
    return !source || *installed >= *source;
}

std::string Installer::GetSystemDir() {
    std::string dir = platform_.SystemDirectory();
    while (!dir.empty() && dir.back() == '\\') dir.pop_back();
    return dir;
}

void Installer::Prepare() {
    std::copy(kComponentTable.begin(), kComponentTable.end(), state_.dllFiles.begin());
    state_.sysDir = GetSystemDir();
    if (!state_.sysDir.empty()) platform_.RemoveLeftoverTemporaryFiles(state_.sysDir);
}

FileResult Installer::PlaceComponent(const std::string& name) {
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
    // replaces it whole or fails with the reason.
    return platform_.CopyFileTo(source, destination);
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
    FileResult result = FileResult::kAccessError;
    try {
        result = PlaceComponent(name);
    } catch (...) {
        // Reported as an access error, like any other unexpected failure.
    }
    if (result == FileResult::kOk) return true;
    if (const int index = IndexOf(name); index >= 0) {
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
        bool ok = CopyToSystem(name);
        platform_.DoEvents();
        if (ok) ok = RegisterComponent(name);
        platform_.DoEvents();
        platform_.SetProgressText(ProgressBar(i + 1));
        ComponentOutcome& component = state_.outcomes[i];
        if (ok && component.outcome == Outcome::kRegistrationFailed) {
            // The tool told its verdict while the events were pumped.
            AddLine(i, RegistrationErrorLine(name));
        } else if (ok) {
            AddLine(i, name + std::string(kSuccessSuffix));
        }
        platform_.DoEvents();
    }
}

}  // namespace tarnwick
