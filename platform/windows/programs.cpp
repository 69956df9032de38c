// Started programs: the launch through the shell, keeping the process, and
// learning its end without a thread.
#include "platform/windows/programs.h"

#include <objbase.h>
#include <shellapi.h>

#include <algorithm>

#include "platform/windows/message_loop.h"
#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"

namespace tarnwick::win {

void EndOverrunProgram(HANDLE process) {
    constexpr DWORD kGoneLimitMs = 5000;
    ::TerminateProcess(process, ERROR_TIMEOUT);
    ::WaitForSingleObject(process, kGoneLimitMs);
}

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

    const HANDLE process = program.process.get();
    if (WaitPumpingMessages({&process, 1}, program.startTick, limitMs) != 0) {
        EndOverrunProgram(program.process.get());
        return {};
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(program.process.get(), &code)) return {};
    return {true, code};
}

void WindowsPlatform::BeginComApartment() {
    if (comBegun_) return;
    comBegun_ = true;
    comOk_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
}

ProgramId WindowsPlatform::StartProgram(const ProgramLaunch& launch) {
    BeginComApartment();
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
