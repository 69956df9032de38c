// The one interface through which the installer and the main window reach the
// operating system and the window toolkit. The portable code is written against
// this alone: the Windows binding lives in platform/windows/, and the tests use
// a fake that records every call.
//
// Strings are UTF-8 throughout; an implementation converts at its own boundary.
// Member names steer clear of <windows.h>'s A/W macros (CopyFile, MessageBox).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pe/pe_imports.h"
#include "pe/pe_version.h"

namespace tarnwick {

// What became of a file operation, in the terms the user is told about.
enum class FileResult {
    kOk,
    kFileNotFound,      // the file itself is missing
    kPathNotFound,      // a folder on the way is missing
    kPermissionDenied,  // access denied, sharing or lock violation, file in use
    kAccessError,       // any other failure
};

struct FileVersionQuery {
    // kOk when the file exists and was read to the end of the question;
    // otherwise why it cannot be found or read (kPermissionDenied for a
    // sharing violation). A file that cannot be read never answers kOk.
    FileResult result = FileResult::kOk;
    // With kOk: the version, or none when the file has no version resource.
    std::optional<FileVersion> version;
};

// A file the platform made or moved: whether it worked, and where it is now.
struct FileMove {
    FileResult result = FileResult::kOk;
    std::string path;  // with kOk: the file's new path
};

// A file operation recorded for Windows to carry out at its next start (a
// pending rename), as recorded: full paths.
struct PendingRename {
    std::string from;
    std::string to;  // empty: `from` is deleted then
};

// A file that an earlier run of this program left in a folder and that no run
// still going is using: a temporary copy, or an installed file it set aside.
struct Leftover {
    std::string path;
    std::string setAside;  // for a file set aside, the name it had; empty for a temporary copy
};

// A program started by StartProgram; kNoProgram for none.
using ProgramId = std::uint32_t;
inline constexpr ProgramId kNoProgram = 0;

struct ProgramLaunch {
    std::string program;  // full path
    std::string parameters;
    std::string workingDirectory;
};

// How a program waited for with FinishProgram ended.
struct ProgramEnd {
    bool finished = false;       // false: still running at the limit, so it was ended
    std::uint32_t exitCode = 0;  // with finished
};

struct AppVersion {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// What the registration worker told of one component handed to it, or why
// it told nothing.
struct WorkerVerdict {
    enum class Kind {
        kRegistered,  // DllRegisterServer returned a success code
        kNotLoaded,   // the file could not be loaded; `code` is the system's error code
        kNoEntry,     // the file has no DllRegisterServer
        kFailed,      // DllRegisterServer returned the failure HRESULT `code`
        kCrashed,     // the worker ended while at it; `code` is its exit code (an exception's code)
        kTimedOut,    // no verdict within the limit, so the worker was ended
        // The worker ended (`code`: its exit code) after its verdicts on the
        // files before, but before it started on this one: not this file's
        // fault, but that of something an earlier file left running.
        kLost,
        kNoWorker,    // no worker had taken the file: none was running, or the file was never handed over
    };
    Kind kind = Kind::kNoWorker;
    std::uint32_t code = 0;
};

// What a path names, and which file: two paths name the same file exactly
// when both are kFile with the same volume and index, whatever their
// spelling (short names, case, environment variables, redirected folders).
struct FileIdentity {
    enum class Kind {
        kFile,
        kFolder,
        kMissing,     // nothing there, or a folder on the way is missing
        kUnreadable,  // there, but it could not be opened to ask
    };
    Kind kind = Kind::kMissing;
    std::uint32_t volume = 0;  // with kFile: the volume's serial number
    std::uint64_t index = 0;   // with kFile: the file's number on that volume
};

// Which part of the registry's classes a read looks in.
enum class ClassesHive {
    kClassesRoot,  // HKEY_CLASSES_ROOT as this 32-bit program sees it: what COM uses
    kUserClasses,  // HKEY_CURRENT_USER\Software\Classes alone, as this program sees it
};

// A registry key's default value, read as a string.
struct RegistryString {
    enum class Kind {
        kMissing,    // no such key, or it has no default value
        kString,     // REG_SZ, or REG_EXPAND_SZ with its variables expanded
        kNotString,  // a value of another type
    };
    Kind kind = Kind::kMissing;
    std::string text;  // with kString; may be empty
};

// A coclass a type library describes.
struct TypeLibraryClass {
    std::string clsid;  // braced and upper-case, as the registry spells it
    bool creatable = false;  // TYPEFLAG_FCANCREATE: its server registers it
};

// What a type library, loaded as data (nothing of its file runs), says of itself.
struct TypeLibraryQuery {
    bool loaded = false;
    std::uint32_t error = 0;  // without loaded: the HRESULT it failed with
    std::string libid;        // braced and upper-case
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint32_t lcid = 0;
    std::vector<TypeLibraryClass> classes;
};

// A program file's imports, read from its bytes (nothing of it runs).
struct ImportQuery : ImportTables {
    // kOk when the file was found and read; otherwise why it was not. A file
    // that was found but whose tables are damaged is kOk with `readable` false.
    FileResult result = FileResult::kOk;
};

// Message box icons; the values are the toolkit's style numbers.
enum class MessageBoxStyle { kCritical = 16, kWarning = 48, kInformation = 64 };

class PlatformServices {
public:
    virtual ~PlatformServices() = default;

