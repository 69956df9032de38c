// The message loop and the event pump.
#include "platform/windows/message_loop.h"

#include <optional>

namespace tarnwick::win {
namespace {

void Dispatch(HWND dialog, MSG& message) {
    if (!dialog || !::IsWindow(dialog) || !::IsDialogMessageW(dialog, &message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

// Handles every waiting message. A WM_QUIT taken from the queue is not
// posted again here: its exit code is returned, for the caller to post when
// it is done waiting.
std::optional<int> HandleWaitingMessages(HWND dialog) {
    std::optional<int> quit;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = static_cast<int>(message.wParam);
            continue;
        }
        Dispatch(dialog, message);
    }
    return quit;
}

// A thread's message queue lives in user32, which this program imports on
// first use: while it is not loaded, no message can have come, and neither a
// look at the queue nor a wait needs it.
bool MessagesPossible() { return ::GetModuleHandleW(L"user32.dll") != nullptr; }

}  // namespace

void PumpWaitingMessages(HWND dialog, RunningPrograms& programs) {
    programs.DeliverEnded();
    if (!MessagesPossible()) return;
    if (const std::optional<int> quit = HandleWaitingMessages(dialog)) ::PostQuitMessage(*quit);
}

int WaitPumpingMessages(std::span<const HANDLE> handles, DWORD startTick, DWORD limitMs) {
    const DWORD count = static_cast<DWORD>(handles.size());
    const auto timeLeft = [startTick, limitMs] {
        const DWORD elapsed = ::GetTickCount() - startTick;  // wraps safely
        return limitMs == INFINITE ? INFINITE : elapsed >= limitMs ? 0 : limitMs - elapsed;
    };
    if (!MessagesPossible()) {
        const DWORD woken = ::WaitForMultipleObjects(count, handles.data(), FALSE, timeLeft());
        return woken < WAIT_OBJECT_0 + count ? static_cast<int>(woken - WAIT_OBJECT_0) : -1;
    }
    std::optional<int> quit;
    int signalled = -1;
    for (;;) {
        const DWORD left = timeLeft();
        // Without MWMO_INPUTAVAILABLE: a WM_QUIT kept back must not wake it again.
        const DWORD woken = ::MsgWaitForMultipleObjects(count, handles.data(), FALSE, left, QS_ALLINPUT);
        if (woken < WAIT_OBJECT_0 + count) {
            signalled = static_cast<int>(woken - WAIT_OBJECT_0);
            break;
        }
        if (woken != WAIT_OBJECT_0 + count) break;  // the limit, or a wait that cannot be made
        if (const std::optional<int> taken = HandleWaitingMessages(nullptr)) quit = taken;
    }
    if (quit) ::PostQuitMessage(*quit);
    return signalled;
}

void RunMessageLoop(HWND dialog, RunningPrograms& programs) {
    for (;;) {
        const std::vector<HANDLE> handles = programs.WaitHandles();
        const DWORD count = static_cast<DWORD>(handles.size());
        // MWMO_INPUTAVAILABLE: messages already seen by an earlier peek still
        // wake the wait.
        const DWORD woken = ::MsgWaitForMultipleObjectsEx(count, handles.data(), INFINITE,
                                                          QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_FAILED) return;  // cannot wait: nothing could ever end the loop
        if (woken < WAIT_OBJECT_0 + count) {
            programs.DeliverEnded();
            continue;
        }
        if (const std::optional<int> quit = HandleWaitingMessages(dialog)) {
            ::PostQuitMessage(*quit);  // for whoever pumps next
            return;
        }
    }
}

}  // namespace tarnwick::win
