// The parts of a PE file that its readers share: its bytes by file offset or
// by RVA through the section table, and its headers. Every number in the file
// is treated as hostile: each read is bounds-checked against the file before
// it is made, and nothing is allocated by a size the file claims.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

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

namespace pe {

// The Windows loader refuses more sections than this.
inline constexpr std::size_t kMaxSections = 96;
inline constexpr std::size_t kSectionHeaderSize = 40;

inline std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t U32(const std::uint8_t* p) {
    return U16(p) | static_cast<std::uint32_t>(U16(p + 2)) << 16;
}

struct Section {
    std::uint32_t address = 0;  // RVA
    std::uint32_t extent = 0;   // in memory
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

// The file's bytes, by file offset or by RVA through the section table.
class Image {
public:
    explicit Image(ByteSource& source) : source_(source), size_(source.Size()) {}

    std::uint64_t size() const { return size_; }

    bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
        if (offset > size_ || size > size_ - offset) return false;
        return source_.Read(offset, buffer, size);
    }

    // Where the RVA range lies in the file. It must lie in one section's data:
    // the part of a section past its data would be zeros in memory, which a
    // resource never is.
    std::optional<std::uint64_t> Locate(std::uint64_t rva, std::uint64_t size) const {
        for (std::size_t i = 0; i < sectionCount_; ++i) {
            const Section& s = sections_[i];
            if (rva < s.address || rva - s.address >= s.extent) continue;
            const std::uint64_t within = rva - s.address;
            const std::uint64_t offset = s.rawOffset + within;
            if (within + size > s.rawSize || offset + size > size_) return std::nullopt;
            return offset;
        }
        return std::nullopt;
    }

    bool ReadRva(std::uint64_t rva, std::uint8_t* buffer, std::size_t size) {
        const std::optional<std::uint64_t> offset = Locate(rva, size);
        return offset && ReadAt(*offset, buffer, size);
    }

    bool ReadSections(std::uint64_t offset, std::size_t count) {
        if (count > kMaxSections) return false;
        std::array<std::uint8_t, kMaxSections * kSectionHeaderSize> table;
        if (!ReadAt(offset, table.data(), count * kSectionHeaderSize)) return false;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* header = table.data() + i * kSectionHeaderSize;
            Section& s = sections_[i];
            s.rawSize = U32(header + 16);
            const std::uint32_t virtualSize = U32(header + 8);
            s.extent = virtualSize != 0 ? virtualSize : s.rawSize;
            s.address = U32(header + 12);
            s.rawOffset = U32(header + 20);
        }
        sectionCount_ = count;
        return true;
    }

private:
    ByteSource& source_;
    std::uint64_t size_;
    std::array<Section, kMaxSections> sections_{};
    std::size_t sectionCount_ = 0;
};

// The headers every reader starts from.
struct Headers {
    enum class Status {
        kOk,
        kNotPe,    // does not start like a program, or is a DOS program
        kDamaged,  // starts like one but is cut short or points past its end
    };
    Status status = Status::kNotPe;
    std::uint16_t machine = 0;           // 0x14C for i386
    bool plus = false;                   // PE32+, a 64-bit image
    std::uint64_t optionalOffset = 0;
    std::uint16_t optionalSize = 0;
    std::uint64_t directoryCountField = 0;  // from the optional header's start
    std::size_t sectionCount = 0;
};

Headers ReadHeaders(Image& image);

// One entry of the optional header's data directory.
struct Directory {
    enum class Status { kPresent, kAbsent, kDamaged };
    Status status = Status::kAbsent;
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

// Entry `index` (1 the imports, 2 the resources, 13 the delayed imports).
// Files may end the optional header before the entries they do not use.
Directory ReadDirectory(Image& image, const Headers& headers, std::size_t index);

// The address the image prefers to be loaded at; none when the optional
// header is too short or cannot be read.
std::optional<std::uint64_t> ReadImageBase(Image& image, const Headers& headers);

// Reads the section table, which follows the optional header.
bool ReadSectionTable(Image& image, const Headers& headers);

}  // namespace pe
}  // namespace tarnwick
