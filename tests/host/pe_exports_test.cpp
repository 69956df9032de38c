// The export-table reader against PE images made here: well-formed tables,
// files that are no 32-bit program, hand-made damage to the table, its three
// arrays and its names, failed reads, and a fixed-seed fuzz run over
// truncated, bit-flipped and field-smashed files. Built with AddressSanitizer
// and UBSan, so a read out of bounds fails too.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "pe/pe_exports.h"
#include "tests/host/pe_test_support.h"

namespace tarnwick {
namespace {

using namespace pe_test;
using Names = std::vector<std::string>;

constexpr std::uint32_t kEdataRva = 0x2000;
constexpr std::uint32_t kDataRva = 0x3000;
constexpr std::uint32_t kDataRaw = 0x200;
constexpr std::uint32_t kWideDataRaw = 0x1200;  // room for a name longer than the longest
constexpr std::uint32_t kDataExtent = 0x2000;   // in memory; its file data is shorter
constexpr std::uint32_t kCodeRva = 0x1000;     // CodeSection(): 0x10 bytes in memory
constexpr std::size_t kExportIndex = 0;
constexpr std::size_t kMostNames = 8192;
constexpr std::size_t kLongestName = 4096;
constexpr std::size_t kMostNameBytes = 1 << 20;

struct ExportOptions {
    Names names{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
    std::string builtAs = "MSCOMCTL.OCX";
    std::uint32_t functionCount = 0;  // 0: one per name
    std::uint32_t dataRaw = kDataRaw;
    bool plus = false;
    std::uint16_t machine = kMachineI386;
};

// A DLL as a linker lays it out: code, then an export section holding the
// directory, the function table, the name pointers, the ordinals and, last,
// the file's own name and the functions' names; then a data section (with
// uninitialised memory past its file data) that the tests fill with hostile
// names.
struct ExportPe : PeSkeleton {
    std::size_t edata = 0, edataSize = 0, data = 0;  // file offsets and the raw size
    std::size_t directory = 0, functions = 0, pointers = 0, ordinals = 0;  // file offsets
    std::size_t needed = 0;  // the file's length up to the last byte that the answer depends on

