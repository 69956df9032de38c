// TWABSENT.DLL, which the UNLOADABLE samples import and which no folder the
// loader searches holds, unless a test puts it there to see where the
// registration looks.
extern "C" __declspec(dllexport) int TarnwickAbsent() { return 0; }
