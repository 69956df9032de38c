// The failure hook of MinGW's delay-load helper, __pfnDliFailureHook2, which
// the helper calls before it raises its exception.
#include "platform/windows/delay_load_failure.h"

#include <windows.h>
#include <delayimp.h>

#include "ui/stopped.h"

namespace tarnwick::win {
namespace {

PlatformServices* runToEnd = nullptr;

// Runs in whatever state the program is in, on the thread whose call failed.
// It needs nothing imported on first use (the log and standard output are
// written with kernel32 alone), and it never returns: a null answer makes the
// helper raise its exception after all.
FARPROC WINAPI EndOnFailedDelayLoad(unsigned notice, PDelayLoadInfo info) {
    if (!runToEnd || !info || (notice != dliFailLoadLib && notice != dliFailGetProc)) return nullptr;
    const char* function = "";
    if (notice == dliFailGetProc) function = info->dlp.fImportByName ? info->dlp.szProcName : "a function by number";
    const int code = EndAfterSystemDllFailure(*runToEnd, info->szDll ? info->szDll : "a DLL", function,
                                              info->dwLastError);
    // At once: no unwinding through frames left half-way, no DLL's detach
    // code. The log is on disk line by line, standard output unbuffered.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
    return nullptr;
}

}  // namespace

DelayLoadFailureEnd::DelayLoadFailureEnd(PlatformServices& platform) noexcept { runToEnd = &platform; }

DelayLoadFailureEnd::~DelayLoadFailureEnd() { runToEnd = nullptr; }

}  // namespace tarnwick::win

// Declared extern "C" by delayimp.h; this definition takes the place of the
// runtime's empty one.
PfnDliHook __pfnDliFailureHook2 = tarnwick::win::EndOnFailedDelayLoad;
