// The message loop and the event pump.
#include "platform/windows/message_loop.h"

namespace tarnwick::win {
namespace {

void Dispatch(HWND dialog, MSG& message) {
    if (!dialog || !::IsWindow(dialog) || !::IsDialogMessageW(dialog, &message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

// Handles the waiting messages; false once WM_QUIT has been taken.
bool HandleWaitingMessages(HWND dialog) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        Dispatch(dialog, message);
    }
    return true;
}

}  // namespace

void PumpWaitingMessages(HWND dialog, RunningPrograms& programs) {
    programs.DeliverEnded();
    HandleWaitingMessages(dialog);
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
        if (!HandleWaitingMessages(dialog)) return;
    }
}

}  // namespace tarnwick::win
