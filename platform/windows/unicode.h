// UTF-8 inside the program, UTF-16 at the Win32 boundary.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// `path` (UTF-8, a full path) for the file functions: widened, and in the
// \\?\ form when it is longer than MAX_PATH allows (\\?\UNC\ for a network
// path), so any folder the program can be started from can be read.
std::wstring FileSystemPath(std::string_view path);

}  // namespace tarnwick::win
