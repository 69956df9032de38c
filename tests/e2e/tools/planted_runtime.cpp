// A GCC runtime DLL (libgcc_s_dw2-1.dll) planted in the program's folder: the
// program is linked statically, but GCC's start-up code still looks for this
// DLL by name. If it is ever loaded, it says so.
#include "marker.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) LeaveMarker(instance, L"planted-runtime-loaded.txt");
    return TRUE;
}
