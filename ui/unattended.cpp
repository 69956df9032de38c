// The unattended run.
#include "ui/unattended.h"

#include "installer/installer.h"
#include "ui/texts.h"

namespace tarnwick {

int RunUnattended(PlatformServices& platform) {
    const auto report = [&platform](const std::string& text) {
        platform.WriteLog(text);
        platform.WriteStandardOutput(text);
    };

    InstallState state;
    Installer installer(platform, state, {.silentRegistration = true});
    try {
        installer.Prepare();
        report(LogHeader(platform.AppVersionNumbers(), state.sysDir));
        // The registrations run side by side while the later copies go on;
        // their verdicts are taken, and reported, in table order.
        installer.InstallComponents();
        for (int i = 0; i < kComponentCount; ++i) {
            const ComponentOutcome& component = state.outcomes[i];
            if (component.outcome == Outcome::kRegistering) {
                const ProgramEnd end = platform.FinishProgram(component.program, kRegistrationLimit);
                if (end.finished) {
                    installer.RegistrationEnded(component.program, end.exitCode);
                } else {
                    installer.RegistrationTimedOut(i);
                }
            }
            report(OutcomeLine(kComponentTable[i], component) + "\r\n");
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
    if (state.anyErrors) report(FailureReport(state.dllFailed) + "\r\n");
    return state.anyErrors ? 1 : 0;
}

}  // namespace tarnwick
