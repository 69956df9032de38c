// Reading a file's version resource.
#include <cstring>

#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"

namespace tarnwick::win {
namespace {

std::optional<FileVersion> ReadVersionResource(const std::wstring& path) {
    // Mapped as data: none of the file's code runs, and no DLL (version.dll
    // included) is loaded to read it.
    UniqueModule file(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!file) return std::nullopt;
    HRSRC found = ::FindResourceW(file.get(), MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    HGLOBAL loaded = found ? ::LoadResource(file.get(), found) : nullptr;  // not owned
    const auto* data = static_cast<const unsigned char*>(loaded ? ::LockResource(loaded) : nullptr);
    if (!data) return std::nullopt;
    const DWORD size = ::SizeofResource(file.get(), found);

    // VS_VERSIONINFO: three WORDs, the key L"VS_VERSION_INFO", padding to a
    // DWORD boundary, then the VS_FIXEDFILEINFO.
    constexpr std::size_t kFixedOffset = (3 * sizeof(WORD) + sizeof(L"VS_VERSION_INFO") + 3) & ~3u;
    WORD valueLength = 0;
    if (size < kFixedOffset + sizeof(VS_FIXEDFILEINFO)) return std::nullopt;
    std::memcpy(&valueLength, data + sizeof(WORD), sizeof valueLength);
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, data + kFixedOffset, sizeof fixed);
    if (valueLength < sizeof fixed || fixed.dwSignature != VS_FFI_SIGNATURE) return std::nullopt;
    return FileVersion{HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS),
                       HIWORD(fixed.dwFileVersionLS), LOWORD(fixed.dwFileVersionLS)};
}

}  // namespace

FileVersionQuery WindowsPlatform::GetFileVersion(const std::string& path) {
    const std::wstring file = Widen(path);
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {FileResultFromError(::GetLastError()), {}};
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {FileResult::kAccessError, {}};
    return {FileResult::kOk, ReadVersionResource(file)};
}

}  // namespace tarnwick::win
