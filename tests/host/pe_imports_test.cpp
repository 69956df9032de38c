// The import-table reader against PE images made here: the names of both
// tables in order, files that are not programs, hand-made damage, and a
// fixed-seed fuzz run. Built with AddressSanitizer and UBSan beside the
// version reader's tests.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "installer/pe_imports.h"
#include "pe_test_support.h"

namespace tarnwick {
namespace {

using Status = ImportTables::Status;

constexpr std::uint32_t kIdataRva = 0x2000;
constexpr std::uint32_t kIdataFile = 0x400;
constexpr std::uint32_t kIdataSize = 0x200;
constexpr std::uint32_t kImageBase = 0x10000000;
constexpr std::size_t kDelayAt = 0x80;   // in .idata
constexpr std::size_t kNamesAt = 0x100;  // in .idata

struct BuiltImports {
    Bytes bytes;
    std::size_t importDirectory = 0, delayDirectory = 0, idataHeader = 0, descriptors = 0, delays = 0, names = 0;
};

// A 32-bit DLL whose .idata section holds the import descriptors, the
// delayed-import descriptors (RVA-based, or with virtual addresses as old
// linkers wrote them) and the names.
BuiltImports BuildImports(const std::vector<std::string>& dlls, const std::vector<std::string>& delayed,
                          bool delayedByAddress = false) {
    BuiltImports pe;
    Bytes& b = pe.bytes;
    b.assign(kIdataFile + kIdataSize, 0);
    Put16(b, 0, 0x5A4D);
    Put32(b, 0x3C, 0x80);
    Put32(b, 0x80, 0x00004550);
    Put16(b, 0x84, 0x014C);
    Put16(b, 0x86, 2);
    Put16(b, 0x94, 224);
    const std::size_t optional = 0x98;
    Put16(b, optional, 0x010B);
    Put32(b, optional + 28, kImageBase);
    Put32(b, optional + 92, 16);
    pe.importDirectory = optional + 96 + 8 * 1;
    pe.delayDirectory = optional + 96 + 8 * 13;
    std::size_t name = kNamesAt;
    auto putName = [&](const std::string& text) {
        std::memcpy(b.data() + kIdataFile + name, text.data(), text.size());
        const std::uint32_t rva = static_cast<std::uint32_t>(kIdataRva + name);
        name += text.size() + 1;
        return rva;
    };
    pe.descriptors = kIdataFile;
    for (std::size_t i = 0; i < dlls.size(); ++i) Put32(b, pe.descriptors + 20 * i + 12, putName(dlls[i]));
    pe.delays = kIdataFile + kDelayAt;
    for (std::size_t i = 0; i < delayed.size(); ++i) {
        const std::uint32_t rva = putName(delayed[i]);
        Put32(b, pe.delays + 32 * i, delayedByAddress ? 0 : 1);
        Put32(b, pe.delays + 32 * i + 4, delayedByAddress ? kImageBase + rva : rva);
        if (delayedByAddress) Put32(b, pe.delays + 32 * i + 8, kImageBase + 0x1000);  // not all zero
    }
    pe.names = kIdataFile + kNamesAt;
    if (!dlls.empty()) {
        Put32(b, pe.importDirectory, kIdataRva);
        Put32(b, pe.importDirectory + 4, static_cast<std::uint32_t>(20 * (dlls.size() + 1)));
    }
    if (!delayed.empty()) {
        Put32(b, pe.delayDirectory, kIdataRva + kDelayAt);
        Put32(b, pe.delayDirectory + 4, static_cast<std::uint32_t>(32 * (delayed.size() + 1)));
    }
    const std::size_t sections = optional + 224;
    auto section = [&](std::size_t at, const char* label, std::uint32_t rva, std::uint32_t rawSize,
                       std::uint32_t rawOffset) {
        std::memcpy(b.data() + at, label, std::strlen(label));
        Put32(b, at + 8, rawSize);
        Put32(b, at + 12, rva);
        Put32(b, at + 16, rawSize);
        Put32(b, at + 20, rawOffset);
    };
    section(sections, ".text", 0x1000, 0x200, 0x200);
    pe.idataHeader = sections + 40;
    section(pe.idataHeader, ".idata", kIdataRva, kIdataSize, kIdataFile);
    return pe;
}

struct Read {
    ImportTables tables;
    bool readOutside = false;
};

Read ReadOf(Bytes bytes) {
    MemorySource source(std::move(bytes));
    ImportTables tables = ReadImportTables(source);
    return {std::move(tables), source.readOutside()};
}

TEST(PeImportsTest, ReadsBothTablesNamesInFileOrder) {
    const Read read = ReadOf(BuildImports({"KERNEL32.dll", "TWABSENT.DLL", "api-ms-win-core-synch-l1-2-0.dll"},
                                          {"comdlg32.dll"}).bytes);
    EXPECT_EQ(read.tables.status, Status::kRead) << read.tables.why;
    EXPECT_TRUE(read.tables.i386);
    EXPECT_EQ(read.tables.dlls,
              (std::vector<std::string>{"KERNEL32.dll", "TWABSENT.DLL", "api-ms-win-core-synch-l1-2-0.dll"}));
    EXPECT_EQ(read.tables.delayed, std::vector<std::string>{"comdlg32.dll"});

    // Old linkers wrote the delayed table with virtual addresses.
    EXPECT_EQ(ReadOf(BuildImports({"USER32.dll"}, {"OLD.DLL"}, true).bytes).tables.delayed,
              std::vector<std::string>{"OLD.DLL"});
    // A DLL that imports nothing.
    const Read none = ReadOf(BuildImports({}, {}).bytes);
    EXPECT_EQ(none.tables.status, Status::kRead);
    EXPECT_TRUE(none.tables.dlls.empty());
    // A 64-bit one is read, and said to be one.
    BuiltImports wide = BuildImports({"KERNEL32.dll"}, {});
    Put16(wide.bytes, 0x84, 0x8664);
    EXPECT_FALSE(ReadOf(wide.bytes).tables.i386);
}

TEST(PeImportsTest, FilesThatAreNotProgramsAreNotRead) {
    EXPECT_EQ(ReadOf({}).tables.status, Status::kNotPe);
    EXPECT_EQ(ReadOf(Bytes{'n', 'o', 't', ' ', 'a', ' ', 'D', 'L', 'L'}).tables.status, Status::kNotPe);
    Bytes dos = BuildImports({"KERNEL32.dll"}, {}).bytes;
    Put32(dos, 0x80, 0);  // no PE signature: a DOS program
    EXPECT_EQ(ReadOf(dos).tables.status, Status::kNotPe);
}

TEST(PeImportsTest, DamagedOrHostileTablesAreUnreadableWithWhy) {
    const BuiltImports base = BuildImports({"KERNEL32.dll", "OLE32.dll"}, {"comdlg32.dll"});
    const auto expectUnreadable = [](Bytes bytes, const char* what) {
        const Read read = ReadOf(std::move(bytes));
        EXPECT_EQ(read.tables.status, Status::kUnreadable) << what;
        EXPECT_FALSE(read.tables.why.empty()) << what;
        EXPECT_TRUE(read.tables.dlls.empty() && read.tables.delayed.empty()) << what;
        EXPECT_FALSE(read.readOutside) << what;
    };
    Bytes b = base.bytes;
    Put32(b, base.importDirectory, 0x7FFFF000);
    expectUnreadable(b, "the table outside every section");
    b = base.bytes;
    Put32(b, base.descriptors + 12, 0xFFFFFFF0);
    expectUnreadable(b, "a name outside every section");
    b = base.bytes;
    std::memset(b.data() + base.names, 'A', kIdataSize - kNamesAt);
    expectUnreadable(b, "a name without its end");
    b = base.bytes;
    b[base.names + 3] = 0x07;
    expectUnreadable(b, "a name that is not printable");
    b = base.bytes;
    b[base.names] = 0;
    expectUnreadable(b, "an empty name");
    b = base.bytes;
    // Descriptors all the way to the section's end, none of them empty.
    for (std::size_t at = 0; at + 20 <= kDelayAt; at += 20) Put32(b, base.descriptors + at + 12, kIdataRva + kNamesAt);
    for (std::size_t at = kDelayAt; at + 20 <= kIdataSize; at += 20) Put32(b, base.descriptors + at, 1);
    expectUnreadable(b, "a table without its end");
    b = base.bytes;
    Put32(b, base.delays + 4, 0x20);  // a virtual address below the image base
    Put32(b, base.delays, 0);
    expectUnreadable(b, "a delayed name below the image");
    b = base.bytes;
    Put16(b, 0x86, 200);  // more sections than the loader allows
    expectUnreadable(b, "too many sections");
    b = base.bytes;
    b.resize(0x120);  // cut inside the headers
    expectUnreadable(b, "a file cut short");
}

TEST(PeImportsTest, FuzzedFilesNeverReadOutsideOrGiveDamagedNames) {
    std::mt19937 random(20261208);
    const auto pick = [&random](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    const BuiltImports base = BuildImports({"KERNEL32.dll", "TWABSENT.DLL", "OLE32.dll"}, {"comdlg32.dll"});
    const std::size_t fields[] = {0x3C, 0x86, 0x94, 0x98, 0x98 + 92, base.importDirectory, base.importDirectory + 4,
                                  base.delayDirectory, base.delayDirectory + 4, base.idataHeader + 8,
                                  base.idataHeader + 12, base.idataHeader + 16, base.idataHeader + 20,
                                  base.descriptors + 12, base.descriptors + 32, base.delays, base.delays + 4};
    const std::uint32_t values[] = {0, 1, 0x10, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, kIdataRva,
                                    kIdataRva + 0x1F0, kIdataRva + kIdataSize, kImageBase, kIdataFile};
    for (int i = 0; i < 6000; ++i) {
        Bytes bytes = base.bytes;
        switch (pick(3)) {
            case 0: bytes.resize(pick(bytes.size())); break;
            case 1:
                for (std::size_t n = 1 + pick(8); n > 0; --n) bytes[pick(bytes.size())] ^= 1u << pick(8);
                break;
            default:
                for (std::size_t n = 1 + pick(3); n > 0; --n) {
                    std::uint32_t value = values[pick(std::size(values))];
                    if (pick(4) == 0) value = static_cast<std::uint32_t>(random());
                    Put32(bytes, fields[pick(std::size(fields))], value);
                }
        }
        const Read read = ReadOf(bytes);
        ASSERT_FALSE(read.readOutside) << "case " << i;
        for (const auto* names : {&read.tables.dlls, &read.tables.delayed}) {
            ASSERT_LE(names->size(), kMaxImportedDlls);
            for (const std::string& name : *names) {
                ASSERT_FALSE(name.empty());
                ASSERT_LE(name.size(), kMaxDllName);
                for (char c : name) ASSERT_TRUE(c >= 0x20 && c <= 0x7E) << "case " << i;
            }
        }
    }
}

}  // namespace
}  // namespace tarnwick
