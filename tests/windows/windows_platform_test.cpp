// The Windows binding's system operations, for real: files copied between real
// folders, version resources read from DLLs built for these tests, programs
// started through the shell. Runs under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/windows/handles.h"
#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"

namespace tarnwick::win {
namespace {

std::wstring ThisFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path, length);
    return program.substr(0, program.find_last_of(L'\\'));
}

void WriteFile(const std::wstring& path, const std::string& content) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << content;
}

std::string ReadFile(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::wstring> FolderListing(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

void RemoveTree(const std::wstring& folder) {
    for (const std::wstring& name : FolderListing(folder)) {
        const std::wstring path = folder + L"\\" + name;
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::DeleteFileW(path.c_str())) RemoveTree(path);
    }
    ::RemoveDirectoryW(folder.c_str());
}

// A scratch folder with a source and a destination folder, removed afterwards.
class WindowsPlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        root_ = std::wstring(temp) + L"tarnwick-test-" + std::to_wstring(::GetCurrentProcessId());
        from_ = root_ + L"\\from";
        to_ = root_ + L"\\to";
        ASSERT_TRUE(::CreateDirectoryW(root_.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(from_.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(to_.c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(root_); }

    FileResult Copy(const std::wstring& source, const std::wstring& destination) {
        return platform_.CopyFileTo(Narrow(source), Narrow(destination));
    }

    WindowsPlatform platform_;
    std::wstring root_, from_, to_;
};

TEST_F(WindowsPlatformTest, CopiesWholeFilesAndReplacesTheDestination) {
    std::string big(300000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    WriteFile(from_ + L"\\A.OCX", big);
    WriteFile(to_ + L"\\A.OCX", "old");

    EXPECT_EQ(Copy(from_ + L"\\A.OCX", to_ + L"\\A.OCX"), FileResult::kOk);
    EXPECT_EQ(ReadFile(to_ + L"\\A.OCX"), big);
    EXPECT_EQ(FolderListing(to_), std::vector<std::wstring>{L"A.OCX"});  // no temporary left
}

TEST_F(WindowsPlatformTest, AReadOnlySourceGivesAReplaceableCopy) {
    WriteFile(from_ + L"\\A.OCX", "new");
    ::SetFileAttributesW((from_ + L"\\A.OCX").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(Copy(from_ + L"\\A.OCX", to_ + L"\\A.OCX"), FileResult::kOk);
    EXPECT_FALSE(::GetFileAttributesW((to_ + L"\\A.OCX").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Copy(from_ + L"\\A.OCX", to_ + L"\\A.OCX"), FileResult::kOk);

    // An installed copy left read-only by someone else is replaced too.
    WriteFile(to_ + L"\\B.OCX", "old");
    ::SetFileAttributesW((to_ + L"\\B.OCX").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Copy(from_ + L"\\A.OCX", to_ + L"\\B.OCX"), FileResult::kOk);
    EXPECT_EQ(ReadFile(to_ + L"\\B.OCX"), "new");
}

TEST_F(WindowsPlatformTest, FailedCopiesSayWhyAndLeaveNothingBehind) {
    WriteFile(from_ + L"\\A.OCX", "new");
    WriteFile(to_ + L"\\A.OCX", "old");

    EXPECT_EQ(Copy(from_ + L"\\MISSING.OCX", to_ + L"\\A.OCX"), FileResult::kFileNotFound);
    EXPECT_EQ(Copy(from_ + L"\\A.OCX", root_ + L"\\nowhere\\A.OCX"), FileResult::kPathNotFound);
    {
        // Held open without sharing, as by a program that has it in use.
        UniqueHandle held = FileHandle(::CreateFileW((to_ + L"\\A.OCX").c_str(), GENERIC_READ | GENERIC_WRITE,
                                                     0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(Copy(from_ + L"\\A.OCX", to_ + L"\\A.OCX"), FileResult::kPermissionDenied);
    }
    EXPECT_EQ(ReadFile(to_ + L"\\A.OCX"), "old");
    EXPECT_EQ(FolderListing(to_), std::vector<std::wstring>{L"A.OCX"});
}

TEST_F(WindowsPlatformTest, ReadsTheFileVersionOfABuiltDll) {
    const std::wstring fixtures = ThisFolder() + L"\\fixtures";
    const FileVersionQuery versioned = platform_.GetFileVersion(Narrow(fixtures + L"\\VERSIONED.DLL"));
    EXPECT_EQ(versioned.result, FileResult::kOk);
    ASSERT_TRUE(versioned.version.has_value());
    EXPECT_EQ(*versioned.version, (FileVersion{1, 2, 3, 4}));

    const FileVersionQuery plain = platform_.GetFileVersion(Narrow(fixtures + L"\\UNVERSIONED.DLL"));
    EXPECT_EQ(plain.result, FileResult::kOk);
    EXPECT_FALSE(plain.version.has_value());

    WriteFile(from_ + L"\\TEXT.OCX", "not a program");
    EXPECT_EQ(platform_.GetFileVersion(Narrow(from_ + L"\\TEXT.OCX")).result, FileResult::kOk);
    EXPECT_FALSE(platform_.GetFileVersion(Narrow(from_ + L"\\TEXT.OCX")).version.has_value());
    EXPECT_EQ(platform_.GetFileVersion(Narrow(from_ + L"\\NONE.OCX")).result, FileResult::kFileNotFound);
    EXPECT_EQ(platform_.GetFileVersion(Narrow(root_ + L"\\nowhere\\NONE.OCX")).result,
              FileResult::kPathNotFound);
}

TEST_F(WindowsPlatformTest, WorksInFoldersOutsideTheAnsiCodePage) {
    // Cyrillic, CJK and accented letters.
    const std::wstring folder = root_ + L"\\\x041f\x0440\x043e\x0433\x0440\x0430\x043c\x043c\x0430 "
                                        L"\x8a2d\x5b9a \x00e9t\x00e9";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW((ThisFolder() + L"\\fixtures\\VERSIONED.DLL").c_str(),
                            (folder + L"\\VERSIONED.DLL").c_str(), FALSE));
    const FileVersionQuery query = platform_.GetFileVersion(Narrow(folder + L"\\VERSIONED.DLL"));
    ASSERT_TRUE(query.version.has_value());
    EXPECT_EQ(query.version->major, 1);
    EXPECT_EQ(Copy(folder + L"\\VERSIONED.DLL", to_ + L"\\VERSIONED.DLL"), FileResult::kOk);
    EXPECT_EQ(ReadFile(to_ + L"\\VERSIONED.DLL"), ReadFile(folder + L"\\VERSIONED.DLL"));
}

TEST_F(WindowsPlatformTest, SystemDirectoryAndProgramFolder) {
    const std::string system = platform_.SystemDirectory();
    ASSERT_FALSE(system.empty());
    EXPECT_NE(system.back(), '\\');
    EXPECT_TRUE(Exists(Widen(system) + L"\\kernel32.dll"));
    EXPECT_TRUE(Exists(Widen(system) + L"\\regsvr32.exe"));
    EXPECT_EQ(_wcsicmp(Widen(system).c_str(), L"C:\\windows\\system32"), 0);

    const std::string folder = platform_.AppFolder();
    EXPECT_EQ(Widen(folder), ThisFolder());
    EXPECT_NE(folder.back(), '\\');
    EXPECT_TRUE(Exists(Widen(folder) + L"\\fixtures"));
}

TEST(FileResultTest, NamesTheErrorsTheUserIsToldAbout) {
    EXPECT_EQ(FileResultFromError(ERROR_FILE_NOT_FOUND), FileResult::kFileNotFound);
    EXPECT_EQ(FileResultFromError(ERROR_PATH_NOT_FOUND), FileResult::kPathNotFound);
    for (DWORD denied : std::initializer_list<DWORD>{ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
                                                     ERROR_LOCK_VIOLATION, ERROR_USER_MAPPED_FILE}) {
        EXPECT_EQ(FileResultFromError(denied), FileResult::kPermissionDenied) << denied;
    }
    EXPECT_EQ(FileResultFromError(ERROR_DISK_FULL), FileResult::kAccessError);
}

}  // namespace
}  // namespace tarnwick::win
