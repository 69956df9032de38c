// The unattended run: the same install as the window's, with no window and no
// box, every registration's verdict waited for, and the results written to
// the log and standard output.
#pragma once

#include <string>

#include "platform/platform_services.h"

namespace tarnwick {

// Installs the nine components and reports each final result in table order.
// `logPath` empty: no log file. Returns the exit code: 0 all installed and
// registered, 1 any failed, 2 the log could not be created (nothing installed).
int RunUnattended(PlatformServices& platform, const std::string& logPath);

// What is said when the log file cannot be created.
std::string LogNotCreatedText(const std::string& logPath);

}  // namespace tarnwick
