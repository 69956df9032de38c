// UTF-8 <-> UTF-16 conversion with the system's own converters.
#include "platform/windows/unicode.h"

#include <windows.h>

namespace tarnwick::win {

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int size = static_cast<int>(utf16.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::wstring FileSystemPath(std::string_view path) {
    std::wstring wide = Widen(path);
    // Less than MAX_PATH with room for the 8.3 name a folder operation adds.
    constexpr std::size_t kShortEnough = MAX_PATH - 12;
    if (wide.size() < kShortEnough || wide.starts_with(L"\\\\?\\")) return wide;
    // The long form takes no "." or ".." and no forward slashes.
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    if (wide.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + wide.substr(2);
    return L"\\\\?\\" + wide;
}

}  // namespace tarnwick::win
