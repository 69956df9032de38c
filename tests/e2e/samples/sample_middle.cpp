// TWMIDDLE.DLL: a DLL that exists, imported by DEEP_IMPORT samples, which
// itself imports TWABSENT.DLL, which exists nowhere. A component importing it
// cannot be loaded for a DLL missing one level below its own imports.

// In TWABSENT.DLL.
extern "C" __declspec(dllimport) int TarnwickAbsent();

extern "C" __declspec(dllexport) int TarnwickMiddle() { return TarnwickAbsent(); }
