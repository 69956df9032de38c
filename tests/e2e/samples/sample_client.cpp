// Proves that sample components are registered and loadable: creates each
// named component's object through COM, the way a program using it would, and
// reports per name. Exits 0 only when every one was created.
//
//   sample-client.exe all | NAME...
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <string_view>
#include <vector>

#include "sample_clsid.h"
#include "sample_names.h"  // generated: TARNWICK_SAMPLE_NAMES

namespace {

constexpr std::wstring_view kStandardNames[] = {TARNWICK_SAMPLE_NAMES};

constexpr int kAllCreated = 0;
constexpr int kSomeFailed = 1;
constexpr int kCannotRun = 2;

bool Create(std::wstring_view name) {
    IUnknown* object = nullptr;
    const HRESULT hr = CoCreateInstance(tarnwick::samples::ClsidFor(name), nullptr,
                                        CLSCTX_INPROC_SERVER, IID_IUnknown,
                                        reinterpret_cast<void**>(&object));
    const auto length = static_cast<int>(name.size());
    if (FAILED(hr)) {
        std::wprintf(L"%.*ls failed 0x%08lX\n", length, name.data(), static_cast<unsigned long>(hr));
        return false;
    }
    object->Release();
    std::wprintf(L"%.*ls created\n", length, name.data());
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fwprintf(stderr, L"usage: sample-client all | NAME...\n");
        return kCannotRun;
    }
    std::vector<std::wstring_view> names(argv + 1, argv + argc);
    if (argc == 2 && names[0] == L"all") names.assign(std::begin(kStandardNames), std::end(kStandardNames));

    // Apartment-threaded, as the samples register themselves.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        std::fwprintf(stderr, L"CoInitializeEx failed 0x%08lX\n", static_cast<unsigned long>(hr));
        return kCannotRun;
    }
    bool all_created = true;
    for (const std::wstring_view name : names) all_created = Create(name) && all_created;
    CoUninitialize();
    return all_created ? kAllCreated : kSomeFailed;
}
