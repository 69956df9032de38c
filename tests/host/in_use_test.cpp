// A component a running program has in use, in an unattended run: set aside
// and replaced now where Windows lets it be renamed, else replaced and
// registered at the restart; exit code 3010 unless something failed; every
// step of the way failing in turn; what later runs make of what was left; and
// the check's verdict on a replacement that waits for the restart.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "installer/installer.h"
#include "ui/command_line.h"

namespace tarnwick {
namespace {

using testing::FakePlatform;
using Use = FakePlatform::Use;

constexpr const char* kReal = "C:\\WINDOWS\\SysWOW64";

class InUseTest : public testing::UnattendedTest {
protected:
    InUseTest() {
        // Older copies installed, so that each is to be replaced.
        for (std::string_view component : kComponentTable) {
            platform.files[platform.Installed(std::string(component))] = {FileVersion{0, 9, 0, 0}, "old"};
        }
    }
    std::string Content(const std::string& path) { return platform.files.contains(path) ? platform.files[path].content : "(none)"; }
};

TEST_F(InUseTest, ALoadedFileIsSetAsideTheNewOneGoesInAndTheOldGoesAtTheRestart) {
    const std::string installed = platform.Installed("MSCOMCTL.OCX");
    platform.inUse[installed] = Use::kLoaded;
    EXPECT_EQ(Run(), kExitRestart);
    EXPECT_EQ(Content(installed), "new MSCOMCTL.OCX");
    const std::string aside = "C:\\WINDOWS\\system32\\tarnwick-replaced-2.MSCOMCTL.OCX";
    EXPECT_EQ(Content(aside), "old");
    // Its deletion recorded with the real folder's name, before the swap.
    ASSERT_EQ(platform.pending.size(), 1u);
    EXPECT_EQ(platform.pending[0].from, std::string(kReal) + "\\tarnwick-replaced-2.MSCOMCTL.OCX");
    EXPECT_EQ(platform.pending[0].to, "");
    const std::size_t scheduled = platform.IndexOf("schedule ");
    EXPECT_EQ(platform.journal[scheduled + 1], "move C:\\WINDOWS\\system32\\tarnwick-temporary-1.tmp -> " + installed);
    // Registered as any installed file, by the worker, and checked.
    EXPECT_EQ(platform.Count("worker take " + installed), 1);
    EXPECT_TRUE(platform.Said("MSCOMCTL.OCX registered successfully.\r\n    it was in use: programs running now keep the old copy "
                     "(set aside as tarnwick-replaced-2.MSCOMCTL.OCX) until they end; Windows removes it when it "
                     "restarts\r\n"))
        << platform.standardOutput;
    EXPECT_TRUE(platform.Said("MSCOMCTL.OCX: ok, version 1.0.0.0\r\n"));
    EXPECT_TRUE(platform.standardOutput.ends_with("9 of 9 components are ok.\r\n"
                                                  "Restart Windows to finish the install (exit code 3010).\r\n"));
    EXPECT_TRUE(platform.runOnce.empty());
}

TEST_F(InUseTest, AFileHeldSoItCannotBeRenamedIsReplacedAndRegisteredAtTheRestart) {
    const std::string installed = platform.Installed("MSINET.OCX");
    platform.inUse[installed] = Use::kHeld;
    EXPECT_EQ(Run(), kExitRestart);
    // Tried again for a while, then left to the restart: the old file as it
    // was, the new copy beside it, and neither registered now.
    EXPECT_EQ(platform.Count("aside " + installed), kInUseAttempts);
    EXPECT_EQ(platform.Count("pause 250"), kInUseAttempts - 1);
    EXPECT_EQ(Content(installed), "old");
    const std::string temporary = "C:\\WINDOWS\\system32\\tarnwick-temporary-4.tmp";
    EXPECT_EQ(Content(temporary), "new MSINET.OCX");
    ASSERT_EQ(platform.pending.size(), 1u);
    EXPECT_EQ(platform.pending[0].from, std::string(kReal) + "\\tarnwick-temporary-4.tmp");
    EXPECT_EQ(platform.pending[0].to, std::string(kReal) + "\\MSINET.OCX");
    EXPECT_EQ(platform.runOnce["Tarnwick MSINET.OCX"],
              "\"C:\\WINDOWS\\SysWOW64\\regsvr32.exe\" /s \"C:\\WINDOWS\\SysWOW64\\MSINET.OCX\"");
    EXPECT_EQ(platform.Count("worker take " + installed), 0);
    EXPECT_TRUE(platform.Said("MSINET.OCX is in use: it is replaced and registered when Windows restarts.\r\n"));
    // The check after install says it waits, and that is no failure.
    EXPECT_TRUE(platform.Said("MSINET.OCX: waiting for the restart, which replaces it with version 1.0.0.0\r\n"
                     "    the restart puts C:\\WINDOWS\\SysWOW64\\tarnwick-temporary-4.tmp in its place\r\n"))
        << platform.standardOutput;
    EXPECT_TRUE(platform.Said("8 of 9 components are ok, 1 waits for Windows to restart.\r\n"));
    EXPECT_FALSE(platform.Said("Files that failed"));
}

TEST_F(InUseTest, AFileHeldOnlyForAMomentIsReplacedAtOnce) {
    platform.inUse[platform.Installed("MSINET.OCX")] = Use::kHeld;
    platform.heldFor = 1;  // a scanner lets go
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Content(platform.Installed("MSINET.OCX")), "new MSINET.OCX");
    EXPECT_TRUE(platform.pending.empty());
    EXPECT_TRUE(platform.Said("MSINET.OCX registered successfully.\r\nRICHTX32"));
}

TEST_F(InUseTest, AFailureWinsOverARestartAndNothingWaitsWithoutTheRightsToRecordIt) {
    platform.inUse[platform.Installed("MSINET.OCX")] = Use::kHeld;
    platform.files.erase(platform.Source("HHCTRL.OCX"));
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(platform.Said("MSINET.OCX is in use: it is replaced and registered when Windows restarts.\r\n"));
    EXPECT_TRUE(platform.standardOutput.ends_with("Files that failed to be registered:\r\n\r\n-   HHCTRL.OCX\r\n"));

    // Not elevated: neither way can be recorded, so each fails as it always
    // did, the installed file as it was and nothing of the new one left.
    for (const Use use : {Use::kLoaded, Use::kHeld}) {
        FakePlatform plain;
        plain.workerStarts = true;
        plain.mayRecordForRestart = false;
        const std::string installed = plain.Installed("MSINET.OCX");
        plain.files[installed] = {FileVersion{0, 9, 0, 0}, "old"};
        plain.inUse[installed] = use;
        EXPECT_EQ(RunOn(plain, {"/S"}), 1);
        EXPECT_TRUE(plain.Said("MSINET.OCX:Permission denied\r\n"));
        std::vector<std::string> files;
        for (const auto& [path, file] : plain.files) {
            if (path.starts_with("C:\\WINDOWS\\system32\\")) files.push_back(path);
        }
        EXPECT_EQ(files.size(), 9u) << plain.standardOutput;  // nothing beside the components
        EXPECT_EQ(plain.files[installed].content, "old");
        EXPECT_TRUE(plain.pending.empty());
        EXPECT_TRUE(plain.runOnce.empty());
    }
}

TEST_F(InUseTest, EachStepOfTheSwapFailingLeavesTheOldFileInPlaceOrForTheNextRun) {
    const std::string installed = platform.Installed("MSCOMCTL.OCX");
    const std::string aside = "C:\\WINDOWS\\system32\\tarnwick-replaced-2.MSCOMCTL.OCX";
    platform.inUse[installed] = Use::kLoaded;
    // The new copy does not go in after the old was set aside: the old goes back.
    platform.stepFailures.insert("move " + installed);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Content(installed), "old");
    EXPECT_EQ(Content(aside), "(none)");
    EXPECT_EQ(platform.Count("remove C:\\WINDOWS\\system32\\tarnwick-temporary-1.tmp"), 1);
    EXPECT_TRUE(platform.Said("MSCOMCTL.OCX:Permission denied\r\n"));

