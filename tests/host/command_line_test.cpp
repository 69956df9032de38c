// The command line and the unattended run against the fake platform.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "installer/installer.h"
#include "ui/command_line.h"
#include "ui/main_form.h"
#include "ui/stopped.h"
#include "ui/texts.h"
#include "ui/unattended.h"

namespace tarnwick {
namespace {

using testing::FakePlatform;
using Action = CommandLine::Action;

// --- Parsing -------------------------------------------------------------------

struct ParseCase {
    const char* name;
    std::vector<std::string> arguments;
    Action action;
    std::string logPath;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, GivesTheActionAndTheLog) {
    const ParseCase& c = GetParam();
    const CommandLine line = ParseCommandLine(c.arguments);
    EXPECT_EQ(line.action, c.action) << line.error;
    EXPECT_EQ(line.logPath, c.logPath);
    EXPECT_EQ(line.error.empty(), c.action != Action::kInvalid);
}

const std::string kUnicodePath = "C:\\Protokolle \xc3\xa9\xe2\x82\xac\\\xe6\x97\xa5\xe5\xbf\x97.txt";

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ParseTest,
    ::testing::Values(
        ParseCase{"Nothing", {}, Action::kWindow, ""},
        ParseCase{"Silent", {"/S"}, Action::kUnattended, ""},
        ParseCase{"SilentLowerCaseDash", {"-s"}, Action::kUnattended, ""},
        ParseCase{"Quiet", {"/QUIET"}, Action::kUnattended, ""},
        ParseCase{"SilentTwice", {"/S", "-quiet"}, Action::kUnattended, ""},
        ParseCase{"SilentWithLog", {"/S", "/log=C:\\Logs\\tarnwick.log"}, Action::kUnattended, "C:\\Logs\\tarnwick.log"},
        ParseCase{"LogAlone", {"-LOG=out.txt"}, Action::kWindow, "out.txt"},
        ParseCase{"LogWithSpaces", {"/S", "/log=C:\\My Logs\\run 1.log"}, Action::kUnattended, "C:\\My Logs\\run 1.log"},
        ParseCase{"LogStillQuoted", {"/log=\"C:\\My Logs\\a.log\"", "/s"}, Action::kUnattended, "C:\\My Logs\\a.log"},
        ParseCase{"LogUnicode", {"/s", "/Log=" + kUnicodePath}, Action::kUnattended, kUnicodePath},
        ParseCase{"LogSameTwice", {"/log=a.txt", "/log=a.txt"}, Action::kWindow, "a.txt"},
        ParseCase{"LogKeepsItsCase", {"/log=C:\\LOGS\\Run.Log"}, Action::kWindow, "C:\\LOGS\\Run.Log"},
        ParseCase{"Help", {"/?"}, Action::kHelp, ""},
        ParseCase{"HelpWord", {"-Help", "/S"}, Action::kHelp, ""},
        ParseCase{"Unknown", {"/x"}, Action::kInvalid, ""},
        ParseCase{"UnknownWithSilent", {"/S", "/verysilent"}, Action::kInvalid, ""},
        ParseCase{"UnknownBeatsHelp", {"/?", "/nope"}, Action::kInvalid, ""},
        ParseCase{"LogWithoutFile", {"/log"}, Action::kInvalid, ""},
        ParseCase{"LogEmpty", {"/S", "/log="}, Action::kInvalid, ""},
        ParseCase{"LogOnlyQuotes", {"/log=\"\""}, Action::kInvalid, ""},
        ParseCase{"LogTwiceDifferent", {"/log=a.txt", "/log=b.txt"}, Action::kInvalid, "a.txt"},
        ParseCase{"SilentWithValue", {"/S=1"}, Action::kInvalid, ""},
        ParseCase{"StrayArgument", {"/S", "C:\\setup"}, Action::kInvalid, ""},
        ParseCase{"BarePrefix", {"-"}, Action::kInvalid, ""},
        ParseCase{"EmptyArgument", {""}, Action::kInvalid, ""},
        ParseCase{"Check", {"-CHECK"}, Action::kCheck, ""},
        ParseCase{"CheckSilentWithLog", {"/S", "/check", "/log=c.txt"}, Action::kCheck, "c.txt"},
        ParseCase{"CheckWithHelp", {"/check", "/?"}, Action::kInvalid, ""},
        ParseCase{"CheckWithValue", {"/check=all"}, Action::kInvalid, ""},
        ParseCase{"CheckWithStray", {"/check", "MSINET.OCX"}, Action::kInvalid, ""}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(ParseErrorTest, SaysWhatWasNotUnderstoodAndRemembersSilence) {
    const CommandLine line = ParseCommandLine({"/S", "/frobnicate", "extra"});
    EXPECT_EQ(line.error, "unknown switch \"/frobnicate\"");
    EXPECT_TRUE(line.quiet);
    EXPECT_EQ(ParseCommandLine({"/log"}).error, "/log needs a file name: /log=FILE");
}

// --- What each command line does -------------------------------------------------

class CommandLineRunTest : public ::testing::Test {
protected:
    std::optional<int> Run(const std::vector<std::string>& arguments) { return RunOn(platform, arguments); }
    FakePlatform platform;
};

TEST_F(CommandLineRunTest, WithoutArgumentsTheWindowOpens) {
    EXPECT_EQ(Run({}), std::nullopt);
    EXPECT_TRUE(platform.journal.empty());
}

TEST_F(CommandLineRunTest, HelpShowsTheUsageAndInstallsNothing) {
    EXPECT_EQ(Run({"/?"}), 0);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].text, UsageText());
    EXPECT_EQ(platform.messages[0].title, "Tarnwick");
    EXPECT_EQ(platform.Count("copy "), 0);
}

TEST_F(CommandLineRunTest, HelpWithSilentShowsNoBoxAndEndsWithTwo) {
    const std::string expected = "Tarnwick: /S and /? ask for two things at once; nothing was installed.\r\n\r\n" +
                                 UsageText() + "\r\n";
    EXPECT_EQ(Run({"/S", "/log=C:\\t.log", "/?"}), 2);
    EXPECT_EQ(platform.standardOutput, expected);
    EXPECT_EQ(platform.logPath, "C:\\t.log");
    EXPECT_EQ(platform.log, expected);

    FakePlatform noLog;
    EXPECT_EQ(RunOn(noLog, {"-help", "-QUIET"}), 2);
    EXPECT_EQ(noLog.standardOutput, expected);
    EXPECT_EQ(noLog.Count("log "), 0);
    for (const FakePlatform* p : {&platform, &noLog}) {
        EXPECT_TRUE(p->messages.empty());
        EXPECT_EQ(p->Count("show"), 0);
        EXPECT_EQ(p->Count("copy "), 0);
        EXPECT_EQ(p->Count("start "), 0);
    }
}

TEST_F(CommandLineRunTest, NotUnderstoodEndsWithTwoAndInstallsNothing) {
    EXPECT_EQ(Run({"/bogus"}), 2);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_NE(platform.messages[0].text.find("unknown switch \"/bogus\""), std::string::npos);
    EXPECT_NE(platform.messages[0].text.find(UsageText()), std::string::npos);
    EXPECT_EQ(platform.messages[0].style, MessageBoxStyle::kCritical);

    FakePlatform silent;
    EXPECT_EQ(RunOn(silent, {"/S", "/bogus"}), 2);
    EXPECT_TRUE(silent.messages.empty());
    EXPECT_EQ(silent.standardOutput,
              "Tarnwick: unknown switch \"/bogus\"; nothing was installed. Run tarnwick.exe /? for the usage.\r\n");
    for (const FakePlatform* p : {&platform, &silent}) {
        EXPECT_EQ(p->Count("copy "), 0);
        EXPECT_EQ(p->Count("start "), 0);
        EXPECT_EQ(p->Count("log "), 0);
    }
}

TEST_F(CommandLineRunTest, AWindowRunWithALogThatCannotBeCreatedInstallsNothing) {
    platform.logCanBeCreated = false;
    EXPECT_EQ(Run({"/log=Q:\\missing\\tarnwick.log"}), 2);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].text,
              "Tarnwick: the log file \"Q:\\missing\\tarnwick.log\" could not be created; nothing was installed.");
    EXPECT_EQ(platform.Count("copy "), 0);
}

