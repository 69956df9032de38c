// The Windows binding's system operations, for real: files copied between real
// folders (some deeper than MAX_PATH), leftover temporary files, the
// protection query, the DLLs loaded ahead, version resources read from DLLs
// built for these tests. Runs under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "installer/ascii.h"
#include "platform/windows/dll_search.h"
#include "platform/windows/handles.h"
#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"
#include "scratch.h"

namespace tarnwick::win {
namespace {

using namespace scratch;

// A scratch folder with a source and a destination folder, removed afterwards.
class WindowsPlatformTest : public ScratchTest {
protected:
    WindowsPlatformTest() : ScratchTest(L"tarnwick-test-") {}
    void SetUp() override {
        ScratchTest::SetUp();
        from_ = root_ + L"\\from";
        to_ = root_ + L"\\to";
        ASSERT_TRUE(::CreateDirectoryW(from_.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(to_.c_str(), nullptr));
    }

    // A copy as the install makes one: beside the destination, then renamed
    // into its place.
    FileResult Copy(const std::wstring& source, const std::wstring& destination) {
        const std::string to = Narrow(destination);
        const FileMove copy = platform_.CopyToTemporary(Narrow(source), to.substr(0, to.find_last_of('\\')));
        if (copy.result != FileResult::kOk) return copy.result;
        const FileResult placed = platform_.ReplaceFile(copy.path, to);
        if (placed != FileResult::kOk) {
            EXPECT_TRUE(platform_.RemoveFile(copy.path)) << copy.path;
        }
        return placed;
    }
    // Removes what LeftoverFiles finds in `folder`.
    void RemoveLeftovers(const std::string& folder) {
        for (const Leftover& left : platform_.LeftoverFiles(folder)) {
            EXPECT_TRUE(platform_.RemoveFile(left.path));
        }
    }

    WindowsPlatform platform_;
    std::wstring from_, to_;
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
    // The destination in use, and a source that cannot be read.
    for (const std::wstring& held : {to_ + L"\\A.OCX", from_ + L"\\A.OCX"}) {
        const UniqueHandle holding = HoldWithoutSharing(held);
        ASSERT_TRUE(holding);
        EXPECT_EQ(Copy(from_ + L"\\A.OCX", to_ + L"\\A.OCX"), FileResult::kPermissionDenied) << Narrow(held);
    }
    EXPECT_EQ(ReadFile(to_ + L"\\A.OCX"), "old");
    EXPECT_EQ(FolderListing(to_), std::vector<std::wstring>{L"A.OCX"});
}

TEST_F(WindowsPlatformTest, CopiesBetweenFoldersDeeperThanMaxPath) {
    std::wstring deep = root_;
    for (int i = 0; i < 8; ++i) {
        deep += L"\\a folder of forty characters, eight deep";
        ASSERT_TRUE(::CreateDirectoryW(Long(deep).c_str(), nullptr));
    }
    ASSERT_GT(deep.size(), 300u);
    const std::wstring from = deep + L"\\from", to = deep + L"\\to";
    ASSERT_TRUE(::CreateDirectoryW(Long(from).c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(Long(to).c_str(), nullptr));
    WriteFile(from + L"\\A.OCX", "new");
    WriteFile(to + L"\\A.OCX", "old");

    EXPECT_EQ(Copy(from + L"\\A.OCX", to + L"\\A.OCX"), FileResult::kOk);
    EXPECT_EQ(ReadFile(to + L"\\A.OCX"), "new");
    EXPECT_EQ(Copy(from + L"\\A.OCX", to + L"\\B.OCX"), FileResult::kOk);
    EXPECT_EQ(ReadFile(to + L"\\B.OCX"), "new");
    EXPECT_EQ(FolderListing(to), (std::vector<std::wstring>{L"A.OCX", L"B.OCX"}));
    EXPECT_EQ(Copy(from + L"\\MISSING.OCX", to + L"\\A.OCX"), FileResult::kFileNotFound);

    // A leftover there is found too.
    WriteFile(to + L"\\tarnwick-temporary-00000001-0000000000000001-1.tmp", "left");
    RemoveLeftovers(Narrow(to));
    EXPECT_EQ(FolderListing(to), (std::vector<std::wstring>{L"A.OCX", L"B.OCX"}));
}

// The name of run RUN's temporary file N, and of the mutex it holds while it
// lives: the names every run of the program, of any version, must agree on.
std::wstring TemporaryOf(const std::wstring& run, int n) {
    return L"tarnwick-temporary-" + run + L"-" + std::to_wstring(n) + L".tmp";
}
std::wstring MarkOf(const std::wstring& run) { return L"Global\\tarnwick-run-" + run; }

// This very process's run: its id and start time in hex.
std::wstring ThisRun() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    wchar_t run[32];
    swprintf(run, 32, L"%08lx-%08lx%08lx", ::GetCurrentProcessId(), created.dwHighDateTime, created.dwLowDateTime);
    return run;
}

TEST_F(WindowsPlatformTest, RemovesOnlyTheLeftoversOfRunsThatEnded) {
    const std::wstring ended = L"00000abc-01dc0123456789ab";  // no mutex: killed long ago
    const std::wstring going = L"00000def-01dc0123456789ab";
    UniqueHandle goingMark(::CreateMutexW(nullptr, FALSE, MarkOf(going).c_str()));
    ASSERT_TRUE(goingMark);

    WriteFile(to_ + L"\\" + TemporaryOf(ended, 1), "partial");
    WriteFile(to_ + L"\\" + TemporaryOf(ended, 27), "whole");
    // Killed before its read-only flag was cleared.
    ::SetFileAttributesW((to_ + L"\\" + TemporaryOf(ended, 27)).c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFile(to_ + L"\\" + TemporaryOf(going, 1), "being written");
    // Other programs' files, and names that are not quite this program's.
    const std::vector<std::wstring> others = {
        L"A.OCX", L"tnw1A2B.tmp", L"tarnwick-temporary-notes.tmp", L"tarnwick-temporary-00000abc-1.tmp",
        TemporaryOf(ended, 1) + L".bak", L"tarnwick-temporary-00000abc-01dc0123456789ab-.tmp",
        L"tarnwick-temporary-00000abc-01dc0123456789ag-1.tmp", L"tarnwick-temporary-00000abc+01dc0123456789ab-1.tmp",
        L"x" + TemporaryOf(ended, 2)};
    for (const std::wstring& name : others) WriteFile(to_ + L"\\" + name, "other");
    ASSERT_TRUE(::CreateDirectoryW((to_ + L"\\" + TemporaryOf(ended, 3)).c_str(), nullptr));

    RemoveLeftovers(Narrow(to_));
    std::vector<std::wstring> kept = others;
    kept.push_back(TemporaryOf(going, 1));
    kept.push_back(TemporaryOf(ended, 3));
    std::vector<std::wstring> listed = FolderListing(to_);
    std::sort(kept.begin(), kept.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, kept);
    EXPECT_EQ(ReadFile(to_ + L"\\" + TemporaryOf(going, 1)), "being written");

    // Once that run has ended, its file is a leftover too.
    goingMark.reset();
    RemoveLeftovers(Narrow(to_) + "\\");
    EXPECT_FALSE(Exists(to_ + L"\\" + TemporaryOf(going, 1)));
    EXPECT_EQ(FolderListing(to_).size(), others.size() + 1);
}

TEST_F(WindowsPlatformTest, ACopyMarksItsRunAsGoing) {
    // Another run started meanwhile must not take this run's temporary file
    // for a leftover.
    WriteFile(from_ + L"\\A.OCX", "new");
    ASSERT_EQ(Copy(from_ + L"\\A.OCX", to_ + L"\\A.OCX"), FileResult::kOk);
    const UniqueHandle mark(::OpenMutexW(SYNCHRONIZE, FALSE, MarkOf(ThisRun()).c_str()));
    EXPECT_TRUE(mark);
    WriteFile(to_ + L"\\" + TemporaryOf(ThisRun(), 1000), "being written");
    RemoveLeftovers(Narrow(to_));
    EXPECT_TRUE(Exists(to_ + L"\\" + TemporaryOf(ThisRun(), 1000)));
}

TEST_F(WindowsPlatformTest, NoFileIsProtectedUnderWine) {
    // The query itself runs (sfc.dll is there and answers); Wine protects
    // nothing, so an install never keeps a file on its word.
    const std::wstring system = Widen(platform_.SystemDirectory());
    ASSERT_TRUE(Exists(system + L"\\sfc.dll"));
    EXPECT_FALSE(platform_.IsProtectedFile(Narrow(system + L"\\kernel32.dll")));
    EXPECT_FALSE(platform_.IsProtectedFile(Narrow(system + L"\\SCRRUN.DLL")));
    EXPECT_FALSE(platform_.IsProtectedFile(Narrow(to_ + L"\\NONE.OCX")));
}

// What the protection query was asked, and its forced answer.
struct ProtectionQuery {
    static inline std::vector<std::wstring> asked;
    static inline std::vector<HANDLE> handles;
    static inline BOOL answer = TRUE;
    static BOOL WINAPI Ask(HANDLE rpc, LPCWSTR path) {
        handles.push_back(rpc);
        asked.emplace_back(path);
        return answer;
    }
};

TEST(ProtectedFileTest, TheQuerysYesIsTakenAndItIsAskedAboutThePlainPath) {
    ProtectionQuery::asked.clear();
    ProtectionQuery::handles.clear();
    // A non-ASCII name, and one deeper than MAX_PATH: the query is no file
    // function and gets the path as given, without the \\?\ prefix.
    const std::string scrrun = "C:\\windows\\system32\\SCRRUN.DLL";
    const std::string deep = "C:\\" + std::string(300, 'a') + "\\\xc3\xa9t\xc3\xa9.ocx";
    ProtectionQuery::answer = TRUE;
    EXPECT_TRUE(IsProtectedBy(&ProtectionQuery::Ask, scrrun));
    ProtectionQuery::answer = 2;  // any non-zero BOOL is a yes
    EXPECT_TRUE(IsProtectedBy(&ProtectionQuery::Ask, deep));
    ProtectionQuery::answer = FALSE;
    EXPECT_FALSE(IsProtectedBy(&ProtectionQuery::Ask, scrrun));
    EXPECT_EQ(ProtectionQuery::asked,
              (std::vector<std::wstring>{Widen(scrrun), L"C:\\" + std::wstring(300, L'a') + L"\\\x00e9t\x00e9.ocx",
                                         Widen(scrrun)}));
    EXPECT_EQ(ProtectionQuery::handles, std::vector<HANDLE>(3, nullptr));
    // Without the query, nothing is protected.
    EXPECT_FALSE(IsProtectedBy(nullptr, scrrun));
}

TEST(DllSearchTest, WithoutSetDefaultDllDirectoriesTheSystemsDllsAreLoadedAhead) {
    RestrictDllSearch(nullptr);
    wchar_t folder[MAX_PATH];
    const std::wstring system(folder, ::GetSystemDirectoryW(folder, MAX_PATH));
    int loaded = 0;
    for (const wchar_t* name : DllsLoadedAhead()) {
        const std::wstring path = system + L"\\" + name;
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        const HMODULE module = ::GetModuleHandleW(name);
        ASSERT_TRUE(module) << Narrow(name) << " is not loaded";
        wchar_t from[MAX_PATH];
        const std::wstring loadedFrom(from, ::GetModuleFileNameW(module, from, MAX_PATH));
        EXPECT_EQ(_wcsicmp(loadedFrom.c_str(), path.c_str()), 0) << Narrow(name) << " from " << Narrow(loadedFrom);
        ++loaded;
    }
    // Wine has nearly all of them.
    EXPECT_GE(loaded, 20);
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
    ASSERT_TRUE(::CopyFileW(Fixture(L"VERSIONED.DLL").c_str(),
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

TEST_F(WindowsPlatformTest, SetsAsideAFileInUseAndFindsWhatEndedRunsSetAside) {
    // A DLL a program has loaded is renamed aside under this run's name.
    ASSERT_TRUE(::CopyFileW(Fixture(L"VERSIONED.DLL").c_str(), (to_ + L"\\A.OCX").c_str(), FALSE));
    const UniqueModule loaded(::LoadLibraryW((to_ + L"\\A.OCX").c_str()));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(platform_.ReplaceFile(Narrow(to_ + L"\\A.OCX"), Narrow(to_ + L"\\B.OCX")), FileResult::kOk);
    const FileMove aside = platform_.SetAside(Narrow(to_ + L"\\B.OCX"));
    ASSERT_EQ(aside.result, FileResult::kOk);
    const std::string prefix = Narrow(to_ + L"\\tarnwick-replaced-" + ThisRun() + L"-");
    EXPECT_TRUE(aside.path.starts_with(prefix) && aside.path.ends_with(".B.OCX")) << aside.path;
    EXPECT_TRUE(Exists(Widen(aside.path)));
    EXPECT_FALSE(Exists(to_ + L"\\B.OCX"));
    // This run's own is no leftover; an ended run's are, with the name they had.
    EXPECT_TRUE(platform_.LeftoverFiles(Narrow(to_)).empty());
    const std::wstring ended = L"00000abc-01dc0123456789ab";
    for (const std::wstring& name :
         {L"tarnwick-replaced-" + ended + L"-3.MSINET.OCX", L"Tarnwick-Replaced-" + ended + L"-12.Hhctrl.ocx",
          L"tarnwick-replaced-" + ended + L"-3", L"tarnwick-replaced-" + ended + L"-3.",
          L"tarnwick-replaced-" + ended + L"-.MSINET.OCX", L"tarnwick-replaced-" + ended + L"-3x.MSINET.OCX",
          std::wstring(L"tarnwick-replaced-00000abc-01dc0123456789ag-3.MSINET.OCX")}) {
        WriteFile(to_ + L"\\" + name, "left");
    }
    std::vector<std::string> found;
    for (const Leftover& left : platform_.LeftoverFiles(Narrow(to_))) found.push_back(left.path + " " + left.setAside);
    std::sort(found.begin(), found.end());
    const std::string folder = Narrow(to_) + "\\";
    EXPECT_EQ(found, (std::vector<std::string>{
                         folder + "Tarnwick-Replaced-" + Narrow(ended) + "-12.Hhctrl.ocx Hhctrl.ocx",
                         folder + "tarnwick-replaced-" + Narrow(ended) + "-3.MSINET.OCX MSINET.OCX"}));
}

TEST(RestartTest, WhatIsRecordedForTheRestartIsReadBack) {
    WindowsPlatform platform;
    // A 32-bit program in a 64-bit prefix: the real folder is syswow64.
    const std::string real = platform.RealSystemDirectory();
    EXPECT_TRUE(SameText(real.substr(real.size() - 9), "\\syswow64")) << real;
    const std::string from = real + "\\tarnwick-temporary-test.tmp", to = real + "\\TESTED.OCX";
    const std::string gone = real + "\\tarnwick-replaced-test.TESTED.OCX";
    ASSERT_TRUE(platform.ScheduleRename(from, to));
    ASSERT_TRUE(platform.ScheduleRename(gone, ""));
    int seen = 0;
    for (const PendingRename& rename : platform.PendingRenames()) {
        seen += SameText(rename.from, from) && SameText(rename.to, to);
        seen += SameText(rename.from, gone) && rename.to.empty();
    }
    EXPECT_EQ(seen, 2);

    // RunOnce, in the 64-bit view, where every logon reads it.
    ASSERT_TRUE(platform.SetRunOnce("Tarnwick test", "\"C:\\x.exe\" /s"));
    const auto read = [] {
        HKEY key = nullptr;
        wchar_t value[64] = {};
        DWORD bytes = sizeof value;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0,
                            KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
            return std::wstring(L"(no key)");
        }
        const UniqueKey owned(key);
        if (::RegQueryValueExW(key, L"Tarnwick test", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes) !=
            ERROR_SUCCESS) {
            return std::wstring(L"(none)");
        }
        return std::wstring(value);
    };
    EXPECT_EQ(read(), L"\"C:\\x.exe\" /s");
    platform.RemoveRunOnce("Tarnwick test");
    EXPECT_EQ(read(), L"(none)");
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
