// The end of a run that something it cannot handle escaped from: running out
// of memory, or a DLL of the system it loads on first use that cannot be
// loaded. The exit code of a failed run, never the C runtime's abort with its
// "Runtime Error" box and exit code 3, nor an exception that ends the process
// with no word at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/platform_services.h"

namespace tarnwick {

// Says why the run stopped: a line in the log, where one was created, and on
// standard output in an unattended run, a box in a window run. `quiet` is
// whether the command line asked for /S; unknown (it had not been read yet)
// counts as yes, since a box may be nobody's to dismiss. Returns the exit
// code, 1: as for a component that failed.
int EndAfterEscapedFailure(PlatformServices& platform, std::optional<bool> quiet) noexcept;

// The same when `dll`, a DLL of the system that the program imports on first
// use, could not be loaded (`function` empty) or lacks `function`; `error` is
// the system's error code. Never a box, in any run: showing one takes
// user32, the DLL that fails where the desktop's memory has run out.
int EndAfterSystemDllFailure(PlatformServices& platform, std::string_view dll, std::string_view function,
                             std::uint32_t error) noexcept;

}  // namespace tarnwick
