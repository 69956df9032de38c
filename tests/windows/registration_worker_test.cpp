// The registration worker under Wine, for real: the built tarnwick.exe is
// started as the worker and handed components that register, fail in each
// way, crash and hang; where it looks for the DLLs they import; the switch
// given by anyone but a run; and the system's texts for error codes.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"
#include "scratch.h"

namespace tarnwick::win {
namespace {

using Kind = WorkerVerdict::Kind;
using std::chrono::milliseconds;
constexpr milliseconds kAmple(20000);

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, length);
}

// The program under test, two folders up from the test program.
std::wstring TarnwickExe() { return FullPath(scratch::ThisFolder() + L"\\..\\..\\tarnwick.exe"); }

std::string FixturePath(const wchar_t* name) { return Narrow(scratch::Fixture(name)); }

// How many registration workers are running: each is a copy of tarnwick.exe
// under a temporary file's name in the system directory.
int RunningWorkers() {
    const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (std::wstring_view(entry.szExeFile).starts_with(L"tarnwick-temporary-")) ++count;
    }
    return count;
}

class WorkerTest : public scratch::ScratchTest {
protected:
    WorkerTest() : ScratchTest(L"tarnwick-worker-") { platform_.SetWorkerProgram(TarnwickExe()); }
    bool Start() { return platform_.StartWorker(platform_.SystemDirectory()); }
    // Waits up to 10 s for every worker to end.
    static bool WorkersGone() {
        for (int i = 0; i < 200 && RunningWorkers() > 0; ++i) ::Sleep(50);
        return RunningWorkers() == 0;
    }
    WorkerVerdict Register(const std::string& path) {
        if (!platform_.SendToWorker(path)) return {Kind::kNoWorker, 0};
        return platform_.WaitForWorker(kAmple);
    }

    WindowsPlatform platform_;
};

void ExpectVerdict(const WorkerVerdict& verdict, Kind kind, std::uint32_t code, const char* what) {
    EXPECT_EQ(verdict.kind, kind) << what;
    EXPECT_EQ(verdict.code, code) << what;
    std::printf("%s: kind %d code 0x%08lx\n", what, static_cast<int>(verdict.kind),
                static_cast<unsigned long>(verdict.code));
}

TEST_F(WorkerTest, AnswersEachFileInTheOrderHanded) {
    const std::wstring notADll = root_ + L"\\NOTADLL.OCX";
    scratch::WriteFile(notADll, "not a program at all");
    ASSERT_TRUE(Start());
    // All handed over before the first answer is asked for.
    for (const std::string& path : {FixturePath(L"VERSIONED.DLL"), Narrow(notADll), FixturePath(L"NOENTRY.DLL"),
                                    FixturePath(L"FAILS.DLL"), Narrow(root_ + L"\\MISSING.OCX")}) {
        ASSERT_TRUE(platform_.SendToWorker(path)) << path;
    }
    ExpectVerdict(platform_.WaitForWorker(kAmple), Kind::kRegistered, 0, "registered");
    const WorkerVerdict garbage = platform_.WaitForWorker(kAmple);
    EXPECT_EQ(garbage.kind, Kind::kNotLoaded);
    EXPECT_NE(garbage.code, 0u);
    std::printf("not a DLL: kind %d code %lu\n", static_cast<int>(garbage.kind),
                static_cast<unsigned long>(garbage.code));
    ExpectVerdict(platform_.WaitForWorker(kAmple), Kind::kNoEntry, 0, "no entry");
    ExpectVerdict(platform_.WaitForWorker(kAmple), Kind::kFailed, 0x80040201u, "fails");  // SELFREG_E_CLASS
    ExpectVerdict(platform_.WaitForWorker(kAmple), Kind::kNotLoaded, ERROR_MOD_NOT_FOUND, "missing");
    EXPECT_EQ(platform_.WaitForWorker(kAmple).kind, Kind::kNoWorker);  // nothing more waits

    platform_.EndWorker();
    EXPECT_FALSE(platform_.SendToWorker(FixturePath(L"VERSIONED.DLL")));
    EXPECT_EQ(RunningWorkers(), 0);
}