    std::uint32_t EdataRva(std::size_t fileOffset) const {
        return static_cast<std::uint32_t>(kEdataRva + fileOffset - edata);
    }
};

std::size_t RoundUp(std::size_t size, std::size_t to) { return (size + to - 1) / to * to; }

void PutText(Bytes& bytes, std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    bytes[at + text.size()] = 0;
}

ExportPe BuildExportPe(const ExportOptions& options = {}) {
    const std::size_t count = options.names.size();
    const std::size_t functionCount = options.functionCount != 0 ? options.functionCount : count;
    const std::size_t functionsAt = 40;
    const std::size_t pointersAt = functionsAt + 4 * functionCount;
    const std::size_t ordinalsAt = pointersAt + 4 * count;
    std::size_t namesAt = RoundUp(ordinalsAt + 2 * count, 4);
    std::size_t used = namesAt + options.builtAs.size() + 1;
    for (const std::string& name : options.names) used += name.size() + 1;
    // Room at the end for a name that runs into the section's end.
    Bytes edata(RoundUp(used + 8, 0x200), 0);
    auto name = [&](const std::string& text) {
        PutText(edata, namesAt, text);
        const std::uint32_t rva = static_cast<std::uint32_t>(kEdataRva + namesAt);
        namesAt += text.size() + 1;
        return rva;
    };
    Put32(edata, 12, options.builtAs.empty() ? 0 : name(options.builtAs));
    Put32(edata, 16, 1);  // ordinal base
    Put32(edata, 20, static_cast<std::uint32_t>(functionCount));
    Put32(edata, 24, static_cast<std::uint32_t>(count));
    Put32(edata, 28, static_cast<std::uint32_t>(kEdataRva + functionsAt));
    Put32(edata, 32, static_cast<std::uint32_t>(kEdataRva + pointersAt));
    Put32(edata, 36, static_cast<std::uint32_t>(kEdataRva + ordinalsAt));
    for (std::size_t i = 0; i < functionCount; ++i) {
        Put32(edata, functionsAt + 4 * i, static_cast<std::uint32_t>(kCodeRva + i % 16));
    }
    for (std::size_t i = 0; i < count; ++i) {
        Put32(edata, pointersAt + 4 * i, name(options.names[i]));
        Put16(edata, ordinalsAt + 2 * i, static_cast<std::uint16_t>(i % functionCount));
    }

    PeLayout layout;
    layout.plus = options.plus;
    layout.machine = options.machine;
    const std::uint32_t edataSize = static_cast<std::uint32_t>(edata.size());
    layout.sections = {CodeSection(), {".edata", kEdataRva, edataSize, std::move(edata)},
                       {".data", kDataRva, kDataExtent, Bytes(options.dataRaw, 0)}};
    layout.directories.push_back({kExportIndex, kEdataRva, static_cast<std::uint32_t>(used)});
    ExportPe pe;
    static_cast<PeSkeleton&>(pe) = BuildSkeleton(layout);
    pe.edata = pe.sectionData[1];
    pe.edataSize = edataSize;
    pe.data = pe.sectionData[2];
    pe.directory = pe.edata;
    pe.functions = pe.edata + functionsAt;
    pe.pointers = pe.edata + pointersAt;
    pe.ordinals = pe.edata + ordinalsAt;
    pe.needed = pe.edata + namesAt;
    return pe;
}

using Outcome = ReadOutcome<ExportTable>;

Outcome Read(Bytes bytes) { return ReadWith(ReadExportTable, std::move(bytes)); }

// Not readable, saying `word`, with no names and no read outside the file.
void ExpectUnreadable(const Outcome& outcome, const std::string& word, const std::string& what) {
    EXPECT_FALSE(outcome.answer.readable) << what;
    EXPECT_NE(outcome.answer.why.find(word), std::string::npos) << what << ": \"" << outcome.answer.why << '"';
    EXPECT_TRUE(outcome.answer.names.empty()) << what;
    EXPECT_FALSE(outcome.readOutside) << what;
}

TEST(PeExportsTest, ReadsTheNamesAndTheNameItWasBuiltAs) {
    ExportPe pe = BuildExportPe();
    const Outcome outcome = Read(pe.bytes);
    EXPECT_TRUE(outcome.answer.readable) << outcome.answer.why;
    EXPECT_TRUE(outcome.answer.why.empty());
    EXPECT_EQ(outcome.answer.builtAs, "MSCOMCTL.OCX");
    EXPECT_EQ(outcome.answer.names, ExportOptions{}.names);
    EXPECT_FALSE(outcome.readOutside);

    // A large file is read no further than its headers and table.
    pe.bytes.resize(64 << 20, 0xCC);
    const Outcome large = Read(std::move(pe.bytes));
    EXPECT_EQ(large.answer.names, outcome.answer.names);
    EXPECT_LT(large.bytesRead, 4096u);

    // No name of its own; two names for one function; more functions than
    // names (the rest by ordinal only); a forwarded function, whose address
    // is a name in the export section.
    ExportOptions unnamed;
    unnamed.builtAs.clear();
    const Outcome noName = Read(BuildExportPe(unnamed).bytes);
    EXPECT_TRUE(noName.answer.readable) << noName.answer.why;
    EXPECT_TRUE(noName.answer.builtAs.empty());
    ExportOptions aliases;
    aliases.functionCount = 1;
    EXPECT_EQ(Read(BuildExportPe(aliases).bytes).answer.names, aliases.names);
    ExportOptions byOrdinal;
    byOrdinal.functionCount = 300;
    EXPECT_EQ(Read(BuildExportPe(byOrdinal).bytes).answer.names, byOrdinal.names);
    ExportPe forwarded = BuildExportPe();
    Put32(forwarded.bytes, forwarded.functions + 8, forwarded.EdataRva(forwarded.needed - 5));
    EXPECT_EQ(Read(forwarded.bytes).answer.names, ExportOptions{}.names);

    // Within the limits: a name of the longest length, and several thousand names.
    ExportOptions longest;
    longest.names = {std::string(kLongestName, 'L')};
    EXPECT_EQ(Read(BuildExportPe(longest).bytes).answer.names, longest.names);
    ExportOptions many;
    many.names.clear();
    for (std::size_t i = 0; i < kMostNames; ++i) many.names.push_back("Function" + std::to_string(10000 + i));
    const Outcome most = Read(BuildExportPe(many).bytes);
    EXPECT_TRUE(most.answer.readable) << most.answer.why;
    EXPECT_EQ(most.answer.names, many.names);
}

TEST(PeExportsTest, AFileWithoutAnExportTableExportsNothing) {
    ExportOptions none;
    none.names.clear();
    none.builtAs.clear();
    for (const std::uint32_t directories : {16u, 0u}) {
        ExportPe pe = BuildExportPe(none);
        Put32(pe.bytes, pe.rvaCount, directories);
        if (directories != 0) {
            Put32(pe.bytes, pe.Directory(kExportIndex), 0);
            Put32(pe.bytes, pe.Directory(kExportIndex) + 4, 0);
        }
        const Outcome outcome = Read(pe.bytes);
        EXPECT_TRUE(outcome.answer.readable) << directories << ": " << outcome.answer.why;
        EXPECT_TRUE(outcome.answer.names.empty()) << directories;
        EXPECT_TRUE(outcome.answer.builtAs.empty()) << directories;
    }
    // A table that lists no names is an export table all the same.
    const Outcome empty = Read(BuildExportPe(none).bytes);
    EXPECT_TRUE(empty.answer.readable) << empty.answer.why;
    EXPECT_TRUE(empty.answer.names.empty());
}

TEST(PeExportsTest, FilesThatAreNoThirtyTwoBitProgramSaySo) {
    const std::string text = "not a program, just text that is long enough to hold a DOS header....";
    ExpectUnreadable(Read(Bytes(text.begin(), text.end())), "not a Windows program", "text");
    ExpectUnreadable(Read({}), "not a Windows program", "empty file");
    ExpectUnreadable(Read({'M', 'Z'}), "damaged", "\"MZ\" only");
    ExportOptions plus;
    plus.plus = true;
    plus.machine = kMachineAmd64;
    ExpectUnreadable(Read(BuildExportPe(plus).bytes), "64-bit", "PE32+ for x64");
    ExportOptions arm;
    arm.machine = 0x01C4;
    ExpectUnreadable(Read(BuildExportPe(arm).bytes), "another processor", "PE32 for ARM");
    ExportPe sections = BuildExportPe();
    Put16(sections.bytes, sections.sectionCount, 97);
    ExpectUnreadable(Read(sections.bytes), "section table", "97 sections");
}

TEST(PeExportsTest, DamagedTablesAreUnreadable) {
    const std::string damaged = "its export table is damaged";
    auto at = [](std::size_t ExportPe::*field, std::size_t offset, std::uint32_t value, const std::string& word,
                 const std::string& what) {
        ExportPe pe = BuildExportPe();
        Put32(pe.bytes, pe.*field + offset, value);
        ExpectUnreadable(Read(pe.bytes), word, what);
    };
    auto directoryAt = [&](std::uint32_t rva, const std::string& what) {
        ExportPe pe = BuildExportPe();
        Put32(pe.bytes, pe.Directory(kExportIndex), rva);
        ExpectUnreadable(Read(pe.bytes), damaged, what);
    };
    const ExportPe pristine = BuildExportPe();
    directoryAt(0x9000, "table outside every section");
    directoryAt(0x40, "table in the headers");
    directoryAt(0xFFFFFFF0, "table at the top of the address space");
    directoryAt(static_cast<std::uint32_t>(kEdataRva + pristine.edataSize - 8), "table runs past its section's data");
    directoryAt(kDataRva + kDataRaw + 0x100, "table in memory past its section's data");
    ExportPe shortHeader = BuildExportPe();
    Put16(shortHeader.bytes, shortHeader.optionalSize, 92 + 4 + 4);
    ExpectUnreadable(Read(shortHeader.bytes), damaged, "optional header ends inside the export directory");

    // Counts past the caps: claimed, and with a table that holds them.
    at(&ExportPe::directory, 20, 0x10001, damaged, "65537 functions claimed");
    at(&ExportPe::directory, 24, 0xFFFFFFFF, damaged, "4 billion names claimed");
    ExportOptions tooMany;
    tooMany.names.clear();
    for (std::size_t i = 0; i <= kMostNames; ++i) tooMany.names.push_back("Function" + std::to_string(10000 + i));
    ExpectUnreadable(Read(BuildExportPe(tooMany).bytes), damaged, "8193 names");
    tooMany.names.resize(2);
    tooMany.functionCount = 0x10001;
    ExpectUnreadable(Read(BuildExportPe(tooMany).bytes), damaged, "65537 functions");
    // The arrays outside the file or their section, or running past it.
    for (const std::size_t field : {28, 32, 36}) {
        const std::string what = "array at field " + std::to_string(field);
        const std::string word = field == 28 ? "not in the file" : damaged;
        at(&ExportPe::directory, field, 0x9000, word, what + " outside every section");
        at(&ExportPe::directory, field, 0x80, word, what + " in the headers");
        at(&ExportPe::directory, field, 0xFFFFFFFE, word, what + " at the top of the address space");
        at(&ExportPe::directory, field, kDataRva + kDataRaw - 2, word, what + " running past its section's data");
    }
    // A name that leads to no function, or to one that is not in the file.
    at(&ExportPe::ordinals, 2, 4, "not in the file", "ordinal past the function count");
    at(&ExportPe::functions, 8, 0, "not in the file", "function at address 0");
    at(&ExportPe::functions, 8, 0x9000, "not in the file", "function outside every section");
    at(&ExportPe::functions, 8, kDataRva + kDataRaw + 0x100, "not in the file",
       "function in memory past its section's data");
    at(&ExportPe::functions, 8, kCodeRva + 0x10, "not in the file", "function past the code section's extent");
    // Names out of the loader's order: swapped, or the same twice.
    ExportOptions swapped;
    std::swap(swapped.names[1], swapped.names[2]);
    ExpectUnreadable(Read(BuildExportPe(swapped).bytes), "out of order", "names swapped");
    ExportOptions twice;
    twice.names[2] = twice.names[1];
    ExpectUnreadable(Read(BuildExportPe(twice).bytes), "out of order", "a name twice");
    ExportOptions lowerFirst;
    lowerFirst.names = {"dllCanUnloadNow", "DllRegisterServer"};  // byte order puts capitals first
    ExpectUnreadable(Read(BuildExportPe(lowerFirst).bytes), "out of order", "lower case before upper");

    // Names past the total cap, each within the length cap.
    ExportOptions heavy;
    heavy.names.clear();
    for (std::size_t i = 0; i <= kMostNameBytes / kLongestName; ++i) {
        heavy.names.push_back(std::to_string(1000 + i) + std::string(kLongestName - 4, 'H'));
    }
    const Outcome tooMuch = Read(BuildExportPe(heavy).bytes);
    ExpectUnreadable(tooMuch, damaged, "more than 1 MiB of names");
    heavy.names.pop_back();
    EXPECT_TRUE(Read(BuildExportPe(heavy).bytes).answer.readable) << "1 MiB of names";
}

TEST(PeExportsTest, DamagedNamesAreUnreadable) {
    // Which name is damaged: a function's, or the file's own.
    for (const bool own : {false, true}) {
        const std::string what = own ? "the file's own name" : "a function's name";
        auto pointName = [&](ExportPe& pe, std::uint32_t rva) {
            Put32(pe.bytes, own ? pe.directory + 12 : pe.pointers + 4, rva);
        };
        auto nameAt = [&](std::uint32_t rva, const std::string& how) {
            ExportPe pe = BuildExportPe();
            pointName(pe, rva);
            ExpectUnreadable(Read(pe.bytes), "damaged", how + ", " + what);
        };
        auto nameIs = [&](const std::string& text, const std::string& how) {
            ExportOptions wide;
            wide.dataRaw = kWideDataRaw;
            ExportPe pe = BuildExportPe(wide);
            PutText(pe.bytes, pe.data + 0x10, text);
            pointName(pe, kDataRva + 0x10);
            ExpectUnreadable(Read(pe.bytes), "damaged", how + ", " + what);
        };
        nameAt(0x9000, "name outside every section");
        nameAt(0x80, "name in the headers");
        nameAt(kDataRva + kDataRaw + 0x100, "name in memory past its section's data");
        nameAt(0xEFFFFFFF, "name at the top of the address space");
        nameIs(std::string(own ? 257 : kLongestName + 1, 'N'), "name without its end within the longest");
        nameIs("DllGetClassObject\t", "name with a tab");
        nameIs("DllGetClass\x80Object", "name with a byte above ASCII");
        nameIs("", "empty name");

        // Printable up to its section's end; the next section's zeros follow in the file.
        ExportPe atEnd = BuildExportPe();
        const std::size_t last = atEnd.edata + atEnd.edataSize - 4;
        ASSERT_EQ(atEnd.bytes[last - 1], 0);
        std::copy_n("DllG", 4, atEnd.bytes.begin() + static_cast<std::ptrdiff_t>(last));
        pointName(atEnd, atEnd.EdataRva(last));
        ExpectUnreadable(Read(atEnd.bytes), "damaged", "name running to its section's end, " + what);

        // Cut short by the file's end within the section.
        ExportPe cut = BuildExportPe();
        PutText(cut.bytes, cut.data + kDataRaw - 0x20, "DllGetClassObject");
        pointName(cut, kDataRva + kDataRaw - 0x20);
        cut.bytes.resize(cut.data + kDataRaw - 0x18);
        ExpectUnreadable(Read(cut.bytes), "damaged", "name cut by the file's end, " + what);
    }
}

TEST(PeExportsTest, AFailedReadIsUnreadableWhereverItHappens) {
    const ExportPe pe = BuildExportPe();
    MemorySource counting(pe.bytes);
    ASSERT_TRUE(ReadExportTable(counting).readable);
    ASSERT_GT(counting.reads(), 12);
    for (int which = 1; which <= counting.reads(); ++which) {
        MemorySource failing(pe.bytes);
        failing.FailRead(which);
        const ExportTable answer = ReadExportTable(failing);
        EXPECT_FALSE(answer.readable) << "read " << which;
        EXPECT_FALSE(answer.why.empty()) << "read " << which;
        EXPECT_TRUE(answer.names.empty()) << "read " << which;
    }
}

// Fixed seed: the same files every run, so a failure can be replayed.
TEST(PeExportsTest, FuzzedFilesNeverReadOutsideOrLie) {
    const auto start = std::chrono::steady_clock::now();
    std::mt19937 random(20261209);
    // An upper bound on what the reader ever reads: the headers, a directory
    // entry, 96 section headers, the export directory and the file's own
    // name, and for each name its pointer, ordinal, function and text.
    constexpr std::size_t kMostRead =
        2 + 64 + 24 + 2 + 4 + 8 + 96 * 40 + 40 + 257 + kMostNames * (4 + 2 + 4 + kLongestName + 1);
    std::size_t cases = 0;
    auto check = [&](const Bytes& bytes, const char* kind) {
        const ExportTable answer = FuzzRead(ReadExportTable, bytes, kMostRead, cases, kind);
        // Whatever the file, the answer is one of the two shapes, and every
        // name one a report can print, in the loader's order.
        EXPECT_NE(answer.readable, !answer.why.empty()) << kind << " case " << cases;
        EXPECT_LE(answer.names.size(), kMostNames) << kind << " case " << cases;
        EXPECT_TRUE(answer.readable || (answer.names.empty() && answer.builtAs.empty()))
            << kind << " case " << cases;
        EXPECT_TRUE(std::all_of(answer.names.begin(), answer.names.end(),
                                [](const std::string& name) { return PrintableName(name, kLongestName); }))
            << kind << " case " << cases;
        EXPECT_TRUE(answer.builtAs.empty() || PrintableName(answer.builtAs, 256)) << kind << " case " << cases;
        EXPECT_TRUE(std::adjacent_find(answer.names.begin(), answer.names.end(), std::greater_equal<>()) ==
                    answer.names.end())
            << kind << " case " << cases;
        return answer;
    };

    ExportOptions aliases;
    aliases.functionCount = 2;
    aliases.builtAs = "SCRRUN.DLL";
    ExportOptions byOrdinal;
    byOrdinal.functionCount = 40;
    byOrdinal.builtAs.clear();
    const ExportPe bases[] = {BuildExportPe(), BuildExportPe(aliases), BuildExportPe(byOrdinal)};
    for (const ExportPe& base : bases) {
        MemorySource pristine(base.bytes);
        const ExportTable expected = ReadExportTable(pristine);
        ASSERT_TRUE(expected.readable) << expected.why;
        auto same = [&](const ExportTable& answer) {
            return answer.readable && answer.names == expected.names && answer.builtAs == expected.builtAs;
        };

        auto cut = [&](std::size_t length, const ExportTable& answer) {
            ExpectCutAnswer(length, base.needed, answer, same);
        };

        // Hostile fields: the headers, the directory entry, the sections,
        // the table's counts and arrays, the names' places and the ordinals,
        // set to values that point home, into the headers, past the end, or
        // claim the world.
        HostileFields hostile;
        hostile.fields = base.HostileHeaderFields(false, {kExportIndex});
        for (const std::size_t field : {12, 20, 24, 28, 32, 36}) hostile.fields.push_back(base.directory + field);
        for (std::size_t at = base.functions; at < base.ordinals; at += 4) hostile.fields.push_back(at);
        for (std::size_t at = base.ordinals; at < base.ordinals + 8; at += 2) hostile.fields.push_back(at);
        hostile.values = {0, 1, 2, 0x20, 97, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                          kCodeRva, kCodeRva + 0x10, kEdataRva,
                          static_cast<std::uint32_t>(kEdataRva + base.edataSize - 1), kDataRva,
                          kDataRva + kDataExtent - 1, static_cast<std::uint32_t>(kMostNames),
                          static_cast<std::uint32_t>(base.bytes.size())};
        // Past the last name's end the data section's zeros change nothing:
        // every 64th length is enough there.
        FuzzFile(base.bytes, pristine.touched(), random, hostile, check, cut, same, base.needed + 64);
    }
    ReportFuzz(cases, start);
}

}  // namespace
}  // namespace tarnwick
