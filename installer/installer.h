// The install run and the two steps that put one component in place: copy it
// into the system directory, then start the registration tool on it.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "installer/install_state.h"
#include "platform/platform_services.h"

namespace tarnwick {

inline constexpr std::string_view kSuccessSuffix = " registered successfully.  *";
inline constexpr std::string_view kFailureLogPrefix = "\r\n-   ";
inline constexpr std::string_view kRegistrationTool = "regsvr32.exe";
inline constexpr int kBarLength = 50;

// `folder` and `name` joined by exactly one backslash; none is added when the
// folder already ends with one (a drive root). Nothing else is changed, so a
// network folder keeps its leading pair.
std::string JoinPath(std::string_view folder, std::string_view name);

// The progress bar after `done` of the nine components.
std::string ProgressBar(int done);

// The words a failed copy's list line uses for `result`.
std::string_view ErrorDescription(FileResult result);

// Whether an installed component should be kept rather than replaced by the
// one being installed: the installed one is as new or newer, or it has a
// version and the new one has none.
bool KeepInstalled(const std::optional<FileVersion>& source,
                   const std::optional<FileVersion>& installed);

class Installer {
public:
    Installer(PlatformServices& platform, InstallState& state) : platform_(platform), state_(state) {}

    // The system directory without a trailing separator; empty when unknown.
    std::string GetSystemDir();

    // Puts the component `name` from the program's folder into the system
    // directory. On failure writes the reason into the result list, sets
    // anyErrors and returns false.
    bool CopyToSystem(const std::string& name);

    // Starts the system's registration tool on the installed component, without
    // waiting for it. On failure writes an error line, sets anyErrors and
    // returns false.
    bool RegisterComponent(const std::string& name);

    // Installs the components of dllFiles in table order, one result line each.
    // `stopRequested` is asked before each component: once it says yes, the
    // rest are logged as failed without being touched.
    void InstallComponents(const std::function<bool()>& stopRequested = {});

private:
    FileResult PlaceComponent(const std::string& name);
    // Writes the step's error line and sets anyErrors; returns false.
    bool StepFailed(std::initializer_list<std::string_view> line) noexcept;
    void LogFailure(const std::string& name);

    PlatformServices& platform_;
    InstallState& state_;
};

}  // namespace tarnwick
