// Started programs under Wine, for real: their exit codes reach the sink from
// the message loop and the event pump, FinishProgram waits with a limit, and
// the reports go to the log file.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <optional>
#include <sstream>

#include "platform/windows/message_loop.h"
#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"
#include "scratch.h"

namespace tarnwick::win {
namespace {

struct Ended {
    ProgramId program;
    DWORD code;
};

class ProgramsTest : public ::testing::Test {
protected:
    std::string Cmd() { return platform_.SystemDirectory() + "\\cmd.exe"; }
    ProgramId Start(const std::string& parameters) {
        return platform_.StartProgram({Cmd(), parameters, platform_.SystemDirectory()});
    }

    WindowsPlatform platform_;
};

// Ends the message loop after 20 s, should the end never be heard.
void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) { ::PostQuitMessage(1); }

TEST_F(ProgramsTest, TheMessageLoopHearsEachEndWithItsExitCode) {
    std::vector<Ended> ended;
    platform_.programs().SetSink([&](ProgramId program, DWORD code) {
        ended.push_back({program, code});
        if (ended.size() == 2) ::PostQuitMessage(0);
    });
    const ProgramId three = Start("/c exit 3");
    const ProgramId zero = Start("/c exit 0");
    ASSERT_NE(three, kNoProgram);
    ASSERT_NE(zero, kNoProgram);
    EXPECT_NE(three, zero);

    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20000, GiveUp);
    RunMessageLoop(nullptr, platform_.programs());
    ::KillTimer(nullptr, timer);

    ASSERT_EQ(ended.size(), 2u);
    for (const Ended& end : ended) EXPECT_EQ(end.code, end.program == three ? 3u : 0u);
    // Each end is told once: the programs are forgotten.
    EXPECT_TRUE(platform_.programs().WaitHandles().empty());
    EXPECT_FALSE(platform_.FinishProgram(three, std::chrono::milliseconds(0)).finished);
}

TEST_F(ProgramsTest, TheEventPumpDeliversEndsThatHaveArrived) {
    std::optional<Ended> ended;
    platform_.programs().SetSink([&](ProgramId program, DWORD code) { ended = Ended{program, code}; });
    const ProgramId program = Start("/c exit 5");
    ASSERT_NE(program, kNoProgram);
    for (int i = 0; i < 400 && !ended; ++i) {
        ::Sleep(50);
        platform_.DoEvents();
    }
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->program, program);
    EXPECT_EQ(ended->code, 5u);
}

TEST_F(ProgramsTest, FinishWaitsForTheExitCodeOrEndsTheProgramAtTheLimit) {
    // Without a sink nothing is delivered behind FinishProgram's back.
    const ProgramId quick = Start("/c exit 4");
    platform_.DoEvents();
    const ProgramEnd end = platform_.FinishProgram(quick, std::chrono::seconds(20));
    EXPECT_TRUE(end.finished);
    EXPECT_EQ(end.exitCode, 4u);

    const ProgramId endless = Start("/c for /l %i in (1,0,2) do rem");
    const DWORD before = ::GetTickCount();
    EXPECT_FALSE(platform_.FinishProgram(endless, std::chrono::milliseconds(500)).finished);
    EXPECT_LT(::GetTickCount() - before, 10000u);
    EXPECT_TRUE(platform_.programs().WaitHandles().empty());
}

// A top-level window of the waiting thread that counts one message.
struct BroadcastWindow {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == ::RegisterWindowMessageW(L"tarnwick-test-broadcast")) ++heard;
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    BroadcastWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"tarnwick-test-broadcast";
        ::RegisterClassW(&windowClass);
        handle = ::CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10,
                                   nullptr, nullptr, windowClass.hInstance, nullptr);
    }
    ~BroadcastWindow() { ::DestroyWindow(handle); }
    HWND handle;
    static inline int heard = 0;
};

TEST_F(ProgramsTest, FinishHandlesTheMessagesAProgramSendsToThisThreadsWindows) {
    // A registration that broadcasts waits for every top-level window's thread,
    // this one's too: a wait that did not handle messages would hold both
    // until the limit and call a good registration failed.
    BroadcastWindow window;
    ASSERT_NE(window.handle, nullptr);
    const ProgramId sender = platform_.StartProgram(
        {Narrow(scratch::Fixture(L"broadcaster.exe")), "", platform_.SystemDirectory()});
    ASSERT_NE(sender, kNoProgram);
    const DWORD before = ::GetTickCount();
    const ProgramEnd end = platform_.FinishProgram(sender, std::chrono::seconds(30));
    EXPECT_TRUE(end.finished);
    EXPECT_EQ(end.exitCode, 0u);
    EXPECT_LT(::GetTickCount() - before, 20000u);
    EXPECT_EQ(BroadcastWindow::heard, 1);

    // A WM_QUIT that the wait takes from the queue is kept for the message loop.
    const ProgramId endless = Start("/c for /l %i in (1,0,2) do rem");
    ::PostQuitMessage(7);
    ::PostThreadMessageW(::GetCurrentThreadId(), WM_NULL, 0, 0);  // wakes the wait
    EXPECT_FALSE(platform_.FinishProgram(endless, std::chrono::milliseconds(1000)).finished);
    MSG message;
    ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
}

TEST_F(ProgramsTest, AProgramThatCannotBeStartedHasNoId) {
    EXPECT_EQ(platform_.StartProgram({platform_.SystemDirectory() + "\\missing-tool.exe", "", ""}),
              kNoProgram);
}

TEST(LogTest, CreatesOrReplacesTheLogAndRefusesAFolderThatIsNotThere) {
    wchar_t folder[MAX_PATH];
    ASSERT_NE(::GetTempPathW(MAX_PATH, folder), 0u);
    // Any character a file name may have.
    const std::string path = Narrow(folder) + "tarnwick log \xc3\xa9\xe2\x82\xac.txt";
    {
        WindowsPlatform platform;
        ASSERT_TRUE(platform.CreateLog(path));
        platform.WriteLog("old\r\n");
    }
    {
        WindowsPlatform platform;
        ASSERT_TRUE(platform.CreateLog(path));
        platform.WriteLog("first\r\n");
        platform.WriteLog("second\r\n");
    }
    std::ifstream in(Widen(path).c_str(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "first\r\nsecond\r\n");
    in.close();
    ::DeleteFileW(Widen(path).c_str());

    WindowsPlatform platform;
    EXPECT_FALSE(platform.CreateLog(Narrow(folder) + "no such folder\\tarnwick.log"));
}

}  // namespace
}  // namespace tarnwick::win
