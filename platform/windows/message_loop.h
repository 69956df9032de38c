// The message loop and the event pump. Both wait on the started programs'
// process handles together with the messages, so a program's end is heard at
// once, without a thread, a sleep or polling.
#pragma once

#include <windows.h>

#include "platform/windows/programs.h"

namespace tarnwick::win {

// Delivers every program that has ended, then handles every message that is
// waiting, with the dialog keys (Tab, Alt+X, Enter and Space on the button) for
// `dialog`, and returns. A WM_QUIT taken from the queue is posted again for the
// message loop.
void PumpWaitingMessages(HWND dialog, RunningPrograms& programs);

// Runs the message loop until WM_QUIT, delivering programs' ends as they come.
void RunMessageLoop(HWND dialog, RunningPrograms& programs);

}  // namespace tarnwick::win
