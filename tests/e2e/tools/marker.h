// Planted stand-ins prove they were used by leaving a marker file beside
// themselves that names the program that used them.
#pragma once

#include <windows.h>

#include <string>

#include "platform/windows/handles.h"

inline std::wstring FolderOf(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

inline void LeaveMarker(HMODULE self, const wchar_t* name) {
    wchar_t program[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    const auto file = tarnwick::win::FileHandle(::CreateFileW(
        (FolderOf(self) + name).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
    if (!file) return;
    DWORD written = 0;
    ::WriteFile(file.get(), program, length * sizeof(wchar_t), &written, nullptr);
    ::WriteFile(file.get(), L"\r\n", 2 * sizeof(wchar_t), &written, nullptr);
}
