// A version.dll planted in the program's folder. Wine's own user32 imports
// version.dll, so with a native override every GUI program there maps this
// file; it forwards every call to the real functions and leaves a marker only
// when the call comes from the main program's own code.
#include "marker.h"

namespace {

HMODULE self = nullptr;

bool CalledFromMainProgram(const void* returnAddress) {
    const auto* base = reinterpret_cast<const unsigned char*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto* address = static_cast<const unsigned char*>(returnAddress);
    return address >= base && address < base + nt->OptionalHeader.SizeOfImage;
}

template <typename Function>
Function Real(const char* name) {
    HMODULE kernelbase = ::GetModuleHandleW(L"kernelbase.dll");  // not owned
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(kernelbase, name)));
}

void Check(const void* returnAddress) {
    if (CalledFromMainProgram(returnAddress)) LeaveMarker(self, L"planted-version-used.txt");
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) self = instance;
    return TRUE;
}

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle) {
    Check(__builtin_return_address(0));
    return Real<DWORD(WINAPI*)(LPCWSTR, LPDWORD)>("GetFileVersionInfoSizeW")(file, handle);
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD size, LPVOID data) {
    Check(__builtin_return_address(0));
    return Real<BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID)>("GetFileVersionInfoW")(file, handle, size, data);
}

BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length) {
    Check(__builtin_return_address(0));
    return Real<BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT)>("VerQueryValueW")(block, subBlock, buffer, length);
}

}  // extern "C"
