// A DLL of the system that the program imports on first use (delay-loaded:
// user32, gdi32, shell32, ole32) can still fail to load, as user32 does in a
// session whose desktop heap is used up. MinGW's delay-load helper then raises
// an exception, which ends the process with no word and the exception's code
// for an exit code. While a run is registered here, the helper's failure hook
// ends that run the way the core says instead.
#pragma once

#include "platform/platform_services.h"

namespace tarnwick::win {

// While it lives, a delay-loaded DLL that cannot be loaded, or lacks a
// function, ends the process through `platform`: EndAfterSystemDllFailure's
// line, then its exit code. Without one, the helper's exception stands.
class DelayLoadFailureEnd {
public:
    explicit DelayLoadFailureEnd(PlatformServices& platform) noexcept;
    ~DelayLoadFailureEnd();
    DelayLoadFailureEnd(const DelayLoadFailureEnd&) = delete;
    DelayLoadFailureEnd& operator=(const DelayLoadFailureEnd&) = delete;
};

}  // namespace tarnwick::win
