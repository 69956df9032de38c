// Reading the names of the DLLs a PE file imports, directly and on first use.
// The same rules as the version reader: every read is bounds-checked against
// the file and the section that holds it, every table must end within a fixed
// number of entries and every name within a fixed length, and nothing is
// allocated by a size the file claims.
#include "pe/pe_imports.h"

#include <array>

#include "pe/pe_image.h"

namespace tarnwick {
namespace {

using pe::U32;

constexpr std::size_t kImportDirectoryIndex = 1;
constexpr std::size_t kDelayedDirectoryIndex = 13;
constexpr std::size_t kDescriptorSize = 20;         // IMAGE_IMPORT_DESCRIPTOR
constexpr std::size_t kDelayedDescriptorSize = 32;  // ImgDelayDescr
constexpr std::size_t kDescriptorNameField = 12;
constexpr std::size_t kDelayedNameField = 4;
constexpr std::size_t kDescriptorThunksField = 16;  // FirstThunk
constexpr std::uint32_t kDelayedRvaAttribute = 1;   // dlattrRva: RVAs, not addresses
constexpr std::uint64_t kImageBaseField = 28;       // in a PE32 optional header
// Real files import a few dozen DLLs; a table that does not end by then is damaged.
constexpr std::size_t kMaxDescriptors = 1024;
// Longer than any file name the system accepts.
constexpr std::size_t kMaxNameLength = 256;

struct Table {
    std::size_t index;
    std::size_t descriptorSize;
    std::size_t nameField;
    // A zero here ends the table too: the loader stops at the first
    // descriptor without an address table, and loads nothing past it.
    std::size_t endField;
    bool delayed;
};

// The NUL-terminated name at `rva`: printable, within its section, not empty.
bool ReadName(pe::Image& image, std::uint64_t rva, std::string& name) {
    std::array<std::uint8_t, kMaxNameLength + 1> bytes;
    const std::uint64_t available = image.Available(rva);
    const std::size_t size = available < bytes.size() ? static_cast<std::size_t>(available) : bytes.size();
    if (size == 0 || !image.ReadRva(rva, bytes.data(), size)) return false;
    name.clear();
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] == 0) return !name.empty();
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
        name.push_back(static_cast<char>(bytes[i]));
    }
    return false;  // no end within the section or the longest name
}

// Appends the names of table `table` to `names`; false when it is damaged.
bool ReadTable(pe::Image& image, const pe::Headers& headers, std::uint32_t imageBase, const Table& table,
               std::vector<std::string>& names) {
    const pe::Directory directory = pe::ReadDirectory(image, headers, table.index);
    if (directory.status == pe::Directory::Status::kAbsent) return true;
    if (directory.status == pe::Directory::Status::kDamaged) return false;
    std::array<std::uint8_t, kDelayedDescriptorSize> descriptor{};
    for (std::size_t i = 0; i < kMaxDescriptors; ++i) {
        const std::uint64_t at = directory.rva + std::uint64_t{i} * table.descriptorSize;
        if (!image.ReadRva(at, descriptor.data(), table.descriptorSize)) return false;
        std::uint64_t nameAt = U32(descriptor.data() + table.nameField);
        if (nameAt == 0 || U32(descriptor.data() + table.endField) == 0) return true;  // the table's end
        // Delayed tables from old linkers hold addresses rather than RVAs.
        if (table.delayed && !(U32(descriptor.data()) & kDelayedRvaAttribute)) {
            if (nameAt < imageBase) return false;
            nameAt -= imageBase;
        }
        std::string name;
        if (!ReadName(image, nameAt, name)) return false;
        names.push_back(std::move(name));
    }
    return false;
}

ImportTables Unreadable(std::string why, bool otherMachine = false) {
    ImportTables query;
    query.why = std::move(why);
    query.otherMachine = otherMachine;
    return query;
}

}  // namespace

ImportTables ReadImportTables(ByteSource& source) {
    pe::Image image(source);
    const pe::Headers headers = pe::ReadHeaders(image);
    if (headers.status == pe::Headers::Status::kNotProgram) return Unreadable("not a Windows program file");
    if (headers.status == pe::Headers::Status::kDamaged) {
        return Unreadable("its headers are damaged or point outside the file");
    }
    if (headers.magic == pe::kPe32PlusMagic) {
        return Unreadable("a 64-bit file, which 32-bit programs cannot load", true);
    }
    if (headers.machine != pe::kMachineI386) return Unreadable("made for another processor", true);
    // The header reader has checked that the optional header is long enough.
    std::array<std::uint8_t, 4> base;
    if (!image.ReadAt(headers.optionalOffset + kImageBaseField, base.data(), base.size())) {
        return Unreadable("its headers are damaged or point outside the file");
    }
    if (!pe::ReadSections(image, headers)) return Unreadable("its section table is damaged or outside the file");

    ImportTables query;
    if (!ReadTable(image, headers, U32(base.data()),
                   {kImportDirectoryIndex, kDescriptorSize, kDescriptorNameField, kDescriptorThunksField, false}, query.imports)) {
        return Unreadable("its import table is damaged or points outside the file");
    }
    if (!ReadTable(image, headers, U32(base.data()),
                   {kDelayedDirectoryIndex, kDelayedDescriptorSize, kDelayedNameField, kDelayedNameField, true}, query.delayed)) {
        return Unreadable("its delayed-import table is damaged or points outside the file");
    }
    query.readable = true;
    return query;
}

}  // namespace tarnwick
