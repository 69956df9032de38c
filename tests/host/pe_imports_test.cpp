// The import-table reader against PE images made here: well-formed ones with
// import and delayed-import tables of both kinds, files that are no 32-bit
// program, hand-made damage to headers, tables and names, failed reads, and a
// fixed-seed fuzz run over truncated, bit-flipped and field-smashed files.
// Built with AddressSanitizer and UBSan, so a read out of bounds fails too.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "pe/pe_imports.h"
#include "tests/host/pe_test_support.h"

namespace tarnwick {
namespace {

using namespace pe_test;
using Names = std::vector<std::string>;

constexpr std::uint32_t kImageBase = 0x10000000;
constexpr std::uint32_t kIdataRva = 0x2000;
constexpr std::uint32_t kDataRva = 0x3000;
constexpr std::uint32_t kDataExtent = 0x1000;  // in memory; its file data is shorter
constexpr std::size_t kImportIndex = 1;
constexpr std::size_t kDelayedIndex = 13;
constexpr std::size_t kDescriptorSize = 20;
constexpr std::size_t kDelayedSize = 32;
constexpr std::size_t kNameField = 12;         // in an import descriptor
constexpr std::size_t kDelayedNameField = 4;   // in a delayed one, after the attributes
constexpr std::size_t kMostNames = 1024;       // per table
constexpr std::size_t kLongestName = 256;

struct DelayedImport {
    std::string name;
    bool rvaForm = true;  // false: an old linker's table, holding addresses
};

struct ImportOptions {
    Names imports{"KERNEL32.dll", "OLEAUT32.dll", "TWHELPER.DLL"};
    std::vector<DelayedImport> delayed{{"VERSION.dll", true}, {"SHLWAPI.dll", false}};
    bool plus = false;
    std::uint16_t machine = kMachineI386;
    std::uint32_t directoryCount = 16;
};

// A DLL as a linker lays it out: code, then an import section holding the
// import descriptors, the delayed descriptors, their thunks and, last, the
// names; then a data section (with uninitialised memory past its file data)
// that the tests fill with hostile names.
struct ImportPe : PeSkeleton {
    std::size_t idata = 0, idataSize = 0, data = 0;  // file offsets and the raw size
    std::vector<std::size_t> descriptors, delayedDescriptors;  // file offsets, each with its terminator last
    std::size_t needed = 0;  // the file's length up to the last byte that the answer depends on

