// The unattended run.
#include "ui/unattended.h"

#include <functional>

#include "check/dependencies.h"
#include "installer/installer.h"
#include "ui/check_run.h"
#include "ui/command_line.h"
#include "ui/texts.h"

namespace tarnwick {
namespace {

using Report = std::function<void(const std::string&)>;

// The registration workers of one run, as the run sees them: which component
// the running one answered last, for the line that tells of a worker lost
// between two files.
struct Workers {
    PlatformServices& platform;
    Installer& installer;
    const InstallState& state;
    const Report& report;
    int lastAnswered = -1;  // by the worker running now; -1 for none

    // Hands every component from `from` on that no worker has to a new
    // worker, or, where none can be started, to the registration tool.
    void HandOverAgain(int from) {
        bool running = platform.StartWorker(state.sysDir);
        lastAnswered = -1;
        for (int later = from; later < kComponentCount; ++later) {
            const ComponentOutcome& component = state.outcomes[later];
            if (component.outcome != Outcome::kRegistering || !component.inWorker || component.handed) continue;
            installer.RegisterAgain(later, running);
            if (!component.inWorker) running = false;
        }
    }

    // The worker's verdict on component `index`. A worker lost on it (a
    // crash, a hang) takes along every file it had not answered; one lost
    // before it started on it (something an earlier file left behind failed)
    // takes it along too, and it is handed over once more, then to the
    // registration tool. A new worker takes those files, or, where none can
    // be started, the registration tool.
    void TakeVerdict(int index) {
        const ComponentOutcome& component = state.outcomes[index];
        for (;;) {
            if (!component.handed) HandOverAgain(index);
            if (component.outcome != Outcome::kRegistering || !component.inWorker) return;
            const WorkerVerdict verdict = platform.WaitForWorker(kRegistrationLimit);
            switch (verdict.kind) {
                case WorkerVerdict::Kind::kNoWorker:
                    installer.WorkerLostFrom(index);
                    installer.RegisterAgain(index, false);
                    return;
                case WorkerVerdict::Kind::kLost:
                    installer.WorkerLostBefore(index);
                    report(WorkerLostLine(lastAnswered < 0 ? std::string_view() : kComponentTable[lastAnswered],
                                          kComponentTable[index], verdict.code, !component.inWorker) +
                           "\r\n");
                    continue;
                default: break;
            }
            installer.WorkerAnswered(index, verdict);
            lastAnswered = index;
            if (verdict.kind == WorkerVerdict::Kind::kCrashed || verdict.kind == WorkerVerdict::Kind::kTimedOut) {
                installer.WorkerLostFrom(index + 1);
            }
            return;
        }
    }
};

// Lets the worker go, if any; a second call does nothing.
void EndWorker(PlatformServices& platform) noexcept {
    try {
        platform.EndWorker();
    } catch (...) {
    }
}

}  // namespace

int RunUnattended(PlatformServices& platform) {
    const Report report = [&platform](const std::string& text) {
        platform.WriteLog(text);
        platform.WriteStandardOutput(text);
    };

    InstallState state;
    bool checkWaits = false;  // the check after install found a component waiting for the restart
    // Before anything else, so that the worker's start overlaps the copies.
    // Its copy goes into the system directory: a worker started from the
    // program's own folder (often Downloads) would look there first for the
    // DLLs a component loads by name.
    bool worker = false;
    try {
        state.sysDir = Installer(platform, state).GetSystemDir();
        worker = !state.sysDir.empty() && platform.StartWorker(state.sysDir);
    } catch (...) {
        // The registration tool registers them, as in the window.
    }
    Installer installer(platform, state,
                        {.silentRegistration = true,
                         .replaceInUse = true,
                         .registerInWorker = worker,
                         .explainNotLoaded = MissingDllReason});
    Workers workers{platform, installer, state, report};
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
                workers.TakeVerdict(i);
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
            // Waiting for the restart is not a failure: Windows finishes it.
            if (checks[i].verdict == ComponentCheck::Verdict::kWaiting) {
                checkWaits = true;
            } else if (checks[i].verdict != ComponentCheck::Verdict::kOk) {
                installer.CheckFailed(i, checks[i].finding);
            }
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
    if (state.anyErrors) {
        report(FailureReport(state.dllFailed) + "\r\n");
        return 1;
    }
    if (!checkWaits && !WaitsForRestart(state)) return 0;
    report(std::string(kRestartText) + "\r\n");
    return kExitRestart;
}

}  // namespace tarnwick
