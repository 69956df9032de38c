// A component whose registration reports what the registration worker passes
// on to whatever a component starts: it succeeds only when the worker has no
// standard handles and none of the five handles of its command line
// (/registration-worker=R.V.Q.A.P) would be inherited. Otherwise it returns
// 0x8004AB00 plus a bit for each that would: 1 the standard handles, 2 to 32
// the five in their order, 64 a command line it cannot read.
#include <windows.h>

#include <cwchar>
#include <initializer_list>

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
    unsigned bits = 0;
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = GetStdHandle(which);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) bits |= 1;
    }
    const wchar_t* value = std::wcsstr(GetCommandLineW(), L"/registration-worker=");
    if (!value) return static_cast<HRESULT>(0x8004AB00u | 64);
    value += std::wcslen(L"/registration-worker=");
    for (unsigned i = 0; i < 5; ++i) {
        wchar_t* end = nullptr;
        const unsigned long number = std::wcstoul(value, &end, 16);
        if (end == value) return static_cast<HRESULT>(0x8004AB00u | 64);
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(number)), &flags) &&
            (flags & HANDLE_FLAG_INHERIT)) {
            bits |= 2u << i;
        }
        value = *end == L'.' ? end + 1 : end;
    }
    return bits == 0 ? S_OK : static_cast<HRESULT>(0x8004AB00u | bits);
}
