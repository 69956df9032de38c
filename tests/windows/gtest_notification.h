// Lets GoogleTest build with MinGW's win32 thread model, which has no
// std::mutex. The program is built with that model so that it needs no
// winpthread code (and so no Vista-only kernel32 function) and starts on
// Windows XP; GoogleTest's only use of std::mutex is this internal class,
// given here on a Win32 event instead. Force-included into the GoogleTest
// build and its users.
#pragma once

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
public:
    Notification() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { ::CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { ::SetEvent(event_); }
    void WaitForNotification() { ::WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;  // owned
};

}  // namespace testing::internal