TEST_F(WorkerTest, ACrashOrAHangEndsTheWorkerAndANewOneServesTheRest) {
    ASSERT_TRUE(Start());
    ExpectVerdict(Register(FixturePath(L"CRASHES.DLL")), Kind::kCrashed, EXCEPTION_ACCESS_VIOLATION, "crashes");
    EXPECT_FALSE(platform_.SendToWorker(FixturePath(L"VERSIONED.DLL")));  // it is gone

    ASSERT_TRUE(Start());
    ASSERT_TRUE(platform_.SendToWorker(FixturePath(L"HANGS.DLL")));
    ASSERT_TRUE(platform_.SendToWorker(FixturePath(L"VERSIONED.DLL")));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(platform_.WaitForWorker(milliseconds(1500)).kind, Kind::kTimedOut);
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_GE(waited, milliseconds(1400));
    EXPECT_LT(waited, milliseconds(8000));
    EXPECT_EQ(RunningWorkers(), 0);
    // The file handed after the hanging one is forgotten with it.
    EXPECT_EQ(platform_.WaitForWorker(kAmple).kind, Kind::kNoWorker);

    ASSERT_TRUE(Start());
    ExpectVerdict(Register(FixturePath(L"VERSIONED.DLL")), Kind::kRegistered, 0, "after a new start");
    // Leaving the platform ends it too.
}

TEST_F(WorkerTest, VerdictsGivenBeforeACrashSurviveAFileHandedAfterIt) {
    // An unattended run hands over each file as soon as it is copied, so the
    // worker may crash while files are still being handed; those it answered
    // before must still be told, and the crash must be the crashing file's.
    ASSERT_TRUE(Start());
    ASSERT_TRUE(platform_.SendToWorker(FixturePath(L"VERSIONED.DLL")));
    ASSERT_TRUE(platform_.SendToWorker(FixturePath(L"CRASHES.DLL")));
    ASSERT_TRUE(WorkersGone()) << "the worker did not crash";
    // Taken all the same, to be answered in its turn; but the crash was the
    // file's it was at, and the worker takes along what it had not started.
    EXPECT_TRUE(platform_.SendToWorker(FixturePath(L"VERSIONED.DLL")));
    ExpectVerdict(platform_.WaitForWorker(kAmple), Kind::kRegistered, 0, "answered before the crash");
    ExpectVerdict(platform_.WaitForWorker(kAmple), Kind::kCrashed, EXCEPTION_ACCESS_VIOLATION, "the crash");
    EXPECT_EQ(platform_.WaitForWorker(kAmple).kind, Kind::kNoWorker);
}

TEST_F(WorkerTest, ACrashAfterAVerdictIsNoLaterFilesFault) {
    // LEAVES.DLL registers, and a thread of its code faults half a second
    // after the file was freed, while the worker waits for the next file.
    ASSERT_TRUE(Start());
    ExpectVerdict(Register(FixturePath(L"LEAVES.DLL")), Kind::kRegistered, 0, "leaves a thread");
    ASSERT_TRUE(WorkersGone()) << "the thread left behind did not crash the worker";
    ASSERT_TRUE(platform_.SendToWorker(FixturePath(L"VERSIONED.DLL")));
    ExpectVerdict(platform_.WaitForWorker(kAmple), Kind::kLost, EXCEPTION_ACCESS_VIOLATION, "the next file");
    EXPECT_EQ(platform_.WaitForWorker(kAmple).kind, Kind::kNoWorker);
    ASSERT_TRUE(Start());
    ExpectVerdict(Register(FixturePath(L"VERSIONED.DLL")), Kind::kRegistered, 0, "handed over again");
}

