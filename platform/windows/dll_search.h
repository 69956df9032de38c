// Where the program's DLLs come from. It runs with administrator rights from
// whatever folder it was unpacked into, often Downloads: no DLL may be loaded
// from there.
#pragma once

#include <windows.h>

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

}  // namespace tarnwick::win
