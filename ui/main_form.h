// frmMain's behaviour, apart from any toolkit: the load sequence that shows the
// window and runs the install, and the closing report when the window unloads.
// The Windows binding forwards the window's events here.
#pragma once

#include "installer/install_state.h"
#include "platform/platform_services.h"

namespace tarnwick {

class frmMain {
public:
    // With `keepLog`, the closing report also writes every component's final
    // result to the log the platform has created.
    explicit frmMain(PlatformServices& platform, bool keepLog = false)
        : platform_(platform), keepLog_(keepLog) {}

    // The load event: gives the install state its starting values, titles and
    // shows the window, then installs the nine components. Returns when they
    // are done, or, when the user left meanwhile, after the closing report.
    void Load();

    // The user pressed Exit or closed the window. Returns true when the closing
    // report has run and the window may be destroyed now. While the install
    // runs this only takes note: the run stops after the current component and
    // Load runs the report before it returns. Later calls do nothing.
    bool RequestUnload();

    // A registration tool the run started has ended. Its verdict counts until
    // the closing report decides, once the help box has been read; from then
    // on the failure box, the log and the exit code all tell that one set of
    // verdicts, and a later end changes nothing.
    void ProgramEnded(ProgramId program, std::uint32_t exitCode) noexcept;

    // The window could not be created, so there is no load: nothing is
    // installed, a box says so, and the log, if kept, says why.
    void WindowNotCreated() noexcept;

    // True once the closing report has run, or the window could not be shown:
    // the window is to go.
    bool Unloaded() const { return stage_ == Stage::kGone; }

    // 0 when every component succeeded, 1 otherwise (including a load that
    // could not finish).
    int ExitCode() const { return state_.anyErrors ? 1 : 0; }

    const InstallState& state() const { return state_; }

private:
    enum class Stage { kCreated, kLoading, kIdle, kUnloading, kGone };

    // The unload event: the closing report.
    void Unload();
    // The window cannot be shown: says so in a box and the log, and the
    // window goes.
    void GiveUp() noexcept;
    void WriteLog();

    PlatformServices& platform_;
    bool keepLog_;
    InstallState state_;
    Stage stage_ = Stage::kCreated;
    bool unloadRequested_ = false;
    // Set once the report has decided which verdicts count.
    bool verdictsTaken_ = false;
    // Why the run stopped before its end, for the log; empty when it did not.
    std::string_view stopReason_;
};

}  // namespace tarnwick
