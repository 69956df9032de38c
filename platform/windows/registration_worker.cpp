// The registration worker, both sides: the unattended run starts this program
// once more and hands it every installed file, instead of starting the
// registration tool once per file. Requests and verdicts go through two
// anonymous pipes; since those cannot be waited on, a semaphore for each
// direction counts the records sent, and each side waits on it together with
// the other process and its own messages.
//
// The worker runs from a copy of this program that the run makes in the system
// directory: the loader looks first in a program's own folder for the DLLs
// loaded by name, and a component's code loads some so; the folder the run was
// started from (often Downloads) must never be that folder. From there its
// search is the registration tool's own: the system directory, the Windows
// directory, PATH.
//
// The worker's command line is /registration-worker=R.V.Q.A.P, the hex values
// of the handles it inherits: the pipe it reads requests from (R), the pipe it
// writes verdicts to (V), "request ready" (Q), "verdict ready" (A) and its
// parent's process (P). The first request is a handshake record that names
// the worker's own process id, which only the run that started it knows.
// A request is a count of UTF-16 units and the path; a count of 0 means
// nothing more. A record back is two uint32: a verdict's kind and code, or
// kStartedRecord when the worker starts on the next file, so that a crash
// is blamed on the file it was at and no other.
#include <windows.h>
#include <ole2.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "installer/ascii.h"
#include "platform/windows/dll_search.h"
#include "platform/windows/message_loop.h"
#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"

namespace tarnwick::win {
namespace {

constexpr std::uint32_t kHandshakeMagic = 0x4B575254;  // "TRWK"
constexpr DWORD kHandshakeLimitMs = 5000;
constexpr DWORD kEndLimitMs = 2000;
constexpr DWORD kLongestPath = 32767;         // UTF-16 units, the \\?\ form's limit
constexpr DWORD kPipeSize = 64 * 1024;        // room for every request of a run
constexpr std::size_t kHandleCount = 5;
constexpr std::uint32_t kStartedRecord = 0xFFFFFFFF;  // beyond every verdict's kind
constexpr DWORD kParentGone = ERROR_PROCESS_ABORTED;  // the worker's exit code when its run has gone

struct Handshake {
    std::uint32_t magic;
    std::uint32_t processId;
};

struct VerdictRecord {
    std::uint32_t kind;
    std::uint32_t code;
};

// Anonymous pipes may hand over less than asked: reads and writes go on
// until the whole record has passed. `transfer` is ReadFile or WriteFile.
template <typename Byte, typename Transfer>
bool Whole(HANDLE pipe, Byte* at, DWORD size, Transfer transfer) {
    while (size > 0) {
        DWORD done = 0;
        if (!transfer(pipe, at, size, &done, nullptr) || done == 0) return false;
        at += done;
        size -= done;
    }
    return true;
}

bool ReadAll(HANDLE pipe, void* data, DWORD size) { return Whole(pipe, static_cast<char*>(data), size, ::ReadFile); }

bool WriteAll(HANDLE pipe, const void* data, DWORD size) {
    return Whole(pipe, static_cast<const char*>(data), size, ::WriteFile);
}

// The handles as the switch's value gives them: eight hex digits each, joined
// by dots.
std::wstring HandleList(std::initializer_list<HANDLE> handles) {
    std::string text;
    for (const HANDLE handle : handles) {
        if (!text.empty()) text += '.';
        AppendHex(text, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle)), 8);
    }
    return Widen(text);
}

// The handles in the switch's value, each 1 to 8 hex digits and not zero,
// separated by dots, nothing else; false for anything else.
bool ParseHandles(const std::string& value, std::array<HANDLE, kHandleCount>& handles) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < kHandleCount; ++i) {
        if (i > 0) {
            if (at >= value.size() || value[at] != '.') return false;
            ++at;
        }
        std::uint32_t number = 0;
        std::size_t digits = 0;
        for (; at < value.size() && value[at] != '.'; ++at, ++digits) {
            const char c = value[at];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0 || digits == 8) return false;
            number = number << 4 | static_cast<std::uint32_t>(digit);
        }
        if (digits == 0 || number == 0) return false;
        handles[i] = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
    }
    return at == value.size();
}

