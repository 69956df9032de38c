// The install run and its component steps against the fake platform.
#include <gtest/gtest.h>

#include <stdexcept>

#include "fake_platform.h"
#include "installer/installer.h"

namespace tarnwick {
namespace {

using testing::FakePlatform;

class InstallerTest : public ::testing::Test {
protected:
    InstallerTest() {
        std::copy(kComponentTable.begin(), kComponentTable.end(), state.dllFiles.begin());
    }

    // Runs the install as the window's load sequence does.
    void Run() {
        state.sysDir = installer.GetSystemDir();
        installer.InstallComponents();
    }

    std::vector<std::string> SuccessLines() const {
        std::vector<std::string> lines;
        for (std::string_view name : kComponentTable) {
            lines.push_back(std::string(name) + " registered successfully.  *");
        }
        return lines;
    }

    FakePlatform platform;
    InstallState state;
    Installer installer{platform, state};
};

TEST_F(InstallerTest, AllNineSucceedInTableOrder) {
    Run();
    EXPECT_EQ(platform.items, SuccessLines());
    EXPECT_EQ(platform.bar, std::string(50, '|'));
    EXPECT_EQ(state.dllFailed, "");
    EXPECT_FALSE(state.anyErrors);
    for (std::string_view name : kComponentTable) {
        EXPECT_EQ(platform.files[platform.Installed(std::string(name))].content,
                  "new " + std::string(name));
    }
}

TEST_F(InstallerTest, BarGrowsTheSameWhateverTheOutcome) {
    std::vector<std::size_t> lengths;
    platform.onDoEvents = [&] {
        if (lengths.empty() || platform.bar.size() != lengths.back()) lengths.push_back(platform.bar.size());
    };
    platform.files.erase(platform.Source("COMDLG32.OCX"));
    platform.copyFailures[platform.Installed("RICHTX32.OCX")] = FileResult::kPermissionDenied;
    platform.bar.clear();
    Run();
    EXPECT_EQ(lengths, (std::vector<std::size_t>{0, 6, 11, 17, 22, 28, 33, 39, 44, 50}));
}

TEST_F(InstallerTest, RegistersEachCopiedComponentByFullPathFromTheSystemDirectory) {
    Run();
    ASSERT_EQ(platform.Count("start "), kComponentCount);
    EXPECT_EQ(platform.journal[platform.IndexOf("start ")],
              "start C:\\WINDOWS\\system32\\regsvr32.exe MSCOMCTL.OCX in C:\\WINDOWS\\system32");
    // Copy, events, register, events, bar, line, events: registration comes
    // only after its own copy.
    const std::size_t copy = platform.IndexOf("copy D:\\setup\\MSCOMCTL.OCX");
    const std::size_t start = platform.IndexOf("start ");
    EXPECT_LT(copy, start);
    EXPECT_EQ(platform.journal[start - 1], "events");
}

TEST_F(InstallerTest, MissingFileFailsWithoutRegistrationAndTheRunGoesOn) {
    platform.files.erase(platform.Source("MSINET.OCX"));
    Run();
    std::vector<std::string> expected = SuccessLines();
    expected[3] = "MSINET.OCX:File not found";
    EXPECT_EQ(platform.items, expected);
    EXPECT_EQ(platform.Count("start "), kComponentCount - 1);
    EXPECT_EQ(platform.IndexOf("start C:\\WINDOWS\\system32\\regsvr32.exe MSINET.OCX"),
              platform.journal.size());
    EXPECT_EQ(state.dllFailed, "\r\n-   MSINET.OCX");
    EXPECT_TRUE(state.anyErrors);
}

TEST_F(InstallerTest, FailureLogListsFailuresInTableOrder) {
    platform.files.erase(platform.Source("HHCTRL.OCX"));
    platform.copyFailures[platform.Installed("MSINET.OCX")] = FileResult::kAccessError;
    Run();
    EXPECT_EQ(state.dllFailed, "\r\n-   MSINET.OCX\r\n-   HHCTRL.OCX");
    EXPECT_EQ(platform.items[3], "MSINET.OCX:Path/File access error");
    EXPECT_EQ(platform.items[8], "HHCTRL.OCX:File not found");
    EXPECT_EQ(platform.items.size(), 9u);
}

TEST_F(InstallerTest, CopyErrorsAreDescribedInTheWordsOfTheHelpText) {
    const std::pair<FileResult, const char*> cases[] = {
        {FileResult::kFileNotFound, "SCRRUN.DLL:File not found"},
        {FileResult::kPathNotFound, "SCRRUN.DLL:Path not found"},
        {FileResult::kPermissionDenied, "SCRRUN.DLL:Permission denied"},
        {FileResult::kAccessError, "SCRRUN.DLL:Path/File access error"},
    };
    for (const auto& [result, line] : cases) {
        platform.items.clear();
        platform.copyFailures[platform.Installed("SCRRUN.DLL")] = result;
        state.sysDir = installer.GetSystemDir();
        EXPECT_FALSE(installer.CopyToSystem("SCRRUN.DLL"));
        EXPECT_EQ(platform.items, std::vector<std::string>{line});
    }
}

TEST_F(InstallerTest, NoSystemDirectoryMeansNothingIsWrittenOrStarted) {
    platform.systemDirectory.clear();
    Run();
    EXPECT_EQ(state.sysDir, "");
    ASSERT_EQ(platform.items.size(), 9u);
    for (std::size_t i = 0; i < platform.items.size(); ++i) {
        EXPECT_EQ(platform.items[i], std::string(kComponentTable[i]) + ":Path not found");
    }
    EXPECT_EQ(platform.Count("copy "), 0);
    EXPECT_EQ(platform.Count("start "), 0);
    EXPECT_TRUE(state.anyErrors);
    EXPECT_FALSE(installer.RegisterComponent("SCRRUN.DLL"));  // never "\regsvr32.exe"
    EXPECT_EQ(platform.Count("start "), 0);
}

TEST_F(InstallerTest, SystemDirectoryLosesATrailingSeparator) {
    platform.systemDirectory = "C:\\WINDOWS\\system32\\";
    EXPECT_EQ(installer.GetSystemDir(), "C:\\WINDOWS\\system32");
}

TEST_F(InstallerTest, LaunchFailureIsAFailure) {
    platform.launchSucceeds = false;
    state.sysDir = installer.GetSystemDir();
    EXPECT_FALSE(installer.RegisterComponent("MSCOMCTL.OCX"));
    EXPECT_EQ(platform.items, std::vector<std::string>{"Error registering \"MSCOMCTL.OCX\""});
    EXPECT_TRUE(state.anyErrors);

    platform.items.clear();
    installer.InstallComponents();
    EXPECT_EQ(platform.items.size(), 9u);
    EXPECT_EQ(platform.items[8], "Error registering \"HHCTRL.OCX\"");
    std::string everyName;
    for (std::string_view name : kComponentTable) everyName += "\r\n-   " + std::string(name);
    EXPECT_EQ(state.dllFailed, everyName);
}

TEST(JoinPathTest, JoinsWithExactlyOneBackslashAndChangesNothingElse) {
    EXPECT_EQ(JoinPath("C:\\", "SCRRUN.DLL"), "C:\\SCRRUN.DLL");
    EXPECT_EQ(JoinPath("D:\\setup\\files", "SCRRUN.DLL"), "D:\\setup\\files\\SCRRUN.DLL");
    EXPECT_EQ(JoinPath("\\\\server\\share\\setup", "SCRRUN.DLL"),
              "\\\\server\\share\\setup\\SCRRUN.DLL");
    EXPECT_EQ(JoinPath("D:\\a\\\\b", "X.OCX"), "D:\\a\\\\b\\X.OCX");
}

TEST_F(InstallerTest, ComponentsComeFromTheProgramsFolderWhereverItIs) {
    for (const char* folder : {"C:\\", "\\\\server\\share\\setup",
                               "D:\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3\xd1\x80\xd0\xb0\xd0\xbc\xd0\xbc\xd0\xb0"}) {
        FakePlatform fresh;
        fresh.appFolder = folder;
        fresh.folders.insert(std::string(folder) == "C:\\" ? "C:" : folder);
        fresh.files[JoinPath(folder, "SCRRUN.DLL")] = {FileVersion{1, 0, 0, 0}, "root"};
        InstallState s;
        Installer i(fresh, s);
        s.sysDir = i.GetSystemDir();
        EXPECT_TRUE(i.CopyToSystem("SCRRUN.DLL")) << folder;
        EXPECT_EQ(fresh.IndexOf("copy " + JoinPath(folder, "SCRRUN.DLL") + " -> C:\\WINDOWS\\system32\\tarnwick-"),
                  fresh.IndexOf("copy ")) << folder;
        EXPECT_EQ(fresh.files[fresh.Installed("SCRRUN.DLL")].content, "root");
    }
}

// --- Keeping newer shared components ----------------------------------------

struct VersionCase {
    const char* name;
    std::optional<FileVersion> source;
    std::optional<FileVersion> installed;  // nullopt with installedExists: unversioned
    bool installedExists;
    bool copied;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

class VersionRuleTest : public InstallerTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionRuleTest, KeepsTheInstalledFileUnlessTheNewOneIsNewer) {
    const VersionCase& c = GetParam();
    platform.files[platform.Source("MSINET.OCX")] = {c.source, "new"};
    if (c.installedExists) platform.files[platform.Installed("MSINET.OCX")] = {c.installed, "old"};
    Run();