    std::uint32_t IdataRva(std::size_t fileOffset) const {
        return static_cast<std::uint32_t>(kIdataRva + fileOffset - idata);
    }
};

std::size_t RoundUp(std::size_t size, std::size_t to) { return (size + to - 1) / to * to; }

void PutText(Bytes& bytes, std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    bytes[at + text.size()] = 0;
}

ImportPe BuildImportPe(const ImportOptions& options = {}) {
    const std::size_t imports = options.imports.size(), delayed = options.delayed.size();
    const std::size_t delayedAt = RoundUp((imports + 1) * kDescriptorSize, 8);
    const std::size_t thunksAt = delayedAt + (delayed + 1) * kDelayedSize;
    std::size_t namesAt = thunksAt + (imports + delayed) * 16;  // a name table and an address table each
    std::size_t used = namesAt;
    for (const std::string& name : options.imports) used += name.size() + 1;
    for (const DelayedImport& d : options.delayed) used += d.name.size() + 1;
    // Room at the end for a name that runs into the section's end.
    Bytes idata(RoundUp(used + 8, 0x200), 0);
    auto thunks = [&](std::size_t i) {
        const std::size_t at = thunksAt + 16 * i;
        Put32(idata, at, 0x80000001);  // by ordinal
        Put32(idata, at + 8, 0x80000001);
        return static_cast<std::uint32_t>(kIdataRva + at);
    };
    auto name = [&](const std::string& text) {
        PutText(idata, namesAt, text);
        const std::uint32_t rva = static_cast<std::uint32_t>(kIdataRva + namesAt);
        namesAt += text.size() + 1;
        return rva;
    };
    for (std::size_t i = 0; i < imports; ++i) {
        const std::size_t at = i * kDescriptorSize;
        const std::uint32_t thunk = thunks(i);
        Put32(idata, at, thunk);
        Put32(idata, at + kNameField, name(options.imports[i]));
        Put32(idata, at + 16, thunk + 8);
    }
    for (std::size_t i = 0; i < delayed; ++i) {
        const std::size_t at = delayedAt + i * kDelayedSize;
        const DelayedImport& d = options.delayed[i];
        const std::uint32_t base = d.rvaForm ? 0 : kImageBase;
        const std::uint32_t thunk = thunks(imports + i);
        Put32(idata, at, d.rvaForm ? 1 : 0);
        Put32(idata, at + kDelayedNameField, base + name(d.name));
        Put32(idata, at + 8, base + kDataRva + 0x1C0 + 4 * static_cast<std::uint32_t>(i % 16));  // module handle
        Put32(idata, at + 12, base + thunk + 8);
        Put32(idata, at + 16, base + thunk);
    }

    PeLayout layout;
    layout.plus = options.plus;
    layout.machine = options.machine;
    layout.imageBase = kImageBase;
    layout.directoryCount = options.directoryCount;
    const std::uint32_t idataSize = static_cast<std::uint32_t>(idata.size());
    layout.sections = {CodeSection(), {".idata", kIdataRva, idataSize, std::move(idata)},
                     {".data", kDataRva, kDataExtent, Bytes(0x200, 0)}};
    if (imports > 0) {
        layout.directories.push_back(
            {kImportIndex, kIdataRva, static_cast<std::uint32_t>((imports + 1) * kDescriptorSize)});
    }
    if (delayed > 0) {
        layout.directories.push_back({kDelayedIndex, static_cast<std::uint32_t>(kIdataRva + delayedAt),
                                    static_cast<std::uint32_t>((delayed + 1) * kDelayedSize)});
    }
    ImportPe pe;
    static_cast<PeSkeleton&>(pe) = BuildSkeleton(layout);
    pe.idata = pe.sectionData[1];
    pe.idataSize = idataSize;
    pe.data = pe.sectionData[2];
    for (std::size_t i = 0; i <= imports; ++i) pe.descriptors.push_back(pe.idata + i * kDescriptorSize);
    for (std::size_t i = 0; i <= delayed; ++i) {
        pe.delayedDescriptors.push_back(pe.idata + delayedAt + i * kDelayedSize);
    }
    pe.needed = imports + delayed > 0 ? pe.idata + namesAt : 0;
    return pe;
}

using Outcome = ReadOutcome<ImportTables>;

Outcome Read(Bytes bytes) { return ReadWith(ReadImportTables, std::move(bytes)); }

// Not readable, saying `word`, with no names and no read outside the file.
void ExpectUnreadable(const Outcome& outcome, const std::string& word, const std::string& what) {
    EXPECT_FALSE(outcome.answer.readable) << what;
    EXPECT_NE(outcome.answer.why.find(word), std::string::npos) << what << ": \"" << outcome.answer.why << '"';
    EXPECT_TRUE(outcome.answer.imports.empty()) << what;
    EXPECT_TRUE(outcome.answer.delayed.empty()) << what;
    EXPECT_FALSE(outcome.readOutside) << what;
}

// The words that tell the two tables apart in `why`.
std::string TableWord(std::size_t index) { return index == kImportIndex ? "its import table" : "delayed-import"; }

TEST(PeImportsTest, ReadsBothTablesInFileOrder) {
    ImportPe pe = BuildImportPe();
    const Outcome both = Read(pe.bytes);
    EXPECT_TRUE(both.answer.readable) << both.answer.why;
    EXPECT_TRUE(both.answer.why.empty());
    EXPECT_EQ(both.answer.imports, (Names{"KERNEL32.dll", "OLEAUT32.dll", "TWHELPER.DLL"}));
    EXPECT_EQ(both.answer.delayed, (Names{"VERSION.dll", "SHLWAPI.dll"}));
    EXPECT_FALSE(both.readOutside);

    // A large file is read no further than its headers and tables.
    pe.bytes.resize(64 << 20, 0xCC);
    const Outcome large = Read(std::move(pe.bytes));
    EXPECT_EQ(large.answer.imports, both.answer.imports);
    EXPECT_EQ(large.answer.delayed, both.answer.delayed);
    EXPECT_LT(large.bytesRead, 4096u);

    // Old-style delayed tables only; a delayed table alone; imports alone.
    ImportOptions oldStyle;
    oldStyle.delayed = {{"MSVCRT.dll", false}, {"ADVAPI32.dll", false}, {"COMCTL32.dll", false}};
    EXPECT_EQ(Read(BuildImportPe(oldStyle).bytes).answer.delayed,
              (Names{"MSVCRT.dll", "ADVAPI32.dll", "COMCTL32.dll"}));
    ImportOptions delayedOnly;
    delayedOnly.imports.clear();
    const Outcome onlyDelayed = Read(BuildImportPe(delayedOnly).bytes);
    EXPECT_TRUE(onlyDelayed.answer.readable) << onlyDelayed.answer.why;
    EXPECT_TRUE(onlyDelayed.answer.imports.empty());
    EXPECT_EQ(onlyDelayed.answer.delayed, (Names{"VERSION.dll", "SHLWAPI.dll"}));
    ImportOptions importsOnly;
    importsOnly.delayed.clear();
    const Outcome onlyImports = Read(BuildImportPe(importsOnly).bytes);
    EXPECT_TRUE(onlyImports.answer.readable) << onlyImports.answer.why;
    EXPECT_EQ(onlyImports.answer.imports.size(), 3u);
    EXPECT_TRUE(onlyImports.answer.delayed.empty());

    // The loader stops at a descriptor without an address table: so does the reader.
    ImportPe cut = BuildImportPe();
    Put32(cut.bytes, cut.descriptors[1] + 16, 0);
    EXPECT_EQ(Read(cut.bytes).answer.imports, (Names{"KERNEL32.dll"}));

    // Within the limits: a name of the longest length, and a thousand DLLs.
    ImportPe longest = BuildImportPe();
    PutText(longest.bytes, longest.data, std::string(kLongestName, 'L'));
    Put32(longest.bytes, longest.descriptors[1] + kNameField, kDataRva);
    EXPECT_EQ(Read(longest.bytes).answer.imports,
              (Names{"KERNEL32.dll", std::string(kLongestName, 'L'), "TWHELPER.DLL"}));
    ImportOptions many;
    many.imports.clear();
    for (int i = 0; i < 1000; ++i) many.imports.push_back("LIB" + std::to_string(1000 + i) + ".DLL");
    const Outcome thousand = Read(BuildImportPe(many).bytes);
    EXPECT_TRUE(thousand.answer.readable) << thousand.answer.why;
    EXPECT_EQ(thousand.answer.imports, many.imports);
}

TEST(PeImportsTest, FilesWithoutImportTablesAreReadableAndEmpty) {
    ImportOptions none;
    none.imports.clear();
    none.delayed.clear();
    // No directories; and directories present but past the count the file declares.
    ImportOptions fewDirectories;
    fewDirectories.directoryCount = 1;
    ImportOptions noDirectories;
    noDirectories.directoryCount = 0;
    for (const ImportOptions& options : {none, fewDirectories, noDirectories}) {
        const Outcome outcome = Read(BuildImportPe(options).bytes);
        EXPECT_TRUE(outcome.answer.readable) << options.directoryCount << ": " << outcome.answer.why;
        EXPECT_TRUE(outcome.answer.imports.empty()) << options.directoryCount;
        EXPECT_TRUE(outcome.answer.delayed.empty()) << options.directoryCount;
        EXPECT_FALSE(outcome.readOutside);
    }
    // A count that ends before the delayed table leaves the imports.
    ImportOptions noDelayedDirectory;
    noDelayedDirectory.directoryCount = kDelayedIndex;
    const Outcome outcome = Read(BuildImportPe(noDelayedDirectory).bytes);
    EXPECT_TRUE(outcome.answer.readable) << outcome.answer.why;
    EXPECT_EQ(outcome.answer.imports.size(), 3u);
    EXPECT_TRUE(outcome.answer.delayed.empty());
}

TEST(PeImportsTest, FilesThatAreNoThirtyTwoBitProgramSaySo) {
    const std::string text = "not a program, just text that is long enough to hold a DOS header....";
    ExpectUnreadable(Read(Bytes(text.begin(), text.end())), "not a Windows program", "text");
    ExpectUnreadable(Read({}), "not a Windows program", "empty file");
    ExpectUnreadable(Read({'M'}), "not a Windows program", "one byte");
    ExpectUnreadable(Read({'M', 'Z'}), "damaged", "\"MZ\" only");
    ImportPe dosProgram = BuildImportPe();
    Put32(dosProgram.bytes, kPeOffset, 0x12345678);
    ExpectUnreadable(Read(dosProgram.bytes), "not a Windows program", "DOS program");

    // Only these are sound programs for another processor, which the loader
    // passes over while it searches.
    EXPECT_FALSE(Read(Bytes(text.begin(), text.end())).answer.otherMachine);
    EXPECT_FALSE(Read(dosProgram.bytes).answer.otherMachine);
    ImportOptions plus;
    plus.plus = true;
    plus.machine = kMachineAmd64;
    ExpectUnreadable(Read(BuildImportPe(plus).bytes), "64-bit", "PE32+ for x64");
    EXPECT_TRUE(Read(BuildImportPe(plus).bytes).answer.otherMachine);
    ImportOptions arm;
    arm.machine = 0x01C4;
    ExpectUnreadable(Read(BuildImportPe(arm).bytes), "another processor", "PE32 for ARM");
    EXPECT_TRUE(Read(BuildImportPe(arm).bytes).answer.otherMachine);
    ImportOptions x64Machine;
    x64Machine.machine = kMachineAmd64;
    ExpectUnreadable(Read(BuildImportPe(x64Machine).bytes), "another processor", "PE32 for x64");
    EXPECT_TRUE(Read(BuildImportPe(x64Machine).bytes).answer.otherMachine);
}

TEST(PeImportsTest, DamagedHeadersAreUnreadable) {
    struct Case {
        const char* what;
        std::size_t PeSkeleton::*field;
        std::uint32_t value;
        int width;
        const char* word;
    };
    const Case cases[] = {
        {"optional header too short for the image base", &PeSkeleton::optionalSize, 30, 16, "damaged"},
        {"optional header too short for its magic", &PeSkeleton::optionalSize, 1, 16, "damaged"},
        {"optional header ends inside the import directory", &PeSkeleton::optionalSize, 92 + 4 + 12, 16,
         "its import table"},
        {"unknown optional header", &PeSkeleton::optionalMagic, 0x0107, 16, "damaged"},
        {"97 sections", &PeSkeleton::sectionCount, 97, 16, "section table"},
        {"65535 sections", &PeSkeleton::sectionCount, 0xFFFF, 16, "section table"},
        {"section table past the file", &PeSkeleton::optionalSize, 0xFFF0, 16, "section table"},
        {"no sections", &PeSkeleton::sectionCount, 0, 16, "its import table"},
    };
    // As built, and with 64 KiB after it, where a claimed section table fits.
    for (const std::size_t size : {std::size_t{0}, std::size_t{64} << 10}) {
        for (const Case& c : cases) {
            ImportPe pe = BuildImportPe();
            if (pe.bytes.size() < size) pe.bytes.resize(size);
            if (c.width == 16) {
                Put16(pe.bytes, pe.*c.field, static_cast<std::uint16_t>(c.value));
            } else {
                Put32(pe.bytes, pe.*c.field, c.value);
            }
            ExpectUnreadable(Read(pe.bytes), c.word, c.what + (", size " + std::to_string(pe.bytes.size())));
        }
    }
    ImportPe farHeader = BuildImportPe();
    Put32(farHeader.bytes, 0x3C, 0xFFFFFFF0);
    ExpectUnreadable(Read(farHeader.bytes), "damaged", "PE header past the end");
}

TEST(PeImportsTest, DamagedTablesAreUnreadable) {
    for (const std::size_t index : {kImportIndex, kDelayedIndex}) {
        const std::string word = TableWord(index);
        auto directoryAt = [&](std::uint32_t rva, const char* what) {
            ImportPe pe = BuildImportPe();
            Put32(pe.bytes, pe.Directory(index), rva);
            ExpectUnreadable(Read(pe.bytes), word, what + (", " + word));
        };
        directoryAt(0x9000, "table outside every section");
        directoryAt(0x40, "table in the headers");
        directoryAt(0xFFFFFFF0, "table at the top of the address space");
        const ImportPe pristine = BuildImportPe();
        directoryAt(static_cast<std::uint32_t>(kIdataRva + pristine.idataSize - 8),
                    "table runs past its section's data");
        directoryAt(kDataRva + 0x400, "table in memory past its section's data");
    }

    // The section that holds the tables has its data past the file, or none.
    ImportPe pastFile = BuildImportPe();
    Put32(pastFile.bytes, pastFile.sectionHeaders[1] + 20, 0x100000);
    ExpectUnreadable(Read(pastFile.bytes), "its import table", "section data past the file");
    ImportPe noData = BuildImportPe();
    Put32(noData.bytes, noData.sectionHeaders[1] + 16, 0);
    ExpectUnreadable(Read(noData.bytes), "its import table", "section without file data");

    // More descriptors than any real file has, with an end after them.
    for (const bool delayed : {false, true}) {
        ImportOptions tooMany;
        tooMany.imports.clear();
        tooMany.delayed.clear();
        for (std::size_t i = 0; i <= kMostNames; ++i) {
            const std::string name = "LIB" + std::to_string(10000 + i) + ".DLL";
            if (delayed) {
                tooMany.delayed.push_back({name, true});
            } else {
                tooMany.imports.push_back(name);
            }
        }
        const Outcome outcome = Read(BuildImportPe(tooMany).bytes);
        ExpectUnreadable(outcome, delayed ? "delayed-import" : "its import table",
                         delayed ? "1025 delayed descriptors" : "1025 descriptors");
    }
}

// A section of 2 MiB filled with descriptors naming one DLL, without an end:
// only the cap on the count stops the reader, after a bounded read.
TEST(PeImportsTest, ATableThatNeverEndsIsReadOnlyToTheCap) {
    for (const std::size_t index : {kImportIndex, kDelayedIndex}) {
        const std::size_t size = index == kImportIndex ? kDescriptorSize : kDelayedSize;
        const std::size_t nameField = index == kImportIndex ? kNameField : kDelayedNameField;
        constexpr std::uint32_t kIdataSize = 2 << 20;
        constexpr std::uint32_t kNameRva = kIdataRva + kIdataSize;  // the next section
        Bytes idata(kIdataSize, 0);
        for (std::size_t at = 0; at + size <= idata.size(); at += size) {
            if (index == kDelayedIndex) Put32(idata, at, 1);
            if (index == kImportIndex) Put32(idata, at + 16, kNameRva);  // an address table, so no end there
            Put32(idata, at + nameField, kNameRva);
        }
        Bytes data(0x200, 0);
        PutText(data, 0, "KERNEL32.dll");
        PeLayout layout;
        layout.imageBase = kImageBase;
        layout.sections = {CodeSection(), {".idata", kIdataRva, kIdataSize, std::move(idata)},
                         {".data", kNameRva, 0x200, std::move(data)}};
        layout.directories = {{index, kIdataRva, 0x1000}};
        const Outcome outcome = Read(BuildSkeleton(layout).bytes);
        ExpectUnreadable(outcome, TableWord(index), "endless " + TableWord(index));
        EXPECT_LE(outcome.bytesRead, 4096 + kMostNames * (size + kLongestName + 1)) << TableWord(index);
    }
}

TEST(PeImportsTest, DamagedNamesAreUnreadable) {
    // Which descriptor's name is damaged, and how its name field is written.
    struct Target {
        const char* what;
        std::size_t index;
        bool oldStyle;
    };
    const Target targets[] = {
        {"import", kImportIndex, false},
        {"delayed", kDelayedIndex, false},
        {"old-style delayed", kDelayedIndex, true},
    };
    for (const Target& t : targets) {
        const std::string word = TableWord(t.index);
        auto pointName = [&](ImportPe& pe, std::uint32_t rva) {
            // The default file's second delayed descriptor is the old-style one.
            const std::size_t at = t.index == kImportIndex ? pe.descriptors[1] + kNameField
                                   : t.oldStyle            ? pe.delayedDescriptors[1] + kDelayedNameField
                                                           : pe.delayedDescriptors[0] + kDelayedNameField;
            Put32(pe.bytes, at, t.oldStyle ? kImageBase + rva : rva);
        };
        auto expect = [&](const ImportPe& pe, const std::string& what) {
            ExpectUnreadable(Read(pe.bytes), word, what + ", " + t.what);
        };
        auto nameAt = [&](std::uint32_t rva, const std::string& what) {
            ImportPe pe = BuildImportPe();
            pointName(pe, rva);
            expect(pe, what);
        };
        auto nameIs = [&](const std::string& text, const std::string& what) {
            ImportPe pe = BuildImportPe();
            PutText(pe.bytes, pe.data + 0x10, text);
            pointName(pe, kDataRva + 0x10);
            expect(pe, what);
        };
        nameAt(0x9000, "name outside every section");
        nameAt(0x80, "name in the headers");
        nameAt(kDataRva + 0x800, "name in memory past its section's data");
        nameAt(0xEFFFFFFF, "name at the top of the address space");
        nameIs(std::string(kLongestName + 1, 'N') + std::string(40, 'M'), "name without its end within 257 bytes");
        nameIs("KERNEL32\t.dll", "name with a tab");
        nameIs("KERNEL32.dll\n", "name with a line break");
        nameIs("KERN\x7F" "EL32.dll", "name with a delete byte");
        nameIs("", "empty name");

        // Printable up to its section's end; the next section's zeros follow in the file.
        ImportPe atEnd = BuildImportPe();
        const std::size_t last = atEnd.idata + atEnd.idataSize - 4;
        ASSERT_EQ(atEnd.bytes[last - 1], 0);
        std::copy_n("DLL.", 4, atEnd.bytes.begin() + static_cast<std::ptrdiff_t>(last));
        ASSERT_EQ(atEnd.bytes[last + 4], 0);
        pointName(atEnd, atEnd.IdataRva(last));
        expect(atEnd, "name running to its section's end");

        // Cut short by the file's end within the section.
        ImportPe cut = BuildImportPe();
        PutText(cut.bytes, cut.data + 0x1F0, "KERNEL32.dll");
        pointName(cut, kDataRva + 0x1F0);
        cut.bytes.resize(cut.data + 0x1F8);
        expect(cut, "name cut by the file's end");
    }

    // An old linker's address below the image base cannot be turned into an RVA.
    ImportPe below = BuildImportPe();
    Put32(below.bytes, below.delayedDescriptors[1] + kDelayedNameField,
          below.IdataRva(below.delayedDescriptors[1]) + 0x100);
    ExpectUnreadable(Read(below.bytes), "delayed-import", "old-style name below the image base");
    ImportPe justBelow = BuildImportPe();
    Put32(justBelow.bytes, justBelow.delayedDescriptors[1] + kDelayedNameField, kImageBase - 1);
    ExpectUnreadable(Read(justBelow.bytes), "delayed-import", "old-style name just below the image base");
    // The attribute decides how a name's place is read: an RVA read as an
    // address lies below the image base, an address read as an RVA nowhere.
    ImportPe asAddress = BuildImportPe();
    Put32(asAddress.bytes, asAddress.delayedDescriptors[0], 0);
    ExpectUnreadable(Read(asAddress.bytes), "delayed-import", "RVA read as an address");
    ImportPe asRva = BuildImportPe();
    Put32(asRva.bytes, asRva.delayedDescriptors[1], 1);
    ExpectUnreadable(Read(asRva.bytes), "delayed-import", "address read as an RVA");
}

TEST(PeImportsTest, AFailedReadIsUnreadableWhereverItHappens) {
    const ImportPe pe = BuildImportPe();
    MemorySource counting(pe.bytes);
    ASSERT_TRUE(ReadImportTables(counting).readable);
    ASSERT_GT(counting.reads(), 8);
    for (int which = 1; which <= counting.reads(); ++which) {
        MemorySource failing(pe.bytes);
        failing.FailRead(which);
        const ImportTables answer = ReadImportTables(failing);
        EXPECT_FALSE(answer.readable) << "read " << which;
        EXPECT_FALSE(answer.why.empty()) << "read " << which;
        EXPECT_TRUE(answer.imports.empty() && answer.delayed.empty()) << "read " << which;
    }
}

// Fixed seed: the same files every run, so a failure can be replayed.
TEST(PeImportsTest, FuzzedFilesNeverReadOutsideOrLie) {
    const auto start = std::chrono::steady_clock::now();
    std::mt19937 random(20261208);
    // An upper bound on what the reader ever reads: the headers, the image
    // base, two directory entries, 96 section headers, and two full tables
    // of descriptors with a longest name each.
    constexpr std::size_t kMostRead = 2 + 64 + 24 + 2 + 4 + 4 + 2 * 8 + 96 * 40 +
                                      kMostNames * (kDescriptorSize + kLongestName + 1) +
                                      kMostNames * (kDelayedSize + kLongestName + 1);
    std::size_t cases = 0;
    auto check = [&](const Bytes& bytes, const char* kind) {
        const ImportTables answer = FuzzRead(ReadImportTables, bytes, kMostRead, cases, kind);
        // Whatever the file, the answer is one of the two shapes, and every
        // name one a report can print.
        EXPECT_NE(answer.readable, !answer.why.empty()) << kind << " case " << cases;
        EXPECT_FALSE(answer.readable && answer.otherMachine) << kind << " case " << cases;
        for (const Names* names : {&answer.imports, &answer.delayed}) {
            EXPECT_LE(names->size(), kMostNames) << kind << " case " << cases;
            EXPECT_TRUE(answer.readable || names->empty()) << kind << " case " << cases;
            EXPECT_TRUE(std::all_of(names->begin(), names->end(),
                                    [](const std::string& name) { return PrintableName(name, kLongestName); }))
                << kind << " case " << cases;
        }
        return answer;
    };

    ImportOptions oldStyle;
    oldStyle.imports = {"USER32.dll"};
    oldStyle.delayed = {{"OLE32.dll", false}, {"COMDLG32.dll", false}, {"WININET.dll", true}};
    ImportOptions importsOnly;
    importsOnly.delayed.clear();
    const ImportPe bases[] = {BuildImportPe(), BuildImportPe(oldStyle), BuildImportPe(importsOnly)};
    for (const ImportPe& base : bases) {
        MemorySource pristine(base.bytes);
        const ImportTables expected = ReadImportTables(pristine);
        ASSERT_TRUE(expected.readable) << expected.why;
        auto same = [&](const ImportTables& answer) {
            return answer.readable && answer.imports == expected.imports && answer.delayed == expected.delayed;
        };
        auto cut = [&](std::size_t length, const ImportTables& answer) {
            ExpectCutAnswer(length, base.needed, answer, same);
        };

        // Hostile fields: the headers, directories, sections, descriptors
        // and names' addresses set to values that point home, into the
        // headers, past the end, below the image base, or claim the world.
        HostileFields hostile;
        hostile.fields = base.HostileHeaderFields(true, {kImportIndex, kDelayedIndex});
        for (const std::size_t at : base.descriptors) hostile.fields.push_back(at + kNameField);
        for (const std::size_t at : base.delayedDescriptors) {
            hostile.fields.push_back(at);
            hostile.fields.push_back(at + kDelayedNameField);
        }
        hostile.values = {0, 1, 0x20, 97, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, kIdataRva,
                          static_cast<std::uint32_t>(kIdataRva + base.idataSize - 1), kDataRva,
                          kDataRva + kDataExtent - 1, kImageBase - 1, kImageBase,
                          kImageBase + kIdataRva, static_cast<std::uint32_t>(base.bytes.size())};
        FuzzFile(base.bytes, pristine.touched(), random, hostile, check, cut, same);
    }
    ReportFuzz(cases, start);
}

}  // namespace
}  // namespace tarnwick
