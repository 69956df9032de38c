// The check run.
#include "ui/check_run.h"

#include "installer/installer.h"
#include "ui/command_line.h"
#include "ui/texts.h"

namespace tarnwick {

std::array<ComponentCheck, kComponentCount> WriteCheck(Checker& checker,
                                                       const std::function<void(const std::string&)>& report) {
    std::array<ComponentCheck, kComponentCount> checks;
    for (int i = 0; i < kComponentCount; ++i) {
        checks[i] = checker.Check(kComponentTable[i]);
        report(CheckLines(kComponentTable[i], checks[i]));
    }
    report(CheckClosing(checks));
    return checks;
}

int RunCheck(PlatformServices& platform, bool quiet) {
    std::string text;
    const auto report = [&](const std::string& lines) {
        platform.WriteLog(lines);
        platform.WriteStandardOutput(lines);
        text += lines;
    };
    bool allOk = false;
    bool othersWaiting = true;  // every one not ok waits for the restart
    try {
        InstallState state;
        Installer installer(platform, state);
        const std::string sysDir = installer.GetSystemDir();
        report(CheckHeader(platform.AppVersionNumbers(), sysDir));
        allOk = true;
        Checker checker(platform, sysDir);
        for (const ComponentCheck& check : WriteCheck(checker, report)) {
            allOk = allOk && check.verdict == ComponentCheck::Verdict::kOk;
            othersWaiting = othersWaiting && (check.verdict == ComponentCheck::Verdict::kOk ||
                                              check.verdict == ComponentCheck::Verdict::kWaiting);
        }
    } catch (...) {
        // Only running out of memory gets here.
        try {
            report(std::string(kOutOfMemoryText) + "\r\n");
        } catch (...) {
        }
        allOk = othersWaiting = false;
    }
    if (!quiet) {
        try {
            platform.ShowMessage(text, allOk ? MessageBoxStyle::kInformation : MessageBoxStyle::kWarning,
                                 std::string(kCheckTitle));
        } catch (...) {
        }
    }
    return allOk ? 0 : othersWaiting ? kExitRestart : 1;
}

}  // namespace tarnwick
