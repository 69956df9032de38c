// frmMain's load sequence and closing report against the fake platform.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "ui/main_form.h"
#include "ui/texts.h"

namespace tarnwick {
namespace {

using testing::FakePlatform;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

TEST(LoadSequenceTest, PreparesTheWindowBeforeTheFirstComponent) {
    FakePlatform platform;
    frmMain form(platform);
    form.Load();

    const std::size_t clearBar = platform.IndexOf("bar 0");
    const std::size_t caption = platform.IndexOf("caption ");
    const std::size_t show = platform.IndexOf("show");
    const std::size_t firstCopy = platform.IndexOf("version ");
    EXPECT_LT(clearBar, platform.IndexOf("sysdir"));
    EXPECT_LT(platform.IndexOf("sysdir"), platform.IndexOf("note"));
    EXPECT_LT(platform.IndexOf("note"), caption);
    EXPECT_LT(caption, show);
    EXPECT_LT(show, firstCopy);
    EXPECT_LT(firstCopy, platform.journal.size());

    EXPECT_EQ(platform.caption, "Tarnwick  v1.00");
    EXPECT_EQ(platform.note, kNoteText);
    EXPECT_TRUE(platform.note.starts_with("* If you did not get a pop-up prompt saying that"));
    EXPECT_TRUE(platform.note.ends_with("be displayed when exiting this application)"));
    EXPECT_EQ(platform.bar, std::string(50, '|'));
    EXPECT_EQ(platform.items.size(), 9u);
    EXPECT_EQ(form.state().sysDir, "C:\\WINDOWS\\system32");
    EXPECT_FALSE(form.Unloaded());
    EXPECT_EQ(form.ExitCode(), 0);
}

TEST(CaptionTest, HasNoSeparatorBetweenMinorAndRevision) {
    EXPECT_EQ(Caption({1, 0, 0}), "Tarnwick  v1.00");
    EXPECT_EQ(Caption({2, 1, 15}), "Tarnwick  v2.115");
}

TEST(HelpTextTest, HasItsTwentyThreeLinesExactly) {
    const std::string text = HelpText();
    const std::vector<std::string> lines = SplitLines(text);
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_FALSE(text.ends_with("\r\n"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 22);  // every one after a CR
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 22);
    EXPECT_EQ(lines[0], "\"File not found\": Re-extract the ZIP file and make sure all");
    EXPECT_EQ(lines[3], "\"Permission denied\": (Windows 2000/XP only)  Log out and");
    EXPECT_EQ(lines[5], "    logging in with the \"Administrator\" account) and run");
    EXPECT_EQ(lines[9], "    \"Permission denied\" error.");
    EXPECT_TRUE(lines[20].starts_with("       ") && lines[20][7] != ' ');
    EXPECT_NE(lines[20].find('@'), std::string::npos);
    EXPECT_EQ(lines[22], "Tell me the Windows OS you're using and the error message.");
    for (std::size_t empty : {2, 7, 10, 14, 17, 19, 21}) EXPECT_EQ(lines[empty], "") << empty;
    for (std::size_t indented : {1, 4, 5, 6, 9}) {
        EXPECT_TRUE(lines[indented].starts_with("    ") && lines[indented][4] != ' ') << indented;
    }
}

class ClosingReportTest : public ::testing::Test {
protected:
    FakePlatform platform;
    frmMain form{platform};
};

TEST_F(ClosingReportTest, WithoutFailuresShowsOnlyTheHelpBox) {
    form.Load();
    EXPECT_TRUE(form.RequestUnload());
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].title, "Error Fixing");
    EXPECT_EQ(platform.messages[0].text, HelpText());
    EXPECT_EQ(platform.messages[0].style, MessageBoxStyle::kInformation);
    EXPECT_FALSE(platform.messages[0].windowVisible);
    EXPECT_TRUE(form.Unloaded());
    EXPECT_EQ(form.ExitCode(), 0);
}

TEST_F(ClosingReportTest, AfterFailuresListsThemInASecondBox) {
    platform.files.erase(platform.Source("HHCTRL.OCX"));
    platform.files.erase(platform.Source("MSINET.OCX"));
    form.Load();
    EXPECT_TRUE(form.RequestUnload());
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(platform.messages[0].title, "Error Fixing");
    EXPECT_EQ(platform.messages[1].title, "Unregistered Components");
    EXPECT_EQ(platform.messages[1].style, MessageBoxStyle::kCritical);
    EXPECT_EQ(platform.messages[1].text,
              "Files that failed to be registered:\r\n\r\n-   MSINET.OCX\r\n-   HHCTRL.OCX");
    EXPECT_FALSE(platform.messages[1].windowVisible);
    EXPECT_EQ(form.ExitCode(), 1);
}

TEST_F(ClosingReportTest, RunsOnceHoweverOftenTheUserLeaves) {
    form.Load();
    platform.onShowMessage = [&] { EXPECT_FALSE(form.RequestUnload()); };
    EXPECT_TRUE(form.RequestUnload());
    EXPECT_FALSE(form.RequestUnload());
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.Count("hide"), 1);
}

