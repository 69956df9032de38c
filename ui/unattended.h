// The unattended run: the same install as the window's, with no window and no
// box, every registration's verdict waited for, and the results written to
// the log and standard output.
#pragma once

#include "platform/platform_services.h"

namespace tarnwick {

// Installs the nine components and reports each final result in table order,
// to the log if one was created and to standard output. Returns the exit
// code: 0 all installed and registered, 1 any failed, 3010 none failed but
// something waits for Windows to restart.
int RunUnattended(PlatformServices& platform);

}  // namespace tarnwick