    // --- System -------------------------------------------------------------

    // The system directory, as the operating system reports it (for a 32-bit
    // program on 64-bit Windows, the 32-bit one). Empty when the query fails.
    virtual std::string SystemDirectory() = 0;

    // Starts the program in a normal window and returns at once without
    // waiting for it. Its id, different from every other program's, or
    // kNoProgram when it could not be started. The implementation keeps the
    // program: its end is delivered either as an event (frmMain::ProgramEnded,
    // from the message loop or DoEvents) or to FinishProgram, whichever comes
    // first, and only once.
    virtual ProgramId StartProgram(const ProgramLaunch& launch) = 0;

    // Waits until the program `id` has ended, but no longer than until
    // `limit` has passed since it was started; a program still running then
    // is ended. For a program that is not (or no longer) kept: not finished.
    virtual ProgramEnd FinishProgram(ProgramId id, std::chrono::milliseconds limit) = 0;

    // Copies the whole of `source` into a new temporary file of this run in
    // `folder`, on the disk, writable and without the download mark, ready to
    // be renamed into place. On failure nothing is left behind.
    virtual FileMove CopyToTemporary(const std::string& source, const std::string& folder) = 0;
    // Renames `from` to `to`, replacing a file there (a read-only one too).
    // On failure both are as they were; kPermissionDenied where the file at
    // `to` is in use (or may not be written).
    virtual FileResult ReplaceFile(const std::string& from, const std::string& to) = 0;
    // Renames the installed file `path` to a new name of this run in its
    // folder, a name that says it is a file set aside. Windows lets a DLL a
    // program has loaded be renamed, though not replaced.
    virtual FileMove SetAside(const std::string& path) = 0;
    // Renames `from` to `to`, where no file is.
    virtual FileResult RenameFile(const std::string& from, const std::string& to) = 0;
    // Removes the file at `path`, read-only or not. False when it is still
    // there.
    virtual bool RemoveFile(const std::string& path) = 0;
    // Waits for `time`: a file a virus scanner has open is let go soon.
    virtual void Pause(std::chrono::milliseconds time) = 0;

    // Whether `path` exists and could be read, and its file version if it has
    // a version resource.
    virtual FileVersionQuery GetFileVersion(const std::string& path) = 0;

    // Whether the system protects the file at `path` so that only the system
    // itself may replace it (Windows Resource Protection). False where that
    // cannot be asked.
    virtual bool IsProtectedFile(const std::string& path) = 0;

    // What runs of this program that have ended left in `folder` (killed, or
    // waiting for the restart): nothing of another program's, nothing a run
    // still going is using, in any session.
    virtual std::vector<Leftover> LeftoverFiles(const std::string& folder) = 0;

    // The folder that holds the running program, with no trailing backslash
    // except at a drive root (C:\).
    virtual std::string AppFolder() = 0;

    // The program's own version.
    virtual AppVersion AppVersionNumbers() = 0;

    // Handles every window event that is waiting (repaints, clicks) and
    // delivers the end of every started program that has ended, then returns.
    // Window event handlers and frmMain::ProgramEnded may run inside this call.
    virtual void DoEvents() = 0;

    // Shows `text` under `title` with an OK button, in front of every other
    // window, and returns when dismissed.
    virtual void ShowMessage(const std::string& text, MessageBoxStyle style,
                             const std::string& title) = 0;

    // --- What waits for the restart of Windows (unattended runs) -------------
    // Windows carries out what waits for its restart from a 64-bit process
    // on 64-bit Windows, which is not redirected to the 32-bit system files:
    // each path recorded names their real folder.

    // The real folder of the 32-bit system files: on 64-bit Windows the one
    // the system directory is redirected to (SysWOW64), elsewhere the system
    // directory itself. Empty when unknown.
    virtual std::string RealSystemDirectory() = 0;
    // Records that `from` is renamed to `to`, replacing a file there, when
    // Windows next starts; with `to` empty, that `from` is deleted then.
    // False when it cannot be recorded (the rights to it are missing).
    virtual bool ScheduleRename(const std::string& from, const std::string& to) = 0;
    // Every file operation recorded for the next start of Windows.
    virtual std::vector<PendingRename> PendingRenames() = 0;
    // Records the command line `command` under `name` for Windows to run once
    // at the next logon (RunOnce); false when it cannot. RemoveRunOnce takes
    // it back.
    virtual bool SetRunOnce(const std::string& name, const std::string& command) = 0;
    virtual void RemoveRunOnce(const std::string& name) = 0;