    EXPECT_EQ(platform.files[platform.Installed("MSINET.OCX")].content, c.copied ? "new" : "old");
    EXPECT_EQ(platform.Count("copy D:\\setup\\MSINET.OCX"), c.copied ? 1 : 0);
    // A kept file is registered like a copied one.
    EXPECT_EQ(platform.items[3], "MSINET.OCX registered successfully.  *");
    EXPECT_EQ(platform.Count("start C:\\WINDOWS\\system32\\regsvr32.exe MSINET.OCX "), 1);
}

constexpr FileVersion kV1{1, 0, 0, 0};
constexpr FileVersion kV1Patch{1, 0, 0, 1};
constexpr FileVersion kV2{2, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Versions, VersionRuleTest,
    ::testing::Values(VersionCase{"NothingInstalled", kV1, std::nullopt, false, true},
                      VersionCase{"InstalledOlder", kV2, kV1, true, true},
                      VersionCase{"InstalledOlderInTheLastNumber", kV1Patch, kV1, true, true},
                      VersionCase{"SameVersion", kV1, kV1, true, false},
                      VersionCase{"InstalledNewerInTheLastNumber", kV1, kV1Patch, true, false},
                      VersionCase{"InstalledNewer", kV1, kV2, true, false},
                      VersionCase{"OnlyInstalledHasAVersion", std::nullopt, kV1, true, false},
                      VersionCase{"OnlyNewHasAVersion", kV1, std::nullopt, true, true},
                      VersionCase{"NeitherHasAVersion", std::nullopt, std::nullopt, true, true}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

TEST_F(InstallerTest, AnInstalledFileThatCannotBeReadIsStillReplaced) {
    // Its version is unknown, so the copy decides: here it works.
    platform.probeFailures[platform.Installed("MSINET.OCX")] = FileResult::kPermissionDenied;
    platform.files[platform.Installed("MSINET.OCX")] = {kV2, "old"};
    state.sysDir = installer.GetSystemDir();
    EXPECT_TRUE(installer.CopyToSystem("MSINET.OCX"));
    EXPECT_EQ(platform.files[platform.Installed("MSINET.OCX")].content, "new MSINET.OCX");
}

TEST_F(InstallerTest, WithoutTheProgramsFolderNothingIsCopied) {
    platform.appFolder.clear();
    state.sysDir = installer.GetSystemDir();
    EXPECT_FALSE(installer.CopyToSystem("MSINET.OCX"));
    EXPECT_EQ(platform.items, std::vector<std::string>{"MSINET.OCX:File not found"});
    EXPECT_EQ(platform.Count("version "), 0);
    EXPECT_EQ(platform.Count("copy "), 0);
}

TEST_F(InstallerTest, MissingSourceFailsEvenWhenAVersionedCopyIsInstalled) {
    platform.files.erase(platform.Source("SCRRUN.DLL"));
    platform.files[platform.Installed("SCRRUN.DLL")] = {kV2, "old"};
    state.sysDir = installer.GetSystemDir();
    EXPECT_FALSE(installer.CopyToSystem("SCRRUN.DLL"));
    EXPECT_EQ(platform.items, std::vector<std::string>{"SCRRUN.DLL:File not found"});
}

// --- Files that cannot be read, files the system protects ----------------------

TEST_F(InstallerTest, ANewFileThatCannotBeReadIsAnErrorNeverTheOldFileKept) {
    // Its version is unknown: keeping the older installed copy would report
    // success for a file that was never checked.
    platform.files[platform.Installed("MSINET.OCX")] = {kV1, "old"};
    platform.files[platform.Source("MSINET.OCX")] = {kV2, "new"};
    platform.probeFailures[platform.Source("MSINET.OCX")] = FileResult::kAccessError;
    platform.probeFailures[platform.Source("SCRRUN.DLL")] = FileResult::kPermissionDenied;
    Run();
    EXPECT_EQ(platform.items[3], "MSINET.OCX:Path/File access error");
    EXPECT_EQ(platform.items[7], "SCRRUN.DLL:Permission denied");
    EXPECT_EQ(platform.files[platform.Installed("MSINET.OCX")].content, "old");
    EXPECT_EQ(platform.Count("start C:\\WINDOWS\\system32\\regsvr32.exe MSINET.OCX"), 0);
    EXPECT_EQ(state.dllFailed, "\r\n-   MSINET.OCX\r\n-   SCRRUN.DLL");
}

TEST_F(InstallerTest, AProtectedInstalledFileIsKeptAndRegisteredWhateverItsVersion) {
    platform.files[platform.Installed("HHCTRL.OCX")] = {kV1, "the system's own"};
    platform.files[platform.Source("HHCTRL.OCX")] = {kV2, "new"};
    platform.protectedFiles.insert(platform.Installed("HHCTRL.OCX"));
    // Protection of a file that is not there yet does not stop its copy.
    platform.protectedFiles.insert(platform.Installed("SCRRUN.DLL"));
    Run();
    EXPECT_EQ(platform.files[platform.Installed("HHCTRL.OCX")].content, "the system's own");
    EXPECT_EQ(platform.Count("copy D:\\setup\\HHCTRL.OCX"), 0);
    EXPECT_EQ(platform.items[8], "HHCTRL.OCX registered successfully.  *");
    EXPECT_EQ(platform.Count("start C:\\WINDOWS\\system32\\regsvr32.exe HHCTRL.OCX "), 1);
    EXPECT_EQ(platform.files[platform.Installed("SCRRUN.DLL")].content, "new SCRRUN.DLL");
    EXPECT_FALSE(state.anyErrors);
}

TEST_F(InstallerTest, AProtectedFileMissingFromTheProgramsFolderIsStillAFailure) {
    platform.files[platform.Installed("HHCTRL.OCX")] = {kV1, "the system's own"};
    platform.protectedFiles.insert(platform.Installed("HHCTRL.OCX"));
    platform.files.erase(platform.Source("HHCTRL.OCX"));
    Run();
    EXPECT_EQ(platform.items[8], "HHCTRL.OCX:File not found");
}

// --- No exception leaves a step ------------------------------------------------

class ThrowingPlatform : public FakePlatform {
public:
    FileMove CopyToTemporary(const std::string&, const std::string&) override {
        throw std::runtime_error("copy");
    }
    ProgramId StartProgram(const ProgramLaunch&) override {
        throw std::runtime_error("start");
    }
};

class ThrowingListPlatform : public FakePlatform {
public:
    void AddProgressItem(const std::string&) override { throw std::bad_alloc(); }
};

TEST(InstallerFaultTest, AFailureThatCannotBeWrittenIsStillAFailure) {
    ThrowingListPlatform platform;
    platform.files.clear();
    InstallState state;
    Installer installer(platform, state);
    state.sysDir = installer.GetSystemDir();
    EXPECT_FALSE(installer.CopyToSystem("MSINET.OCX"));
    EXPECT_TRUE(state.anyErrors);
}

TEST(InstallerFaultTest, AStepThatThrowsBecomesAnErrorLine) {
    ThrowingPlatform platform;
    InstallState state;
    Installer installer(platform, state);
    state.sysDir = installer.GetSystemDir();
    EXPECT_FALSE(installer.CopyToSystem("MSINET.OCX"));
    EXPECT_FALSE(installer.RegisterComponent("MSINET.OCX"));
    EXPECT_EQ(platform.items, (std::vector<std::string>{"MSINET.OCX:Path/File access error",
                                                        "Error registering \"MSINET.OCX\""}));
    EXPECT_TRUE(state.anyErrors);
}

// --- Leaving during the run ----------------------------------------------------

TEST_F(InstallerTest, StopFinishesTheCurrentComponentAndLogsTheRest) {
    int checks = 0;
    state.sysDir = installer.GetSystemDir();
    installer.InstallComponents([&] { return ++checks > 3; });
    const std::vector<std::string> all = SuccessLines();
    EXPECT_EQ(platform.items, std::vector<std::string>(all.begin(), all.begin() + 3));
    EXPECT_EQ(platform.Count("start "), 3);
    EXPECT_EQ(platform.Count("copy "), 3);
    EXPECT_EQ(state.dllFailed,
              "\r\n-   MSINET.OCX\r\n-   RICHTX32.OCX\r\n-   TABCTL32.OCX\r\n-   MSSTDFMT.DLL"
              "\r\n-   SCRRUN.DLL\r\n-   HHCTRL.OCX");
    EXPECT_TRUE(state.anyErrors);
}

}  // namespace
}  // namespace tarnwick
