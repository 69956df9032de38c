// The check's read-only operations under Wine, in a 64-bit prefix: which file
// a path names under its many spellings, the classes' registry values in this
// 32-bit program's view, type libraries and imports read from built fixtures.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "installer/ascii.h"
#include "platform/windows/handles.h"
#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"
#include "scratch.h"

namespace tarnwick::win {
namespace {

using namespace scratch;
using Kind = FileIdentity::Kind;

class InstalledFilesTest : public ScratchTest {
protected:
    InstalledFilesTest() : ScratchTest(L"tarnwick-installed-") {}

    FileIdentity Identify(const std::wstring& path) { return platform_.IdentifyFile(Narrow(path)); }

    WindowsPlatform platform_;
};

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.kind == Kind::kFile && b.kind == Kind::kFile && a.volume == b.volume && a.index == b.index;
}

// Wine's own answer for where a DOS path is on the Unix side, as Z:\...
std::wstring UnixDrivePath(const std::wstring& path) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return {};
    char* name = unixName(path.c_str());
    if (!name) return {};
    std::wstring result = L"Z:" + Widen(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    std::replace(result.begin(), result.end(), L'/', L'\\');
    return result;
}

TEST_F(InstalledFilesTest, OneFileUnderEverySpellingIsTheSameFile) {
    // The system directory as this 32-bit program sees it is SysWOW64.
    const std::wstring windows = Widen(platform_.WindowsDirectory());
    const FileIdentity redirected = Identify(windows + L"\\system32\\kernel32.dll");
    ASSERT_EQ(redirected.kind, Kind::kFile);
    EXPECT_TRUE(SameFile(redirected, Identify(windows + L"\\SysWOW64\\kernel32.dll")));
    EXPECT_TRUE(SameFile(redirected, Identify(L"C:\\WINDOWS\\SYSWOW64\\KERNEL32.DLL")));
    EXPECT_TRUE(SameFile(redirected, Identify(Widen(platform_.SystemDirectory()) + L"\\kernel32.dll")));
    EXPECT_FALSE(SameFile(redirected, Identify(windows + L"\\SysWOW64\\user32.dll")));

    const std::wstring path = root_ + L"\\A File With A Long Name.dll";
    WriteFile(path, "content");
    const FileIdentity file = Identify(path);
    ASSERT_EQ(file.kind, Kind::kFile);
    wchar_t shortName[MAX_PATH];
    const DWORD length = ::GetShortPathNameW(path.c_str(), shortName, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_NE(std::wstring(shortName, length), path);
    EXPECT_TRUE(SameFile(file, Identify(std::wstring(shortName, length))));
    std::wstring upper = path;
    ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    ASSERT_NE(upper, path);
    EXPECT_TRUE(SameFile(file, Identify(upper)));
    const std::wstring unix = UnixDrivePath(path);
    ASSERT_FALSE(unix.empty());
    EXPECT_TRUE(SameFile(file, Identify(unix)));

    // A copy of the same bytes is another file; and a path deeper than
    // MAX_PATH is reached.
    const std::wstring copy = root_ + L"\\copy.dll";
    WriteFile(copy, "content");
    EXPECT_FALSE(SameFile(file, Identify(copy)));
    std::wstring deep = root_;
    while (deep.size() < MAX_PATH + 20) {
        deep += L"\\a-folder-forty-characters-long-or-nearly";
        ASSERT_TRUE(::CreateDirectoryW(Long(deep).c_str(), nullptr));
    }
    WriteFile(deep + L"\\deep.dll", "content");
    const FileIdentity deepFile = Identify(deep + L"\\deep.dll");
    EXPECT_EQ(deepFile.kind, Kind::kFile);
    EXPECT_FALSE(SameFile(file, deepFile));
}

TEST_F(InstalledFilesTest, FoldersMissingFilesAndFilesInUse) {
    EXPECT_EQ(Identify(root_).kind, Kind::kFolder);
    EXPECT_EQ(Identify(root_ + L"\\none.dll").kind, Kind::kMissing);
    EXPECT_EQ(Identify(root_ + L"\\no folder\\none.dll").kind, Kind::kMissing);
    EXPECT_EQ(Identify(L"").kind, Kind::kMissing);

    // Held open by another program without any sharing: still identified.
    const std::wstring path = root_ + L"\\held.dll";
    WriteFile(path, "content");
    const FileIdentity free = Identify(path);
    const UniqueHandle held = HoldWithoutSharing(path);
    ASSERT_TRUE(held);
    EXPECT_TRUE(SameFile(free, Identify(path)));
}

TEST_F(InstalledFilesTest, TheWindowsDirectoryAndTheEnvironment) {
    wchar_t windows[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(platform_.WindowsDirectory(), Narrow(std::wstring(windows, length)));

    const std::wstring longValue(5000, L'v');
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TARNWICK_TEST_LONG", longValue.c_str()));
    EXPECT_EQ(platform_.EnvironmentVariable("TARNWICK_TEST_LONG"), Narrow(longValue));
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TARNWICK_TEST_SHORT", L"\u00e9t\u00e9"));
    EXPECT_EQ(platform_.EnvironmentVariable("TARNWICK_TEST_SHORT"), "\xc3\xa9t\xc3\xa9");
    ::SetEnvironmentVariableW(L"TARNWICK_TEST_LONG", nullptr);
    EXPECT_EQ(platform_.EnvironmentVariable("TARNWICK_TEST_LONG"), "");
}

// --- The classes' registry ---------------------------------------------------

constexpr const wchar_t* kUserClassKey = L"Software\\Classes\\CLSID\\{5B1F7C3E-2A64-4D0B-9C8E-71A3D5E2F406}";
constexpr const char* kUserClass = "CLSID\\{5B1F7C3E-2A64-4D0B-9C8E-71A3D5E2F406}";
// In the 64-bit view (KEY_WOW64_64KEY), the 32-bit classes are under
// Wow6432Node.
constexpr const wchar_t* kClass32Key =
    L"Software\\Classes\\Wow6432Node\\CLSID\\{5B1F7C3F-2A64-4D0B-9C8E-71A3D5E2F406}";
constexpr const wchar_t* kClass64Key = L"Software\\Classes\\CLSID\\{5B1F7C40-2A64-4D0B-9C8E-71A3D5E2F406}";

void SetDefault(HKEY root, const std::wstring& key, DWORD type, const void* data, DWORD bytes,
                REGSAM view = 0) {
    HKEY created = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &created,
                                nullptr),
              ERROR_SUCCESS);
    const UniqueKey owner(created);
    if (data) {
        ASSERT_EQ(::RegSetValueExW(created, nullptr, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
    }
}

void SetString(HKEY root, const std::wstring& key, DWORD type, const std::wstring& text, REGSAM view = 0) {
    SetDefault(root, key, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), view);
}

// Removes `key` and everything under it.
void RemoveKey(HKEY root, const std::wstring& key, REGSAM view = 0) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | DELETE | view, &opened) != ERROR_SUCCESS) return;
    {
        const UniqueKey owner(opened);
        wchar_t name[256];
        DWORD length = 256;
        while (::RegEnumKeyExW(opened, 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            RemoveKey(root, key + L"\\" + std::wstring(name, length), view);
            length = 256;
        }
    }
    using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    const auto deleteKeyEx = reinterpret_cast<DeleteKeyEx>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
    if (view && deleteKeyEx) {
        deleteKeyEx(root, key.c_str(), view, 0);
    } else {
        ::RegDeleteKeyW(root, key.c_str());
    }
}

