// A program that imports two kernel32 functions Windows XP lacks, and on
// first use (delay-loaded) one of user32, for the test that the exe audit
// rejects such imports. It is never run.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CRITICAL_SECTION section;
  InitializeCriticalSectionEx(&section, 0, 0);
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  DeleteCriticalSection(&section);
  return static_cast<int>((now.dwLowDateTime + GetDpiForWindow(nullptr)) & 1);
}
