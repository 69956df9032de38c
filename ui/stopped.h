// The end of a run that something it cannot handle (running out of memory)
// escaped from: the exit code of a failed run, never the C runtime's abort
// with its "Runtime Error" box and exit code 3.
#pragma once

#include <optional>

#include "platform/platform_services.h"

namespace tarnwick {

// Says why the run stopped: a line in the log, where one was created, and on
// standard output in an unattended run, a box in a window run. `quiet` is
// whether the command line asked for /S; unknown (it had not been read yet)
// counts as yes, since a box may be nobody's to dismiss. Returns the exit
// code, 1: as for a component that failed.
int EndAfterEscapedFailure(PlatformServices& platform, std::optional<bool> quiet) noexcept;

}  // namespace tarnwick
