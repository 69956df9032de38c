// Keeps a DLL loaded, as a running program that uses a component does, until
// told to let go: load-file FILE LOADED-MARKER RELEASE-MARKER. Creates
// LOADED-MARKER once the file is loaded; lets go when RELEASE-MARKER appears,
// or after two minutes at the most.
#include <windows.h>

#include "platform/windows/handles.h"

using tarnwick::win::FileHandle;
using tarnwick::win::UniqueModule;

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    const UniqueModule loaded(::LoadLibraryW(argv[1]));
    if (!loaded) return 1;
    FileHandle(::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (int i = 0; i < 1200 && ::GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) {
        ::Sleep(100);
    }
    return 0;
}
