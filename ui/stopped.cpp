// The end of a run that could not go on.
#include "ui/stopped.h"

#include <string>

#include "ui/texts.h"

namespace tarnwick {

int EndAfterEscapedFailure(PlatformServices& platform, std::optional<bool> quiet) noexcept {
    try {
        const std::string line = std::string(kOutOfMemoryText) + "\r\n";
        platform.WriteLog(line);
        if (quiet.value_or(true)) {
            platform.WriteStandardOutput(line);
        } else {
            platform.ShowMessage(std::string(kOutOfMemoryText), MessageBoxStyle::kCritical,
                                 std::string(kProgramTitle));
        }
    } catch (...) {
        // Not even that could be said; the exit code still tells.
    }
    return 1;
}

}  // namespace tarnwick