TEST_F(ClosingReportTest, ExitDuringTheRunFinishesTheComponentThenReports) {
    // The user presses Exit while MSCOMCTL.OCX's copy is being pumped.
    platform.onDoEvents = [&] {
        if (platform.Count("events") == 1) {
            EXPECT_FALSE(form.RequestUnload());
        }
        // No box while the run pumps; the report takes its verdicts after the help box.
        if (platform.Count("hide") == 0) {
            EXPECT_TRUE(platform.messages.empty());
        }
    };
    form.Load();

    EXPECT_TRUE(form.Unloaded());
    EXPECT_EQ(platform.items, std::vector<std::string>{"MSCOMCTL.OCX registered successfully.  *"});
    EXPECT_EQ(platform.Count("start "), 1);
    EXPECT_EQ(platform.Count("copy "), 1);
    EXPECT_EQ(platform.bar.size(), 6u);
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(platform.messages[1].text,
              "Files that failed to be registered:\r\n"
              "\r\n-   COMDLG32.OCX\r\n-   COMCTL32.OCX\r\n-   MSINET.OCX\r\n-   RICHTX32.OCX"
              "\r\n-   TABCTL32.OCX\r\n-   MSSTDFMT.DLL\r\n-   SCRRUN.DLL\r\n-   HHCTRL.OCX");
    EXPECT_EQ(form.ExitCode(), 1);
    EXPECT_FALSE(form.RequestUnload());  // the window is going; nothing more to show
    EXPECT_EQ(platform.messages.size(), 2u);
}

TEST_F(ClosingReportTest, LeavingBeforeTheLoadSkipsTheInstall) {
    EXPECT_FALSE(form.RequestUnload());
    form.Load();
    EXPECT_TRUE(form.Unloaded());
    EXPECT_EQ(platform.Count("copy "), 0);
    EXPECT_TRUE(platform.items.empty());
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_TRUE(platform.messages[1].text.ends_with("\r\n-   SCRRUN.DLL\r\n-   HHCTRL.OCX"));
}

// --- A load that fails -----------------------------------------------------------

class LoadFailureTest : public ::testing::TestWithParam<const char*> {};

TEST_P(LoadFailureTest, LeavesAVisibleWayOutAndAFailure) {
    FakePlatform platform;
    platform.throwAt = GetParam();
    frmMain form(platform);
    form.Load();
    ASSERT_GE(platform.Count(GetParam()), 1) << "the step was never reached";
    EXPECT_EQ(form.ExitCode(), 1);
    // Shown, so the user can leave it and get the report...
    EXPECT_TRUE(platform.visible);
    EXPECT_FALSE(form.Unloaded());
    EXPECT_TRUE(form.RequestUnload());
    ASSERT_EQ(platform.messages.size(), 2u);
    // ...which names what was not installed.
    EXPECT_NE(platform.messages[1].text.find("-   HHCTRL.OCX"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(EachStep, LoadFailureTest,
                         ::testing::Values("bar 0", "sysdir", "leftovers", "note", "appversion",
                                           "caption", "show", "events", "bar 6"));

TEST(LoadFailureTest, AWindowThatCannotBeShownEndsWithAnErrorBox) {
    FakePlatform platform;
    platform.throwAt = "show";
    platform.throwEveryTime = true;
    frmMain form(platform);
    form.Load();
    EXPECT_TRUE(form.Unloaded());  // the caller destroys the window and ends
    EXPECT_EQ(form.ExitCode(), 1);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].text, kCannotStartText);
    EXPECT_EQ(platform.messages[0].style, MessageBoxStyle::kCritical);
    EXPECT_EQ(platform.Count("copy "), 0);
}

// The log of a window run that could not finish says why, before the nine
// results: a deployment engineer reading it sees why nothing was installed.
std::string StoppedLog(std::string_view reason) {
    std::string log = "Tarnwick 1.0.0, system directory C:\\WINDOWS\\system32\r\n" + std::string(reason) + "\r\n";
    std::string failed;
    for (std::string_view name : kComponentTable) {
        log += std::string(name) + ": not installed, the run ended before it\r\n";
        failed += "\r\n-   " + std::string(name);
    }
    return log + "Files that failed to be registered:\r\n" + failed + "\r\n";
}

TEST(LoadFailureTest, AWindowThatCannotBeCreatedSaysSoInTheBoxAndTheLog) {
    FakePlatform platform;
    ASSERT_TRUE(platform.CreateLog("run.log"));
    frmMain form(platform, true);
    form.WindowNotCreated();
    EXPECT_TRUE(form.Unloaded());
    EXPECT_EQ(form.ExitCode(), 1);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].text, kCannotStartText);
    EXPECT_EQ(platform.log, StoppedLog(kCannotStartText));
    EXPECT_EQ(platform.Count("copy "), 0);
    EXPECT_EQ(platform.Count("start "), 0);
}

TEST(LoadFailureTest, AnInstallThatRanOutOfMemorySaysSoInTheLog) {
    FakePlatform platform;
    ASSERT_TRUE(platform.CreateLog("run.log"));
    platform.throwAt = "bar 6";  // before the first component's line
    frmMain form(platform, true);
    form.Load();
    EXPECT_TRUE(form.RequestUnload());
    EXPECT_EQ(platform.log.substr(0, platform.log.find("MSCOMCTL.OCX")),
              "Tarnwick 1.0.0, system directory C:\\WINDOWS\\system32\r\n" + std::string(kOutOfMemoryText) +
                  "\r\n");
    EXPECT_EQ(form.ExitCode(), 1);
}

}  // namespace
}  // namespace tarnwick