    // --- The registration worker (unattended runs) --------------------------
    // A second process of this program that registers the files it is handed,
    // one at a time in the order handed, each as the registration tool would:
    // OLE initialised on one single-threaded apartment, the system directory
    // the current one, the file loaded by its full path with the loader's
    // ordinary search starting in the file's own folder, DllRegisterServer
    // called, the file freed. It runs from a copy of this program in a folder
    // only administrators can write, so that its own folder, which the loader
    // searches first for what a component loads by name, is never the one the
    // program was started from. It says when it starts on each file, so that
    // a crash is blamed on the file it was at; it ends when the run that
    // started it ends. It never shows a window or a box. Only one runs at a
    // time.

    // Starts a worker from a copy of this program in `folder` (the system
    // directory), ending one that is running (its files not yet answered are
    // forgotten). False when none could be started, or no copy made there.
    virtual bool StartWorker(const std::string& folder) = 0;
    // Hands the running worker the installed file `path`. False without a
    // worker. A worker that has ended meanwhile takes it all the same: the
    // verdicts it gave before are still to be read, and then this file's is
    // kLost.
    virtual bool SendToWorker(const std::string& path) = 0;
    // The verdict on the oldest file handed to the worker and not yet
    // answered, waiting for it no longer than `limit` from now, with this
    // thread's messages handled meanwhile. At the limit the worker is ended
    // (kTimedOut); a worker that ends while at the file gives kCrashed with
    // its exit code, one that ends before it started on the file kLost.
    // kNoWorker when no file is waiting for an answer, or when the worker
    // was ended here because it could not be handed a file.
    virtual WorkerVerdict WaitForWorker(std::chrono::milliseconds limit) = 0;
    // Tells the worker there is nothing more and lets it go; ends it if it
    // does not go at once. Nothing without a worker.
    virtual void EndWorker() = 0;
    // In the worker's own process: serves the run that started it, given the
    // internal switch's value `handshake`, until that run has nothing more or
    // is gone, and returns true. False at once, having loaded nothing, when
    // the handshake fails: this process was not started by a Tarnwick run.
    virtual bool ServeAsWorker(const std::string& handshake) = 0;

    // The system's text for an error code or an HRESULT, on one line ("Access
    // is denied."); empty when the system has none.
    virtual std::string ErrorText(std::uint32_t code) = 0;

    // --- Reading what is installed (the check; nothing is changed) ----------

    // The Windows directory, as the operating system reports it; empty when
    // the query fails.
    virtual std::string WindowsDirectory() = 0;
    // The environment variable `name` of this process; empty when it is not set.
    virtual std::string EnvironmentVariable(const std::string& name) = 0;
    // What `path` names.
    virtual FileIdentity IdentifyFile(const std::string& path) = 0;
    // The DLLs the file at `path` imports.
    virtual ImportQuery GetImports(const std::string& path) = 0;
    // The default value of `key` (such as "CLSID\{...}\InprocServer32"),
    // under `hive`.
    virtual RegistryString ReadClassesValue(ClassesHive hive, const std::string& key) = 0;
    // The names of the subkeys of `key` under `hive`; none when it is missing.
    virtual std::vector<std::string> ClassesSubkeys(ClassesHive hive, const std::string& key) = 0;
    // The type library in the file at `path`, loaded as data and unregistered.
    virtual TypeLibraryQuery ReadTypeLibrary(const std::string& path) = 0;

    // --- Reports for unattended runs ----------------------------------------

    // Creates the log file at `path`, replacing one that is there. False when
    // it cannot be created.
    virtual bool CreateLog(const std::string& path) = 0;
    // Appends `text` to the log created by CreateLog; nothing without one.
    virtual void WriteLog(const std::string& text) = 0;
    // Writes `text` to standard output when that is a file or a pipe;
    // nothing otherwise.
    virtual void WriteStandardOutput(const std::string& text) = 0;

    // --- The main window ----------------------------------------------------
    // Each does nothing once the window is gone.

    // Appends an item at the end of the result list `lstProgress`.
    virtual void AddProgressItem(const std::string& item) = 0;
    // Replaces the result list's item at `index` (0 for the first) in place;
    // nothing when there is no such item.
    virtual void ReplaceProgressItem(int index, const std::string& item) = 0;
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
