# Cross-compiles for 32-bit Windows with MinGW-w64. 32-bit on purpose: on 64-bit
# Windows a 32-bit program's system directory is the 32-bit one, where the
# components it installs belong.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

# The win32 thread model: the posix one links winpthread, which calls
# GetTickCount64 and so keeps the program from starting on Windows XP.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Unused code and symbols are dropped: the program is handed around as one file.
# Reproducible: anyone who builds the same source gets the same bytes, so a
# download can be checked against a build of one's own. No folder names (the
# source and build folders are recorded as "." and "build" wherever a path
# would be, __FILE__ included) and no link time in the PE header.
# Quoted for the shell, as the folders may have spaces in their names.
set(reproducible "'-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.' '-ffile-prefix-map=${CMAKE_BINARY_DIR}=build'")
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections ${reproducible}")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections ${reproducible}")
# Static: no libgcc or libstdc++ DLL to ship or to be planted.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -s -Wl,--gc-sections -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -s -Wl,--gc-sections -Wl,--no-insert-timestamp")