    // Nor can the old go back (the run is as good as killed there): the
    // next run finds the place empty and puts it back first.
    FakePlatform broken;
    broken.workerStarts = true;
    broken.files[installed] = {FileVersion{0, 9, 0, 0}, "old"};
    broken.inUse[installed] = Use::kLoaded;
    broken.stepFailures = {"move " + installed, "rename " + installed};
    EXPECT_EQ(RunOn(broken, {"/S"}), 1);
    EXPECT_FALSE(broken.files.contains(installed));
    EXPECT_EQ(broken.files[aside].content, "old");
    broken.stepFailures.clear();
    broken.inUse.clear();
    broken.leftovers = {{aside, "MSCOMCTL.OCX"}};
    broken.standardOutput.clear();
    broken.journal.clear();
    EXPECT_EQ(RunOn(broken, {"/S"}), 0);
    EXPECT_LT(broken.IndexOf("rename " + aside + " -> " + installed), broken.IndexOf("copy "));
    EXPECT_EQ(broken.files[installed].content, "new MSCOMCTL.OCX");
    EXPECT_FALSE(broken.files.contains(aside));
}

TEST_F(InUseTest, TheCleanupSparesWhatWaitsForTheRestartAndPutsBackWhatAKilledRunLeftOut) {
    const auto inSystem = [this](const std::string& name) { return platform.Installed(name); };
    for (const char* name : {"tarnwick-temporary-7.tmp", "tarnwick-temporary-8.tmp", "tarnwick-replaced-3.TABCTL32.OCX",
                             "tarnwick-replaced-4.HHCTRL.OCX", "tarnwick-replaced-5.MSINET.OCX"}) {
        platform.files[inSystem(name)] = {FileVersion{0, 9, 0, 0}, "left"};
    }
    platform.files.erase(inSystem("HHCTRL.OCX"));  // killed between the two renames
    platform.inUse[inSystem("tarnwick-replaced-5.MSINET.OCX")] = Use::kLoaded;
    platform.pending = {{std::string(kReal) + "\\tarnwick-temporary-7.tmp", std::string(kReal) + "\\MSSTDFMT.DLL"},
                        {std::string(kReal) + "\\tarnwick-replaced-3.TABCTL32.OCX", ""}};
    platform.leftovers = {{inSystem("tarnwick-temporary-7.tmp"), ""},
                          {inSystem("tarnwick-temporary-8.tmp"), ""},
                          {inSystem("tarnwick-replaced-3.TABCTL32.OCX"), "TABCTL32.OCX"},
                          {inSystem("tarnwick-replaced-4.HHCTRL.OCX"), "HHCTRL.OCX"},
                          {inSystem("tarnwick-replaced-5.MSINET.OCX"), "MSINET.OCX"}};
    InstallState state;
    Installer(platform, state).Prepare();
    EXPECT_EQ(platform.Count("remove " + inSystem("tarnwick-temporary-7.tmp")), 0);  // waits for the restart
    EXPECT_EQ(platform.Count("remove " + inSystem("tarnwick-temporary-8.tmp")), 1);
    EXPECT_EQ(platform.Count("remove " + inSystem("tarnwick-replaced-3.TABCTL32.OCX")), 0);  // goes at the restart
    EXPECT_EQ(platform.files[inSystem("HHCTRL.OCX")].content, "left");                        // put back
    // Still loaded by a program, and nothing recorded for it yet.
    EXPECT_EQ(platform.pending.back().from, std::string(kReal) + "\\tarnwick-replaced-5.MSINET.OCX");
    EXPECT_EQ(platform.pending.size(), 3u);
}

