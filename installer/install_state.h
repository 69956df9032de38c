// The install state that the main window owns for its whole life: the component
// table, where the components go, and what failed.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tarnwick {

inline constexpr int kComponentCount = 9;

// The components, in the order they are installed.
inline constexpr std::array<std::string_view, kComponentCount> kComponentTable = {
    "MSCOMCTL.OCX", "COMDLG32.OCX", "COMCTL32.OCX", "MSINET.OCX",  "RICHTX32.OCX",
    "TABCTL32.OCX", "MSSTDFMT.DLL", "SCRRUN.DLL",   "HHCTRL.OCX",
};

struct InstallState {
    std::array<std::string, kComponentCount> dllFiles;
    // The system directory without a trailing separator; empty when unknown.
    std::string sysDir;
    // One CR LF + "-   " + name per failed component, so a non-empty log
    // starts with a line break.
    std::string dllFailed;
    bool anyErrors = false;
};

}  // namespace tarnwick
