// Tarnwick's entry point on Windows: creates frmMain, whose load sequence runs
// the install, then waits for the user to leave. The exit code is 0 when every
// component succeeded and 1 otherwise.
#include <windows.h>
#include <objbase.h>

#include "platform/windows/main_window.h"
#include "platform/windows/windows_platform.h"
#include "ui/main_form.h"

namespace {

// COM for the shell's sake, held for the life of the program.
struct ComApartment {
    ComApartment() : ok(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (ok) ::CoUninitialize();
    }
    bool ok;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace tarnwick;
    ComApartment com;
    win::WindowsPlatform platform;
    frmMain form(platform);
    win::MainWindow window(form);
    if (!window.Create(instance)) {
        ::MessageBoxW(nullptr, L"The window could not be created.", L"Tarnwick", MB_OK | MB_ICONERROR);
        return 1;
    }
    platform.AttachWindow(&window);

    form.Load();
    if (form.Unloaded()) window.Destroy();  // the user left during the install
    win::RunMessageLoop(window.hwnd());

    platform.AttachWindow(nullptr);
    return form.ExitCode();
}
