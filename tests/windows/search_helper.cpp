// A DLL a component imports by name, built twice: the genuine one, which the
// worker must find in the system directory, and a planted one, put beside the
// worker's program, which must never be loaded. Each says which it is.
#include <windows.h>

extern "C" __declspec(dllexport) HRESULT HelperAnswer() {
#if defined(TARNWICK_PLANTED_HELPER)
    return static_cast<HRESULT>(0x8004DEADL);
#else
    return S_OK;
#endif
}