TEST_F(CommandLineRunTest, AWindowRunWritesItsFinalResultsToTheLogOnExit) {
    EXPECT_EQ(Run({"/log=run.log"}), std::nullopt);
    frmMain form(platform, true);
    platform.files.erase(platform.Source("MSINET.OCX"));
    form.Load();
    form.ProgramEnded(platform.ProgramFor("MSCOMCTL.OCX"), 0);
    form.ProgramEnded(platform.ProgramFor("SCRRUN.DLL"), 4);
    EXPECT_EQ(platform.log, "");  // written once the report has decided
    EXPECT_TRUE(form.RequestUnload());
    EXPECT_EQ(platform.log,
              "Tarnwick 1.0.0, system directory C:\\WINDOWS\\system32\r\n"
              "MSCOMCTL.OCX registered successfully.\r\n"
              "COMDLG32.OCX registered successfully.  * (the registration tool had not finished)\r\n"
              "COMCTL32.OCX registered successfully.  * (the registration tool had not finished)\r\n"
              "MSINET.OCX:File not found\r\n"
              "RICHTX32.OCX registered successfully.  * (the registration tool had not finished)\r\n"
              "TABCTL32.OCX registered successfully.  * (the registration tool had not finished)\r\n"
              "MSSTDFMT.DLL registered successfully.  * (the registration tool had not finished)\r\n"
              "Error registering \"SCRRUN.DLL\": exit code 4, the file has no DllRegisterServer\r\n"
              "HHCTRL.OCX registered successfully.  * (the registration tool had not finished)\r\n"
              "Files that failed to be registered:\r\n\r\n-   MSINET.OCX\r\n-   SCRRUN.DLL\r\n");
}

