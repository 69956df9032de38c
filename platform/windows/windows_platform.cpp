// PlatformServices on Windows.
#include "platform/windows/windows_platform.h"

#include <shellapi.h>

#include "platform/windows/main_window.h"
#include "platform/windows/message_loop.h"
#include "platform/windows/unicode.h"
#include "tarnwick_version.h"

namespace tarnwick::win {
namespace {

// Calls `query(buffer, size)` (a Win32 function that returns the length it
// wrote, or the size it needs when the buffer is too small) with a growing
// buffer. Empty when the call fails.
template <typename Query>
std::wstring QueryString(Query query) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = query(buffer.data(), size);
        if (length == 0) return {};
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// The folder that holds `path`; a drive root keeps its backslash, since "C:"
// alone means the current folder of drive C.
std::wstring ParentFolder(const std::wstring& path) {
    const auto slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return {};
    std::wstring folder = path.substr(0, slash);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    return folder;
}

// Removes a file that may have been left read-only.
void DeleteFileAnyway(const std::wstring& path) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
}

}  // namespace

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

std::string WindowsPlatform::SystemDirectory() {
    return Narrow(QueryString([](wchar_t* buffer, DWORD size) {
        // Returns the size needed, with its NUL, when the buffer is too small.
        const UINT length = ::GetSystemDirectoryW(buffer, size);
        return length > size ? size : length;
    }));
}

FileResult WindowsPlatform::CopyFileTo(const std::string& source, const std::string& destination) {
    const std::wstring from = Widen(source);
    const std::wstring to = Widen(destination);

    // Copy beside the destination first, then put the copy in its place with
    // a rename: the destination is either the old file or the whole new one.
    wchar_t temporary[MAX_PATH];
    if (::GetTempFileNameW(ParentFolder(to).c_str(), L"tnw", 0, temporary) == 0) {
        return FileResultFromError(::GetLastError());
    }
    if (!::CopyFileW(from.c_str(), temporary, FALSE)) {
        const DWORD error = ::GetLastError();
        DeleteFileAnyway(temporary);
        return FileResultFromError(error);
    }
    // Files from a CD or a ZIP are often read-only; an installed copy that
    // kept the flag could never be replaced by a later version. An installed
    // file left read-only by another installer would refuse the rename.
    ::SetFileAttributesW(temporary, FILE_ATTRIBUTE_NORMAL);
    const DWORD installed = ::GetFileAttributesW(to.c_str());
    const bool readOnly = installed != INVALID_FILE_ATTRIBUTES && (installed & FILE_ATTRIBUTE_READONLY);
    if (readOnly) ::SetFileAttributesW(to.c_str(), installed & ~FILE_ATTRIBUTE_READONLY);
    if (!::MoveFileExW(temporary, to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        if (readOnly) ::SetFileAttributesW(to.c_str(), installed);
        DeleteFileAnyway(temporary);
        return FileResultFromError(error);
    }
    return FileResult::kOk;
}

bool WindowsPlatform::IsProtectedFile(const std::string&) { return false; }

void WindowsPlatform::RemoveLeftoverTemporaryFiles(const std::string&) {}

std::string WindowsPlatform::AppFolder() {
    const std::wstring program = QueryString([](wchar_t* buffer, DWORD size) {
        // Returns `size` when the path was cut to fit.
        return ::GetModuleFileNameW(nullptr, buffer, size);
    });
    return Narrow(ParentFolder(program));
}

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
    // cannot hide the report that says what failed.
    ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(title).c_str(),
                  MB_OK | MB_SETFOREGROUND | MB_TOPMOST | static_cast<UINT>(style));
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
