// The PE headers, data directories and section table, bounds-checked.
#include "pe/pe_image.h"

namespace tarnwick::pe {
namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint64_t kDosHeaderSize = 64;
constexpr std::uint64_t kNewHeaderOffsetField = 0x3C;  // e_lfanew
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint64_t kDirectoryEntrySize = 8;

}  // namespace

bool Image::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
    if (offset > size_ || size > size_ - offset) return false;
    return source_.Read(offset, buffer, size);
}

const Section* Image::SectionOf(std::uint64_t rva) const {
    for (std::size_t i = 0; i < sectionCount_; ++i) {
        const Section& s = sections_[i];
        if (rva >= s.address && rva - s.address < s.extent) return &s;
    }
    return nullptr;
}

std::optional<std::uint64_t> Image::Locate(std::uint64_t rva, std::uint64_t size) const {
    const Section* s = SectionOf(rva);
    if (!s) return std::nullopt;
    const std::uint64_t within = rva - s->address;
    const std::uint64_t offset = s->rawOffset + within;
    if (within + size > s->rawSize || offset + size > size_) return std::nullopt;
    return offset;
}

std::uint64_t Image::Available(std::uint64_t rva) const {
    const Section* s = SectionOf(rva);
    if (!s) return 0;
    const std::uint64_t within = rva - s->address;
    const std::uint64_t offset = s->rawOffset + within;
    if (within >= s->rawSize || offset >= size_) return 0;
    const std::uint64_t inSection = s->rawSize - within;
    const std::uint64_t inFile = size_ - offset;
    return inSection < inFile ? inSection : inFile;
}

bool Image::ReadRva(std::uint64_t rva, std::uint8_t* buffer, std::size_t size) {
    const std::optional<std::uint64_t> offset = Locate(rva, size);
    return offset && ReadAt(*offset, buffer, size);
}

bool Image::ReadSections(std::uint64_t offset, std::size_t count) {
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

Headers ReadHeaders(Image& image) {
    Headers headers;
    const auto damaged = [&headers] {
        headers.status = Headers::Status::kDamaged;
        return headers;
    };
    // A file that does not start like a program is none. One that does but
    // is cut short, or points past its end, is damaged.
    std::array<std::uint8_t, kDosHeaderSize> dos;
    if (image.size() < 2) return headers;
    if (!image.ReadAt(0, dos.data(), 2)) return damaged();
    if (U16(dos.data()) != kDosMagic) return headers;
    if (!image.ReadAt(0, dos.data(), dos.size())) return damaged();
    const std::uint64_t peOffset = U32(dos.data() + kNewHeaderOffsetField);

    std::array<std::uint8_t, 4 + kCoffHeaderSize> pe;
    if (!image.ReadAt(peOffset, pe.data(), pe.size())) return damaged();
    if (U32(pe.data()) != kPeSignature) return headers;  // a DOS program
    headers.machine = U16(pe.data() + 4);
    headers.characteristics = U16(pe.data() + 4 + 18);
    headers.sectionCount = U16(pe.data() + 4 + 2);
    headers.optionalSize = U16(pe.data() + 4 + 16);
    headers.optionalOffset = peOffset + pe.size();

    std::array<std::uint8_t, 2> magic;
    if (headers.optionalSize < magic.size() ||
        !image.ReadAt(headers.optionalOffset, magic.data(), magic.size())) {
        return damaged();
    }
    headers.magic = U16(magic.data());
    if (headers.magic == kPe32Magic) {
        headers.directoriesField = 92;
    } else if (headers.magic == kPe32PlusMagic) {
        headers.directoriesField = 108;
    } else {
        return damaged();
    }
    // Files without the later directories may end the optional header
    // before their places.
    std::array<std::uint8_t, 4> count;
    if (headers.directoriesField + count.size() > headers.optionalSize ||
        !image.ReadAt(headers.optionalOffset + headers.directoriesField, count.data(), count.size())) {
        return damaged();
    }
    headers.directoryCount = U32(count.data());
    headers.status = Headers::Status::kOk;
    return headers;
}

Directory ReadDirectory(Image& image, const Headers& headers, std::size_t index) {
    Directory directory;
    if (headers.directoryCount <= index) return directory;
    std::array<std::uint8_t, kDirectoryEntrySize> entry;
    const std::uint64_t field = headers.directoriesField + 4 + kDirectoryEntrySize * index;
    if (field + entry.size() > headers.optionalSize ||
        !image.ReadAt(headers.optionalOffset + field, entry.data(), entry.size())) {
        directory.status = Directory::Status::kDamaged;
        return directory;
    }
    directory.rva = U32(entry.data());
    directory.size = U32(entry.data() + 4);
    if (directory.rva != 0 && directory.size != 0) directory.status = Directory::Status::kPresent;
    return directory;
}

bool ReadSections(Image& image, const Headers& headers) {
    return image.ReadSections(headers.optionalOffset + headers.optionalSize, headers.sectionCount);
}

bool ReadName(Image& image, std::uint64_t rva, std::size_t maxLength, std::string& name) {
    std::array<std::uint8_t, kLongestName + 1> bytes;
    std::uint64_t size = image.Available(rva);
    if (size > maxLength + 1) size = maxLength + 1;
    if (size > bytes.size()) size = bytes.size();
    if (size == 0 || !image.ReadRva(rva, bytes.data(), static_cast<std::size_t>(size))) return false;
    name.clear();
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] == 0) return !name.empty();
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
        name.push_back(static_cast<char>(bytes[i]));
    }
    return false;  // no end within the section or the longest name
}

const char* ReadThirtyTwoBit(Image& image, Headers& headers) {
    headers = ReadHeaders(image);
    if (headers.status == Headers::Status::kNotProgram) return "not a Windows program file";
    if (headers.status == Headers::Status::kDamaged) return "its headers are damaged or point outside the file";
    if (headers.magic == kPe32PlusMagic) return "a 64-bit file, which 32-bit programs cannot load";
    if (headers.machine != kMachineI386) return "made for another processor";
    if (!ReadSections(image, headers)) return "its section table is damaged or outside the file";
    return nullptr;
}

}  // namespace tarnwick::pe