TEST_F(WorkerTest, PassesNoHandleOnToWhatAComponentStarts) {
    // This test's own standard handles are real (ctest reads its output):
    // the worker gets none of them, and keeps its five to itself.
    ASSERT_TRUE(Start());
    ExpectVerdict(Register(FixturePath(L"HANDLES.DLL")), Kind::kRegistered, 0, "handles passed on");
}

TEST_F(WorkerTest, NoWorkerIsLeftWhenThePlatformGoes) {
    {
        WindowsPlatform platform;
        platform.SetWorkerProgram(TarnwickExe());
        ASSERT_TRUE(platform.StartWorker(platform.SystemDirectory()));
        ASSERT_TRUE(platform.StartWorker(platform.SystemDirectory()));  // ends the first
        EXPECT_EQ(RunningWorkers(), 1);
    }
    EXPECT_EQ(RunningWorkers(), 0);
}

TEST_F(WorkerTest, LoadsImportsFromTheSystemDirectoryNeverFromTheProgramsFolder) {
    // The worker's program in a folder of its own, with a planted helper.
    const std::wstring program = root_ + L"\\tarnwick.exe";
    ASSERT_TRUE(::CopyFileW(TarnwickExe().c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(scratch::Fixture(L"planted\\twhelper.dll").c_str(), (root_ + L"\\twhelper.dll").c_str(),
                            FALSE));
    platform_.SetWorkerProgram(program);
    const std::string importer = FixturePath(L"importer\\IMPORTER.DLL");

    ASSERT_TRUE(Start());
    ExpectVerdict(Register(importer), Kind::kNotLoaded, ERROR_MOD_NOT_FOUND, "helper only planted");

    // The component's own folder comes first.
    const std::wstring folder = root_ + L"\\component";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(Widen(importer).c_str(), (folder + L"\\IMPORTER.DLL").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(scratch::Fixture(L"genuine\\twhelper.dll").c_str(), (folder + L"\\twhelper.dll").c_str(),
                            FALSE));
    ExpectVerdict(Register(Narrow(folder + L"\\IMPORTER.DLL")), Kind::kRegistered, 0, "helper beside it");

    const std::wstring installed = Widen(platform_.SystemDirectory()) + L"\\twhelper.dll";
    ASSERT_TRUE(::CopyFileW(scratch::Fixture(L"genuine\\twhelper.dll").c_str(), installed.c_str(), FALSE));
    ExpectVerdict(Register(importer), Kind::kRegistered, 0, "helper in the system directory");
    platform_.EndWorker();
    ::DeleteFileW(installed.c_str());
}

TEST_F(WorkerTest, LooksWhereTheRegistrationToolLooksTheWindowsDirectoryAndPath) {
    const std::string importer = FixturePath(L"importer\\IMPORTER.DLL");
    wchar_t windows[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::wstring inWindows = std::wstring(windows, length) + L"\\twhelper.dll";
    ASSERT_TRUE(::CopyFileW(scratch::Fixture(L"genuine\\twhelper.dll").c_str(), inWindows.c_str(), FALSE));
    ASSERT_TRUE(Start());
    ExpectVerdict(Register(importer), Kind::kRegistered, 0, "helper in the Windows directory");
    platform_.EndWorker();
    ::DeleteFileW(inWindows.c_str());

    // A folder of PATH, as the run that starts the worker has it.
    const std::wstring onPath = root_ + L"\\on path";
    ASSERT_TRUE(::CreateDirectoryW(onPath.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(scratch::Fixture(L"genuine\\twhelper.dll").c_str(), (onPath + L"\\twhelper.dll").c_str(),
                            FALSE));
    wchar_t path[32767];
    const DWORD pathLength = ::GetEnvironmentVariableW(L"PATH", path, 32767);
    const std::wstring before(path, pathLength);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"PATH", (before + L";" + onPath).c_str()));
    ASSERT_TRUE(Start());
    ExpectVerdict(Register(importer), Kind::kRegistered, 0, "helper in a folder of PATH");
    platform_.EndWorker();
    ::SetEnvironmentVariableW(L"PATH", before.c_str());
}

TEST_F(WorkerTest, RefusesAHandshakeNoRunGaveIt) {
    const auto before = std::chrono::steady_clock::now();
    for (const char* value : {"", "1.2.3.4.5", "zz", "1.2.3.4", "1.2.3.4.5.6", "0.4.8.c.10", "123456789.4.8.c.10"}) {
        EXPECT_FALSE(platform_.ServeAsWorker(value)) << value;
    }
    // Real handles of the right kinds, but a handshake for another process.
    SECURITY_ATTRIBUTES plain{sizeof plain, nullptr, FALSE};
    HANDLE read = nullptr, write = nullptr, verdictRead = nullptr, verdictWrite = nullptr;
    ASSERT_TRUE(::CreatePipe(&read, &write, &plain, 0));
    ASSERT_TRUE(::CreatePipe(&verdictRead, &verdictWrite, &plain, 0));
    const UniqueHandle owned[] = {UniqueHandle(read), UniqueHandle(write), UniqueHandle(verdictRead),
                                  UniqueHandle(verdictWrite)};
    const UniqueHandle requestReady(::CreateSemaphoreW(nullptr, 0, 100, nullptr));
    const UniqueHandle verdictReady(::CreateSemaphoreW(nullptr, 0, 100, nullptr));
    HANDLE self = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &self,
                                  SYNCHRONIZE, FALSE, 0));
    const UniqueHandle parent(self);
    const std::uint32_t wrong[] = {0x4B575254, ::GetCurrentProcessId() + 4};
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(write, wrong, sizeof wrong, &written, nullptr));
    ASSERT_TRUE(::ReleaseSemaphore(requestReady.get(), 1, nullptr));
    // Should it be taken anyway, "nothing more" ends the service at once.
    const std::uint32_t nothingMore = 0;
    ASSERT_TRUE(::WriteFile(write, &nothingMore, sizeof nothingMore, &written, nullptr));
    ASSERT_TRUE(::ReleaseSemaphore(requestReady.get(), 1, nullptr));
    char value[80];
    std::snprintf(value, sizeof value, "%lx.%lx.%lx.%lx.%lx", reinterpret_cast<unsigned long>(read),
                  reinterpret_cast<unsigned long>(verdictWrite), reinterpret_cast<unsigned long>(requestReady.get()),
                  reinterpret_cast<unsigned long>(verdictReady.get()), reinterpret_cast<unsigned long>(self));
    EXPECT_FALSE(platform_.ServeAsWorker(value)) << value;
    EXPECT_LT(std::chrono::steady_clock::now() - before, milliseconds(1000));
}

TEST(ErrorTextTest, TheSystemsTextOnOneLine) {
    WindowsPlatform platform;
    for (const std::uint32_t code : {5u, 126u, 193u, 0x80070005u, 0x80004005u, 0x80040201u, 0xC0000005u}) {
        const std::string text = platform.ErrorText(code);
        std::printf("0x%08lx: \"%s\"\n", static_cast<unsigned long>(code), text.c_str());
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
        if (!text.empty()) {
            EXPECT_NE(text.back(), ' ') << code;
        }
    }
    EXPECT_FALSE(platform.ErrorText(0x80070005u).empty());
    // A Win32 error as an HRESULT: the error's own text where the table lacks the HRESULT.
    for (const std::uint32_t error : {5u, 2u, 126u, 193u, 1722u}) {
        EXPECT_EQ(platform.ErrorText(0x80070000u | error), platform.ErrorText(error)) << error;
    }
    EXPECT_EQ(platform.ErrorText(0x2FFFFFFFu), "");
}

}  // namespace
}  // namespace tarnwick::win
