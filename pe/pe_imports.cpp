// Reading the names of the DLLs a PE file imports, directly and on first use.
// The same rules as the version reader: every read is bounds-checked against
// the file and the section that holds it, every table must end within a fixed
// number of entries and every name within a fixed length, and nothing is
// allocated by a size the file claims.
#include "pe/pe_imports.h"

#include <array>
#include <string>

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

constexpr auto Unreadable = &pe::Unreadable<ImportTables>;

struct Table {
    std::size_t index;
    std::size_t descriptorSize;
    std::size_t nameField;
    // A zero here ends the table too: the loader stops at the first
    // descriptor without an address table, and loads nothing past it.
    std::size_t endField;
    bool delayed;
};

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
        if (!pe::ReadName(image, nameAt, kMaxNameLength, name)) return false;
        names.push_back(std::move(name));
    }
    return false;
}

}  // namespace

ImportTables ReadImportTables(ByteSource& source) {
    pe::Image image(source);
    pe::Headers headers;
    if (const char* why = pe::ReadThirtyTwoBit(image, headers)) {
        ImportTables tables = Unreadable(why);
        // A sound file for another processor, which the loader passes over.
        tables.otherMachine = headers.status == pe::Headers::Status::kOk &&
                              (headers.magic == pe::kPe32PlusMagic || headers.machine != pe::kMachineI386);
        return tables;
    }
    // The header reader has checked that the optional header is long enough.
    std::array<std::uint8_t, 4> base;
    if (!image.ReadAt(headers.optionalOffset + kImageBaseField, base.data(), base.size())) {
        return Unreadable("its headers are damaged or point outside the file");
    }

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