// Registers the component at `path` as the registration tool does: loaded
// with the search starting in its own folder (the system directory) for what
// it imports, then this program's (the same), the Windows directory and PATH.
VerdictRecord Register(const std::wstring& path) {
    using Kind = WorkerVerdict::Kind;
    const UniqueModule component(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!component) return {static_cast<std::uint32_t>(Kind::kNotLoaded), ::GetLastError()};
    using Entry = HRESULT(STDAPICALLTYPE*)();
    const auto entry = Lookup<Entry>(component.get(), "DllRegisterServer");
    if (!entry) return {static_cast<std::uint32_t>(Kind::kNoEntry), 0};
    const HRESULT result = entry();
    if (FAILED(result)) return {static_cast<std::uint32_t>(Kind::kFailed), static_cast<std::uint32_t>(result)};
    return {static_cast<std::uint32_t>(Kind::kRegistered), static_cast<std::uint32_t>(result)};
}

// A component that crashes ends the worker at once with the exception's code
// as its exit code, for the parent to report: no debugger, no box.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* exception) {
    ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// A worker whose run is gone (a deployment tool ended it) ends too, even
// while a registration hangs: nobody would read its verdicts, and it holds
// the component loaded.
DWORD WINAPI EndWithParent(void* parent) {
    ::WaitForSingleObject(static_cast<HANDLE>(parent), INFINITE);
    ::TerminateProcess(::GetCurrentProcess(), kParentGone);
    return 0;
}

// Writes a record back to the run and counts it.
bool Answer(HANDLE verdicts, HANDLE verdictReady, const VerdictRecord& record) {
    return WriteAll(verdicts, &record, sizeof record) && ::ReleaseSemaphore(verdictReady, 1, nullptr);
}

UniqueHandle NewSemaphore(SECURITY_ATTRIBUTES* inherited) {
    return UniqueHandle(::CreateSemaphoreW(inherited, 0, 0x7FFFFFFF, nullptr));
}

bool NotInherited(HANDLE handle) { return ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0) != FALSE; }

}  // namespace

WindowsPlatform::~WindowsPlatform() {
    EndWorker();
    // Every worker has ended, so its program's copy is let go. One that
    // cannot be removed now is a leftover for the next run to remove.
    if (!workerCopy_.empty()) DeleteFileAnyway(FileSystemPath(workerCopy_));
    if (comOk_) ::CoUninitialize();
}

void WindowsPlatform::KillWorker() {
    if (!worker_) return;
    EndOverrunProgram(worker_->process.get());
    worker_.reset();
}

bool WindowsPlatform::StartWorker(const std::string& folder) {
    if (worker_ && worker_->pending == 0) {
        EndWorker();
    } else {
        KillWorker();
    }
    const std::wstring system = Widen(SystemDirectory());
    if (system.empty()) return false;
    if (workerCopy_.empty()) {
        const std::wstring program = workerProgram_.empty() ? ProgramPath() : workerProgram_;
        DWORD error = ERROR_SUCCESS;
        if (!program.empty()) workerCopy_ = win::CopyToTemporary(program, folder, error);
        if (workerCopy_.empty()) return false;
    }

    // Only the worker's ends and the counts are made inheritable; the
    // parent's ends stay here, so that a worker gone breaks the pipes.
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE requestRead = nullptr, requestWrite = nullptr, verdictRead = nullptr, verdictWrite = nullptr;
    if (!::CreatePipe(&requestRead, &requestWrite, nullptr, kPipeSize)) return false;
    UniqueHandle workerRequests(requestRead);
    Worker worker;
    worker.requests.reset(requestWrite);
    if (!::CreatePipe(&verdictRead, &verdictWrite, nullptr, kPipeSize)) return false;
    worker.verdicts.reset(verdictRead);
    UniqueHandle workerVerdicts(verdictWrite);
    worker.requestReady = NewSemaphore(&inherited);
    worker.verdictReady = NewSemaphore(&inherited);
    HANDLE parent = nullptr;
    if (!worker.requestReady || !worker.verdictReady ||
        !::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &parent,
                           SYNCHRONIZE, TRUE, 0)) {
        return false;
    }
    const UniqueHandle parentForWorker(parent);
    if (!::SetHandleInformation(workerRequests.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
        !::SetHandleInformation(workerVerdicts.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
        return false;
    }

    const std::wstring copy = Widen(workerCopy_);
    std::wstring commandLine = L"\"" + copy + L"\" /registration-worker=" +
                               HandleList({workerRequests.get(), workerVerdicts.get(), worker.requestReady.get(),
                                           worker.verdictReady.get(), parent});
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    // No busy cursor, and no standard handles: this run's output (a log the
    // administrator redirected) is not the worker's to write to.
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started{};
    const BOOL ok = ::CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     system.c_str(), &startup, &started);
    // Programs started later (the registration tool) inherit none of them.
    NotInherited(worker.requestReady.get());
    NotInherited(worker.verdictReady.get());
    if (!ok) return false;
    ::CloseHandle(started.hThread);
    worker.process.reset(started.hProcess);
    worker.processId = started.dwProcessId;

    const Handshake handshake{kHandshakeMagic, worker.processId};
    if (!WriteAll(worker.requests.get(), &handshake, sizeof handshake) ||
        !::ReleaseSemaphore(worker.requestReady.get(), 1, nullptr)) {
        worker_ = std::move(worker);
        KillWorker();
        return false;
    }
    worker_ = std::move(worker);
    return true;
}

