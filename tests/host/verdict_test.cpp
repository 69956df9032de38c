// The registration tool's verdict against the fake platform: a tool that ends
// with anything but 0 turns its component's success into a failure, whenever
// the end is heard.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "installer/installer.h"
#include "ui/main_form.h"
#include "ui/texts.h"

namespace tarnwick {
namespace {

using testing::FakePlatform;

std::vector<std::string> SuccessLines() {
    std::vector<std::string> lines;
    for (std::string_view name : kComponentTable) lines.push_back(std::string(name) + std::string(kSuccessSuffix));
    return lines;
}

class VerdictTest : public ::testing::Test {
protected:
    // The user leaves while the first component's registration is pumped,
    // and its tool ends with `code` while message box number `box` is up.
    void LeaveDuringTheFirstComponentAndFailAtBox(std::size_t box, std::uint32_t code) {
        platform.onDoEvents = [this] {
            if (platform.Count("events") == 2) {
                EXPECT_FALSE(form.RequestUnload());
            }
        };
        platform.onShowMessage = [this, box, code] {
            if (platform.messages.size() == box) End("MSCOMCTL.OCX", code);
        };
    }

    // The tool started for `name` ends with `code`.
    void End(const std::string& name, std::uint32_t code) {
        const ProgramId program = platform.ProgramFor(name);
        ASSERT_NE(program, kNoProgram) << name;
        form.ProgramEnded(program, code);
    }

    // Every run keeps a log, which must tell what the boxes and the exit code tell.
    void SetUp() override { ASSERT_TRUE(platform.CreateLog("run.log")); }

