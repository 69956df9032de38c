// What the PE readers' host tests share: little-endian writers, a file in
// memory that records every read and flags any outside the file, a fuzz run
// over one file, and a PE skeleton (DOS header and stub, PE and optional
// headers, section table and section data) into which each test lays out the
// tables its reader looks for.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pe/byte_source.h"

namespace tarnwick::pe_test {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    Put16(bytes, at, static_cast<std::uint16_t>(value));
    Put16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

// A file in memory that records every read, and fails the test on any read
// the reader should never have asked for.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(Bytes bytes) : bytes_(std::move(bytes)), touched_(bytes_.size()) {}

    std::uint64_t Size() const override { return bytes_.size(); }
    bool Read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
        ++reads_;
        if (offset > bytes_.size() || size > bytes_.size() - offset) {
            outside_ = true;
            return false;
        }
        if (reads_ == failAt_) return false;
        bytesRead_ += size;
        std::memcpy(buffer, bytes_.data() + offset, size);
        for (std::size_t i = 0; i < size; ++i) touched_[offset + i] = true;
        return true;
    }

    void FailRead(int which) { failAt_ = which; }
    int reads() const { return reads_; }
    std::size_t bytesRead() const { return bytesRead_; }
    bool readOutside() const { return outside_; }
    const std::vector<bool>& touched() const { return touched_; }

private:
    Bytes bytes_;
    std::vector<bool> touched_;
    int reads_ = 0;
    int failAt_ = 0;
    std::size_t bytesRead_ = 0;
    bool outside_ = false;
};

// What a reader answered for a file, and how it read it.
template <typename Answer>
struct ReadOutcome {
    Answer answer;
    bool readOutside = false;
    std::size_t bytesRead = 0;
};

// `bytes` with one to eight bits flipped at random (`pick(n)` gives a number
// below n); `structural` tells whether one of them is in a byte the reader
// read of the pristine file (`touched`).
template <typename Pick>
Bytes FlipBits(Bytes bytes, const std::vector<bool>& touched, Pick& pick, bool& structural) {
    structural = false;
    for (std::size_t flips = 1 + pick(8); flips > 0; --flips) {
        const std::size_t at = pick(bytes.size());
        bytes[at] ^= static_cast<std::uint8_t>(1u << pick(8));
        structural = structural || touched[at];
    }
    return bytes;
}

// Runs `reader` on `bytes` through a MemorySource.
template <typename Reader>
auto ReadWith(Reader reader, Bytes bytes) {
    MemorySource source(std::move(bytes));
    auto answer = reader(source);
    return ReadOutcome<decltype(answer)>{std::move(answer), source.readOutside(), source.bytesRead()};
}

// The fields a fuzz run's hostile cases change, and the values they set them
// to (besides random ones).
struct HostileFields {
    std::vector<std::size_t> fields;
    std::vector<std::uint32_t> values;
};

// A fuzz run over one well-formed file `file`, whose pristine reading touched
// the bytes `touched`: every truncation (up to `everyLengthTo`, then every
// 64th), 8000 bit-flipped copies, and 8000 copies with one to three of the
// hostile fields set. `read(bytes, kind)` reads a file, checks what must hold
// of any answer, and returns it; `cut(length, answer)` checks the answer for
// the file cut at `length`; `pristine(answer)` tells whether an answer is the
// unharmed file's, which it must be where no flipped byte is one the reader
// looked at.
template <typename Read, typename Cut, typename Pristine>
void FuzzFile(const Bytes& file, const std::vector<bool>& touched, std::mt19937& random,
              const HostileFields& hostile, Read read, Cut cut, Pristine pristine,
              std::size_t everyLengthTo = std::numeric_limits<std::size_t>::max()) {
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    for (std::size_t length = 0; length <= file.size(); length += length < everyLengthTo ? 1 : 64) {
        cut(length, read(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)), "truncated"));
    }
    for (int i = 0; i < 8000; ++i) {
        bool structural = false;
        const Bytes bytes = FlipBits(file, touched, pick, structural);
        const auto answer = read(bytes, "flipped");
        ASSERT_TRUE(structural || pristine(answer)) << "flip " << i << " changed nothing the reader reads";
    }
    for (int i = 0; i < 8000; ++i) {
        Bytes bytes = file;
        for (std::size_t changes = 1 + pick(3); changes > 0; --changes) {
            const std::size_t at = hostile.fields[pick(hostile.fields.size())];
            std::uint32_t value = hostile.values[pick(hostile.values.size())];
            if (pick(4) == 0) value = static_cast<std::uint32_t>(random());
            if (at + 4 <= bytes.size()) Put32(bytes, at, value);
        }
        read(bytes, "hostile");
    }
}

