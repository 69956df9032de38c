// A component whose registration is the answer of the DLL it imports, so a
// test learns which copy of that DLL the registration worker loaded.
#include <windows.h>

extern "C" __declspec(dllimport) HRESULT HelperAnswer();

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() { return HelperAnswer(); }