// --- The unattended run ----------------------------------------------------------

TEST_F(CommandLineRunTest, UnattendedInstallsAllNineSilentlyAndWaitsForEachVerdict) {
    EXPECT_EQ(Run({"/S", "/log=C:\\tarnwick.log"}), 0);
    const std::string expected =
        "Tarnwick 1.0.0, system directory C:\\WINDOWS\\system32\r\n"
        "MSCOMCTL.OCX registered successfully.\r\nCOMDLG32.OCX registered successfully.\r\n"
        "COMCTL32.OCX registered successfully.\r\nMSINET.OCX registered successfully.\r\n"
        "RICHTX32.OCX registered successfully.\r\nTABCTL32.OCX registered successfully.\r\n"
        "MSSTDFMT.DLL registered successfully.\r\nSCRRUN.DLL registered successfully.\r\n"
        "HHCTRL.OCX registered successfully.\r\n"
        "Check after install:\r\n"
        "MSCOMCTL.OCX: ok, version 1.0.0.0\r\nCOMDLG32.OCX: ok, version 1.0.0.0\r\n"
        "COMCTL32.OCX: ok, version 1.0.0.0\r\nMSINET.OCX: ok, version 1.0.0.0\r\n"
        "RICHTX32.OCX: ok, version 1.0.0.0\r\nTABCTL32.OCX: ok, version 1.0.0.0\r\n"
        "MSSTDFMT.DLL: ok, version 1.0.0.0\r\nSCRRUN.DLL: ok, version 1.0.0.0\r\n"
        "HHCTRL.OCX: ok, version 1.0.0.0\r\n"
        "9 of 9 components are ok.\r\n";
    EXPECT_EQ(platform.logPath, "C:\\tarnwick.log");
    EXPECT_EQ(platform.log, expected);
    EXPECT_EQ(platform.standardOutput, expected);
    // No window, no box, no pop-up from the tool, every tool waited for.
    EXPECT_EQ(platform.Count("show"), 0);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(platform.Count("start C:\\WINDOWS\\system32\\regsvr32.exe /s MSCOMCTL.OCX in C:\\WINDOWS\\system32"), 1);
    EXPECT_EQ(platform.Count("start "), 9);
    EXPECT_EQ(platform.Count("finish "), 9);
    EXPECT_EQ(platform.Count("finish 100 within 60000"), 1);
    EXPECT_LT(platform.IndexOf("log "), platform.IndexOf("copy "));
}