// Reads one of a fuzz run's files, the `cases`th, with `reader`: it must read
// nothing outside the file and at most `mostRead` bytes. Returns the answer.
template <typename Reader>
auto FuzzRead(Reader reader, const Bytes& bytes, std::size_t mostRead, std::size_t& cases, const char* kind) {
    ++cases;
    auto outcome = ReadWith(reader, bytes);
    EXPECT_FALSE(outcome.readOutside) << kind << " case " << cases;
    EXPECT_LE(outcome.bytesRead, mostRead) << kind << " case " << cases;
    return outcome.answer;
}

// How a reader that answers `readable` or `why` (the import and export
// readers) answers a well-read file cut at `length`: no program without its
// first two bytes, damaged anywhere before `needed` (the end of the last
// byte its answer depends on), and from there on as the whole file (`same`).
template <typename Answer, typename Same>
void ExpectCutAnswer(std::size_t length, std::size_t needed, const Answer& answer, Same same) {
    if (length < 2) {
        ASSERT_NE(answer.why.find("not a Windows program"), std::string::npos) << "cut at " << length;
    } else if (length < needed) {
        ASSERT_FALSE(answer.readable) << "cut at " << length;
    } else {
        ASSERT_TRUE(same(answer)) << "cut at " << length << ": " << answer.why;
    }
}

