// Reading the fixed file version from a PE file's bytes. Every number in the
// file is treated as hostile: each read is bounds-checked against the file
// before it is made, every count is capped, the resource tree is walked exactly
// three levels down (so no loop can form), and nothing is allocated by a size
// the file claims.
#include "installer/pe_version.h"

#include <array>
#include <optional>

namespace tarnwick {
namespace {

using Status = VersionResource::Status;

constexpr std::uint16_t kDosMagic = 0x5A4D;           // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;    // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x010B;
constexpr std::uint16_t kPe32PlusMagic = 0x020B;
constexpr std::uint64_t kDosHeaderSize = 64;
constexpr std::uint64_t kNewHeaderOffsetField = 0x3C;  // e_lfanew
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::size_t kResourceDirectoryIndex = 2;
constexpr std::size_t kSectionHeaderSize = 40;
// The Windows loader refuses more sections than this.
constexpr std::size_t kMaxSections = 96;

constexpr std::uint32_t kVersionType = 16;  // RT_VERSION
constexpr std::uint32_t kHighBit = 0x80000000;  // a name string, or a subdirectory
constexpr std::uint32_t kDirectoryHeaderSize = 16;
constexpr std::uint32_t kEntrySize = 8;
constexpr std::uint32_t kDataEntrySize = 16;
// Real files list a few dozen resource types; more is damage.
constexpr std::size_t kMaxEntries = 256;

// VS_VERSIONINFO: wLength, wValueLength, wType, the key, padding to four
// bytes, then VS_FIXEDFILEINFO. wLength is a WORD, so a larger block is damage.
constexpr char16_t kVersionKey[] = u"VS_VERSION_INFO";
constexpr std::size_t kKeyOffset = 6;
constexpr std::size_t kKeyBytes = sizeof kVersionKey;  // with its NUL
constexpr std::size_t kFixedOffset = (kKeyOffset + kKeyBytes + 3) & ~std::size_t{3};
constexpr std::size_t kFixedSize = 52;
constexpr std::size_t kNeeded = kFixedOffset + kFixedSize;
constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::uint32_t kMaxVersionSize = 64 * 1024;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
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

// The resource tree, addressed by offsets from its root.
class ResourceTree {
public:
    ResourceTree(Image& image, std::uint32_t rva, std::uint32_t size)
        : image_(image), rva_(rva), size_(size) {}

    bool Read(std::uint32_t offset, std::uint8_t* buffer, std::uint32_t size) {
        if (offset > size_ || size > size_ - offset) return false;
        return image_.ReadRva(std::uint64_t{rva_} + offset, buffer, size);
    }