    FakePlatform platform;
    frmMain form{platform, true};
};

TEST_F(VerdictTest, EachFailingCodeReplacesTheLineInPlace) {
    form.Load();
    End("MSCOMCTL.OCX", 0);
    End("MSINET.OCX", 3);           // not a DLL
    End("TABCTL32.OCX", 5);         // DllRegisterServer failed
    End("MSSTDFMT.DLL", 4);         // no DllRegisterServer
    End("HHCTRL.OCX", 0xC0000005);  // crashed
    std::vector<std::string> expected = SuccessLines();
    expected[3] = "Error registering \"MSINET.OCX\"";
    expected[5] = "Error registering \"TABCTL32.OCX\"";
    expected[6] = "Error registering \"MSSTDFMT.DLL\"";
    expected[8] = "Error registering \"HHCTRL.OCX\"";
    EXPECT_EQ(platform.items, expected);
    EXPECT_EQ(form.state().dllFailed,
              "\r\n-   MSINET.OCX\r\n-   TABCTL32.OCX\r\n-   MSSTDFMT.DLL\r\n-   HHCTRL.OCX");
    EXPECT_TRUE(form.state().anyErrors);
    EXPECT_EQ(form.ExitCode(), 1);

    EXPECT_TRUE(form.RequestUnload());
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(platform.messages[1].text, FailureReport(form.state().dllFailed));
}

TEST_F(VerdictTest, SuccessAndStrayOrRepeatedEndsChangeNothing) {
    form.Load();
    for (std::string_view name : kComponentTable) End(std::string(name), 0);
    form.ProgramEnded(kNoProgram, 3);
    form.ProgramEnded(12345, 3);
    End("COMDLG32.OCX", 3);  // a second end of a tool already heard
    EXPECT_EQ(platform.items, SuccessLines());
    EXPECT_EQ(form.state().dllFailed, "");
    EXPECT_EQ(form.ExitCode(), 0);
}

TEST_F(VerdictTest, AVerdictBeforeTheSuccessLineGivesTheErrorLineAtItsPlace) {
    // TABCTL32.OCX's tool fails while the run pumps right after starting it.
    platform.onDoEvents = [&] {
        const ProgramId program = platform.ProgramFor("TABCTL32.OCX");
        if (program != kNoProgram && platform.items.size() == 5) form.ProgramEnded(program, 5);
    };
    form.Load();
    std::vector<std::string> expected = SuccessLines();
    expected[5] = "Error registering \"TABCTL32.OCX\"";
    EXPECT_EQ(platform.items, expected);
    EXPECT_EQ(platform.Count("replace "), 0);
    EXPECT_EQ(form.state().dllFailed, "\r\n-   TABCTL32.OCX");
}

TEST_F(VerdictTest, TheFailureLogKeepsTableOrderWhateverOrderTheFailuresCameIn) {
    platform.files.erase(platform.Source("HHCTRL.OCX"));
    form.Load();
    End("COMCTL32.OCX", 1);  // heard after HHCTRL.OCX's copy failed
    End("MSCOMCTL.OCX", 2);
    EXPECT_EQ(form.state().dllFailed, "\r\n-   MSCOMCTL.OCX\r\n-   COMCTL32.OCX\r\n-   HHCTRL.OCX");
    EXPECT_EQ(platform.items[8], "HHCTRL.OCX:File not found");
    EXPECT_EQ(platform.items[0], "Error registering \"MSCOMCTL.OCX\"");
}

TEST_F(VerdictTest, AFailureHeardWhileTheHelpBoxIsUpBringsTheFailureBox) {
    form.Load();
    // It ends while the help box is up, and is heard at the next pump.
    platform.sink = [&](ProgramId program, std::uint32_t code) { form.ProgramEnded(program, code); };
    platform.onShowMessage = [&] {
        if (platform.messages.size() == 1) platform.arrivedEnds.push_back({platform.ProgramFor("RICHTX32.OCX"), 3});
    };
    EXPECT_TRUE(form.RequestUnload());
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(platform.messages[1].title, "Unregistered Components");
    EXPECT_EQ(platform.messages[1].text, "Files that failed to be registered:\r\n\r\n-   RICHTX32.OCX");
    EXPECT_EQ(form.ExitCode(), 1);
}

TEST_F(VerdictTest, ToolsThatNeverEndNeitherBlockNorFailTheExit) {
    form.Load();
    EXPECT_TRUE(form.RequestUnload());
    EXPECT_TRUE(form.Unloaded());
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.Count("finish "), 0);  // nobody waits for them
    EXPECT_EQ(form.ExitCode(), 0);
}

// The report decides once, after the help box: the failure box, the log and
// the exit code then tell the same verdicts, whatever ends later.
using LateVerdictTest = VerdictTest;

TEST_F(LateVerdictTest, AFailureHeardAfterTheReportChangesNothing) {
    form.Load();
    EXPECT_TRUE(form.RequestUnload());
    const std::string log = platform.log;
    End("SCRRUN.DLL", 5);
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(form.ExitCode(), 0);
    EXPECT_EQ(form.state().dllFailed, "");
    EXPECT_EQ(platform.log, log);
    EXPECT_NE(log.find("SCRRUN.DLL registered successfully.  * (the registration tool had not finished)"),
              std::string::npos);
}

TEST_F(LateVerdictTest, AFailureHeardWhileTheFailureBoxIsUpAfterLeavingDuringTheRun) {
    // The user leaves during MSCOMCTL.OCX; its tool fails while the failure
    // box (of the components never reached) is up.
    LeaveDuringTheFirstComponentAndFailAtBox(2, 3);
    form.Load();
    ASSERT_EQ(platform.messages.size(), 2u);
    const std::string shown = platform.messages[1].text;
    EXPECT_EQ(shown.find("MSCOMCTL.OCX"), std::string::npos);
    EXPECT_EQ(shown, FailureReport(form.state().dllFailed));
    EXPECT_EQ(platform.log, LogReport(platform.version, form.state()));
    EXPECT_NE(platform.log.find("MSCOMCTL.OCX registered successfully.  * (the registration tool had not finished)"),
              std::string::npos);
    EXPECT_EQ(form.state().outcomes[0].outcome, Outcome::kRegistering);
    EXPECT_EQ(form.ExitCode(), 1);  // for the eight never reached, as the box says
}

TEST_F(VerdictTest, ExitDuringTheRunStillTakesTheVerdictOfTheFinishedComponent) {
    // The user leaves while MSCOMCTL.OCX's registration is pumped; its tool
    // fails while the help box is up.
    LeaveDuringTheFirstComponentAndFailAtBox(1, 3);
    form.Load();
    EXPECT_TRUE(form.Unloaded());
    EXPECT_EQ(platform.items, std::vector<std::string>{"Error registering \"MSCOMCTL.OCX\""});
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_TRUE(platform.messages[1].text.starts_with(
        "Files that failed to be registered:\r\n\r\n-   MSCOMCTL.OCX\r\n-   COMDLG32.OCX"));
}

TEST(ExitCodeMeaningTest, NamesTheToolsOwnCodesAndCrashes) {
    EXPECT_EQ(ExitCodeMeaning(3), "exit code 3, the file could not be loaded");
    EXPECT_EQ(ExitCodeMeaning(4), "exit code 4, the file has no DllRegisterServer");
    EXPECT_EQ(ExitCodeMeaning(5), "exit code 5, its DllRegisterServer failed");
    EXPECT_EQ(ExitCodeMeaning(0xC0000005), "exit code 0xC0000005, the registration tool crashed");
    EXPECT_EQ(ExitCodeMeaning(0x1460), "exit code 5216");
    EXPECT_EQ(ExitCodeMeaning(0x80004005), "exit code 0x80004005");
}

}  // namespace
}  // namespace tarnwick
