// Tarnwick's entry point on Windows: hands the command line to the portable
// core, which may finish the work without a window; otherwise creates frmMain,
// whose load sequence runs the install, then waits for the user to leave. The
// exit code is 0 when every component succeeded, 1 otherwise (also when the
// run could not go on), 2 for a command line that was not understood.
#include <windows.h>
#include <commctrl.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/windows/delay_load_failure.h"
#include "platform/windows/dll_search.h"
#include "platform/windows/main_window.h"
#include "platform/windows/message_loop.h"
#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"
#include "ui/command_line.h"
#include "ui/main_form.h"
#include "ui/stopped.h"

namespace {

// The manifest asks for Common Controls 6, which also serves the standard
// controls' window classes; Windows XP registers them only once comctl32 is
// loaded. Only the window needs them: a run without one (and its
// registration worker) starts sooner without. By name, not path: the manifest steers the name to the side-by-side
// copy. It stays loaded for the life of the program.
void LoadCommonControls() {
    using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    constexpr DWORD kStandardClasses = 0x00004000;  // ICC_STANDARD_CLASSES
    HMODULE controls = ::LoadLibraryW(L"comctl32.dll");  // not owned, never freed
    const auto init = tarnwick::win::Lookup<InitControls>(controls, "InitCommonControlsEx");
    if (!init) return;
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), kStandardClasses};
    init(&classes);
}

// The arguments after the program's name, as the C runtime split them before
// wWinMain: the split every C program gets. Splitting them again with shell32
// would load shell32 and user32, and with them a connection to the desktop,
// into a run that never shows a window.
std::vector<std::string> Arguments() {
    std::vector<std::string> result;
    for (int i = 1; __wargv && i < __argc; ++i) result.push_back(tarnwick::win::Narrow(__wargv[i]));
    return result;
}

// Everything after the command line is read: the run it asks for, or the
// window.
int Run(HINSTANCE instance, tarnwick::win::WindowsPlatform& platform, const tarnwick::CommandLine& commandLine) {
    using namespace tarnwick;
    if (const std::optional<int> done = RunCommandLine(platform, commandLine)) return *done;

    LoadCommonControls();
    frmMain form(platform, !commandLine.logPath.empty());
    // The registration tools' ends reach the form as events, like clicks.
    platform.programs().SetSink([&form](ProgramId program, DWORD code) { form.ProgramEnded(program, code); });
    win::MainWindow window(form);
    if (!window.Create(instance)) {
        form.WindowNotCreated();
        platform.programs().SetSink({});
        return form.ExitCode();
    }
    platform.AttachWindow(&window);

    form.Load();
    if (form.Unloaded()) window.Destroy();  // the user left during the install
    win::RunMessageLoop(window.hwnd(), platform.programs());

    platform.AttachWindow(nullptr);
    platform.programs().SetSink({});
    return form.ExitCode();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    tarnwick::win::SecureDllSearch();
    using namespace tarnwick;
    win::WindowsPlatform platform;
    std::optional<win::DelayLoadFailureEnd> delayLoadEnd;  // gone before the platform
    std::optional<bool> quiet;  // known once the command line is read
    try {
        const CommandLine commandLine = ParseCommandLine(Arguments());
        quiet = commandLine.quiet;
        // A registration worker that cannot load one ends as on a crash,
        // which the run that started it reports.
        if (commandLine.action != CommandLine::Action::kWorker) delayLoadEnd.emplace(platform);
        return Run(instance, platform, commandLine);
    } catch (...) {
        // Only running out of memory gets here. Escaping wWinMain would end
        // in abort(): the C runtime's box and exit code 3.
        platform.AttachWindow(nullptr);
        platform.programs().SetSink({});
        return EndAfterEscapedFailure(platform, quiet);
    }
}
