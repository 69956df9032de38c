// Reading the names a PE file exports. The same rules as the readers beside
// it: every read is bounds-checked against the file and the section that
// holds it, every count and name is capped, and nothing is allocated by a
// size the file claims beyond those caps.
#include "pe/pe_exports.h"

#include <array>
#include <string>

#include "pe/pe_image.h"

namespace tarnwick {
namespace {

using pe::U16;
using pe::U32;

constexpr std::size_t kExportDirectoryIndex = 0;
constexpr std::size_t kDirectorySize = 40;  // IMAGE_EXPORT_DIRECTORY
constexpr std::size_t kBuiltAsField = 12;
constexpr std::size_t kFunctionCountField = 20;
constexpr std::size_t kNameCountField = 24;
constexpr std::size_t kFunctionsField = 28;
constexpr std::size_t kNamesField = 32;
constexpr std::size_t kOrdinalsField = 36;
// Ordinals are 16 bits wide.
constexpr std::uint32_t kMaxFunctions = 0x10000;
// Several times what the largest system DLLs export by name; a table that
// claims more is damaged.
constexpr std::uint32_t kMaxNames = 8192;
// All the names together, so that the answer stays small whatever the count.
constexpr std::size_t kMaxNameBytes = std::size_t{1} << 20;
// Longer than any file name the system accepts.
constexpr std::size_t kMaxFileNameLength = 256;

constexpr auto Unreadable = &pe::Unreadable<ExportTable>;

constexpr const char* kDamaged = "its export table is damaged or points outside the file";

}  // namespace

ExportTable ReadExportTable(ByteSource& source) {
    pe::Image image(source);
    pe::Headers headers;
    if (const char* why = pe::ReadThirtyTwoBit(image, headers)) return Unreadable(why);
    const pe::Directory directory = pe::ReadDirectory(image, headers, kExportDirectoryIndex);
    if (directory.status == pe::Directory::Status::kDamaged) return Unreadable(kDamaged);
    ExportTable table;
    if (directory.status == pe::Directory::Status::kAbsent) {
        table.readable = true;
        return table;
    }
    std::array<std::uint8_t, kDirectorySize> fields;
    if (!image.ReadRva(directory.rva, fields.data(), fields.size())) return Unreadable(kDamaged);
    const std::uint32_t builtAs = U32(fields.data() + kBuiltAsField);
    if (builtAs != 0 && !pe::ReadName(image, builtAs, kMaxFileNameLength, table.builtAs)) return Unreadable(kDamaged);
    const std::uint32_t functionCount = U32(fields.data() + kFunctionCountField);
    const std::uint32_t nameCount = U32(fields.data() + kNameCountField);
    const std::uint64_t functions = U32(fields.data() + kFunctionsField);
    const std::uint64_t names = U32(fields.data() + kNamesField);
    const std::uint64_t ordinals = U32(fields.data() + kOrdinalsField);
    if (functionCount > kMaxFunctions || nameCount > kMaxNames) return Unreadable(kDamaged);

    std::size_t nameBytes = 0;
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        std::array<std::uint8_t, 4> nameAt, function;
        std::array<std::uint8_t, 2> ordinal;
        if (!image.ReadRva(names + 4 * std::uint64_t{i}, nameAt.data(), nameAt.size()) ||
            !image.ReadRva(ordinals + 2 * std::uint64_t{i}, ordinal.data(), ordinal.size())) {
            return Unreadable(kDamaged);
        }
        // The name must lead to a function whose code (or forwarding name)
        // is in the file: the loader would hand out its address.
        const std::uint16_t index = U16(ordinal.data());
        if (index >= functionCount ||
            !image.ReadRva(functions + 4 * std::uint64_t{index}, function.data(), function.size()) ||
            U32(function.data()) == 0 || image.Available(U32(function.data())) == 0) {
            return Unreadable("its export table names a function that is not in the file");
        }
        std::string name;
        if (!pe::ReadName(image, U32(nameAt.data()), pe::kLongestName, name)) return Unreadable(kDamaged);
        if (!table.names.empty() && !(table.names.back() < name)) {
            return Unreadable("its export table's names are out of order, so the loader would miss some");
        }
        nameBytes += name.size();
        if (nameBytes > kMaxNameBytes) return Unreadable(kDamaged);
        table.names.push_back(std::move(name));
    }
    table.readable = true;
    return table;
}

}  // namespace tarnwick