bool WindowsPlatform::SendToWorker(const std::string& path) {
    if (!worker_) return false;
    const std::wstring file = FileSystemPath(path);
    if (file.empty() || file.size() > kLongestPath) return false;
    ++worker_->pending;
    if (worker_->lost) return true;  // its verdict is kLost, once the earlier ones are read
    const auto length = static_cast<std::uint32_t>(file.size());
    // Counted before it is written: a request longer than the pipe holds is
    // written only as the worker reads it.
    if (::ReleaseSemaphore(worker_->requestReady.get(), 1, nullptr) &&
        WriteAll(worker_->requests.get(), &length, sizeof length) &&
        WriteAll(worker_->requests.get(), file.data(), length * sizeof(wchar_t))) {
        return true;
    }
    // A request cut short cannot be taken back: the worker is lost. Most
    // often it has ended on its own, and its verdicts on the files before
    // are still in their pipe, to be read in order; one still running is
    // ended here, and no file is its fault.
    worker_->lost = true;
    if (::WaitForSingleObject(worker_->process.get(), 0) != WAIT_OBJECT_0) {
        EndOverrunProgram(worker_->process.get());
        worker_->endedHere = true;
    }
    return true;
}

WorkerVerdict WindowsPlatform::WaitForWorker(std::chrono::milliseconds limit) {
    using Kind = WorkerVerdict::Kind;
    if (!worker_ || worker_->pending == 0) return {Kind::kNoWorker, 0};
    const DWORD startTick = ::GetTickCount();
    const auto limitMs = static_cast<DWORD>(limit.count() < 0 ? 0 : limit.count());
    // The records first: a worker that answered and then ended still answered.
    const std::array<HANDLE, 2> waited = {worker_->verdictReady.get(), worker_->process.get()};
    for (;;) {
        const int woken = WaitPumpingMessages(waited, startTick, limitMs);
        if (woken == 0) {
            VerdictRecord record{};
            if (!ReadAll(worker_->verdicts.get(), &record, sizeof record)) break;
            if (record.kind == kStartedRecord && !worker_->started) {
                worker_->started = true;
                continue;
            }
            if (record.kind > static_cast<std::uint32_t>(Kind::kFailed)) break;
            --worker_->pending;
            worker_->started = false;
            return {static_cast<Kind>(record.kind), record.code};
        }
        if (woken == 1) {
            DWORD code = 0;
            if (!::GetExitCodeProcess(worker_->process.get(), &code)) code = ::GetLastError();
            const bool started = worker_->started;
            const bool endedHere = worker_->endedHere;
            worker_.reset();
            if (endedHere) return {Kind::kNoWorker, 0};  // its files are registered again
            return {started ? Kind::kCrashed : Kind::kLost, code};
        }
        KillWorker();
        return {Kind::kTimedOut, 0};
    }
    // A record that cannot be read or makes no sense: the worker is broken.
    KillWorker();
    return {Kind::kCrashed, ERROR_INVALID_DATA};
}