TEST_F(InUseTest, ASecondRunBeforeTheRestartCallsOffWhatTheFirstLeftToIt) {
    const std::string installed = platform.Installed("MSINET.OCX");
    platform.inUse[installed] = Use::kHeld;
    EXPECT_EQ(Run(), kExitRestart);
    const std::string temporary = "C:\\WINDOWS\\system32\\tarnwick-temporary-4.tmp";
    ASSERT_TRUE(platform.files.contains(temporary));

    // The file is free now; the first run has ended, so its copy is a leftover.
    platform.inUse.clear();
    platform.leftovers = {{temporary, ""}};
    platform.standardOutput.clear();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Content(installed), "new MSINET.OCX");
    // The restart finds nothing to put in place, and nothing to register.
    EXPECT_FALSE(platform.files.contains(temporary));
    EXPECT_TRUE(platform.runOnce.empty());
    EXPECT_TRUE(platform.Said("MSINET.OCX: ok, version 1.0.0.0\r\n"));
}

TEST_F(InUseTest, TheCheckShowsAReplacementWaitingForTheRestart) {
    // Installed and registered, then a replacement left to the restart.
    EXPECT_EQ(Run(), 0);
    platform.files["C:\\WINDOWS\\system32\\tarnwick-temporary-77.tmp"] = {FileVersion{2, 0, 0, 0}, "newer"};
    platform.pending = {{std::string(kReal) + "\\tarnwick-temporary-77.tmp", std::string(kReal) + "\\TABCTL32.OCX"}};
    platform.standardOutput.clear();
    EXPECT_EQ(Run({"/check", "/S"}), kExitRestart);
    EXPECT_TRUE(platform.Said("TABCTL32.OCX: waiting for the restart, which replaces it with version 2.0.0.0\r\n"));
    // One whose source is gone waits for nothing.
    platform.files.erase("C:\\WINDOWS\\system32\\tarnwick-temporary-77.tmp");
    EXPECT_EQ(Run({"/check", "/S"}), 0);
    // Another not ok besides: 1.
    platform.files["C:\\WINDOWS\\system32\\tarnwick-temporary-77.tmp"] = {FileVersion{2, 0, 0, 0}, "newer"};
    platform.files.erase(platform.Installed("HHCTRL.OCX"));
    EXPECT_EQ(Run({"/check", "/S"}), 1);
}

TEST_F(InUseTest, TheWindowRunSaysPermissionDeniedAsItAlwaysDid) {
    platform.inUse[platform.Installed("MSINET.OCX")] = Use::kLoaded;
    InstallState state;
    Installer installer(platform, state);
    installer.Prepare();
    installer.InstallComponents();
    EXPECT_EQ(platform.items[3], "MSINET.OCX:Permission denied");
    EXPECT_EQ(platform.Count("aside "), 0);
    EXPECT_TRUE(platform.pending.empty());
}

}  // namespace
}  // namespace tarnwick
