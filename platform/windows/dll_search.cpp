// Restricting the DLL search to the system directory.
#include "platform/windows/dll_search.h"

namespace tarnwick::win {

// Looked up at run time, since Windows before 8 (without its update) lacks
// the function.
void LoadDllsOnlyFromTheSystemDirectory() {
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    using SetDirectory = BOOL(WINAPI*)(LPCWSTR);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");  // not owned
    if (const auto set = Lookup<SetDirectories>(kernel, "SetDefaultDllDirectories")) {
        set(kSearchSystem32);
    } else if (const auto setDirectory = Lookup<SetDirectory>(kernel, "SetDllDirectoryW")) {
        // At least the current directory leaves the search.
        setDirectory(L"");
    }
}

}  // namespace tarnwick::win
