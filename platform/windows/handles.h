// One-line owners for each kind of Windows handle the program keeps.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace tarnwick::win {

template <auto Close>
struct Closer {
    template <typename T>
    void operator()(T handle) const noexcept {
        Close(handle);
    }
};

template <typename Handle, auto Close>
using Unique = std::unique_ptr<std::remove_pointer_t<Handle>, Closer<Close>>;

using UniqueHandle = Unique<HANDLE, ::CloseHandle>;   // kernel objects; never INVALID_HANDLE_VALUE
using UniqueModule = Unique<HMODULE, ::FreeLibrary>;
using UniqueFont = Unique<HFONT, ::DeleteObject>;
using UniqueGdiObject = Unique<HGDIOBJ, ::DeleteObject>;
using UniqueMemoryDc = Unique<HDC, ::DeleteDC>;     // from CreateCompatibleDC
using UniqueWindow = Unique<HWND, ::DestroyWindow>;  // top-level windows; children go with them
using UniqueFind = Unique<HANDLE, ::FindClose>;      // FindFirstFileW's result, when valid
using UniqueLocal = Unique<HLOCAL, ::LocalFree>;     // a buffer FormatMessageW allocated
using UniqueKey = Unique<HKEY, ::RegCloseKey>;       // an opened registry key

// A screen device context, released to the screen.
struct ScreenDcReleaser {
    void operator()(HDC dc) const noexcept { ::ReleaseDC(nullptr, dc); }
};
using UniqueScreenDc = std::unique_ptr<std::remove_pointer_t<HDC>, ScreenDcReleaser>;

// CreateFileW's result, which says failure with INVALID_HANDLE_VALUE.
inline UniqueHandle FileHandle(HANDLE file) {
    return UniqueHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

}  // namespace tarnwick::win
