// TWPLANT.DLL planted in the program's folder: a component loads a DLL of
// this name by its bare name while it registers. If this copy is ever loaded,
// it says so.
#include "marker.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) LeaveMarker(instance, L"planted-twplant-loaded.txt");
    return TRUE;
}
