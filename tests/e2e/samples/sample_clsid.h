// How a sample component's CLSID follows from its file name. The sample server
// registers this CLSID and the sample client creates it, so both must compute
// it the same way; any name gets a CLSID, including test-only variants.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>

namespace tarnwick::samples {

// A fixed prefix ("TARNWICK" in the first eight bytes) keeps every sample CLSID
// recognisably ours; the last eight bytes are the 64-bit FNV-1a hash of the
// name's UTF-16 units, ASCII letters upper-cased because Windows file names
// ignore case and the client may be given either.
constexpr CLSID ClsidFor(std::wstring_view name) {
    constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325;
    constexpr std::uint64_t kFnvPrime = 0x100000001b3;
    std::uint64_t hash = kFnvOffset;
    for (wchar_t c : name) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        hash = (hash ^ static_cast<std::uint16_t>(c)) * kFnvPrime;
    }
    CLSID clsid{0x5441524E, 0x5749, 0x4B43, {}};
    for (int i = 7; i >= 0; --i, hash >>= 8) clsid.Data4[i] = static_cast<unsigned char>(hash);
    return clsid;
}

}  // namespace tarnwick::samples