class ClassesTest : public ::testing::Test {
protected:
    void TearDown() override {
        RemoveKey(HKEY_CURRENT_USER, kUserClassKey);
        RemoveKey(HKEY_LOCAL_MACHINE, kClass32Key, KEY_WOW64_64KEY);
        RemoveKey(HKEY_LOCAL_MACHINE, kClass64Key, KEY_WOW64_64KEY);
    }

    RegistryString User(const std::string& subkey) {
        return platform_.ReadClassesValue(ClassesHive::kUserClasses, std::string(kUserClass) + subkey);
    }

    WindowsPlatform platform_;
};

TEST_F(ClassesTest, ReadsEachKindOfDefaultValue) {
    const std::wstring key = kUserClassKey;
    const std::wstring longText(MAX_PATH * 3, L'x');
    SetString(HKEY_CURRENT_USER, key, REG_SZ, L"plain \u00e9");
    SetString(HKEY_CURRENT_USER, key + L"\\InprocServer32", REG_EXPAND_SZ, L"%SystemRoot%\\x.dll");
    const DWORD number = 7;
    SetDefault(HKEY_CURRENT_USER, key + L"\\Number", REG_DWORD, &number, sizeof number);
    SetString(HKEY_CURRENT_USER, key + L"\\Empty", REG_SZ, L"");
    SetString(HKEY_CURRENT_USER, key + L"\\Long", REG_SZ, longText);
    SetDefault(HKEY_CURRENT_USER, key + L"\\NoDefault", REG_SZ, nullptr, 0);
    // Written without its NUL, and with an odd byte after its last character.
    SetDefault(HKEY_CURRENT_USER, key + L"\\Unterminated", REG_SZ, L"abc", 3 * sizeof(wchar_t));
    SetDefault(HKEY_CURRENT_USER, key + L"\\Odd", REG_SZ, L"abcd", 3 * sizeof(wchar_t) + 1);
    // Longer than any path: refused rather than cut.
    SetString(HKEY_CURRENT_USER, key + L"\\Huge", REG_SZ, std::wstring(40000, L'h'));

    const RegistryString plain = User("");
    EXPECT_EQ(plain.kind, RegistryString::Kind::kString);
    EXPECT_EQ(plain.text, "plain \xc3\xa9");
    const RegistryString expanded = User("\\InprocServer32");
    EXPECT_EQ(expanded.kind, RegistryString::Kind::kString);
    EXPECT_EQ(expanded.text, platform_.EnvironmentVariable("SystemRoot") + "\\x.dll");
    EXPECT_EQ(User("\\Number").kind, RegistryString::Kind::kNotString);
    const RegistryString empty = User("\\Empty");
    EXPECT_EQ(empty.kind, RegistryString::Kind::kString);
    EXPECT_EQ(empty.text, "");
    const RegistryString longValue = User("\\Long");
    EXPECT_EQ(longValue.kind, RegistryString::Kind::kString);
    EXPECT_EQ(longValue.text, Narrow(longText));
    EXPECT_EQ(User("\\NoDefault").kind, RegistryString::Kind::kMissing);
    EXPECT_EQ(User("\\Unterminated").text, "abc");
    EXPECT_EQ(User("\\Odd").text, "abc");
    EXPECT_EQ(User("\\Huge").kind, RegistryString::Kind::kNotString);
    EXPECT_EQ(User("\\Absent").kind, RegistryString::Kind::kMissing);

    std::vector<std::string> subkeys = platform_.ClassesSubkeys(ClassesHive::kUserClasses, kUserClass);
    std::sort(subkeys.begin(), subkeys.end());
    EXPECT_EQ(subkeys, (std::vector<std::string>{"Empty", "Huge", "InprocServer32", "Long", "NoDefault", "Number",
                                                 "Odd", "Unterminated"}));
    EXPECT_TRUE(platform_.ClassesSubkeys(ClassesHive::kUserClasses, std::string(kUserClass) + "\\Absent").empty());
    EXPECT_TRUE(platform_.ClassesSubkeys(ClassesHive::kUserClasses, std::string(kUserClass) + "\\Empty").empty());
}