    // The entries of the directory at `offset`: `entries` gets up to
    // kMaxEntries of them, `count` how many there are.
    bool ReadDirectory(std::uint32_t offset, std::array<std::uint8_t, kMaxEntries * kEntrySize>& entries,
                       std::size_t& count) {
        std::array<std::uint8_t, kDirectoryHeaderSize> header;
        if (!Read(offset, header.data(), kDirectoryHeaderSize)) return false;
        count = std::size_t{U16(header.data() + 12)} + U16(header.data() + 14);
        if (count > kMaxEntries) return false;
        return Read(offset + kDirectoryHeaderSize, entries.data(),
                    static_cast<std::uint32_t>(count * kEntrySize));
    }

private:
    Image& image_;
    std::uint32_t rva_;
    std::uint32_t size_;
};

VersionResource Answer(Status status) { return {status, {}}; }

}  // namespace

VersionResource ReadVersionResource(ByteSource& source) {
    Image image(source);
    const VersionResource unreadable = Answer(Status::kUnreadable);
    const VersionResource none = Answer(Status::kNoVersion);

    // A file that does not start like a program has no version. One that
    // does but is cut short, or points past its end, is damaged.
    std::array<std::uint8_t, kDosHeaderSize> dos;
    if (image.size() < 2) return none;
    if (!image.ReadAt(0, dos.data(), 2)) return unreadable;
    if (U16(dos.data()) != kDosMagic) return none;
    if (!image.ReadAt(0, dos.data(), dos.size())) return unreadable;
    const std::uint64_t peOffset = U32(dos.data() + kNewHeaderOffsetField);

    std::array<std::uint8_t, 4 + kCoffHeaderSize> pe;
    if (!image.ReadAt(peOffset, pe.data(), pe.size())) return unreadable;
    if (U32(pe.data()) != kPeSignature) return none;  // a DOS program
    const std::size_t sectionCount = U16(pe.data() + 4 + 2);
    const std::uint16_t optionalSize = U16(pe.data() + 4 + 16);
    const std::uint64_t optionalOffset = peOffset + pe.size();

    std::array<std::uint8_t, 2> magic;
    if (optionalSize < magic.size() || !image.ReadAt(optionalOffset, magic.data(), magic.size())) {
        return unreadable;
    }
    std::uint64_t countField = 0;
    if (U16(magic.data()) == kPe32Magic) {
        countField = 92;
    } else if (U16(magic.data()) == kPe32PlusMagic) {
        countField = 108;
    } else {
        return unreadable;
    }
    // Files without resources may end the optional header before their
    // resource directory's place.
    std::array<std::uint8_t, 4> countBytes;
    if (countField + countBytes.size() > optionalSize ||
        !image.ReadAt(optionalOffset + countField, countBytes.data(), countBytes.size())) {
        return unreadable;
    }
    if (U32(countBytes.data()) <= kResourceDirectoryIndex) return none;
    std::array<std::uint8_t, 8> resources;
    const std::uint64_t resourcesField = countField + 4 + 8 * kResourceDirectoryIndex;
    if (resourcesField + resources.size() > optionalSize ||
        !image.ReadAt(optionalOffset + resourcesField, resources.data(), resources.size())) {
        return unreadable;
    }
    const std::uint32_t resourceRva = U32(resources.data());
    const std::uint32_t resourceSize = U32(resources.data() + 4);
    if (resourceRva == 0 || resourceSize == 0) return none;
    if (!image.ReadSections(optionalOffset + optionalSize, sectionCount) ||
        !image.Locate(resourceRva, resourceSize)) {
        return unreadable;
    }

    // Type, name, language: RT_VERSION, then the first of each, which
    // must lead to a data entry. A version type without one is damaged.
    ResourceTree tree(image, resourceRva, resourceSize);
    std::array<std::uint8_t, kMaxEntries * kEntrySize> entries;
    std::size_t count = 0;
    if (!tree.ReadDirectory(0, entries, count)) return unreadable;
    std::uint32_t next = 0;
    bool found = false;
    for (std::size_t i = 0; i < count && !found; ++i) {
        const std::uint8_t* entry = entries.data() + i * kEntrySize;
        if (U32(entry) != kVersionType) continue;
        found = true;
        next = U32(entry + 4);
    }
    if (!found) return none;
    for (int level = 0; level < 2; ++level) {
        if (!(next & kHighBit)) return unreadable;
        if (!tree.ReadDirectory(next & ~kHighBit, entries, count)) return unreadable;
        if (count == 0) return unreadable;
        next = U32(entries.data() + 4);
    }
    if (next & kHighBit) return unreadable;

    std::array<std::uint8_t, kDataEntrySize> data;
    if (!tree.Read(next, data.data(), data.size())) return unreadable;
    const std::uint32_t blockRva = U32(data.data());
    const std::uint32_t blockSize = U32(data.data() + 4);
    if (blockSize > kMaxVersionSize) return unreadable;
    // The whole block must be in the file, though only its start is read.
    std::array<std::uint8_t, kNeeded> block{};
    const std::size_t head = blockSize < kNeeded ? blockSize : kNeeded;
    if (blockSize < kKeyOffset || !image.Locate(blockRva, blockSize) ||
        !image.ReadRva(blockRva, block.data(), head)) {
        return unreadable;
    }
    const std::uint16_t blockLength = U16(block.data());
    const std::uint16_t valueLength = U16(block.data() + 2);
    if (valueLength == 0) return none;  // a version block without the fixed part
    if (blockSize < kFixedOffset) return unreadable;
    for (std::size_t i = 0; i < kKeyBytes / 2; ++i) {
        if (U16(block.data() + kKeyOffset + 2 * i) != kVersionKey[i]) return none;
    }
    if (valueLength < kFixedSize || blockLength < kNeeded || blockSize < kNeeded) return unreadable;
    const std::uint8_t* fixed = block.data() + kFixedOffset;
    if (U32(fixed) != kFixedSignature) return none;
    const std::uint32_t high = U32(fixed + 8);  // dwFileVersionMS
    const std::uint32_t low = U32(fixed + 12);  // dwFileVersionLS
    return {Status::kVersion,
            FileVersion{static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
                        static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)}};
}

}  // namespace tarnwick
