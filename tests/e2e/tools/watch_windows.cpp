// Runs a program and watches, for its whole life, for any top-level window of
// its process that becomes visible: an unattended run must show nothing, not
// even briefly. The program inherits this tool's standard output.
//
//   watch-windows RESULT-FILE PROGRAM [ARGUMENT...]
//
// RESULT-FILE gets "exit-code N" and one "shown CLASS TITLE" line per window
// seen on screen; it is written anew whenever a window is seen, with
// "exit-code running" until the program has ended. Exit code: 0 when the program ended within five minutes
// (it is ended otherwise, and the exit code is 1); 2 for a bad command line.
#include <windows.h>

#include <set>
#include <string>

#include "platform/windows/handles.h"
#include "platform/windows/unicode.h"

using tarnwick::win::FileHandle;
using tarnwick::win::Narrow;
using tarnwick::win::UniqueHandle;

namespace {

constexpr DWORD kPollMs = 5;
constexpr DWORD kLimitMs = 300000;

DWORD g_process = 0;
const wchar_t* g_resultFile = nullptr;
std::set<HWND>* g_seen = nullptr;
std::string* g_report = nullptr;

bool Save(const std::string& exitCode) {
    const std::string text = "exit-code " + exitCode + "\n" + *g_report;
    const auto result = FileHandle(::CreateFileW(g_resultFile, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                 CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return result && ::WriteFile(result.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void Note(HWND window) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != g_process || !::IsWindowVisible(window) || !g_seen->insert(window).second) return;
    wchar_t name[256] = L"";
    wchar_t title[256] = L"";
    ::GetClassNameW(window, name, 256);
    ::GetWindowTextW(window, title, 256);
    *g_report += "shown " + Narrow(name) + " " + Narrow(title) + "\n";
    Save("running");
}

BOOL CALLBACK EachWindow(HWND window, LPARAM) {
    Note(window);
    return TRUE;
}

// Also told of every window the process shows, however briefly, where the
// system delivers such events across processes.
void CALLBACK Shown(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
    if (object == OBJID_WINDOW && window && ::GetAncestor(window, GA_ROOT) == window) Note(window);
}

// The program and its arguments, quoted for CreateProcessW.
std::wstring CommandLineOf(int argc, wchar_t** argv) {
    std::wstring line;
    for (int i = 2; i < argc; ++i) {
        if (!line.empty()) line += L' ';
        line += L'"';
        line += argv[i];
        line += L'"';
    }
    return line;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    std::wstring command = CommandLineOf(argc, argv);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &started)) {
        return 1;
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    g_process = started.dwProcessId;
    std::set<HWND> seen;
    std::string report;
    g_resultFile = argv[1];
    g_seen = &seen;
    g_report = &report;
    HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, Shown,
                                           g_process, 0, WINEVENT_OUTOFCONTEXT);

    const DWORD start = ::GetTickCount();
    bool ended = false;
    while (!ended && ::GetTickCount() - start < kLimitMs) {
        ::EnumWindows(EachWindow, 0);
        ended = ::MsgWaitForMultipleObjects(1, &started.hProcess, FALSE, kPollMs, QS_ALLINPUT) == WAIT_OBJECT_0;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
    if (hook) ::UnhookWinEvent(hook);
    if (!ended) ::TerminateProcess(started.hProcess, 1);
    DWORD code = 0;
    ::GetExitCodeProcess(started.hProcess, &code);
    if (!Save(std::to_string(code))) return 1;
    return ended ? 0 : 1;
}
