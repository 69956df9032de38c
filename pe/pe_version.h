// The file version of a Windows program or DLL, read from its bytes: the PE
// headers, the resource directory and the fixed part of the version resource.
// Portable, so that any file, however damaged or hostile, can be thrown at it
// in the host tests.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

#include "pe/byte_source.h"

namespace tarnwick {

// The four numbers of a version resource's fixed file version, most
// significant first, so that the default ordering is the version ordering.
struct FileVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;

    friend auto operator<=>(const FileVersion&, const FileVersion&) = default;
};

// "A.B.C.D".
std::string VersionText(const FileVersion& version);

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
