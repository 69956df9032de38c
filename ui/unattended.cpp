// The unattended run.
#include "ui/unattended.h"

#include "check/dependencies.h"
#include "installer/installer.h"
#include "ui/check_run.h"
#include "ui/texts.h"

namespace tarnwick {
namespace {

// Hands every component from `from` on that no worker has to a new worker,
// or, where none can be started, to the registration tool.
void HandOverAgain(PlatformServices& platform, Installer& installer, const InstallState& state, int from) {
    bool running = platform.StartWorker();
    for (int later = from; later < kComponentCount; ++later) {
        const ComponentOutcome& component = state.outcomes[later];
        if (component.outcome != Outcome::kRegistering || !component.inWorker || component.handed) continue;
        installer.RegisterAgain(later, running);
        if (!component.inWorker) running = false;
    }
}

// The worker's verdict on component `index`. A worker lost on it (a crash, a
// hang) takes along every file it had not answered, and one that would not
// take a file any more has none after it: a new worker takes those, or,
// where none can be started, the registration tool.
void TakeWorkerVerdict(PlatformServices& platform, Installer& installer, const InstallState& state, int index) {
    const ComponentOutcome& component = state.outcomes[index];
    if (!component.handed) HandOverAgain(platform, installer, state, index);
    if (component.outcome != Outcome::kRegistering || !component.inWorker) return;
    const WorkerVerdict verdict = platform.WaitForWorker(kRegistrationLimit);
    if (verdict.kind == WorkerVerdict::Kind::kNoWorker) {
        installer.WorkerLostAfter(index);
        installer.RegisterAgain(index, false);
        return;
    }
    installer.WorkerAnswered(index, verdict);
    if (verdict.kind == WorkerVerdict::Kind::kCrashed || verdict.kind == WorkerVerdict::Kind::kTimedOut) {
        installer.WorkerLostAfter(index);
    }
}

// Lets the worker go, if any; a second call does nothing.
void EndWorker(PlatformServices& platform) noexcept {
    try {
        platform.EndWorker();
    } catch (...) {
    }
}

}  // namespace

int RunUnattended(PlatformServices& platform) {
    const auto report = [&platform](const std::string& text) {
        platform.WriteLog(text);
        platform.WriteStandardOutput(text);
    };

    InstallState state;
    // Before anything else, so that the worker's start overlaps the copies.
    bool worker = false;
    try {
        worker = platform.StartWorker();
    } catch (...) {
        // The registration tool registers them, as in the window.
    }
    Installer installer(platform, state,
                        {.silentRegistration = true, .registerInWorker = worker, .explainNotLoaded = MissingDllReason});
    try {
        installer.Prepare();
        report(LogHeader(platform.AppVersionNumbers(), state.sysDir));
        // The registrations run side by side while the later copies go on;
        // their verdicts are taken, and reported, in table order.
        installer.InstallComponents();
        // The check at the end reads the files while the registrations are
        // still going on, and only the registry after them.
        Checker checker(platform, state.sysDir);
        for (std::string_view name : kComponentTable) checker.ReadFiles(name);
        for (int i = 0; i < kComponentCount; ++i) {
            const ComponentOutcome& component = state.outcomes[i];
            if (component.outcome == Outcome::kRegistering && component.inWorker) {
                TakeWorkerVerdict(platform, installer, state, i);
            }
            if (component.outcome == Outcome::kRegistering && !component.inWorker) {
                const ProgramEnd end = platform.FinishProgram(component.program, kRegistrationLimit);
                if (end.finished) {
                    installer.RegistrationEnded(component.program, end.exitCode);
                } else {
                    installer.RegistrationTimedOut(i);
                }
            }
            report(OutcomeLine(kComponentTable[i], component) + "\r\n");
        }
        // Every registration has ended: whether each landed on the file
        // installed. A success the check cannot confirm is a failure, so
        // that exit code 0 means registered to the installed files.
        EndWorker(platform);
        report(std::string(kCheckAfterInstall) + "\r\n");
        const auto checks = WriteCheck(checker, report);
        for (int i = 0; i < kComponentCount; ++i) {
            if (checks[i].verdict != ComponentCheck::Verdict::kOk) installer.CheckFailed(i, checks[i].finding);
        }
    } catch (...) {
        // Only running out of memory gets here: whatever was not finished failed.
        try {
            installer.SkipUnreached();
            report(std::string(kOutOfMemoryText) + "\r\n");
        } catch (...) {
        }
        state.anyErrors = true;
    }
    EndWorker(platform);
    if (state.anyErrors) report(FailureReport(state.dllFailed) + "\r\n");
    return state.anyErrors ? 1 : 0;
}

}  // namespace tarnwick
