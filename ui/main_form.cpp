// frmMain's load sequence and closing report.
#include "ui/main_form.h"

#include "check/dependencies.h"
#include "installer/installer.h"
#include "ui/texts.h"

namespace tarnwick {

void frmMain::Load() {
    stage_ = Stage::kLoading;
    Installer installer(platform_, state_);
    bool shown = false;
    try {
        state_.dllFailed.clear();
        state_.anyErrors = false;
        platform_.SetProgressText("");
        installer.Prepare();
        platform_.SetNoteText(std::string(kNoteText));
        platform_.SetCaption(Caption(platform_.AppVersionNumbers()));
        platform_.ShowForm();
        shown = true;
        installer.InstallComponents([this] { return unloadRequested_; });
    } catch (...) {
        // Only running out of memory gets here: the install did not finish.
        // What it did not reach is reported as failed.
        try {
            installer.SkipUnreached();
        } catch (...) {
        }
        state_.anyErrors = true;
        stopReason_ = kOutOfMemoryText;
    }
    // A window left hidden could never be closed: show it so the user can
    // leave it, or say why not.
    if (!shown) {
        try {
            platform_.ShowForm();
            shown = true;
        } catch (...) {
        }
    }
    stage_ = Stage::kIdle;
    if (!shown) {
        GiveUp();
        return;
    }
    if (unloadRequested_) Unload();
}

bool frmMain::RequestUnload() {
    switch (stage_) {
        case Stage::kCreated:
        case Stage::kLoading:
            unloadRequested_ = true;
            return false;
        case Stage::kIdle:
            Unload();
            return true;
        case Stage::kUnloading:
        case Stage::kGone:
            break;
    }
    return false;
}

void frmMain::ProgramEnded(ProgramId program, std::uint32_t exitCode) noexcept {
    if (verdictsTaken_) return;
    try {
        Installer(platform_, state_, {.explainNotLoaded = MissingDllReason}).RegistrationEnded(program, exitCode);
    } catch (...) {
        // Nothing may unwind into the message loop that delivered it.
    }
}

void frmMain::Unload() {
    // The message boxes pump messages: a second close meanwhile must not show
    // the report again.
    stage_ = Stage::kUnloading;
    try {
        platform_.HideForm();
        platform_.ShowMessage(HelpText(), MessageBoxStyle::kInformation, std::string(kHelpTitle));
        // Every verdict that came while the help was read counts; none after
        // it, so the failure box, the log and the exit code agree even when
        // a tool ends while the failure box is up or after the window went.
        platform_.DoEvents();
        verdictsTaken_ = true;
        if (state_.anyErrors) {
            platform_.ShowMessage(FailureReport(state_.dllFailed), MessageBoxStyle::kCritical,
                                  std::string(kFailureTitle));
        }
        if (keepLog_) WriteLog();
    } catch (...) {
        // The window goes all the same: a program left hidden could not be ended.
    }
    verdictsTaken_ = true;
    stage_ = Stage::kGone;
}

void frmMain::WriteLog() {
    platform_.WriteLog(LogReport(platform_.AppVersionNumbers(), state_, stopReason_));
}

void frmMain::WindowNotCreated() noexcept {
    try {
        // Where it would have installed, for the log's header.
        Installer installer(platform_, state_);
        installer.Prepare();
        installer.SkipUnreached();
    } catch (...) {
        // The box and the log still say why nothing was installed.
    }
    GiveUp();
}

void frmMain::GiveUp() noexcept {
    state_.anyErrors = true;
    verdictsTaken_ = true;
    stopReason_ = kCannotStartText;
    // The log first: it is what is left when nobody reads the box.
    try {
        if (keepLog_) WriteLog();
    } catch (...) {
    }
    try {
        platform_.ShowMessage(std::string(kCannotStartText), MessageBoxStyle::kCritical,
                              std::string(kProgramTitle));
    } catch (...) {
    }
    stage_ = Stage::kGone;
}

}  // namespace tarnwick
