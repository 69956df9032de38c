// A regsvr32.exe planted in the program's folder: if it ever runs, it says so.
#include "marker.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LeaveMarker(nullptr, L"planted-regsvr32-ran.txt");
    return 0;
}
