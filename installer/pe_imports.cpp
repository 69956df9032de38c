// Reading the import tables. Each descriptor, and each name it points to, is
// bounds-checked against the section that holds it; the tables end at their
// all-zero descriptor, and a table without one within kMaxImportedDlls
// entries, or a name that is empty, unterminated or not printable ASCII, is
// damage.
#include "installer/pe_imports.h"

#include <array>
#include <optional>

namespace tarnwick {
namespace {

using pe::Image;
using pe::U32;

constexpr std::size_t kImportIndex = 1;
constexpr std::size_t kDelayImportIndex = 13;
constexpr std::size_t kImportDescriptorSize = 20;  // IMAGE_IMPORT_DESCRIPTOR
constexpr std::size_t kImportNameField = 12;
constexpr std::size_t kDelayDescriptorSize = 32;   // IMAGE_DELAYLOAD_DESCRIPTOR
constexpr std::size_t kDelayNameField = 4;
constexpr std::uint32_t kDelayRvaBased = 1;  // otherwise its addresses are virtual (old linkers)
constexpr std::uint16_t kI386 = 0x014C;

// The NUL-terminated name at `rva`, or none when it is damaged.
std::optional<std::string> ReadName(Image& image, std::uint64_t rva) {
    std::string name;
    std::array<std::uint8_t, 16> chunk;
    while (name.size() < kMaxDllName) {
        // Names near the end of a section may have fewer bytes after them.
        std::size_t size = chunk.size();
        while (size > 0 && !image.Locate(rva + name.size(), size)) size /= 2;
        if (size == 0 || !image.ReadRva(rva + name.size(), chunk.data(), size)) return std::nullopt;
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint8_t c = chunk[i];
            if (c == 0) return name.empty() ? std::nullopt : std::optional<std::string>(name);
            if (c < 0x20 || c > 0x7E || name.size() == kMaxDllName) return std::nullopt;
            name.push_back(static_cast<char>(c));
        }
    }
    return std::nullopt;
}

// The names of one table: `descriptorSize`-byte entries from `rva`, each with
// its name's address at `nameField`, until the all-zero entry. `toRva` turns
// that address into an RVA; none for an address outside the image.
template <typename ToRva>
bool ReadTable(Image& image, std::uint32_t rva, std::size_t descriptorSize, std::size_t nameField, ToRva toRva,
               std::vector<std::string>& names, std::string& why) {
    std::array<std::uint8_t, kDelayDescriptorSize> descriptor{};
    for (std::size_t i = 0; i <= kMaxImportedDlls; ++i) {
        if (i == kMaxImportedDlls) {
            why = "its import table has no end";
            return false;
        }
        if (!image.ReadRva(std::uint64_t{rva} + i * descriptorSize, descriptor.data(), descriptorSize)) {
            why = "its import table lies outside the file";
            return false;
        }
        bool empty = true;
        for (std::size_t b = 0; b < descriptorSize; ++b) empty = empty && descriptor[b] == 0;
        if (empty) return true;
        const std::optional<std::uint64_t> nameRva = toRva(descriptor.data(), U32(descriptor.data() + nameField));
        const std::optional<std::string> name = nameRva ? ReadName(image, *nameRva) : std::nullopt;
        if (!name) {
            why = "a name in its import table is damaged or lies outside the file";
            return false;
        }
        names.push_back(*name);
    }
    return false;
}

}  // namespace

ImportTables ReadImportTables(ByteSource& source) {
    Image image(source);
    ImportTables tables;
    const auto unreadable = [&tables](std::string why) {
        tables.status = ImportTables::Status::kUnreadable;
        tables.why = std::move(why);
        tables.dlls.clear();
        tables.delayed.clear();
        return tables;
    };
    const pe::Headers headers = pe::ReadHeaders(image);
    if (headers.status == pe::Headers::Status::kNotPe) return tables;
    if (headers.status == pe::Headers::Status::kDamaged) return unreadable("its headers are cut short or damaged");
    tables.i386 = headers.machine == kI386 && !headers.plus;
    const pe::Directory imports = pe::ReadDirectory(image, headers, kImportIndex);
    const pe::Directory delayed = pe::ReadDirectory(image, headers, kDelayImportIndex);
    if (imports.status == pe::Directory::Status::kDamaged || delayed.status == pe::Directory::Status::kDamaged) {
        return unreadable("its data directory is damaged");
    }
    if (!pe::ReadSectionTable(image, headers)) return unreadable("its section table is damaged");

    const auto plainRva = [](const std::uint8_t*, std::uint32_t address) {
        return std::optional<std::uint64_t>(address);
    };
    if (imports.status == pe::Directory::Status::kPresent &&
        !ReadTable(image, imports.rva, kImportDescriptorSize, kImportNameField, plainRva, tables.dlls, tables.why)) {
        return unreadable(tables.why);
    }
    if (delayed.status == pe::Directory::Status::kPresent) {
        const std::optional<std::uint64_t> base = pe::ReadImageBase(image, headers);
        const auto delayRva = [&base](const std::uint8_t* descriptor, std::uint32_t address) {
            if (U32(descriptor) & kDelayRvaBased) return std::optional<std::uint64_t>(address);
            if (!base || address < *base) return std::optional<std::uint64_t>();
            return std::optional<std::uint64_t>(address - *base);
        };
        if (!ReadTable(image, delayed.rva, kDelayDescriptorSize, kDelayNameField, delayRva, tables.delayed,
                       tables.why)) {
            return unreadable(tables.why);
        }
    }
    tables.status = ImportTables::Status::kRead;
    return tables;
}

}  // namespace tarnwick
