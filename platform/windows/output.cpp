// The unattended run's reports: the log file and standard output, both UTF-8.
#include <string>

#include "platform/windows/unicode.h"
#include "platform/windows/windows_platform.h"

namespace tarnwick::win {
namespace {

// Writes all of `text`; a short write or a closed reader ends it quietly,
// since a report that cannot be written must not stop the install.
void WriteAll(HANDLE file, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(left > 65536 ? 65536 : left);
        if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return;
        data += written;
        left -= written;
    }
}

}  // namespace

bool WindowsPlatform::CreateLog(const std::string& path) {
    log_ = FileHandle(::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return log_ != nullptr;
}

void WindowsPlatform::WriteLog(const std::string& text) {
    if (!log_) return;
    WriteAll(log_.get(), text);
    // Each line is on disk before the next step: a run that is killed still
    // leaves what it did.
    ::FlushFileBuffers(log_.get());
}

void WindowsPlatform::WriteStandardOutput(const std::string& text) {
    // Not owned. A console or nothing at all is not written to: a program
    // started from Explorer has no output anybody reads.
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    const DWORD type = ::GetFileType(output);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) return;
    WriteAll(output, text);
}

}  // namespace tarnwick::win
