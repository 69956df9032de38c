// The message loop and the event pump. Both wait on the started programs'
// process handles together with the messages, so a program's end is heard at
// once, without a thread, a sleep or polling.
#pragma once

#include <windows.h>

#include <span>

#include "platform/windows/programs.h"

namespace tarnwick::win {

// Delivers every program that has ended, then handles every message that is
// waiting, with the dialog keys (Tab, Alt+X, Enter and Space on the button) for
// `dialog`, and returns. A WM_QUIT taken from the queue is posted again for the
// message loop.
void PumpWaitingMessages(HWND dialog, RunningPrograms& programs);

// Waits until one of `handles` is signalled, but no longer than until
// `limitMs` (INFINITE: no limit) after `startTick` (GetTickCount's time),
// handling this thread's messages meanwhile, as the message loop does. A
// registration that sends a message to every top-level window (a settings
// change, told with SendMessage(HWND_BROADCAST, ...)) waits for each window's
// thread, this one's COM window among them: a bare wait would hold it until
// the limit. A WM_QUIT taken here is posted again once the wait is over. The
// index of the first signalled handle, or -1 at the limit or when the wait
// cannot be made.
int WaitPumpingMessages(std::span<const HANDLE> handles, DWORD startTick, DWORD limitMs);

// Runs the message loop until WM_QUIT, delivering programs' ends as they come.
void RunMessageLoop(HWND dialog, RunningPrograms& programs);

}  // namespace tarnwick::win