TEST_F(ClassesTest, TheClassesRootIsThe32BitView) {
    // A class Wine registers for 32-bit programs: the standard font object.
    const std::string font = "CLSID\\{0BE35203-8F91-11CE-9DE3-00AA004BB851}";
    wchar_t registered[MAX_PATH];
    DWORD bytes = sizeof registered;
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                              L"Software\\Classes\\Wow6432Node\\CLSID\\{0BE35203-8F91-11CE-9DE3-00AA004BB851}"
                              L"\\InprocServer32",
                              0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    const UniqueKey owner(key);
    ASSERT_EQ(::RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(registered), &bytes),
              ERROR_SUCCESS);
    const RegistryString server = platform_.ReadClassesValue(ClassesHive::kClassesRoot, font + "\\InprocServer32");
    EXPECT_EQ(server.kind, RegistryString::Kind::kString);
    EXPECT_EQ(server.text, Narrow(registered));
    const std::vector<std::string> classes = platform_.ClassesSubkeys(ClassesHive::kClassesRoot, "CLSID");
    EXPECT_GT(classes.size(), 100u);
    EXPECT_NE(std::find(classes.begin(), classes.end(), "{0BE35203-8F91-11CE-9DE3-00AA004BB851}"), classes.end());

    // A class registered for 32-bit programs only is seen; one registered for
    // 64-bit programs only is not.
    SetString(HKEY_LOCAL_MACHINE, kClass32Key, REG_SZ, L"thirty-two", KEY_WOW64_64KEY);
    SetString(HKEY_LOCAL_MACHINE, kClass64Key, REG_SZ, L"sixty-four", KEY_WOW64_64KEY);
    const RegistryString seen =
        platform_.ReadClassesValue(ClassesHive::kClassesRoot, "CLSID\\{5B1F7C3F-2A64-4D0B-9C8E-71A3D5E2F406}");
    EXPECT_EQ(seen.kind, RegistryString::Kind::kString);
    EXPECT_EQ(seen.text, "thirty-two");
    EXPECT_EQ(platform_.ReadClassesValue(ClassesHive::kClassesRoot, "CLSID\\{5B1F7C40-2A64-4D0B-9C8E-71A3D5E2F406}")
                  .kind,
              RegistryString::Kind::kMissing);
    EXPECT_EQ(platform_.ReadClassesValue(ClassesHive::kClassesRoot, "CLSID\\{5B1F7C41-2A64-4D0B-9C8E-71A3D5E2F406}")
                  .kind,
              RegistryString::Kind::kMissing);
}

