// The program's own texts.
#include "ui/texts.h"

#include <array>

#include "installer/installer.h"

namespace tarnwick {

std::string Caption(const AppVersion& version) {
    return "Tarnwick  v" + std::to_string(version.major) + "." + std::to_string(version.minor) +
           std::to_string(version.revision);
}

std::string HelpText() {
    static constexpr std::array<std::string_view, 23> kLines = {
        "\"File not found\": Re-extract the ZIP file and make sure all",
        "    the files are extracted to the same folder.",
        "",
        "\"Permission denied\": (Windows 2000/XP only)  Log out and",
        "    log back in as an Administrator account (I recommend",
        "    logging in with the \"Administrator\" account) and run",
        "    the application again.",
        "",
        "\"Path/File access error\": (Windows 2000/XP only) Same as",
        "    \"Permission denied\" error.",
        "",
        "If any files did not register for those reasons, you will",
        "have to re-run this application following the steps above",
        "for each error.",
        "",
        "Also, it would be best to make sure you are not running",
        "any other applications when you run this application.",
        "",
        "If you received any other error, please e-mail me:",
        "",
        kSupportLine,
        "",
        "Tell me the Windows OS you're using and the error message.",
    };
    std::string text(kLines.front());
    for (std::size_t i = 1; i < kLines.size(); ++i) {
        text += "\r\n";
        text += kLines[i];
    }
    return text;
}

std::string FailureReport(std::string_view dllFailed) {
    return std::string(kFailureHeading) + "\r\n" + std::string(dllFailed);
}

namespace {

// "Tarnwick 1.1.0".
std::string NameAndVersion(const AppVersion& version) {
    return "Tarnwick " + std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.revision);
}

}  // namespace

std::string LogHeader(const AppVersion& version, std::string_view sysDir) {
    return NameAndVersion(version) + ", system directory " + std::string(sysDir) + "\r\n";
}

std::string CheckHeader(const AppVersion& version, std::string_view sysDir) {
    return NameAndVersion(version) + " check, system directory " + std::string(sysDir) + "\r\n";
}

std::string LogReport(const AppVersion& version, const InstallState& state, std::string_view stopped) {
    std::string log = LogHeader(version, state.sysDir);
    if (!stopped.empty()) log += std::string(stopped) + "\r\n";
    for (int i = 0; i < kComponentCount; ++i) {
        log += OutcomeLine(kComponentTable[i], state.outcomes[i]) + "\r\n";
    }
    if (state.anyErrors) log += FailureReport(state.dllFailed) + "\r\n";
    return log;
}

}  // namespace tarnwick