void WindowsPlatform::EndWorker() {
    if (!worker_) return;
    const std::uint32_t nothingMore = 0;
    if (!worker_->lost && ::ReleaseSemaphore(worker_->requestReady.get(), 1, nullptr) &&
        WriteAll(worker_->requests.get(), &nothingMore, sizeof nothingMore)) {
        const HANDLE process = worker_->process.get();
        if (WaitPumpingMessages({&process, 1}, ::GetTickCount(), kEndLimitMs) == 0) {
            worker_.reset();
            return;
        }
    }
    KillWorker();
}

bool WindowsPlatform::ServeAsWorker(const std::string& handshake) {
    std::array<HANDLE, kHandleCount> handles{};
    if (!ParseHandles(handshake, handles)) return false;
    // What a component starts (a process of its own) inherits none of them.
    for (const HANDLE handle : handles) NotInherited(handle);
    const auto [requests, verdicts, requestReady, verdictReady, parent] = handles;
    // Each must be what the parent hands over: the pipes pipes, the parent
    // alive, no verdict counted yet.
    if (::GetFileType(requests) != FILE_TYPE_PIPE || ::GetFileType(verdicts) != FILE_TYPE_PIPE ||
        ::WaitForSingleObject(verdictReady, 0) != WAIT_TIMEOUT || ::WaitForSingleObject(parent, 0) != WAIT_TIMEOUT) {
        return false;
    }
    // The handshake is written before it is counted, so it is there to be
    // peeked at: a pipe that holds nothing must not block the read.
    if (::WaitForSingleObject(requestReady, kHandshakeLimitMs) != WAIT_OBJECT_0) return false;
    DWORD available = 0;
    Handshake received{};
    if (!::PeekNamedPipe(requests, nullptr, 0, nullptr, &available, nullptr) || available < sizeof received ||
        !ReadAll(requests, &received, sizeof received) || received.magic != kHandshakeMagic ||
        received.processId != ::GetCurrentProcessId()) {
        return false;
    }

    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    ::SetUnhandledExceptionFilter(EndOnCrash);
    const UniqueHandle watcher(::CreateThread(nullptr, 0, EndWithParent, parent, 0, nullptr));
    if (!watcher) return false;
    // S_FALSE on the apartment the program's start already entered.
    const bool ole = SUCCEEDED(::OleInitialize(nullptr));
    const std::wstring system = Widen(SystemDirectory());
    if (!system.empty()) ::SetCurrentDirectoryW(system.c_str());
    // Nearly every component imports OLE Automation: kept loaded across them,
    // it is set up once, not again with each component and freed with it.
    const UniqueModule automation(LoadSystemDll(L"oleaut32.dll"));

    const std::array<HANDLE, 2> waited = {requestReady, parent};
    std::wstring path;
    for (;;) {
        if (WaitPumpingMessages(waited, ::GetTickCount(), INFINITE) != 0) break;  // the parent is gone
        std::uint32_t length = 0;
        if (!ReadAll(requests, &length, sizeof length) || length == 0 || length > kLongestPath) break;
        path.assign(length, L'\0');
        if (!ReadAll(requests, path.data(), length * sizeof(wchar_t))) break;
        if (!Answer(verdicts, verdictReady, {kStartedRecord, 0})) break;
        if (!Answer(verdicts, verdictReady, Register(path))) break;
    }
    if (ole) ::OleUninitialize();
    return true;
}

std::string WindowsPlatform::ErrorText(std::uint32_t code) {
    const auto format = [](DWORD message) {
        wchar_t* buffer = nullptr;
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
            message, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        const UniqueLocal owned(buffer);
        return length && buffer ? std::wstring(buffer, length) : std::wstring();
    };
    std::wstring text = format(code);
    // HRESULT_FROM_WIN32's codes are often not in the table themselves.
    if (text.empty() && (code & 0xFFFF0000u) == 0x80070000u) text = format(code & 0xFFFFu);
    // On one line: the line breaks inside become spaces, those at the end go.
    std::wstring line;
    for (const wchar_t c : text) {
        if (c == L'\r' || c == L'\n') {
            if (!line.empty() && line.back() != L' ') line += L' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && (line.back() == L' ' || line.back() == L'\t')) line.pop_back();
    return Narrow(line);
}

}  // namespace tarnwick::win