// --- Type libraries and imports ----------------------------------------------

TEST_F(InstalledFilesTest, ReadsATypeLibraryAsAFileAndFromADll) {
    for (const wchar_t* name : {L"typelib_fixture.tlb", L"TYPELIB.DLL"}) {
        SCOPED_TRACE(Narrow(name));
        const TypeLibraryQuery query = platform_.ReadTypeLibrary(Narrow(Fixture(name)));
        ASSERT_TRUE(query.loaded) << std::hex << query.error;
        EXPECT_EQ(query.libid, "{6A0C1D52-93B4-4E0A-8F21-5C7E2B9D4A10}");
        EXPECT_EQ(query.major, 1);
        EXPECT_EQ(query.minor, 2);
        EXPECT_EQ(query.lcid, 0u);
        ASSERT_EQ(query.classes.size(), 2u);
        EXPECT_EQ(query.classes[0].clsid, "{6A0C1D54-93B4-4E0A-8F21-5C7E2B9D4A10}");
        EXPECT_TRUE(query.classes[0].creatable);
        EXPECT_EQ(query.classes[1].clsid, "{6A0C1D55-93B4-4E0A-8F21-5C7E2B9D4A10}");
        EXPECT_FALSE(query.classes[1].creatable);
    }
}

TEST_F(InstalledFilesTest, FilesWithoutATypeLibrary) {
    const std::wstring text = root_ + L"\\text.dll";
    WriteFile(text, "not a type library\r\n");
    for (const std::wstring& path : {text, Fixture(L"genuine\\twhelper.dll"), root_ + L"\\none.dll",
                                     root_ + L"\\no folder\\none.tlb"}) {
        SCOPED_TRACE(Narrow(path));
        const TypeLibraryQuery query = platform_.ReadTypeLibrary(Narrow(path));
        EXPECT_FALSE(query.loaded);
        EXPECT_NE(query.error, 0u);
        EXPECT_TRUE(query.classes.empty());
    }
    // A bare name would be searched for in the current and the program's
    // folders: refused.
    const TypeLibraryQuery bare = platform_.ReadTypeLibrary("typelib_fixture.tlb");
    EXPECT_FALSE(bare.loaded);
    EXPECT_EQ(bare.error, static_cast<std::uint32_t>(E_INVALIDARG));
}

bool Imports(const std::vector<std::string>& names, const std::string& dll) {
    return std::any_of(names.begin(), names.end(),
                       [&dll](const std::string& name) { return AsciiLower(name) == dll; });
}

TEST_F(InstalledFilesTest, ReadsImportsFromTheFile) {
    const ImportQuery importer = platform_.GetImports(Narrow(Fixture(L"importer\\IMPORTER.DLL")));
    EXPECT_EQ(importer.result, FileResult::kOk);
    EXPECT_TRUE(importer.readable) << importer.why;
    EXPECT_TRUE(Imports(importer.imports, "twhelper.dll"));
    EXPECT_TRUE(Imports(importer.imports, "kernel32.dll"));
    EXPECT_FALSE(Imports(importer.imports, "user32.dll"));

    const std::wstring text = root_ + L"\\text.dll";
    WriteFile(text, "not a program\r\n");
    const ImportQuery notProgram = platform_.GetImports(Narrow(text));
    EXPECT_EQ(notProgram.result, FileResult::kOk);
    EXPECT_FALSE(notProgram.readable);
    EXPECT_FALSE(notProgram.why.empty());

    EXPECT_EQ(platform_.GetImports(Narrow(root_ + L"\\none.dll")).result, FileResult::kFileNotFound);
    EXPECT_EQ(platform_.GetImports(Narrow(root_ + L"\\no folder\\none.dll")).result, FileResult::kPathNotFound);
    const std::wstring held = root_ + L"\\held.dll";
    ASSERT_TRUE(::CopyFileW(Fixture(L"importer\\IMPORTER.DLL").c_str(), held.c_str(), FALSE));
    const UniqueHandle holding = HoldWithoutSharing(held);
    ASSERT_TRUE(holding);
    const ImportQuery inUse = platform_.GetImports(Narrow(held));
    EXPECT_EQ(inUse.result, FileResult::kPermissionDenied);
    EXPECT_FALSE(inUse.readable);
}

}  // namespace
}  // namespace tarnwick::win
