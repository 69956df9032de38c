// The one interface through which the installer and the main window reach the
// operating system and the window toolkit. The portable code is written against
// this alone: the Windows binding lives in platform/windows/, and the tests use
// a fake that records every call.
//
// Strings are UTF-8 throughout; an implementation converts at its own boundary.
// Member names steer clear of <windows.h>'s A/W macros (CopyFile, MessageBox).
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

namespace tarnwick {

// What became of a file operation, in the terms the user is told about.
enum class FileResult {
    kOk,
    kFileNotFound,      // the file itself is missing
    kPathNotFound,      // a folder on the way is missing
    kPermissionDenied,  // access denied, sharing or lock violation, file in use
    kAccessError,       // any other failure
};

// The four numbers of a version resource's fixed file version, most
// significant first, so that the default ordering is the version ordering.
struct FileVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;

    friend auto operator<=>(const FileVersion&, const FileVersion&) = default;
};

struct FileVersionQuery {
    // kOk when the file exists; otherwise why it cannot be found.
    FileResult result = FileResult::kOk;
    // None when the file is missing, unreadable or has no version resource.
    std::optional<FileVersion> version;
};

struct AppVersion {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// Message box icons; the values are the toolkit's style numbers.
enum class MessageBoxStyle { kCritical = 16, kInformation = 64 };

class PlatformServices {
public:
    virtual ~PlatformServices() = default;

    // --- System -------------------------------------------------------------

    // The system directory, as the operating system reports it (for a 32-bit
    // program on 64-bit Windows, the 32-bit one). Empty when the query fails.
    virtual std::string SystemDirectory() = 0;

    // Starts `program` (a full path) with `parameters` in `workingDirectory`,
    // in a normal window, and returns at once without waiting for it to end.
    // True when the program was started.
    virtual bool StartProgram(const std::string& program, const std::string& parameters,
                              const std::string& workingDirectory) = 0;

    // Copies the whole of `source` to `destination`, replacing an existing
    // file. Never leaves a partial destination: on failure the destination is
    // as it was, and nothing else is left behind.
    virtual FileResult CopyFileTo(const std::string& source, const std::string& destination) = 0;

    // Whether `path` exists, and its file version if it has a version resource.
    virtual FileVersionQuery GetFileVersion(const std::string& path) = 0;

    // The folder that holds the running program, with no trailing backslash
    // except at a drive root (C:\).
    virtual std::string AppFolder() = 0;

    // The program's own version.
    virtual AppVersion AppVersionNumbers() = 0;

    // Handles every window event that is waiting (repaints, clicks) and returns.
    // Window event handlers may run inside this call.
    virtual void DoEvents() = 0;

    // Shows `text` under `title` with an OK button and returns when dismissed.
    virtual void ShowMessage(const std::string& text, MessageBoxStyle style,
                             const std::string& title) = 0;

    // --- The main window ----------------------------------------------------
    // Each does nothing once the window is gone.

    // Appends an item at the end of the result list `lstProgress`.
    virtual void AddProgressItem(const std::string& item) = 0;
    // Sets the text of the progress bar `txtProgress`.
    virtual void SetProgressText(const std::string& text) = 0;
    // Sets the text of the note `Label1`.
    virtual void SetNoteText(const std::string& text) = 0;
    // Sets the window's caption.
    virtual void SetCaption(const std::string& text) = 0;
    // Shows the window, not modally; returns at once.
    virtual void ShowForm() = 0;
    virtual void HideForm() = 0;
};

}  // namespace tarnwick
