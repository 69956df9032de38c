// Holds a file open without sharing, as a program that has it in use does,
// until told to let go: hold-file FILE HELD-MARKER RELEASE-MARKER.
// Creates HELD-MARKER once the file is held; lets go when RELEASE-MARKER
// appears, or after two minutes at the most.
#include <windows.h>

#include "platform/windows/handles.h"

using tarnwick::win::FileHandle;

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    const auto held = FileHandle(::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!held) return 1;
    FileHandle(::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (int i = 0; i < 1200 && ::GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) {
        ::Sleep(100);
    }
    return 0;
}
