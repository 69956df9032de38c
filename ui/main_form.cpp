// frmMain's load sequence and closing report.
#include "ui/main_form.h"

#include <algorithm>

#include "installer/installer.h"
#include "ui/texts.h"

namespace tarnwick {

void frmMain::Load() {
    stage_ = Stage::kLoading;
    Installer installer(platform_, state_);
    try {
        state_.dllFailed.clear();
        state_.anyErrors = false;
        platform_.SetProgressText("");
        std::copy(kComponentTable.begin(), kComponentTable.end(), state_.dllFiles.begin());
        state_.sysDir = installer.GetSystemDir();
        platform_.SetNoteText(std::string(kNoteText));
        platform_.SetCaption(Caption(platform_.AppVersionNumbers()));
        platform_.ShowForm();
        installer.InstallComponents([this] { return unloadRequested_; });
    } catch (...) {
        // Only running out of memory gets here: the install did not finish,
        // and the window stays to be left as usual.
        state_.anyErrors = true;
    }
    stage_ = Stage::kIdle;
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

void frmMain::Unload() {
    // The message boxes pump messages: a second close meanwhile must not show
    // the report again.
    stage_ = Stage::kUnloading;
    try {
        platform_.HideForm();
        platform_.ShowMessage(HelpText(), MessageBoxStyle::kInformation, std::string(kHelpTitle));
        if (state_.anyErrors) {
            platform_.ShowMessage(FailureReport(state_.dllFailed), MessageBoxStyle::kCritical,
                                  std::string(kFailureTitle));
        }
    } catch (...) {
        // The window goes all the same: a program left hidden could not be ended.
    }
    stage_ = Stage::kGone;
}

}  // namespace tarnwick
