// PlatformServices on Windows.
#include "platform/windows/windows_platform.h"

#include <shellapi.h>

#include <cstdint>
#include <string_view>

#include "installer/ascii.h"
#include "installer/installer.h"
#include "platform/windows/dll_search.h"
#include "platform/windows/main_window.h"
#include "platform/windows/message_loop.h"
#include "platform/windows/unicode.h"
#include "tarnwick_version.h"

namespace tarnwick::win {

std::wstring ParentFolder(const std::wstring& path) {
    const auto slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return {};
    std::wstring folder = path.substr(0, slash);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    return folder;
}

namespace {

// --- Temporary files ---------------------------------------------------------
// Each run names its temporary files after itself, tarnwick-temporary-RUN-N.tmp,
// and an installed file in use that it sets aside tarnwick-replaced-RUN-N.NAME
// (NAME the file's own name); from its first copy on it holds a mutex named
// Global\tarnwick-run-RUN: the system destroys it with the process, however
// that ends. A file whose run has no mutex any more was left by a run that was
// killed or lost its power, or that left it for the restart; one whose run
// still has it is in use. RUN is the process id and the time the process
// started (8 and 16 hex digits), which no other process on the machine shares,
// even after a restart. Global: a run in another session writes into the same
// system directory.

constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::string_view kSetAsidePrefix = "tarnwick-replaced-";
constexpr std::string_view kRunMarkPrefix = "Global\\tarnwick-run-";
constexpr std::size_t kRunLength = 8 + 1 + 16;

std::string ThisRun() {
    FILETIME created{}, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    std::string run;
    AppendHex(run, ::GetCurrentProcessId(), 8);
    run += '-';
    AppendHex(run, (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime, 16);
    return run;
}

// This run's mutex, made before its first temporary file and kept until the
// process ends. False when it cannot be made: a temporary file then could be
// taken for a leftover by another run.
bool MarkThisRun() {
    static const UniqueHandle mark(
        ::CreateMutexW(nullptr, FALSE, Widen(std::string(kRunMarkPrefix) + ThisRun()).c_str()));
    return mark != nullptr;
}

// A new name of this run in `folder`: PREFIX, RUN, "-", a number no earlier
// name of the run had, and `suffix`.
std::string NewName(const std::string& folder, std::string_view prefix, std::string_view suffix) {
    static std::uint32_t last = 0;
    return JoinPath(folder, std::string(prefix) + ThisRun() + "-" + std::to_string(++last) + std::string(suffix));
}

// The run that named the file `name` in lower case (PREFIX RUN-N and the
// rest: ".tmp" for a temporary copy, "." and the file's own name for one set
// aside), as it names its mutex, and the name it had for one set aside; an
// empty run when it is none of this program's files.
struct Named {
    std::string run;
    std::string setAside;
};
Named RunOf(const std::string& name) {
    const bool temporary = name.starts_with(kTemporaryPrefix);
    const std::size_t start = (temporary ? kTemporaryPrefix : kSetAsidePrefix).size();
    if (!temporary && !name.starts_with(kSetAsidePrefix)) return {};
    // RUN is 8 hex digits, "-", 16 hex digits; then "-" and N's digits.
    std::size_t at = start;
    for (; at < name.size() && at < start + kRunLength; ++at) {
        const char c = name[at];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (at == start + 8 ? c != '-' : !hex) return {};
    }
    const std::size_t digits = ++at;
    if (digits > name.size() || name[digits - 1] != '-') return {};
    while (at < name.size() && name[at] >= '0' && name[at] <= '9') ++at;
    const std::string rest = name.substr(at);
    if (at == digits || (temporary ? rest != kTemporarySuffix : rest.size() < 2 || rest[0] != '.')) return {};
    return {name.substr(start, kRunLength), temporary ? std::string() : rest.substr(1)};
}

// Whether the run `run` has ended: its mutex is gone. A mutex that is there
// but may not be opened (another user's run) belongs to a run still going.
bool RunEnded(const std::string& run) {
    const std::wstring name = Widen(std::string(kRunMarkPrefix) + run);
    const UniqueHandle mark(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    const DWORD error = ::GetLastError();
    return !mark && error == ERROR_FILE_NOT_FOUND;
}

// The stream with which Explorer marks every file unpacked from a downloaded
// ZIP as coming from the Internet; it stays out of the system directory.
constexpr const wchar_t* kDownloadMark = L":Zone.Identifier";

// Readies the temporary copy at `temporary` to become the installed file:
// writable, without the download mark, and on the disk, so that the rename
// can never leave the destination's name on data a power cut lost. The error
// of the step that failed, or ERROR_SUCCESS.
DWORD ReadyTemporary(const std::wstring& temporary) {
    // CopyFileW carries the source's read-only flag over; files from a CD or
    // a ZIP often have it, and an installed copy that kept it could never be
    // replaced by a later version.
    if (!::SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL)) return ::GetLastError();
    // A file system without streams has no such name.
    if (!::DeleteFileW((temporary + kDownloadMark).c_str())) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_INVALID_NAME) return error;
    }
    const UniqueHandle file = FileHandle(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !::FlushFileBuffers(file.get())) return ::GetLastError();
    return ERROR_SUCCESS;
}

}  // namespace

