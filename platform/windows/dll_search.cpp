// Restricting the DLL search to the system directory.
#include "platform/windows/dll_search.h"

#include <array>
#include <string>

#include "platform/windows/windows_platform.h"

namespace tarnwick::win {
namespace {

// What the shell (ShellExecuteEx), COM, Common Controls 6 and its visual
// styles, the security and profile code under them, and the protection query
// load by name, on Windows XP to 7. KnownDLLs need no help; a name missing
// from a version of Windows is passed over. Not comctl32: the manifest steers
// it to the side-by-side copy.
constexpr std::array kLoadedAhead = {
    L"uxtheme.dll",  L"dwmapi.dll",  L"propsys.dll", L"cryptbase.dll", L"cryptsp.dll",  L"rsaenh.dll",
    L"userenv.dll",  L"profapi.dll", L"setupapi.dll", L"apphelp.dll",  L"oleacc.dll",   L"clbcatq.dll",
    L"ntmarta.dll",  L"version.dll", L"comres.dll",  L"sfc.dll",       L"sfc_os.dll",   L"wtsapi32.dll",
    L"winsta.dll",   L"sspicli.dll", L"secur32.dll", L"msimg32.dll",   L"linkinfo.dll", L"ntshrui.dll",
    L"srvcli.dll",   L"cscapi.dll",  L"mpr.dll",     L"shfolder.dll",
};

}  // namespace

std::span<const wchar_t* const> DllsLoadedAhead() { return kLoadedAhead; }

HMODULE LoadSystemDll(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    // The altered search order starts in the DLL's own folder, not the
    // program's, for the DLLs it imports.
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void RestrictDllSearch(SetDefaultDllDirectoriesFunction setDefaultDirectories) {
    constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (setDefaultDirectories) {
        setDefaultDirectories(kSearchSystem32);
        return;
    }
    // At least the current directory leaves the search.
    using SetDirectory = BOOL(WINAPI*)(LPCWSTR);
    if (const auto setDirectory = Lookup<SetDirectory>(::GetModuleHandleW(L"kernel32.dll"), "SetDllDirectoryW")) {
        setDirectory(L"");
    }
    // The program's folder stays first in the search; what is already loaded
    // is not searched for. Never freed. A DLL that fails to load must not stop
    // the program with the system's error box.
    const UINT errorMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    for (const wchar_t* name : kLoadedAhead) LoadSystemDll(name);
    ::SetErrorMode(errorMode);
}

bool RunsFromTheSystemDirectory() {
    const std::wstring folder = ParentFolder(ProgramPath());
    // A 32-bit program started from the system directory on 64-bit Windows
    // may be told either name of it. Compared without regard to case, in no
    // user's language.
    const auto is = [&folder](UINT (WINAPI *query)(LPWSTR, UINT)) {
        wchar_t system[MAX_PATH];
        const UINT size = query(system, MAX_PATH);
        return size > 0 && size < MAX_PATH && !folder.empty() &&
               ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, folder.c_str(), static_cast<int>(folder.size()),
                                system, static_cast<int>(size)) == CSTR_EQUAL;
    };
    return is(::GetSystemDirectoryW) || is(::GetSystemWow64DirectoryW);
}

// SetDefaultDllDirectories is looked up at run time, since Windows before 8
// (without its update) lacks it. A test build may act as such a Windows does.
void SecureDllSearch() {
    if (RunsFromTheSystemDirectory()) return;
#if defined(TARNWICK_WITHOUT_SAFE_DLL_SEARCH)
    RestrictDllSearch(nullptr);
#else
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");  // not owned
    RestrictDllSearch(Lookup<SetDefaultDllDirectoriesFunction>(kernel, "SetDefaultDllDirectories"));
#endif
}

}  // namespace tarnwick::win
