// A minimal self-registering in-process COM server, built once under each
// component name Tarnwick installs, so the end-to-end tests copy and register
// real servers of our own making. It registers its embedded type library and
// its two creatable classes, both bare IUnknown objects; the type library's
// third class is noncreatable and never registered.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include <cstddef>
#include <cwchar>

#include "sample_build.h"  // generated per build: TARNWICK_SAMPLE_NAME
#include "sample_clsid.h"

// The image this code is linked into; its own path is what gets registered.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// The identifiers of sample_typelib.idl, which CMake derives from the name:
// the same last eight bytes, the third part telling them apart.
constexpr unsigned char kHash[8] = {TARNWICK_SAMPLE_HASH_BYTES};
constexpr GUID Derived(unsigned short third) {
    GUID guid{0x5441524E, 0x5749, third, {}};
    for (int i = 0; i < 8; ++i) guid.Data4[i] = kHash[i];
    return guid;
}
constexpr CLSID kClasses[] = {Derived(0x4B43), Derived(0x4B44)};  // the creatable ones
constexpr GUID kLibid = Derived(0x4C42);
constexpr WORD kLibMajor = 1;
constexpr WORD kLibMinor = 0;

// The client finds the first class by ClsidFor: CMake's hash must be the same.
constexpr bool SameGuid(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
static_assert(SameGuid(kClasses[0], tarnwick::samples::ClsidFor(L"" TARNWICK_SAMPLE_NAME)),
              "tarnwick_sample_ids and ClsidFor disagree");

#if defined(TARNWICK_SAMPLE_REGISTRATION_UNLOADABLE)
// In TWABSENT.DLL, which exists nowhere: the loader refuses this file.
extern "C" __declspec(dllimport) int TarnwickAbsent();
#elif defined(TARNWICK_SAMPLE_REGISTRATION_DEEP_IMPORT)
// In TWMIDDLE.DLL, which imports TWABSENT.DLL: the loader refuses this file
// for a DLL it finds missing only one level further down.
extern "C" __declspec(dllimport) int TarnwickMiddle();
#elif defined(TARNWICK_SAMPLE_REGISTRATION_LEAVES_THREAD)
// A thread of this file's code that outlives its registration, as a real
// component's timer or cache thread may: it wakes after the file has been
// freed, returns into code that is no longer there, and faults.
DWORD WINAPI Leftover(void*) {
    Sleep(500);
    return 0;
}
#endif

// Live objects plus outstanding factory references and locks: while any remain,
// the DLL must stay loaded.
LONG g_server_refs = 0;

class SampleObject final : public IUnknown {
public:
    // COM's allocator rather than the C++ runtime's, whose exception machinery
    // would otherwise be linked into every sample. Non-throwing: a failed
    // allocation makes the new-expression yield null.
    static void* operator new(std::size_t size) noexcept { return CoTaskMemAlloc(size); }
    static void operator delete(void* memory) { CoTaskMemFree(memory); }

    SampleObject() { InterlockedIncrement(&g_server_refs); }
    ~SampleObject() { InterlockedDecrement(&g_server_refs); }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid != IID_IUnknown) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }

private:
    LONG refs_ = 1;
};

// One static factory; its references count as server references instead of
// owning its lifetime.
class Factory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&g_server_refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&g_server_refs); }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* object = new SampleObject;
        if (object == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(riid, out);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) AddRef(); else Release();
        return S_OK;
    }
};

Factory g_factory;

// A class's keys under HKEY_CLASSES_ROOT.
struct Keys {
    wchar_t clsid[48];   // CLSID\{...}
    wchar_t inproc[64];  // CLSID\{...}\InprocServer32
    explicit Keys(const CLSID& id) {
        wcscpy(clsid, L"CLSID\\");
        StringFromGUID2(id, clsid + wcslen(clsid), 39);
        wcscat(wcscpy(inproc, clsid), L"\\InprocServer32");
    }
};

