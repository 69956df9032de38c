// The file version of a Windows program or DLL, read from its bytes: the PE
// headers, the resource directory and the fixed part of the version resource.
// Portable, so that any file, however damaged or hostile, can be thrown at it
// in the host tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "installer/platform_services.h"

namespace tarnwick {

// The bytes of one file, read in small pieces.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads exactly `size` bytes at `offset` (never past Size()); false when
    // they cannot be read.
    virtual bool Read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) = 0;
};

struct VersionResource {
    enum class Status {
        kVersion,     // `version` holds the fixed file version
        kNoVersion,   // not a PE file, or one without a version resource
        kUnreadable,  // a read failed, or the structures are damaged
    };
    Status status = Status::kNoVersion;
    FileVersion version;
};

// Reads only the headers and the version resource's fixed part, a few KiB at
// most whatever the file's size, and never reads outside the file.
VersionResource ReadVersionResource(ByteSource& source);

}  // namespace tarnwick