TEST_F(CommandLineRunTest, UnattendedReportsEveryKindOfFailureInTableOrder) {
    platform.files.erase(platform.Source("MSINET.OCX"));
    platform.copyFailures[platform.Installed("COMCTL32.OCX")] = FileResult::kPermissionDenied;
    platform.programEnds["TABCTL32.OCX"] = {true, 5};
    platform.programEnds["MSCOMCTL.OCX"] = {true, 0xC0000005};
    platform.programEnds["HHCTRL.OCX"] = {false, 0};  // still running at the limit
    EXPECT_EQ(Run({"-quiet"}), 1);
    EXPECT_EQ(platform.standardOutput,
              "Tarnwick 1.0.0, system directory C:\\WINDOWS\\system32\r\n"
              "Error registering \"MSCOMCTL.OCX\": exit code 0xC0000005, the registration tool crashed\r\n"
              "COMDLG32.OCX registered successfully.\r\n"
              "COMCTL32.OCX:Permission denied\r\n"
              "MSINET.OCX:File not found\r\n"
              "RICHTX32.OCX registered successfully.\r\n"
              "Error registering \"TABCTL32.OCX\": exit code 5, its DllRegisterServer failed\r\n"
              "MSSTDFMT.DLL registered successfully.\r\n"
              "SCRRUN.DLL registered successfully.\r\n"
              "Error registering \"HHCTRL.OCX\": the registration tool did not finish within 60 s and was ended\r\n"
              "Check after install:\r\n"
              "MSCOMCTL.OCX: not registered: 1 of 1 class, the type library\r\n"
              "    class {CLASS-MSCOMCTL.OCX}: not registered\r\n"
              "    type library {LIB-MSCOMCTL.OCX} 1.0: not registered\r\n"
              "COMDLG32.OCX: ok, version 1.0.0.0\r\n"
              "COMCTL32.OCX: missing\r\n"
              "MSINET.OCX: missing\r\n"
              "RICHTX32.OCX: ok, version 1.0.0.0\r\n"
              "TABCTL32.OCX: not registered: 1 of 1 class, the type library\r\n"
              "    class {CLASS-TABCTL32.OCX}: not registered\r\n"
              "    type library {LIB-TABCTL32.OCX} 1.0: not registered\r\n"
              "MSSTDFMT.DLL: ok, version 1.0.0.0\r\n"
              "SCRRUN.DLL: ok, version 1.0.0.0\r\n"
              "HHCTRL.OCX: not registered: 1 of 1 class, the type library\r\n"
              "    class {CLASS-HHCTRL.OCX}: not registered\r\n"
              "    type library {LIB-HHCTRL.OCX} 1.0: not registered\r\n"
              "4 of 9 components are ok; to mend the others, install them with Tarnwick, run from the folder "
              "that holds the right files.\r\n"
              "Files that failed to be registered:\r\n\r\n-   MSCOMCTL.OCX\r\n-   COMCTL32.OCX"
              "\r\n-   MSINET.OCX\r\n-   TABCTL32.OCX\r\n-   HHCTRL.OCX\r\n");
    EXPECT_EQ(platform.log, "");  // no log asked for
    EXPECT_EQ(platform.Count("finish "), 7);
}

TEST_F(CommandLineRunTest, UnattendedWithoutTheToolSaysItCouldNotBeStarted) {
    platform.launchSucceeds = false;
    EXPECT_EQ(Run({"/s"}), 1);
    EXPECT_NE(platform.standardOutput.find(
                  "\r\nError registering \"SCRRUN.DLL\": the registration tool could not be started\r\n"),
              std::string::npos);
}

TEST_F(CommandLineRunTest, UnattendedWithALogThatCannotBeCreatedInstallsNothing) {
    platform.logCanBeCreated = false;
    EXPECT_EQ(Run({"/S", "/log=Q:\\missing\\x.log"}), 2);
    EXPECT_EQ(platform.Count("copy "), 0);
    EXPECT_EQ(platform.Count("sysdir"), 0);
    EXPECT_EQ(platform.standardOutput,
              "Tarnwick: the log file \"Q:\\missing\\x.log\" could not be created; nothing was installed.\r\n");
}

