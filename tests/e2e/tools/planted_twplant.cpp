// TWPLANT.DLL, which a component loads by its bare name while it registers,
// built twice: one planted in the program's folder, which must never be
// loaded, and a genuine one put where the registration tool would find it
// (the Windows directory, a folder of PATH), which must be. Each says when it
// is loaded.
#include "marker.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
#if defined(TARNWICK_GENUINE_TWPLANT)
    if (reason == DLL_PROCESS_ATTACH) LeaveMarker(instance, L"genuine-twplant-loaded.txt");
#else
    if (reason == DLL_PROCESS_ATTACH) LeaveMarker(instance, L"planted-twplant-loaded.txt");
#endif
    return TRUE;
}
