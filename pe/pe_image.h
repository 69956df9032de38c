// The parts of a PE file that its readers share: the headers, the data
// directories and the section table, with every read bounds-checked against
// the file. Each number in the file is hostile until checked.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "pe/byte_source.h"

namespace tarnwick::pe {

inline std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t U32(const std::uint8_t* p) {
    return U16(p) | static_cast<std::uint32_t>(U16(p + 2)) << 16;
}

inline constexpr std::uint16_t kPe32Magic = 0x010B;
inline constexpr std::uint16_t kPe32PlusMagic = 0x020B;
inline constexpr std::uint16_t kMachineI386 = 0x014C;
inline constexpr std::uint16_t kDllCharacteristic = 0x2000;  // IMAGE_FILE_DLL
// The Windows loader refuses more sections than this.
inline constexpr std::size_t kMaxSections = 96;

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
    bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t size);
    // Where the RVA range lies in the file. It must lie in one section's
    // data: the part of a section past its data would be zeros in memory,
    // which no table or name the readers look for ever is.
    std::optional<std::uint64_t> Locate(std::uint64_t rva, std::uint64_t size) const;
    // How many bytes of section data, in the file, there are from `rva` on.
    std::uint64_t Available(std::uint64_t rva) const;
    bool ReadRva(std::uint64_t rva, std::uint8_t* buffer, std::size_t size);
    bool ReadSections(std::uint64_t offset, std::size_t count);

private:
    const Section* SectionOf(std::uint64_t rva) const;

    ByteSource& source_;
    std::uint64_t size_;
    std::array<Section, kMaxSections> sections_{};
    std::size_t sectionCount_ = 0;
};

// The DOS, PE and optional headers, as far as the readers need them.
struct Headers {
    enum class Status {
        kOk,
        kNotProgram,  // no "MZ", or a DOS program without a PE header
        kDamaged,     // cut short, pointing outside the file, or of an unknown format
    };
    Status status = Status::kNotProgram;
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;  // the COFF header's flags
    std::uint16_t magic = 0;  // kPe32Magic or kPe32PlusMagic
    std::uint64_t optionalOffset = 0;
    std::uint16_t optionalSize = 0;
    std::size_t sectionCount = 0;
    std::uint64_t directoriesField = 0;  // the directory count's offset in the optional header
    std::uint32_t directoryCount = 0;
};

Headers ReadHeaders(Image& image);

struct Directory {
    enum class Status { kPresent, kAbsent, kDamaged };
    Status status = Status::kAbsent;
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

// Data directory `index` (2 resources, 1 imports, 13 delayed imports). One
// with a zero address or size is absent.
Directory ReadDirectory(Image& image, const Headers& headers, std::size_t index);

// Reads the section table that follows the optional header.
bool ReadSections(Image& image, const Headers& headers);

// The longest name ReadName reads: the longest a compiler gives an exported
// function's decorated name.
inline constexpr std::size_t kLongestName = 4096;

// The NUL-terminated name at `rva`: printable ASCII, not empty, at most
// `maxLength` (up to kLongestName) bytes, ending within its section.
bool ReadName(Image& image, std::uint64_t rva, std::size_t maxLength, std::string& name);

// The answer of a reader that tells `readable` or `why` (the import and
// export readers) for a file it cannot read, for `why`.
template <typename Answer>
Answer Unreadable(std::string why) {
    Answer answer;
    answer.why = std::move(why);
    return answer;
}

// Reads the headers and the section table of a 32-bit (PE32, i386) file into
// `headers` and `image`. Returns nullptr for such a file, or what is wrong
// with it: not a program, one for another processor, damaged headers or
// section table.
const char* ReadThirtyTwoBit(Image& image, Headers& headers);

}  // namespace tarnwick::pe
