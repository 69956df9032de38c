// The unattended run with its registration worker, against the fake platform:
// every component handed to one worker, the exact reason of each failure, a
// lost worker replaced for the rest, the tool where no worker can be had, and
// the internal switch.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "ui/command_line.h"

namespace tarnwick {
namespace {

using testing::FakePlatform;
using Kind = WorkerVerdict::Kind;

constexpr const char* kHeader = "Tarnwick 1.0.0, system directory C:\\WINDOWS\\system32\r\n";

class WorkerRunTest : public testing::UnattendedTest {
protected:
    // The log's line for each component, in table order.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::size_t at = platform.standardOutput.find("\r\n") + 2;
        for (int i = 0; i < kComponentCount; ++i) {
            const std::size_t end = platform.standardOutput.find("\r\n", at);
            lines.push_back(platform.standardOutput.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }
};

TEST_F(WorkerRunTest, OneWorkerStartedFirstRegistersAllNineAndNoToolIsStarted) {
    EXPECT_EQ(Run({"/S", "/log=run.log"}), 0);
    EXPECT_TRUE(platform.standardOutput.starts_with(kHeader));
    for (const std::string& line : Lines()) EXPECT_TRUE(line.ends_with(" registered successfully.")) << line;
    EXPECT_EQ(platform.log, platform.standardOutput);
    // Started before anything but the question where the system directory
    // is, so its start overlaps the copies, from a copy of the program
    // there: never from the program's own folder. Each file handed over by
    // its installed path, in table order, once copied.
    EXPECT_EQ(platform.Count("worker start"), 1);
    EXPECT_EQ(platform.IndexOf("worker start in C:\\WINDOWS\\system32"), platform.IndexOf("sysdir") + 1);
    EXPECT_LT(platform.IndexOf("worker start"), platform.IndexOf("leftovers"));
    EXPECT_LT(platform.IndexOf("copy D:\\setup\\MSCOMCTL.OCX"), platform.IndexOf("worker take C:\\WINDOWS\\system32\\MSCOMCTL.OCX"));
    EXPECT_LT(platform.IndexOf("worker take C:\\WINDOWS\\system32\\MSCOMCTL.OCX"), platform.IndexOf("copy D:\\setup\\COMDLG32.OCX"));
    EXPECT_EQ(platform.Count("worker take "), 9);
    EXPECT_EQ(platform.Count("worker wait within 60000"), 9);
    EXPECT_EQ(platform.Count("start "), 0);
    // Let go at the end, after the last verdict.
    EXPECT_EQ(platform.journal.back(), "worker end");
}

TEST_F(WorkerRunTest, TheCheckReadsTheFilesWhileTheWorkerRegistersAndTheRegistryAfter) {
    EXPECT_EQ(Run({"/S"}), 0);
    std::size_t lastWait = 0;
    for (std::size_t i = 0; i < platform.journal.size(); ++i) {
        if (platform.journal[i].starts_with("worker wait")) lastWait = i;
    }
    // Each file read once, before the first verdict is waited for.
    for (std::string_view component : kComponentTable) {
        const std::string installed = platform.Installed(std::string(component));
        EXPECT_EQ(platform.Count("typelib " + installed), 1) << installed;
        EXPECT_LT(platform.IndexOf("typelib " + installed), platform.IndexOf("worker wait")) << installed;
        EXPECT_LT(platform.IndexOf("imports " + installed), platform.IndexOf("worker wait")) << installed;
    }
    // What registering changes is read only once every registration has ended.
    EXPECT_GT(platform.IndexOf("registry "), lastWait);
    EXPECT_NE(platform.IndexOf("registry "), platform.journal.size());
}

TEST_F(WorkerRunTest, EachFailedRegistrationSaysExactlyWhy) {
    platform.errorTexts[193] = "%1 is not a valid Win32 application.";
    platform.errorTexts[0x80070005] = "Access is denied.";
    platform.workerVerdicts["MSINET.OCX"] = {Kind::kNotLoaded, 193};
    platform.workerVerdicts["TABCTL32.OCX"] = {Kind::kFailed, 0x80070005};
    platform.workerVerdicts["MSSTDFMT.DLL"] = {Kind::kNoEntry, 0};
    platform.workerVerdicts["HHCTRL.OCX"] = {Kind::kFailed, 0x8000FFFF};  // no text for it
    platform.files.erase(platform.Source("COMCTL32.OCX"));
    EXPECT_EQ(Run({"/S"}), 1);
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(lines[2], "COMCTL32.OCX:File not found");
    EXPECT_EQ(lines[3], "Error registering \"MSINET.OCX\": the file could not be loaded, error 193, "
                        "MSINET.OCX is not a valid Win32 application.");
    EXPECT_EQ(lines[5], "Error registering \"TABCTL32.OCX\": DllRegisterServer returned 0x80070005, Access is denied.");
    EXPECT_EQ(lines[6], "Error registering \"MSSTDFMT.DLL\": the file has no DllRegisterServer");
    EXPECT_EQ(lines[8], "Error registering \"HHCTRL.OCX\": DllRegisterServer returned 0x8000FFFF");
    EXPECT_EQ(lines[7], "SCRRUN.DLL registered successfully.");
    EXPECT_TRUE(platform.standardOutput.ends_with(
        "Files that failed to be registered:\r\n\r\n-   COMCTL32.OCX\r\n-   MSINET.OCX\r\n-   TABCTL32.OCX"
        "\r\n-   MSSTDFMT.DLL\r\n-   HHCTRL.OCX\r\n"));
    EXPECT_EQ(platform.Count("worker start"), 1);  // failures the worker reports do not lose it
}

TEST_F(WorkerRunTest, AWorkerLostToACrashOrAHangIsReplacedForTheRest) {
    platform.workerVerdicts["COMDLG32.OCX"] = {Kind::kCrashed, 0xC0000005};
    platform.workerVerdicts["TABCTL32.OCX"] = {Kind::kTimedOut, 0};
    EXPECT_EQ(Run({"/S"}), 1);
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(lines[1], "Error registering \"COMDLG32.OCX\": DllRegisterServer crashed, exception 0xC0000005");
    EXPECT_EQ(lines[5], "Error registering \"TABCTL32.OCX\": DllRegisterServer did not return within 60 s and was ended");
    for (int i : {0, 2, 3, 4, 6, 7, 8}) EXPECT_TRUE(lines[i].ends_with(" registered successfully.")) << lines[i];
    // Each loss starts a new worker, which is handed every file the lost one
    // had not answered, in table order.
    EXPECT_EQ(platform.Count("worker start"), 3);
    EXPECT_EQ(platform.Count("worker take C:\\WINDOWS\\system32\\COMCTL32.OCX"), 2);
    EXPECT_EQ(platform.Count("worker take C:\\WINDOWS\\system32\\HHCTRL.OCX"), 3);
    EXPECT_EQ(platform.Count("worker take C:\\WINDOWS\\system32\\COMDLG32.OCX"), 1);
    EXPECT_EQ(platform.Count("start "), 0);
    EXPECT_TRUE(platform.standardOutput.ends_with(
        "Files that failed to be registered:\r\n\r\n-   COMDLG32.OCX\r\n-   TABCTL32.OCX\r\n"));
}

TEST_F(WorkerRunTest, AWorkerLostBetweenTwoFilesFailsNeitherAndSaysSo) {
    // A thread MSCOMCTL.OCX left running crashes the worker after its
    // verdict, before it starts on COMDLG32.OCX: both are registered, the
    // loss is told under MSCOMCTL.OCX's line, and a new worker takes
    // COMDLG32.OCX and the rest.
    platform.workerLostBefore["COMDLG32.OCX"] = 1;
    EXPECT_EQ(Run({"/S"}), 0);
    EXPECT_TRUE(platform.Said(
        "MSCOMCTL.OCX registered successfully.\r\n"
        "    the registration worker crashed (exception 0xC0000005) after its verdict on MSCOMCTL.OCX and "
        "before it started on COMDLG32.OCX, so COMDLG32.OCX goes to a new worker\r\n"
        "COMDLG32.OCX registered successfully.\r\n"))
        << platform.standardOutput;
    EXPECT_EQ(platform.Count("worker start"), 2);
    EXPECT_EQ(platform.Count("worker take C:\\WINDOWS\\system32\\COMDLG32.OCX"), 2);
    EXPECT_EQ(platform.Count("worker take C:\\WINDOWS\\system32\\HHCTRL.OCX"), 2);
    EXPECT_EQ(platform.Count("start "), 0);

    // Lost again before the same file: the registration tool takes that one
    // (a first worker lost before it had answered anything), new workers the rest.
    FakePlatform twice;
    twice.workerStarts = true;
    twice.workerLostBefore["MSCOMCTL.OCX"] = 2;
    EXPECT_EQ(RunOn(twice, {"/S"}), 0);
    EXPECT_TRUE(twice.Said(
        "    the registration worker crashed (exception 0xC0000005) before it started on MSCOMCTL.OCX, "
        "so MSCOMCTL.OCX goes to a new worker\r\n"
        "    the registration worker crashed (exception 0xC0000005) before it started on MSCOMCTL.OCX, "
        "so MSCOMCTL.OCX goes to the registration tool\r\n"
        "MSCOMCTL.OCX registered successfully.\r\n"))
        << twice.standardOutput;
    EXPECT_EQ(twice.Count("start C:\\WINDOWS\\system32\\regsvr32.exe /s "), 1);
    EXPECT_EQ(twice.Count("start C:\\WINDOWS\\system32\\regsvr32.exe /s MSCOMCTL.OCX"), 1);
    EXPECT_EQ(twice.Count("worker take C:\\WINDOWS\\system32\\HHCTRL.OCX"), 3);
}

TEST_F(WorkerRunTest, FilesTheDeadWorkerWouldNotTakeGoToANewWorker) {
    // The worker crashes on COMDLG32.OCX while the copies go on: from
    // MSINET.OCX on it takes nothing more.
    platform.workerVerdicts["COMDLG32.OCX"] = {Kind::kCrashed, 0xC0000005};
    platform.workerTakesLeft = 3;
    EXPECT_EQ(Run({"/S"}), 1);
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(lines[1], "Error registering \"COMDLG32.OCX\": DllRegisterServer crashed, exception 0xC0000005");
    for (int i : {0, 2, 3, 4, 5, 6, 7, 8}) EXPECT_TRUE(lines[i].ends_with(" registered successfully.")) << lines[i];
    EXPECT_EQ(platform.Count("worker start"), 2);
    EXPECT_EQ(platform.Count("worker take C:\\WINDOWS\\system32\\COMCTL32.OCX"), 2);  // lost with the crash
    EXPECT_EQ(platform.Count("worker take C:\\WINDOWS\\system32\\MSINET.OCX"), 2);    // refused, then taken
    EXPECT_EQ(platform.Count("start "), 0);
}

TEST_F(WorkerRunTest, WhereNoWorkerCanBeHadTheToolRegisters) {
    // The first worker is lost on MSINET.OCX and no new one starts: the tool
    // registers the rest, each waited for.
    platform.workerStartsLeft = 1;
    platform.workerVerdicts["MSINET.OCX"] = {Kind::kCrashed, 3};
    platform.programEnds["TABCTL32.OCX"] = {true, 5};
    EXPECT_EQ(Run({"/S"}), 1);
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(lines[3], "Error registering \"MSINET.OCX\": the registration worker ended with exit code 3");
    EXPECT_EQ(lines[4], "RICHTX32.OCX registered successfully.");
    EXPECT_EQ(lines[5], "Error registering \"TABCTL32.OCX\": exit code 5, its DllRegisterServer failed");
    EXPECT_EQ(platform.Count("worker start"), 2);
    EXPECT_EQ(platform.Count("start C:\\WINDOWS\\system32\\regsvr32.exe /s "), 5);
    EXPECT_EQ(platform.Count("finish "), 5);

    // Nor at the start: the tool registers all nine.
    FakePlatform none;
    none.workerStarts = true;
    none.workerStartsLeft = 0;
    EXPECT_EQ(RunOn(none, {"/S"}), 0);
    EXPECT_EQ(none.Count("start C:\\WINDOWS\\system32\\regsvr32.exe /s "), 9);
    EXPECT_EQ(none.Count("worker take "), 0);
}

TEST_F(WorkerRunTest, TheInternalSwitchServesOnlyWithTheRunsHandshake) {
    EXPECT_EQ(ParseCommandLine({"/registration-worker=1.2.3"}).action, CommandLine::Action::kWorker);
    EXPECT_EQ(ParseCommandLine({"-Registration-Worker=1.2.3"}).handshake, "1.2.3");
    EXPECT_EQ(ParseCommandLine({"/S", "/registration-worker=1.2.3"}).action, CommandLine::Action::kInvalid);
    EXPECT_EQ(ParseCommandLine({"/registration-worker=1", "/?"}).action, CommandLine::Action::kInvalid);

    EXPECT_EQ(ParseCommandLine({"/check", "/registration-worker=1.2.3"}).action, CommandLine::Action::kInvalid);

    // Typed by a user: refused, nothing installed, no box, exit code 2; the
    // line goes to the log too, where one is asked for.
    EXPECT_EQ(Run({"/registration-worker=1.2.3", "/log=worker.log"}), 2);
    const std::string refusal = "Tarnwick: /registration-worker is internal to unattended runs; nothing was installed.\r\n";
    EXPECT_EQ(platform.standardOutput, refusal);
    EXPECT_EQ(platform.log, refusal);
    EXPECT_EQ(platform.journal, (std::vector<std::string>{"serve 1.2.3", "log worker.log"}));
    EXPECT_TRUE(platform.messages.empty());

    FakePlatform started;
    started.handshakeAccepted = true;
    EXPECT_EQ(RunOn(started, {"/registration-worker=7"}), 0);
    EXPECT_EQ(started.journal, std::vector<std::string>{"serve 7"});
}

}  // namespace
}  // namespace tarnwick
