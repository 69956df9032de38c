// What waits for the restart of Windows: file operations Windows carries out
// when it next starts (pending renames, kept by the Session Manager), and
// commands it runs once at the next logon (RunOnce).
#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"

namespace tarnwick::win {
namespace {

constexpr const wchar_t* kSessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kRunOnce = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// The 64-bit view of the registry on 64-bit Windows: the one the logon reads
// RunOnce from with certainty. Elsewhere the flag changes nothing.
constexpr REGSAM kNativeView = KEY_WOW64_64KEY;

// A recorded path as a plain one: without "\??\", and without the "!" that
// marks a rename that replaces.
std::string PlainPath(std::wstring_view recorded) {
    if (recorded.starts_with(L"!")) recorded.remove_prefix(1);
    if (recorded.starts_with(L"\\??\\")) recorded.remove_prefix(4);
    return Narrow(recorded);
}

}  // namespace

std::string WindowsPlatform::RealSystemDirectory() {
    // Fails on 32-bit Windows (ERROR_CALL_NOT_IMPLEMENTED), where the system
    // directory is the real one.
    const std::wstring wow = QueryString([](wchar_t* buffer, DWORD size) {
        const UINT length = ::GetSystemWow64DirectoryW(buffer, size);
        return length > size ? size : length;
    });
    return wow.empty() ? SystemDirectory() : Narrow(wow);
}

bool WindowsPlatform::ScheduleRename(const std::string& from, const std::string& to) {
    // Only the registry is written now; a path that is a file's is kept as
    // it is (the Session Manager reads no "\\?\" form).
    const std::wstring source = Widen(from);
    const std::wstring target = Widen(to);
    return ::MoveFileExW(source.c_str(), to.empty() ? nullptr : target.c_str(),
                         MOVEFILE_DELAY_UNTIL_REBOOT | (to.empty() ? 0 : MOVEFILE_REPLACE_EXISTING)) != FALSE;
}

std::vector<PendingRename> WindowsPlatform::PendingRenames() {
    std::vector<PendingRename> renames;
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
        return renames;
    }
    const UniqueKey key(opened);
    // Windows 10 keeps some in a second value.
    for (const wchar_t* value : {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"}) {
        DWORD type = REG_NONE, bytes = 0;
        if (::RegQueryValueExW(key.get(), value, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
            type != REG_MULTI_SZ) {
            continue;
        }
        std::wstring data(bytes / sizeof(wchar_t) + 2, L'\0');
        bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        if (::RegQueryValueExW(key.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) !=
            ERROR_SUCCESS) {
            continue;
        }
        // Pairs of strings, each ended by a NUL: what, and where to (empty:
        // deleted). The value ends at an empty "what".
        data.resize(bytes / sizeof(wchar_t));
        std::size_t at = 0;
        for (;;) {
            const std::size_t end = data.find(L'\0', at);
            if (end == std::wstring::npos || end == at) break;
            const std::size_t second = data.find(L'\0', end + 1);
            if (second == std::wstring::npos) break;
            renames.push_back({PlainPath(std::wstring_view(data).substr(at, end - at)),
                               PlainPath(std::wstring_view(data).substr(end + 1, second - end - 1))});
            at = second + 1;
        }
    }
    return renames;
}

bool WindowsPlatform::SetRunOnce(const std::string& name, const std::string& command) {
    HKEY opened = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunOnce, 0, nullptr, 0, KEY_SET_VALUE | kNativeView, nullptr, &opened,
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const UniqueKey key(opened);
    const std::wstring text = Widen(command);
    return ::RegSetValueExW(key.get(), Widen(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void WindowsPlatform::RemoveRunOnce(const std::string& name) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_SET_VALUE | kNativeView, &opened) != ERROR_SUCCESS) return;
    const UniqueKey key(opened);
    ::RegDeleteValueW(key.get(), Widen(name).c_str());
}

}  // namespace tarnwick::win
