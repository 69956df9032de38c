// The end of a run that could not go on.
#include "ui/stopped.h"

#include <string>

#include "ui/texts.h"

namespace tarnwick {
namespace {

// Says `text` in the log and, where `box` is false, on standard output;
// otherwise in a box.
void SayStopped(PlatformServices& platform, const std::string& text, bool box) {
    const std::string line = text + "\r\n";
    platform.WriteLog(line);
    if (box) {
        platform.ShowMessage(text, MessageBoxStyle::kCritical, std::string(kProgramTitle));
    } else {
        platform.WriteStandardOutput(line);
    }
}

}  // namespace

int EndAfterEscapedFailure(PlatformServices& platform, std::optional<bool> quiet) noexcept {
    try {
        SayStopped(platform, std::string(kOutOfMemoryText), !quiet.value_or(true));
    } catch (...) {
        // Not even that could be said; the exit code still tells.
    }
    return 1;
}

int EndAfterSystemDllFailure(PlatformServices& platform, std::string_view dll, std::string_view function,
                             std::uint32_t error) noexcept {
    try {
        const std::string what = function.empty() ? "load " + std::string(dll)
                                                  : "find " + std::string(function) + " in " + std::string(dll);
        SayStopped(platform,
                   "Tarnwick could not " + what + " (error " + std::to_string(error) + "), " +
                       std::string(kStoppedEarlyText),
                   false);
    } catch (...) {
        // As above: the exit code still tells.
    }
    return 1;
}

}  // namespace tarnwick
