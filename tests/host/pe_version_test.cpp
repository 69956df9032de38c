// The version-resource reader against PE images made here: well-formed ones
// of both formats, hand-made damage and hostile structures, and a fixed-seed
// fuzz run over thousands of truncated, bit-flipped and field-smashed files.
// Built with AddressSanitizer and UBSan, so a read out of bounds fails too.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <random>
#include <vector>

#include "pe/pe_version.h"
#include "tests/host/pe_test_support.h"

namespace tarnwick {
namespace {

using Status = VersionResource::Status;
using namespace pe_test;

struct PeOptions {
    bool plus = false;  // PE32+
    bool withVersion = true;
    FileVersion version{1, 2, 3, 4};
    std::optional<FileVersion> secondLanguage;  // a second language's block
    std::size_t padding = 0;  // resource bytes after the version block

    PeOptions& Plus() { plus = true; return *this; }
    PeOptions& Unversioned() { withVersion = false; return *this; }
    PeOptions& Version(FileVersion v) { version = v; return *this; }
    PeOptions& SecondLanguage(FileVersion v) { secondLanguage = v; return *this; }
    PeOptions& Padding(std::size_t bytes) { padding = bytes; return *this; }
};

// A PE image as a linker lays it out: DOS header, PE header, a code section
// and a resource section with a named type, RT_ICON and RT_VERSION. The
// version block comes last, followed by the section's alignment padding.
struct BuiltPe {
    Bytes bytes;
    // File offsets of the fields the hostile cases change.
    std::size_t sectionCount = 0, optionalMagic = 0, rvaCount = 0, resourceDirectory = 0;
    std::size_t rsrcHeader = 0, root = 0, versionType = 0, versionDirectory = 0, nameEntry = 0, languageEntry = 0;
    std::size_t dataEntry = 0, block = 0, blockEnd = 0;
};

constexpr std::uint32_t kRsrcRva = 0x2000;

// The VS_VERSIONINFO block: header, key, VS_FIXEDFILEINFO, then a child of
// the kind a resource compiler writes.
Bytes VersionBlock(FileVersion v) {
    Bytes block(92 + 36, 0);
    Put16(block, 0, static_cast<std::uint16_t>(block.size()));
    Put16(block, 2, 52);
    const char16_t key[] = u"VS_VERSION_INFO";
    for (std::size_t i = 0; i < 16; ++i) Put16(block, 6 + 2 * i, key[i]);
    Put32(block, 40, 0xFEEF04BD);
    Put32(block, 44, 0x00010000);
    Put32(block, 48, static_cast<std::uint32_t>(v.major) << 16 | v.minor);
    Put32(block, 52, static_cast<std::uint32_t>(v.build) << 16 | v.revision);
    Put32(block, 56, static_cast<std::uint32_t>(v.major) << 16 | v.minor);
    Put32(block, 60, static_cast<std::uint32_t>(v.build) << 16 | v.revision);
    Put32(block, 64, 0x3F);
    Put32(block, 72, 0x40004);
    Put32(block, 76, 2);
    const char16_t child[] = u"VarFileInfo";
    Put16(block, 92, 36);
    for (std::size_t i = 0; i < 12; ++i) Put16(block, 98 + 2 * i, child[i]);
    return block;
}

BuiltPe BuildPe(const PeOptions& options = {}) {
    BuiltPe pe;
    // The resource section, in its own buffer first; offsets are from its start.
    Bytes rsrc(0x400, 0);
    auto directory = [&](std::size_t at, std::uint16_t named, std::uint16_t ids) {
        Put16(rsrc, at + 12, named);
        Put16(rsrc, at + 14, ids);
        return at + 16;  // the first entry
    };
    auto entry = [&](std::size_t at, std::uint32_t name, std::uint32_t target) {
        Put32(rsrc, at, name);
        Put32(rsrc, at + 4, target);
    };
    constexpr std::uint32_t kSub = 0x80000000;
    const std::uint16_t types = options.withVersion ? 2 : 1;
    const std::size_t rootEntries = directory(0, 1, types);
    const std::size_t empty = 0x100;  // an empty directory for the other types
    directory(empty, 0, 0);
    const std::size_t nameString = 0x110;
    Put16(rsrc, nameString, 3);
    Put16(rsrc, nameString + 2, 'B');
    Put16(rsrc, nameString + 4, 'I');
    Put16(rsrc, nameString + 6, 'N');
    entry(rootEntries, kSub | nameString, kSub | empty);
    entry(rootEntries + 8, 3, kSub | empty);  // RT_ICON
    const std::size_t typeDir = 0x40, languageDir = 0x60, data = 0xA0, blocks = 0x120;
    if (options.withVersion) entry(rootEntries + 16, 16, kSub | typeDir);
    entry(directory(typeDir, 0, 1), 1, kSub | languageDir);
    const std::size_t languages = directory(languageDir, 0, options.secondLanguage ? 2 : 1);
    entry(languages, 0x409, data);
    Bytes block = VersionBlock(options.version);
    std::size_t blockAt = blocks;
    if (options.secondLanguage) {
        entry(languages + 8, 0x407, data + 16);
        const Bytes other = VersionBlock(*options.secondLanguage);
        std::copy(other.begin(), other.end(), rsrc.begin() + blockAt);
        Put32(rsrc, data + 16, static_cast<std::uint32_t>(kRsrcRva + blockAt));
        Put32(rsrc, data + 20, static_cast<std::uint32_t>(other.size()));
        blockAt += other.size();
    }
    Put32(rsrc, data, static_cast<std::uint32_t>(kRsrcRva + blockAt));
    Put32(rsrc, data + 4, static_cast<std::uint32_t>(block.size()));
    std::copy(block.begin(), block.end(), rsrc.begin() + blockAt);
    const std::size_t used = blockAt + block.size() + options.padding;
    rsrc.resize((used + 0x1FF) & ~std::size_t{0x1FF});

    PeLayout layout;
    layout.plus = options.plus;
    layout.machine = options.plus ? kMachineAmd64 : kMachineI386;
    layout.sections = {CodeSection(), {".rsrc", kRsrcRva, static_cast<std::uint32_t>(used), std::move(rsrc)}};
    layout.directories = {{2, kRsrcRva, static_cast<std::uint32_t>(used)}};
    PeSkeleton skeleton = BuildSkeleton(layout);
    pe.bytes = std::move(skeleton.bytes);
    pe.sectionCount = skeleton.sectionCount;
    pe.optionalMagic = skeleton.optionalMagic;
    pe.rvaCount = skeleton.rvaCount;
    pe.resourceDirectory = skeleton.Directory(2);
    pe.rsrcHeader = skeleton.sectionHeaders[1];
    const std::size_t rsrcFile = skeleton.sectionData[1];
    pe.root = rsrcFile;
    pe.versionType = rsrcFile + rootEntries + 16;
    pe.versionDirectory = rsrcFile + typeDir;
    pe.nameEntry = rsrcFile + typeDir + 16;
    pe.languageEntry = rsrcFile + languages;
    pe.dataEntry = rsrcFile + data;
    pe.block = rsrcFile + blockAt;
    pe.blockEnd = pe.block + block.size();
    return pe;
}

using Outcome = ReadOutcome<VersionResource>;

Outcome Read(Bytes bytes) { return ReadWith(ReadVersionResource, std::move(bytes)); }

Status StatusOf(Bytes bytes) { return Read(std::move(bytes)).answer.status; }

TEST(PeVersionTest, ReadsTheFixedFileVersionOfBothFormats) {
    for (bool plus : {false, true}) {
        PeOptions options;
        if (plus) options.Plus();
        const Outcome outcome = Read(BuildPe(options.Version({10, 0, 22621, 65535})).bytes);
        EXPECT_EQ(outcome.answer.status, Status::kVersion) << plus;
        EXPECT_EQ(outcome.answer.version, (FileVersion{10, 0, 22621, 65535})) << plus;
        EXPECT_FALSE(outcome.readOutside);
    }
}

TEST(PeVersionTest, TakesTheFirstLanguage) {
    const BuiltPe pe = BuildPe(PeOptions().Version({2, 0, 0, 0}).SecondLanguage({3, 0, 0, 0}));
    EXPECT_EQ(Read(pe.bytes).answer.version, (FileVersion{2, 0, 0, 0}));
}

TEST(PeVersionTest, ReadsOnlyTheHeadersAndTheFixedPart) {
    // A 64 MiB file with its version at the front reads as few bytes as a small one.
    BuiltPe pe = BuildPe();
    pe.bytes.resize(64 << 20, 0xCC);
    const Outcome outcome = Read(std::move(pe.bytes));
    EXPECT_EQ(outcome.answer.status, Status::kVersion);
    EXPECT_LT(outcome.bytesRead, 1024u);
}

TEST(PeVersionTest, FilesThatAreNotProgramsOrHaveNoVersion) {
    EXPECT_EQ(StatusOf({}), Status::kNoVersion);
    EXPECT_EQ(StatusOf({'M'}), Status::kNoVersion);
    const std::string text = "not a program, just text that is long enough to hold a DOS header....";
    EXPECT_EQ(StatusOf(Bytes(text.begin(), text.end())), Status::kNoVersion);
    EXPECT_EQ(StatusOf(BuildPe(PeOptions().Unversioned()).bytes), Status::kNoVersion);

    BuiltPe dosProgram = BuildPe();
    Put32(dosProgram.bytes, kPeOffset, 0x12345678);
    EXPECT_EQ(StatusOf(dosProgram.bytes), Status::kNoVersion);

    BuiltPe fewDirectories = BuildPe();
    Put32(fewDirectories.bytes, fewDirectories.rvaCount, 2);
    EXPECT_EQ(StatusOf(fewDirectories.bytes), Status::kNoVersion);

    BuiltPe noResources = BuildPe();
    Put32(noResources.bytes, noResources.resourceDirectory, 0);
    Put32(noResources.bytes, noResources.resourceDirectory + 4, 0);
    EXPECT_EQ(StatusOf(noResources.bytes), Status::kNoVersion);

    BuiltPe noFixedPart = BuildPe();
    Put16(noFixedPart.bytes, noFixedPart.block + 2, 0);
    EXPECT_EQ(StatusOf(noFixedPart.bytes), Status::kNoVersion);

    BuiltPe badSignature = BuildPe();
    Put32(badSignature.bytes, badSignature.block + 40, 0xFEEF04BE);
    EXPECT_EQ(StatusOf(badSignature.bytes), Status::kNoVersion);

    BuiltPe badKey = BuildPe();
    Put16(badKey.bytes, badKey.block + 6, 'X');
    EXPECT_EQ(StatusOf(badKey.bytes), Status::kNoVersion);
}

TEST(PeVersionTest, DamagedOrHostileStructuresAreUnreadable) {
    struct Case {
        const char* what;
        std::size_t BuiltPe::*field;
        std::size_t plus;
        std::uint32_t value;
        int width;
    };
    constexpr std::uint32_t kSub = 0x80000000;
    const Case cases[] = {
        {"PE header past the end", nullptr, 0x3C, 0xFFFFFFF0, 32},
        {"too many sections", &BuiltPe::sectionCount, 0, 0xFFFF, 16},
        {"no sections", &BuiltPe::sectionCount, 0, 0, 16},
        {"unknown optional header", &BuiltPe::optionalMagic, 0, 0x0107, 16},
        {"resources outside every section", &BuiltPe::resourceDirectory, 0, 0x9000, 32},
        {"resource data past the file", &BuiltPe::rsrcHeader, 20, 0x10000, 32},
        {"resource section's data ends before the block", &BuiltPe::rsrcHeader, 16, 0x100, 32},
        {"empty version type", &BuiltPe::versionDirectory, 14, 0, 16},
        {"resource directory claims 4 GiB", &BuiltPe::resourceDirectory, 4, 0xFFFFFFFF, 32},
        {"65535 named types", &BuiltPe::root, 12, 0xFFFF, 16},
        {"type loops back to the root", &BuiltPe::versionType, 4, kSub | 0, 32},
        {"type leads straight to data", &BuiltPe::versionType, 4, 0xA0, 32},
        {"name loops to itself", &BuiltPe::nameEntry, 4, kSub | 0x40, 32},
        {"language is a fourth level", &BuiltPe::languageEntry, 4, kSub | 0x60, 32},
        {"language entry marked as a directory", &BuiltPe::languageEntry, 4, kSub | 0xA0, 32},
        {"data entry past the tree", &BuiltPe::languageEntry, 4, 0x7FFFFFF0, 32},
        {"block outside every section", &BuiltPe::dataEntry, 0, 0x0FFFFFF0, 32},
        {"block wraps around", &BuiltPe::dataEntry, 0, 0xFFFFFFFF, 32},
        {"block claims 4 GiB", &BuiltPe::dataEntry, 4, 0xFFFFFFFF, 32},
        {"block claims 1 MiB", &BuiltPe::dataEntry, 4, 1 << 20, 32},
        {"block cut inside the key", &BuiltPe::dataEntry, 4, 20, 32},
        {"fixed part cut short", &BuiltPe::dataEntry, 4, 60, 32},
        {"fixed part shorter than its kind", &BuiltPe::block, 2, 20, 16},
        {"block shorter than its fixed part", &BuiltPe::block, 0, 60, 16},
    };
    // Small resources, and resources so large that only the caps can stop
    // a claimed count or size.
    for (std::size_t padding : {std::size_t{0}, std::size_t{2} << 20}) {
        for (const Case& c : cases) {
            BuiltPe pe = BuildPe(PeOptions().Padding(padding));
            const std::size_t at = (c.field ? pe.*c.field : 0) + c.plus;
            if (c.width == 16) {
                Put16(pe.bytes, at, static_cast<std::uint16_t>(c.value));
            } else {
                Put32(pe.bytes, at, c.value);
            }
            const Outcome outcome = Read(pe.bytes);
            EXPECT_EQ(outcome.answer.status, Status::kUnreadable) << c.what << ", padding " << padding;
            EXPECT_FALSE(outcome.readOutside) << c.what << ", padding " << padding;
        }
    }
    BuiltPe longBlock = BuildPe();
    Put32(longBlock.bytes, longBlock.dataEntry + 4, 0x1000);
    EXPECT_EQ(StatusOf(longBlock.bytes), Status::kUnreadable) << "block runs past the file";
}

TEST(PeVersionTest, AFailedReadIsUnreadableWhereverItHappens) {
    const BuiltPe pe = BuildPe();
    MemorySource counting(pe.bytes);
    ASSERT_EQ(ReadVersionResource(counting).status, Status::kVersion);
    ASSERT_GT(counting.reads(), 5);
    for (int which = 1; which <= counting.reads(); ++which) {
        MemorySource failing(pe.bytes);
        failing.FailRead(which);
        EXPECT_EQ(ReadVersionResource(failing).status, Status::kUnreadable) << "read " << which;
    }
}

// Fixed seed: the same files every run, so a failure can be replayed.
TEST(PeVersionTest, FuzzedFilesNeverReadOutsideOrLie) {
    const auto start = std::chrono::steady_clock::now();
    std::mt19937 random(20261207);
    // An upper bound on what the reader ever reads: headers, 96 section
    // headers, three directories of 256 entries, a data entry, a block head.
    constexpr std::size_t kMostRead = 64 + 24 + 2 + 4 + 8 + 96 * 40 + 3 * (16 + 256 * 8) + 16 + 92;
    std::size_t cases = 0;
    auto check = [&](const Bytes& bytes, const char* kind) {
        return FuzzRead(ReadVersionResource, bytes, kMostRead, cases, kind);
    };

    const BuiltPe bases[] = {BuildPe(), BuildPe(PeOptions().Plus().Version({7, 6, 5, 4})),
                             BuildPe(PeOptions().SecondLanguage({9, 9, 9, 9}))};
    for (const BuiltPe& base : bases) {
        MemorySource pristine(base.bytes);
        const VersionResource expected = ReadVersionResource(pristine);
        ASSERT_EQ(expected.status, Status::kVersion);

        // Without its first two bytes a file is no program; cut anywhere
        // before the block's end it is damaged.
        auto cut = [&](std::size_t length, const VersionResource& answer) {
            const Status wanted = length < 2                ? Status::kNoVersion
                                  : length < base.blockEnd ? Status::kUnreadable
                                                           : Status::kVersion;
            ASSERT_EQ(answer.status, wanted) << "cut at " << length;
        };
        auto same = [&](const VersionResource& answer) {
            return answer.status == Status::kVersion && answer.version == expected.version;
        };

        // Hostile fields: the tree's offsets, counts and sizes set to values
        // that point home, past the end, or claim the world.
        HostileFields hostile;
        hostile.fields = {
            0x3C, base.sectionCount, base.optionalMagic, base.rvaCount, base.resourceDirectory,
            base.resourceDirectory + 4, base.rsrcHeader + 8, base.rsrcHeader + 12, base.rsrcHeader + 16,
            base.rsrcHeader + 20, base.root + 12, base.root + 14, base.versionType, base.versionType + 4,
            base.nameEntry + 4, base.languageEntry + 4, base.dataEntry, base.dataEntry + 4, base.block,
            base.block + 2};
        hostile.values = {0, 1, 2, 0x10, 0x40, 0x60, 0xA0, 0xFFFF, 0x7FFFFFFF, 0x80000000,
                          0x80000040, 0x80000060, 0xFFFFFFFF, kRsrcRva, kRsrcRva + 0x120,
                          static_cast<std::uint32_t>(base.bytes.size())};
        FuzzFile(base.bytes, pristine.touched(), random, hostile, check, cut, same);
    }
    ReportFuzz(cases, start);
}

}  // namespace
}  // namespace tarnwick
