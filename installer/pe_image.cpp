// The PE headers and the data directory, read as the loader reads them.
#include "installer/pe_image.h"

namespace tarnwick::pe {
namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x010B;
constexpr std::uint16_t kPe32PlusMagic = 0x020B;
constexpr std::uint64_t kDosHeaderSize = 64;
constexpr std::uint64_t kNewHeaderOffsetField = 0x3C;  // e_lfanew
constexpr std::uint64_t kCoffHeaderSize = 20;

}  // namespace

Headers ReadHeaders(Image& image) {
    Headers headers;
    const auto damaged = [&headers] {
        headers.status = Headers::Status::kDamaged;
        return headers;
    };
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
    headers.sectionCount = U16(pe.data() + 4 + 2);
    headers.optionalSize = U16(pe.data() + 4 + 16);
    headers.optionalOffset = peOffset + pe.size();

    std::array<std::uint8_t, 2> magic;
    if (headers.optionalSize < magic.size() || !image.ReadAt(headers.optionalOffset, magic.data(), magic.size())) {
        return damaged();
    }
    if (U16(magic.data()) == kPe32Magic) {
        headers.directoryCountField = 92;
    } else if (U16(magic.data()) == kPe32PlusMagic) {
        headers.plus = true;
        headers.directoryCountField = 108;
    } else {
        return damaged();
    }
    headers.status = Headers::Status::kOk;
    return headers;
}

Directory ReadDirectory(Image& image, const Headers& headers, std::size_t index) {
    Directory directory;
    const auto damaged = [&directory] {
        directory.status = Directory::Status::kDamaged;
        return directory;
    };
    std::array<std::uint8_t, 4> count;
    const std::uint64_t countField = headers.directoryCountField;
    if (countField + count.size() > headers.optionalSize ||
        !image.ReadAt(headers.optionalOffset + countField, count.data(), count.size())) {
        return damaged();
    }
    if (U32(count.data()) <= index) return directory;
    std::array<std::uint8_t, 8> entry;
    const std::uint64_t field = countField + 4 + 8 * index;
    if (field + entry.size() > headers.optionalSize ||
        !image.ReadAt(headers.optionalOffset + field, entry.data(), entry.size())) {
        return damaged();
    }
    directory.rva = U32(entry.data());
    directory.size = U32(entry.data() + 4);
    if (directory.rva != 0 && directory.size != 0) directory.status = Directory::Status::kPresent;
    return directory;
}

std::optional<std::uint64_t> ReadImageBase(Image& image, const Headers& headers) {
    std::array<std::uint8_t, 8> base{};
    const std::uint64_t field = headers.plus ? 24 : 28;
    const std::size_t size = headers.plus ? 8 : 4;
    if (field + size > headers.optionalSize || !image.ReadAt(headers.optionalOffset + field, base.data(), size)) {
        return std::nullopt;
    }
    return U32(base.data()) | std::uint64_t{U32(base.data() + 4)} << 32;
}

bool ReadSectionTable(Image& image, const Headers& headers) {
    return image.ReadSections(headers.optionalOffset + headers.optionalSize, headers.sectionCount);
}

}  // namespace tarnwick::pe
