// Tarnwick's entry point on Windows: creates frmMain, whose load sequence runs
// the install, then waits for the user to leave. The exit code is 0 when every
// component succeeded and 1 otherwise.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "platform/windows/main_window.h"
#include "platform/windows/windows_platform.h"
#include "ui/main_form.h"

namespace {

// `module`'s function `name` as a `Function`, or null where it is missing.
template <typename Function>
Function Lookup(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                  : nullptr;
}

// The program runs with administrator rights from whatever folder it was
// unpacked into, often Downloads: no DLL may be loaded from there. Looked up at
// run time, since Windows before 8 (without its update) lacks the function.
void LoadDllsOnlyFromTheSystemDirectory() {
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    using SetDirectory = BOOL(WINAPI*)(LPCWSTR);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");  // not owned
    if (const auto set = Lookup<SetDirectories>(kernel, "SetDefaultDllDirectories")) {
        set(kSearchSystem32);
    } else if (const auto setDirectory = Lookup<SetDirectory>(kernel, "SetDllDirectoryW")) {
        // At least the current directory leaves the search.
        setDirectory(L"");
    }
}

// The manifest asks for Common Controls 6, which also serves the standard
// controls' window classes; Windows XP registers them only once comctl32 is
// loaded. By name, not path: the manifest steers the name to the side-by-side
// copy. It stays loaded for the life of the program.
void LoadCommonControls() {
    using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    constexpr DWORD kStandardClasses = 0x00004000;  // ICC_STANDARD_CLASSES
    HMODULE controls = ::LoadLibraryW(L"comctl32.dll");  // not owned, never freed
    const auto init = Lookup<InitControls>(controls, "InitCommonControlsEx");
    if (!init) return;
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), kStandardClasses};
    init(&classes);
}

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
    LoadDllsOnlyFromTheSystemDirectory();
    LoadCommonControls();
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
