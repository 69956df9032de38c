// The check as a run of its own (/check), and its lines in an unattended
// install's report.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "check/check.h"
#include "platform/platform_services.h"

namespace tarnwick {

// Checks the nine with `checker`, in table order, and hands `report` each
// component's lines as they are found, then the closing line.
std::array<ComponentCheck, kComponentCount> WriteCheck(Checker& checker,
                                                       const std::function<void(const std::string&)>& report);

// /check: the report to the log, standard output and, unless `quiet`, a box.
// Installs and changes nothing. Returns the exit code: 0 all nine ok, 3010
// when those not ok only wait for Windows to restart, 1 otherwise.
int RunCheck(PlatformServices& platform, bool quiet);

}  // namespace tarnwick