void DeleteFileAnyway(const std::wstring& path) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
}

FileResult FileResultFromError(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS: return FileResult::kOk;
        case ERROR_FILE_NOT_FOUND: return FileResult::kFileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DIRECTORY:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME: return FileResult::kPathNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE: return FileResult::kPermissionDenied;
        default: return FileResult::kAccessError;
    }
}

FileResult FailureFromError(DWORD error) {
    const FileResult result = FileResultFromError(error);
    return result == FileResult::kOk ? FileResult::kAccessError : result;
}

std::string WindowsPlatform::SystemDirectory() {
    return Narrow(QueryString([](wchar_t* buffer, DWORD size) {
        // Returns the size needed, with its NUL, when the buffer is too small.
        const UINT length = ::GetSystemDirectoryW(buffer, size);
        return length > size ? size : length;
    }));
}

std::string CopyToTemporary(const std::wstring& from, const std::string& folder, DWORD& error) {
    if (!MarkThisRun()) {
        error = ::GetLastError();
        return {};
    }
    // The name is taken only if free; one left by an earlier copy of this run
    // that could not be removed is passed over.
    std::string temporary;
    std::wstring file;
    error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
        temporary = NewName(folder, kTemporaryPrefix, kTemporarySuffix);
        file = FileSystemPath(temporary);
        error = ::CopyFileW(from.c_str(), file.c_str(), TRUE) ? ERROR_SUCCESS : ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS) error = ERROR_FILE_EXISTS;
    }
    if (error == ERROR_FILE_EXISTS) return {};
    if (error == ERROR_SUCCESS) error = ReadyTemporary(file);
    if (error != ERROR_SUCCESS) {
        DeleteFileAnyway(file);
        return {};
    }
    return temporary;
}

FileMove WindowsPlatform::CopyToTemporary(const std::string& source, const std::string& folder) {
    DWORD error = ERROR_SUCCESS;
    std::string temporary = win::CopyToTemporary(FileSystemPath(source), folder, error);
    if (temporary.empty()) return {FailureFromError(error), {}};
    return {FileResult::kOk, std::move(temporary)};
}

FileResult WindowsPlatform::ReplaceFile(const std::string& from, const std::string& to) {
    const std::wstring destination = FileSystemPath(to);
    // An installed file left read-only by another installer would refuse the
    // rename.
    const DWORD installed = ::GetFileAttributesW(destination.c_str());
    const bool readOnly = installed != INVALID_FILE_ATTRIBUTES && (installed & FILE_ATTRIBUTE_READONLY);
    if (readOnly) ::SetFileAttributesW(destination.c_str(), installed & ~FILE_ATTRIBUTE_READONLY);
    if (::MoveFileExW(FileSystemPath(from).c_str(), destination.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return FileResult::kOk;
    }
    const DWORD error = ::GetLastError();
    if (readOnly) ::SetFileAttributesW(destination.c_str(), installed);
    return FailureFromError(error);
}

FileMove WindowsPlatform::SetAside(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos || !MarkThisRun()) return {FileResult::kAccessError, {}};
    const std::string aside = NewName(path.substr(0, slash), kSetAsidePrefix, "." + path.substr(slash + 1));
    const FileResult moved = RenameFile(path, aside);
    return {moved, moved == FileResult::kOk ? aside : std::string()};
}

