// Reading a file's version resource and its imports: the portable readers
// over the file's bytes, fetched a few at a time with ReadFile. Nothing in
// the file runs, no DLL (version.dll included) is loaded for it, and a file
// of any size costs the same few reads.
#include <array>
#include <cstring>
#include <limits>

#include "pe/pe_imports.h"
#include "pe/pe_version.h"
#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"

namespace tarnwick::win {
namespace {

// An open file's bytes; remembers why a read failed. The readers ask for a
// few bytes at a time, mostly close together (the headers, then a table and
// the names it points to), and each ReadFile is a call into the system: a
// small read is served from a window of the file read whole around it.
class FileBytes final : public ByteSource {
public:
    FileBytes(HANDLE file, std::uint64_t size) : file_(file), size_(size) {}

    std::uint64_t Size() const override { return size_; }

    bool Read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
        if (size > kWindow || offset > size_ || size > size_ - offset) return ReadDirect(offset, buffer, size);
        if (offset < windowStart_ || offset - windowStart_ + size > windowLength_) {
            // The aligned window that holds the read, or one starting at it.
            std::uint64_t start = offset - offset % kWindow;
            if (offset + size > start + kWindow) start = offset;
            const std::size_t length = static_cast<std::size_t>(size_ - start < kWindow ? size_ - start : kWindow);
            windowLength_ = 0;
            if (!ReadDirect(start, window_.data(), length)) return false;
            windowStart_ = start;
            windowLength_ = length;
        }
        std::memcpy(buffer, window_.data() + (offset - windowStart_), size);
        return true;
    }

    DWORD error() const { return error_; }

private:
    static constexpr std::size_t kWindow = 4096;

    bool ReadDirect(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
        if (size > std::numeric_limits<DWORD>::max()) return false;
        // On a handle opened for synchronous reads the offset places the read.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        if (!::ReadFile(file_, buffer, static_cast<DWORD>(size), &read, &at)) {
            error_ = ::GetLastError();
            return false;
        }
        return read == size;  // short: the file shrank under us
    }

    HANDLE file_;
    std::uint64_t size_;
    DWORD error_ = ERROR_SUCCESS;
    std::array<std::uint8_t, kWindow> window_;
    std::uint64_t windowStart_ = 0;
    std::size_t windowLength_ = 0;
};

// The file at `path`, open for reading its bytes, or why it cannot be.
struct OpenedFile {
    FileResult result = FileResult::kOk;
    UniqueHandle handle;
    std::uint64_t size = 0;
};

OpenedFile OpenForReading(const std::string& path) {
    const std::wstring file = FileSystemPath(path);
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {FileResultFromError(::GetLastError()), {}, 0};
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {FileResult::kAccessError, {}, 0};
    // Others may read it, or rename or delete it, meanwhile. A file someone
    // has open for writing is refused (a sharing violation: "in use"), since
    // it could change while it is read.
    UniqueHandle handle = FileHandle(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return {FileResultFromError(::GetLastError()), {}, 0};
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle.get(), &size)) return {FileResultFromError(::GetLastError()), {}, 0};
    return {FileResult::kOk, std::move(handle), static_cast<std::uint64_t>(size.QuadPart)};
}

}  // namespace

FileVersionQuery WindowsPlatform::GetFileVersion(const std::string& path) {
    const OpenedFile file = OpenForReading(path);
    if (file.result != FileResult::kOk) return {file.result, std::nullopt};
    FileBytes bytes(file.handle.get(), file.size);
    const VersionResource resource = ReadVersionResource(bytes);
    switch (resource.status) {
        case VersionResource::Status::kVersion: return {FileResult::kOk, resource.version};
        case VersionResource::Status::kNoVersion: return {FileResult::kOk, std::nullopt};
        case VersionResource::Status::kUnreadable: break;
    }
    // A damaged file is an access error; a failed read says why it failed.
    return {FailureFromError(bytes.error()), std::nullopt};
}

ImportQuery WindowsPlatform::GetImports(const std::string& path) {
    const OpenedFile file = OpenForReading(path);
    if (file.result != FileResult::kOk) {
        ImportQuery failed;
        failed.result = file.result;
        return failed;
    }
    FileBytes bytes(file.handle.get(), file.size);
    ImportQuery query{ReadImportTables(bytes)};
    // Tables the reader found damaged are the file's fault; a read that
    // failed (a lock, a disk error) is not, and says why the file could not
    // be read.
    if (!query.readable && bytes.error() != ERROR_SUCCESS) {
        ImportQuery failed;
        failed.result = FailureFromError(bytes.error());
        return failed;
    }
    return query;
}

}  // namespace tarnwick::win
