// PlatformServices on Windows: the file system, the shell and version
// resources through the W functions; the window operations go to the main
// window once it is attached.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/platform_services.h"
#include "platform/windows/handles.h"
#include "platform/windows/programs.h"

namespace tarnwick::win {

class MainWindow;

// The words the user is told for a Win32 error code from a file operation.
FileResult FileResultFromError(DWORD error);
// The same for an operation known to have failed: never kOk, even should the
// system forget to say why.
FileResult FailureFromError(DWORD error);

// The running program's full path; empty when it cannot be asked.
std::wstring ProgramPath();

// The folder that holds `path`; empty when it names none. A drive root keeps
// its backslash, since "C:" alone means the current folder of drive C.
std::wstring ParentFolder(const std::wstring& path);

// Removes a file that may have been left read-only.
void DeleteFileAnyway(const std::wstring& path);

// Copies `from` to a new temporary file of this run in `folder`, ready to be
// renamed into place: writable, without the download mark, on the disk. Its
// path, or empty with `error` set. A run that is killed leaves at most its
// own, which a later run finds among its LeftoverFiles.
std::string CopyToTemporary(const std::wstring& from, const std::string& folder, DWORD& error);

// SfcIsFileProtected, as found in sfc.dll.
using SfcIsFileProtectedFunction = BOOL(WINAPI*)(HANDLE, LPCWSTR);

// IsProtectedFile's decision with the system's query `isProtected`, or
// without one (null): whether `path` is a file only the system may replace.
bool IsProtectedBy(SfcIsFileProtectedFunction isProtected, const std::string& path);

// Calls `query(buffer, size)` (a Win32 function that returns the length it
// wrote, or the size it needs when the buffer is too small) with a growing
// buffer. Empty when the call fails.
template <typename Query>
std::wstring QueryString(Query query) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = query(buffer.data(), size);
        if (length == 0) return {};
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

class WindowsPlatform final : public PlatformServices {
public:
    WindowsPlatform() = default;
    ~WindowsPlatform() override;  // ends a registration worker still running
    WindowsPlatform(const WindowsPlatform&) = delete;
    WindowsPlatform& operator=(const WindowsPlatform&) = delete;

    // `window` is not owned; pass nullptr when it is destroyed.
    void AttachWindow(MainWindow* window) { window_ = window; }

    std::string SystemDirectory() override;
    ProgramId StartProgram(const ProgramLaunch& launch) override;
    ProgramEnd FinishProgram(ProgramId id, std::chrono::milliseconds limit) override;
    FileMove CopyToTemporary(const std::string& source, const std::string& folder) override;
    FileResult ReplaceFile(const std::string& from, const std::string& to) override;
    FileMove SetAside(const std::string& path) override;
    FileResult RenameFile(const std::string& from, const std::string& to) override;
    bool RemoveFile(const std::string& path) override;
    void Pause(std::chrono::milliseconds time) override;
    FileVersionQuery GetFileVersion(const std::string& path) override;
    bool IsProtectedFile(const std::string& path) override;
    std::vector<Leftover> LeftoverFiles(const std::string& folder) override;
    std::string RealSystemDirectory() override;
    bool ScheduleRename(const std::string& from, const std::string& to) override;
    std::vector<PendingRename> PendingRenames() override;
    bool SetRunOnce(const std::string& name, const std::string& command) override;
    void RemoveRunOnce(const std::string& name) override;
    std::string AppFolder() override;
    AppVersion AppVersionNumbers() override;
    void DoEvents() override;
    void ShowMessage(const std::string& text, MessageBoxStyle style,
                     const std::string& title) override;
    bool StartWorker(const std::string& folder) override;
    bool SendToWorker(const std::string& path) override;
    WorkerVerdict WaitForWorker(std::chrono::milliseconds limit) override;
    void EndWorker() override;
    bool ServeAsWorker(const std::string& handshake) override;
    std::string ErrorText(std::uint32_t code) override;
    std::string WindowsDirectory() override;
    std::string EnvironmentVariable(const std::string& name) override;
    FileIdentity IdentifyFile(const std::string& path) override;
    ImportQuery GetImports(const std::string& path) override;
    RegistryString ReadClassesValue(ClassesHive hive, const std::string& key) override;
    std::vector<std::string> ClassesSubkeys(ClassesHive hive, const std::string& key) override;
    TypeLibraryQuery ReadTypeLibrary(const std::string& path) override;
    bool CreateLog(const std::string& path) override;
    void WriteLog(const std::string& text) override;
    void WriteStandardOutput(const std::string& text) override;

    void AddProgressItem(const std::string& item) override;
    void ReplaceProgressItem(int index, const std::string& item) override;
    void SetProgressText(const std::string& text) override;
    void SetNoteText(const std::string& text) override;
    void SetCaption(const std::string& text) override;
    void ShowForm() override;
    void HideForm() override;

    // The started programs that have not been reported ended yet.
    RunningPrograms& programs() { return programs_; }

    // The program StartWorker copies and starts as the registration worker
    // (a full path); empty, as by default, for this very program.
    void SetWorkerProgram(std::wstring program) { workerProgram_ = std::move(program); }

private:
    // A running registration worker, as its parent holds it: the process,
    // the parent's ends of the two pipes, the two counts, and how many files
    // handed over still wait for a verdict.
    struct Worker {
        UniqueHandle process;
        DWORD processId = 0;
        UniqueHandle requests;      // written: each file to register
        UniqueHandle verdicts;      // read: each verdict, in the order handed
        UniqueHandle requestReady;  // released for each request
        UniqueHandle verdictReady;  // released by the worker for each record
        std::size_t pending = 0;    // handed over, not yet answered
        bool started = false;       // it said it has started on the oldest pending file
        // A request could not be written: nothing more is written, but the
        // verdicts already given are still read. endedHere: it was still
        // running and was ended for it, so no crash is its files' fault.
        bool lost = false;
        bool endedHere = false;
    };
    // Ends the worker at once, if any, and forgets it.
    void KillWorker();

    // COM for the shell's sake, begun by the first StartProgram and held for
    // the life of the platform: a run that starts no program (one with a
    // registration worker, or the worker itself) starts sooner without it.
    void BeginComApartment();
    bool comBegun_ = false;
    bool comOk_ = false;
    // sfc.dll, loaded by the first protection query and kept for the rest.
    UniqueModule sfc_;
    bool sfcLoaded_ = false;
    // oleaut32.dll, loaded by the first type library read and kept likewise:
    // not imported, since most runs never read one.
    UniqueModule oleaut_;
    bool oleautLoaded_ = false;

    std::wstring workerProgram_;
    // The copy of the worker's program in the system directory, made by the
    // first StartWorker and removed when the platform goes.
    std::string workerCopy_;
    std::optional<Worker> worker_;
    MainWindow* window_ = nullptr;
    RunningPrograms programs_;
    UniqueHandle log_;
};

}  // namespace tarnwick::win