FileResult WindowsPlatform::RenameFile(const std::string& from, const std::string& to) {
    if (::MoveFileExW(FileSystemPath(from).c_str(), FileSystemPath(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
        return FileResult::kOk;
    }
    return FailureFromError(::GetLastError());
}

bool WindowsPlatform::RemoveFile(const std::string& path) {
    const std::wstring file = FileSystemPath(path);
    DeleteFileAnyway(file);
    return ::GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES;
}

void WindowsPlatform::Pause(std::chrono::milliseconds time) { ::Sleep(static_cast<DWORD>(time.count())); }

bool IsProtectedBy(SfcIsFileProtectedFunction isProtected, const std::string& path) {
    // Not a file function: the plain path. Any non-zero answer is a yes.
    return isProtected && isProtected(nullptr, Widen(path).c_str()) != FALSE;
}

bool WindowsPlatform::IsProtectedFile(const std::string& path) {
    // Windows Resource Protection's own answer, from the system's sfc.dll
    // (Windows 2000 and later).
    if (!sfcLoaded_) {
        sfc_.reset(LoadSystemDll(L"sfc.dll"));
        sfcLoaded_ = true;
    }
    return IsProtectedBy(Lookup<SfcIsFileProtectedFunction>(sfc_.get(), "SfcIsFileProtected"), path);
}

std::vector<Leftover> WindowsPlatform::LeftoverFiles(const std::string& folder) {
    std::vector<Leftover> left;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(FileSystemPath(JoinPath(folder, "tarnwick-*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return left;
    const UniqueFind searching(search);
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = Narrow(found.cFileName);
        Named named = RunOf(AsciiLower(name));
        if (named.run.empty() || !RunEnded(named.run)) continue;
        // The name it had, as it was spelled.
        if (!named.setAside.empty()) named.setAside = name.substr(name.size() - named.setAside.size());
        left.push_back({JoinPath(folder, name), std::move(named.setAside)});
    } while (::FindNextFileW(search, &found));
    return left;
}

std::wstring ProgramPath() {
    return QueryString([](wchar_t* buffer, DWORD size) {
        // Returns `size` when the path was cut to fit.
        return ::GetModuleFileNameW(nullptr, buffer, size);
    });
}

std::string WindowsPlatform::AppFolder() { return Narrow(ParentFolder(ProgramPath())); }

AppVersion WindowsPlatform::AppVersionNumbers() {
    return {TARNWICK_VERSION_MAJOR, TARNWICK_VERSION_MINOR, TARNWICK_VERSION_PATCH};
}

void WindowsPlatform::DoEvents() {
    PumpWaitingMessages(window_ ? window_->hwnd() : nullptr, programs_);
}

void WindowsPlatform::ShowMessage(const std::string& text, MessageBoxStyle style,
                                  const std::string& title) {
    // No owner: the main window is hidden while the closing report is shown.
    // Topmost, so the registration tool's pop-ups for the last components
    // cannot hide the report that says what failed. MB_SYSTEMMODAL as well:
    // it also means topmost, and Wine honours it where it ignores MB_TOPMOST.
    // With no owner it disables no window.
    ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(title).c_str(),
                  MB_OK | MB_SETFOREGROUND | MB_TOPMOST | MB_SYSTEMMODAL | static_cast<UINT>(style));
}

void WindowsPlatform::AddProgressItem(const std::string& item) {
    if (window_) window_->AddListItem(Widen(item));
}
void WindowsPlatform::ReplaceProgressItem(int index, const std::string& item) {
    if (window_) window_->ReplaceListItem(index, Widen(item));
}
void WindowsPlatform::SetProgressText(const std::string& text) {
    if (window_) window_->SetBarText(Widen(text));
}
void WindowsPlatform::SetNoteText(const std::string& text) {
    if (window_) window_->SetNoteText(Widen(text));
}
void WindowsPlatform::SetCaption(const std::string& text) {
    if (window_) window_->SetCaption(Widen(text));
}
void WindowsPlatform::ShowForm() {
    if (window_) window_->Show();
}
void WindowsPlatform::HideForm() {
    if (window_) window_->Hide();
}

}  // namespace tarnwick::win
