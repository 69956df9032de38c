// What the binding's tests under Wine share: the test program's folder, a
// scratch folder of their own (any depth), and files held the way other
// programs hold them.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/windows/handles.h"
#include "platform/windows/unicode.h"

namespace tarnwick::win::scratch {

inline std::wstring ThisFolder() {
    wchar_t path[MAX_PATH];
    const std::wstring program(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    return program.substr(0, program.find_last_of(L'\\'));
}

// The files built beside the test program: VERSIONED.DLL, UNVERSIONED.DLL,
// broadcaster.exe.
inline std::wstring Fixture(const wchar_t* name) { return ThisFolder() + L"\\fixtures\\" + name; }

// Paths of any length, as the program itself passes them.
inline std::wstring Long(const std::wstring& path) { return FileSystemPath(Narrow(path)); }

inline void WriteFile(const std::wstring& path, const std::string& content) {
    std::ofstream(std::filesystem::path(Long(path)), std::ios::binary) << content;
}

inline std::string ReadFile(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(Long(path)), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::vector<std::wstring> FolderListing(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(Long(folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    const UniqueFind searching(search);
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    return names;
}

inline void RemoveTree(const std::wstring& folder) {
    for (const std::wstring& name : FolderListing(folder)) {
        const std::wstring path = folder + L"\\" + name;
        ::SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::DeleteFileW(Long(path).c_str())) RemoveTree(path);
    }
    ::RemoveDirectoryW(Long(folder).c_str());
}

// `path` opened with `access` and no sharing at all, as a program that has
// the file in use holds it.
inline UniqueHandle HoldWithoutSharing(const std::wstring& path, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return FileHandle(::CreateFileW(Long(path).c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

// Cuts or extends the open `file` to `size` bytes (extended with zeros).
inline void Resize(HANDLE file, LONGLONG size) {
    LARGE_INTEGER end;
    end.QuadPart = size;
    ASSERT_TRUE(::SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(file));
}

// A test's own folder in the temporary folder, named `stem` and the process
// id, made for each test and removed after it.
class ScratchTest : public ::testing::Test {
protected:
    explicit ScratchTest(const wchar_t* stem) : stem_(stem) {}
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        root_ = std::wstring(temp) + stem_ + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(::CreateDirectoryW(root_.c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(root_); }

    std::wstring root_;

private:
    const wchar_t* stem_;
};

}  // namespace tarnwick::win::scratch
