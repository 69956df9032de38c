// Sends a message to every top-level window and exits with 0 once each has
// handled it, as a component's registration does that tells the system of a
// settings change.
#include <windows.h>

int main() {
    const UINT message = ::RegisterWindowMessageW(L"tarnwick-test-broadcast");
    ::SendMessageW(HWND_BROADCAST, message, 0, 0);
    return 0;
}
