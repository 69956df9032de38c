// Where the program's DLLs come from. It runs with administrator rights from
// whatever folder it was unpacked into, often Downloads: no DLL may be loaded
// from there.
#pragma once

#include <windows.h>

#include <span>

namespace tarnwick::win {

// `module`'s function `name` as a `Function`, or null where it is missing.
template <typename Function>
Function Lookup(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                  : nullptr;
}

// Keeps every later DLL load out of the program's own folder, unless that
// folder is the system directory (the registration worker's copy of the
// program runs there): then the loader's ordinary search is the registration
// tool's own (the system directory, the Windows directory, PATH) and is kept
// as it is, so that a component finds what it loads by name where that tool
// would find it. The first thing the program does.
void SecureDllSearch();

// Whether this program's own folder is the system directory (or, on 64-bit
// Windows, the 32-bit one), which only administrators can write.
bool RunsFromTheSystemDirectory();

// SetDefaultDllDirectories, as found in kernel32.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// SecureDllSearch's work, elsewhere than in the system directory, on a system whose
// SetDefaultDllDirectories is `setDefaultDirectories`, or lacks it (null).
void RestrictDllSearch(SetDefaultDllDirectoriesFunction setDefaultDirectories);

// The DLLs that the shell, COM, the common controls and the theme engine load
// by name later on, which the system would look for in the program's folder
// first where it lacks SetDefaultDllDirectories. There they are loaded
// beforehand from the system directory, so that a later load by name finds
// them loaded.
std::span<const wchar_t* const> DllsLoadedAhead();

// Loads the system directory's DLL `name` by its full path, with the DLLs it
// imports also looked for there first; to be freed by the caller. Null when
// it is missing or cannot be loaded.
HMODULE LoadSystemDll(const wchar_t* name);

}  // namespace tarnwick::win