// Whether a reader's name is one a report can print: printable ASCII, not
// empty, at most `longest` bytes.
inline bool PrintableName(const std::string& name, std::size_t longest) {
    return !name.empty() && name.size() <= longest &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// Prints and records how many cases a fuzz run read, and in how long.
inline void ReportFuzz(std::size_t cases, std::chrono::steady_clock::time_point start) {
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::cout << "fuzz: " << cases << " cases in " << took.count() << " ms\n";
    ::testing::Test::RecordProperty("fuzz_cases", static_cast<int>(cases));
    ::testing::Test::RecordProperty("fuzz_ms", static_cast<int>(took.count()));
}

inline constexpr std::uint32_t kPeOffset = 0x80;
// The headers' size in the file, where the first section's data begins.
inline constexpr std::uint32_t kHeadersSize = 0x200;
inline constexpr std::uint16_t kMachineI386 = 0x014C;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;

struct SectionLayout {
    const char* name;
    std::uint32_t rva;
    std::uint32_t virtualSize;
    Bytes data;  // its raw data, a multiple of the file alignment
};

struct DirectoryEntry {
    std::size_t index;
    std::uint32_t rva;
    std::uint32_t size;
};

struct PeLayout {
    bool plus = false;  // PE32+
    std::uint16_t machine = kMachineI386;
    std::uint64_t imageBase = 0;
    std::uint32_t directoryCount = 16;
    std::vector<SectionLayout> sections;
    std::vector<DirectoryEntry> directories;
};

// The file, and the offsets of the header fields that tests change.
struct PeSkeleton {
    Bytes bytes;
    std::size_t sectionCount = 0, optionalSize = 0, optionalMagic = 0, imageBase = 0, rvaCount = 0;
    std::vector<std::size_t> sectionHeaders;  // each section's header
    std::vector<std::size_t> sectionData;     // each section's data

    std::size_t Directory(std::size_t index) const { return rvaCount + 4 + 8 * index; }

    // The header fields a fuzz run sets to hostile values, in this order: the
    // PE header's place, the section count, the optional header's size and
    // magic, the image base (`withImageBase`), the directory count, the
    // address and size of each directory of `directories`, and each section
    // header's sizes and places.
    std::vector<std::size_t> HostileHeaderFields(bool withImageBase,
                                                 std::initializer_list<std::size_t> directories) const {
        std::vector<std::size_t> fields = {0x3C, sectionCount, optionalSize, optionalMagic};
        if (withImageBase) fields.push_back(imageBase);
        fields.push_back(rvaCount);
        for (const std::size_t index : directories) {
            fields.push_back(Directory(index));
            fields.push_back(Directory(index) + 4);
        }
        for (const std::size_t header : sectionHeaders) {
            for (const std::size_t field : {8, 12, 16, 20}) fields.push_back(header + field);
        }
        return fields;
    }
};

// The code section every skeleton starts with: a lone `ret`.
inline SectionLayout CodeSection() {
    Bytes code(0x200, 0);
    code[0] = 0xC3;
    return {".text", 0x1000, 0x10, std::move(code)};
}

// The headers as a linker writes them, then the sections' data in order,
// from kHeadersSize on.
inline PeSkeleton BuildSkeleton(const PeLayout& layout) {
    PeSkeleton pe;
    std::size_t fileSize = kHeadersSize;
    std::uint64_t imageEnd = 0;
    for (const SectionLayout& s : layout.sections) {
        pe.sectionData.push_back(fileSize);
        fileSize += s.data.size();
        const std::uint64_t extent = s.virtualSize != 0 ? s.virtualSize : s.data.size();
        if (s.rva + extent > imageEnd) imageEnd = s.rva + extent;
    }
    Bytes& b = pe.bytes;
    b.assign(fileSize, 0);
    Put16(b, 0, 0x5A4D);
    Put32(b, 0x3C, kPeOffset);
    const char stub[] = "This program cannot be run in DOS mode.";
    std::memcpy(b.data() + 0x4E, stub, sizeof stub);
    Put32(b, kPeOffset, 0x00004550);
    const std::size_t coff = kPeOffset + 4;
    Put16(b, coff, layout.machine);
    pe.sectionCount = coff + 2;
    Put16(b, pe.sectionCount, static_cast<std::uint16_t>(layout.sections.size()));
    const std::uint16_t optionalSize = layout.plus ? 240 : 224;
    pe.optionalSize = coff + 16;
    Put16(b, pe.optionalSize, optionalSize);
    Put16(b, coff + 18, 0x2102);  // executable, 32-bit, DLL
    const std::size_t optional = coff + 20;
    pe.optionalMagic = optional;
    Put16(b, optional, layout.plus ? 0x020B : 0x010B);
    if (layout.plus) {
        pe.imageBase = optional + 24;
        Put32(b, pe.imageBase, static_cast<std::uint32_t>(layout.imageBase));
        Put32(b, pe.imageBase + 4, static_cast<std::uint32_t>(layout.imageBase >> 32));
    } else {
        pe.imageBase = optional + 28;
        Put32(b, pe.imageBase, static_cast<std::uint32_t>(layout.imageBase));
    }
    Put32(b, optional + 32, 0x1000);  // section alignment
    Put32(b, optional + 36, 0x200);   // file alignment
    Put32(b, optional + 56, static_cast<std::uint32_t>((imageEnd + 0xFFF) & ~std::uint64_t{0xFFF}));
    Put32(b, optional + 60, kHeadersSize);
    pe.rvaCount = optional + (layout.plus ? 108 : 92);
    Put32(b, pe.rvaCount, layout.directoryCount);
    for (const DirectoryEntry& d : layout.directories) {
        Put32(b, pe.Directory(d.index), d.rva);
        Put32(b, pe.Directory(d.index) + 4, d.size);
    }
    std::size_t header = optional + optionalSize;
    for (std::size_t i = 0; i < layout.sections.size(); ++i, header += 40) {
        const SectionLayout& s = layout.sections[i];
        pe.sectionHeaders.push_back(header);
        std::memcpy(b.data() + header, s.name, std::strlen(s.name));
        Put32(b, header + 8, s.virtualSize);
        Put32(b, header + 12, s.rva);
        Put32(b, header + 16, static_cast<std::uint32_t>(s.data.size()));
        Put32(b, header + 20, static_cast<std::uint32_t>(pe.sectionData[i]));
        std::copy(s.data.begin(), s.data.end(), b.begin() + static_cast<std::ptrdiff_t>(pe.sectionData[i]));
    }
    return pe;
}

}  // namespace tarnwick::pe_test