TEST_F(CommandLineRunTest, UnattendedCleansUpAndKeepsProtectedFiles) {
    platform.files[platform.Installed("SCRRUN.DLL")] = {FileVersion{0, 1, 0, 0}, "system's own"};
    platform.protectedFiles.insert(platform.Installed("SCRRUN.DLL"));
    platform.typeLibraries[platform.Installed("SCRRUN.DLL")] = FakePlatform::SampleLibrary("SCRRUN.DLL");
    EXPECT_EQ(Run({"/S"}), 0);
    EXPECT_EQ(platform.files[platform.Installed("SCRRUN.DLL")].content, "system's own");
    EXPECT_EQ(platform.Count("start C:\\WINDOWS\\system32\\regsvr32.exe /s SCRRUN.DLL"), 1);
    EXPECT_LT(platform.IndexOf("leftovers C:\\WINDOWS\\system32"), platform.IndexOf("copy "));
}

TEST_F(CommandLineRunTest, UnattendedOutOfMemorySaysSoAndFailsWithoutABox) {
    platform.throwAt = "finish 102";  // COMCTL32.OCX's verdict
    EXPECT_EQ(Run({"/S", "/log=run.log"}), 1);
    const std::string expected =
        "Tarnwick 1.0.0, system directory C:\\WINDOWS\\system32\r\n"
        "MSCOMCTL.OCX registered successfully.\r\nCOMDLG32.OCX registered successfully.\r\n" +
        std::string(kOutOfMemoryText) + "\r\nFiles that failed to be registered:\r\n";
    EXPECT_TRUE(platform.log.starts_with(expected)) << platform.log;
    EXPECT_EQ(platform.standardOutput, platform.log);
    EXPECT_TRUE(platform.messages.empty());
}

// --- A run that something escaped from ---------------------------------------

TEST(EscapedFailureTest, EndsWithOneAndABoxOnlyWhereSomeoneWatches) {
    const std::string line = std::string(kOutOfMemoryText) + "\r\n";
    for (const std::optional<bool> quiet : {std::optional<bool>(true), std::optional<bool>()}) {
        FakePlatform platform;
        ASSERT_TRUE(platform.CreateLog("run.log"));
        EXPECT_EQ(EndAfterEscapedFailure(platform, quiet), 1);
        EXPECT_EQ(platform.log, line);
        EXPECT_EQ(platform.standardOutput, line);
        EXPECT_TRUE(platform.messages.empty());
    }
    FakePlatform window;
    ASSERT_TRUE(window.CreateLog("run.log"));
    EXPECT_EQ(EndAfterEscapedFailure(window, false), 1);
    EXPECT_EQ(window.log, line);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].text, kOutOfMemoryText);
    EXPECT_EQ(window.standardOutput, "");
    // Even a box that cannot be shown still ends the run with 1.
    FakePlatform broken;
    broken.throwAt = "box";
    EXPECT_EQ(EndAfterEscapedFailure(broken, false), 1);
    EXPECT_EQ(broken.Count("box "), 1);
}

TEST(EscapedFailureTest, ASystemDllThatCannotBeLoadedIsNamedWithoutABoxInEveryRun) {
    // A window run too: its box would need user32, perhaps the very DLL.
    FakePlatform platform;
    ASSERT_TRUE(platform.CreateLog("window.log"));
    EXPECT_EQ(EndAfterSystemDllFailure(platform, "user32.dll", "", 1114), 1);
    const std::string line =
        "Tarnwick could not load user32.dll (error 1114), so it stopped. Components it had not come to were "
        "not installed.\r\n";
    EXPECT_EQ(platform.log, line);
    EXPECT_EQ(platform.standardOutput, line);
    EXPECT_TRUE(platform.messages.empty());

    FakePlatform withoutLog;
    EXPECT_EQ(EndAfterSystemDllFailure(withoutLog, "ole32.dll", "OleInitialize", 127), 1);
    EXPECT_EQ(withoutLog.standardOutput,
              "Tarnwick could not find OleInitialize in ole32.dll (error 127), so it stopped. Components it had "
              "not come to were not installed.\r\n");
    EXPECT_EQ(withoutLog.log, "");
    EXPECT_TRUE(withoutLog.messages.empty());
}

}  // namespace
}  // namespace tarnwick
