// The bytes of one file as the PE readers see them: read in small pieces from
// wherever the caller keeps them (a file on disk, a buffer in a test).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwick {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads exactly `size` bytes at `offset` (never past Size()); false when
    // they cannot be read.
    virtual bool Read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) = 0;
};

}  // namespace tarnwick