HRESULT FromWin32(LSTATUS status) { return HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

LSTATUS SetString(HKEY key, const wchar_t* name, const wchar_t* value) {
    const auto bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
}

}  // namespace

STDAPI DllRegisterServer() {
    // The ways a real component's registration goes wrong, for the tests.
#if defined(TARNWICK_SAMPLE_REGISTRATION_FAILS)
    return SELFREG_E_CLASS;
#elif defined(TARNWICK_SAMPLE_REGISTRATION_DENIED)
    return E_ACCESSDENIED;
#elif defined(TARNWICK_SAMPLE_REGISTRATION_UNLOADABLE)
    // Never reached; the call keeps the import in the file.
    if (TarnwickAbsent() != 0) return E_UNEXPECTED;
#elif defined(TARNWICK_SAMPLE_REGISTRATION_DEEP_IMPORT)
    // Never reached, as above.
    if (TarnwickMiddle() != 0) return E_UNEXPECTED;
#elif defined(TARNWICK_SAMPLE_REGISTRATION_CRASHES)
    RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return E_UNEXPECTED;
#elif defined(TARNWICK_SAMPLE_REGISTRATION_HANGS)
    Sleep(INFINITE);
    return E_UNEXPECTED;
#elif defined(TARNWICK_SAMPLE_REGISTRATION_LEAVES_THREAD)
    if (HANDLE thread = CreateThread(nullptr, 0, Leftover, nullptr, 0, nullptr)) CloseHandle(thread);
#elif defined(TARNWICK_SAMPLE_REGISTRATION_LOADS_BY_NAME)
    // A DLL loaded by its bare name while registering, as real components
    // load their helpers and resources: wherever the loader looks first.
    if (HMODULE helper = LoadLibraryW(L"TWPLANT.DLL")) FreeLibrary(helper);
#endif
    // Room for the longest path Windows allows: a truncated path would register
    // a file that does not exist.
    constexpr DWORD kMaxPath = 32768;
    wchar_t path[kMaxPath];
    const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, kMaxPath);
    if (length == 0 || length >= kMaxPath) return SELFREG_E_CLASS;
#if defined(TARNWICK_SAMPLE_REGISTRATION_ELSEWHERE)
    // A registration that succeeds but names another file, as one made from
    // another copy of the component does.
    const wchar_t* const registered = L"C:\\elsewhere\\" TARNWICK_SAMPLE_NAME;
#else
    const wchar_t* const registered = path;
#endif

    // The type library from this very file, registered for the path the
    // classes get.
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    hr = RegisterTypeLib(library, const_cast<wchar_t*>(registered), nullptr);
    library->Release();
    if (FAILED(hr)) return hr;

    for (const CLSID& id : kClasses) {
        const Keys keys(id);
        HKEY key = nullptr;
        LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, keys.inproc, 0, nullptr, 0,
                                         KEY_SET_VALUE, nullptr, &key, nullptr);
        if (status == ERROR_SUCCESS) {
            status = SetString(key, nullptr, registered);
            if (status == ERROR_SUCCESS) status = SetString(key, L"ThreadingModel", L"Apartment");
            RegCloseKey(key);
        }
        if (status != ERROR_SUCCESS) {
            // Half a registration would point COM at a server it cannot load.
            DllUnregisterServer();
            return FromWin32(status);
        }
    }
    return S_OK;
}

STDAPI DllUnregisterServer() {
    HRESULT result = S_OK;
    for (const CLSID& id : kClasses) {
        const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, Keys(id).clsid);
        // Already absent is the state asked for.
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = FromWin32(status);
    }
    const HRESULT hr = UnRegisterTypeLib(kLibid, kLibMajor, kLibMinor, 0, SYS_WIN32);
    if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_LIBNOTREGISTERED) result = hr;
    return result;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (clsid != kClasses[0] && clsid != kClasses[1]) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, out);
}

STDAPI DllCanUnloadNow() { return g_server_refs == 0 ? S_OK : S_FALSE; }
