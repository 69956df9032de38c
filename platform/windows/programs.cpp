// Started programs: the launch through the shell, keeping the process, and
// learning its end without a thread.
#include "platform/windows/programs.h"

#include <shellapi.h>

#include <algorithm>

#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"

namespace tarnwick::win {
namespace {

// Waits for `process` until `limitMs` after `startTick`, handling this thread's
// messages meanwhile, as the message loop does. A registration that sends a
// message to every top-level window (a settings change, told with
// SendMessage(HWND_BROADCAST, ...)) waits for each window's thread, this one's
// COM window among them: a bare wait would hold it until the limit. A WM_QUIT
// taken here is posted again once the wait is over.
bool WaitPumpingMessages(HANDLE process, DWORD startTick, DWORD limitMs) {
    bool quit = false;
    int quitCode = 0;
    bool ended = false;
    for (;;) {
        const DWORD elapsed = ::GetTickCount() - startTick;  // wraps safely
        const DWORD left = elapsed >= limitMs ? 0 : limitMs - elapsed;
        // Without MWMO_INPUTAVAILABLE: a WM_QUIT kept back must not wake it again.
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &process, FALSE, left, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        if (woken != WAIT_OBJECT_0 + 1) break;  // the limit, or a wait that cannot be made
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(message.wParam);
                continue;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (quit) ::PostQuitMessage(quitCode);
    return ended;
}

}  // namespace

ProgramId RunningPrograms::Add(UniqueHandle process, DWORD startTick) {
    const ProgramId id = ++lastId_;
    programs_.push_back({id, std::move(process), startTick});
    return id;
}

std::vector<HANDLE> RunningPrograms::WaitHandles() const {
    std::vector<HANDLE> handles;
    if (!sink_) return handles;
    for (const Program& program : programs_) {
        if (handles.size() + 1 >= MAXIMUM_WAIT_OBJECTS) break;
        handles.push_back(program.process.get());
    }
    return handles;
}

void RunningPrograms::DeliverEnded() {
    if (!sink_) return;
    // The sink may start nothing, but it runs the portable core: take each
    // ended program out of the list before it hears of it.
    for (std::size_t i = 0; i < programs_.size();) {
        Program& program = programs_[i];
        if (::WaitForSingleObject(program.process.get(), 0) != WAIT_OBJECT_0) {
            ++i;
            continue;
        }
        DWORD code = 0;
        if (!::GetExitCodeProcess(program.process.get(), &code)) code = ::GetLastError();
        const ProgramId id = program.id;
        programs_.erase(programs_.begin() + static_cast<std::ptrdiff_t>(i));
        sink_(id, code);
    }
}

ProgramEnd RunningPrograms::Finish(ProgramId id, DWORD limitMs) {
    const auto found = std::find_if(programs_.begin(), programs_.end(),
                                    [id](const Program& program) { return program.id == id; });
    if (found == programs_.end()) return {};
    const Program program = std::move(*found);
    programs_.erase(found);

    if (!WaitPumpingMessages(program.process.get(), program.startTick, limitMs)) {
        ::TerminateProcess(program.process.get(), ERROR_TIMEOUT);
        ::WaitForSingleObject(program.process.get(), 5000);  // let it go before its file is used again
        return {};
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(program.process.get(), &code)) return {};
    return {true, code};
}

ProgramId WindowsPlatform::StartProgram(const ProgramLaunch& launch) {
    const std::wstring file = Widen(launch.program);
    const std::wstring arguments = Widen(launch.parameters);
    const std::wstring folder = Widen(launch.workingDirectory);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The process is kept to learn its exit code; no error box of the shell's.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpFile = file.c_str();
    info.lpParameters = arguments.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    const DWORD startTick = ::GetTickCount();
    if (!::ShellExecuteExW(&info)) return kNoProgram;
    UniqueHandle process(info.hProcess);
    // A launch handed to a program already running has no process of its own
    // to tell the verdict; the registration tool is always a process of its own.
    if (!process) return kNoProgram;
    return programs_.Add(std::move(process), startTick);
}

ProgramEnd WindowsPlatform::FinishProgram(ProgramId id, std::chrono::milliseconds limit) {
    return programs_.Finish(id, static_cast<DWORD>(limit.count()));
}

}  // namespace tarnwick::win
