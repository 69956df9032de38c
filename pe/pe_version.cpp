// Reading the fixed file version from a PE file's bytes. Every number in the
// file is treated as hostile: each read is bounds-checked against the file
// before it is made, every count is capped, the resource tree is walked exactly
// three levels down (so no loop can form), and nothing is allocated by a size
// the file claims.
#include "pe/pe_version.h"

#include <array>
#include <optional>

#include "pe/pe_image.h"

namespace tarnwick {
namespace {

using pe::Image;
using pe::U16;
using pe::U32;

using Status = VersionResource::Status;

constexpr std::size_t kResourceDirectoryIndex = 2;

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

std::string VersionText(const FileVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) + "." +
           std::to_string(v.revision);
}

VersionResource ReadVersionResource(ByteSource& source) {
    Image image(source);
    const VersionResource unreadable = Answer(Status::kUnreadable);
    const VersionResource none = Answer(Status::kNoVersion);

    const pe::Headers headers = pe::ReadHeaders(image);
    if (headers.status == pe::Headers::Status::kNotProgram) return none;
    if (headers.status == pe::Headers::Status::kDamaged) return unreadable;
    const pe::Directory resources = pe::ReadDirectory(image, headers, kResourceDirectoryIndex);
    if (resources.status == pe::Directory::Status::kDamaged) return unreadable;
    if (resources.status == pe::Directory::Status::kAbsent) return none;
    const std::uint32_t resourceRva = resources.rva;
    const std::uint32_t resourceSize = resources.size;
    if (!pe::ReadSections(image, headers) || !image.Locate(resourceRva, resourceSize)) return unreadable;

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
