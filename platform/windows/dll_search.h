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

// Restricts every later DLL load to the system directory. The first thing the
// program does.
void LoadDllsOnlyFromTheSystemDirectory();

// SetDefaultDllDirectories, as found in kernel32.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// LoadDllsOnlyFromTheSystemDirectory's work on a system whose
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
