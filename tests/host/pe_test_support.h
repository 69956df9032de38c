// What the tests of the PE readers share: writing little-endian fields into
// a file made in memory, and a file in memory that records every read.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "installer/pe_image.h"

namespace tarnwick {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    Put16(bytes, at, static_cast<std::uint16_t>(value));
    Put16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

// A file in memory that records every read, and fails the test on any read
// the reader should never have asked for.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(Bytes bytes) : bytes_(std::move(bytes)), touched_(bytes_.size()) {}

    std::uint64_t Size() const override { return bytes_.size(); }
    bool Read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
        ++reads_;
        if (offset > bytes_.size() || size > bytes_.size() - offset) {
            outside_ = true;
            return false;
        }
        if (reads_ == failAt_) return false;
        bytesRead_ += size;
        std::memcpy(buffer, bytes_.data() + offset, size);
        for (std::size_t i = 0; i < size; ++i) touched_[offset + i] = true;
        return true;
    }

    void FailRead(int which) { failAt_ = which; }
    int reads() const { return reads_; }
    std::size_t bytesRead() const { return bytesRead_; }
    bool readOutside() const { return outside_; }
    const std::vector<bool>& touched() const { return touched_; }

private:
    Bytes bytes_;
    std::vector<bool> touched_;
    int reads_ = 0;
    int failAt_ = 0;
    std::size_t bytesRead_ = 0;
    bool outside_ = false;
};

}  // namespace tarnwick
