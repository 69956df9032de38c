// A PlatformServices that keeps files, folders and the window in memory and
// writes every call into a journal, so tests can check what happened and in
// which order.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "installer/install_state.h"
#include "platform/platform_services.h"
#include "ui/command_line.h"

namespace tarnwick::testing {

class FakePlatform : public PlatformServices {
public:
    struct File {
        std::optional<FileVersion> version;
        std::string content;
    };
    struct Message {
        std::string text;
        MessageBoxStyle style;
        std::string title;
        bool windowVisible;
    };

    FakePlatform() {
        folders = {appFolder, systemDirectory};
        for (std::string_view component : kComponentTable) {
            const std::string name(component);
            files[appFolder + "\\" + name] = {FileVersion{1, 0, 0, 0}, "new " + name};
        }
    }

    // --- What the fake system holds -----------------------------------------
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    std::string appFolder = "D:\\setup";
    AppVersion version{1, 0, 0};
    std::set<std::string> folders;
    std::map<std::string, File> files;
    std::map<std::string, FileResult> copyFailures;   // destination -> forced result of putting the copy there
    // Files a running program has in use: loaded (it may be renamed, not
    // replaced) or held open without sharing (neither). The files held are
    // let go during the heldFor-th pause. A file in use cannot be removed.
    enum class Use { kLoaded, kHeld };
    std::map<std::string, Use> inUse;
    int heldFor = 1000;
    // Steps that fail although they would work: "move DEST", "aside PATH",
    // "rename DEST".
    std::set<std::string> stepFailures;
    // What waits for the restart, and whether it may be recorded.
    std::string realSystemDirectory = "C:\\WINDOWS\\SysWOW64";
    std::vector<PendingRename> pending;
    std::map<std::string, std::string> runOnce;
    bool mayRecordForRestart = true;
    std::vector<Leftover> leftovers;  // what LeftoverFiles finds
    std::map<std::string, FileResult> probeFailures;  // path -> forced version query result
    bool launchSucceeds = true;
    std::set<std::string> protectedFiles;
    // Program name (the last word of its parameters) -> how FinishProgram
    // finds it ended; missing: exit code 0.
    std::map<std::string, ProgramEnd> programEnds;
    bool logCanBeCreated = true;
    // The journal entry (by prefix) at which the platform throws: once, or
    // every time with throwEveryTime.
    std::string throwAt;
    bool throwEveryTime = false;
    // Program ends that have happened but are heard only at the next DoEvents,
    // as the binding hears them; delivered to `sink`.
    std::vector<std::pair<ProgramId, std::uint32_t>> arrivedEnds;
    std::function<void(ProgramId, std::uint32_t)> sink;
    // The registration worker: whether it can be started (each time; off, so
    // the registration tool registers, unless a test turns it on), and the
    // verdict it gives a file by name (missing: registered). A crash or a
    // time-out loses the worker with every file it had not answered.
    bool workerStarts = false;
    int workerStartsLeft = 1000;  // later starts fail
    int workerTakesLeft = 1000;   // the first worker's later hand-overs fail, as to one that has died
    std::map<std::string, WorkerVerdict> workerVerdicts;
    // How many times a worker is lost just before it starts on a file, by name.
    std::map<std::string, int> workerLostBefore;
    bool workerRunning = false;
    std::vector<std::string> workerQueue;  // handed over, not yet answered
    bool handshakeAccepted = false;        // what ServeAsWorker finds
    std::map<std::uint32_t, std::string> errorTexts;
    std::function<void()> onDoEvents;     // runs inside every DoEvents
    std::function<void()> onShowMessage;  // runs inside every message box
    // What the check reads. A file's identity is its path in `files` (or the
    // path an alias stands for); a path in `folders` is a folder.
    std::string windowsDirectory = "C:\\WINDOWS";
    std::map<std::string, std::string> environment;
    std::map<std::string, std::string> aliases;  // another spelling -> the path in `files`
    // Imports by path; a file in `files` that is not here imports nothing.
    std::map<std::string, ImportQuery> imports;
    // Default values by hive and key, the key in lower case.
    std::map<std::pair<ClassesHive, std::string>, RegistryString> registry;
    std::map<std::string, TypeLibraryQuery> typeLibraries;  // by path; missing: none loads
    // Each component carries a type library with one creatable class and one
    // that is not (SampleLibrary), copied along with it; a registration that
    // succeeds registers both to the installed file, as a server does.
    bool serversRegister = true;
    std::map<std::string, std::string> registersTo;  // file name -> the path its server registers instead

    // --- What happened --------------------------------------------------------
    std::vector<std::string> journal;
    std::vector<std::string> items;
    std::vector<Message> messages;
    std::string bar = std::string(50, '|');
    std::string note, caption;
    bool visible = false;
    struct Started {
        ProgramId id;
        ProgramLaunch launch;
    };
    std::vector<Started> started;
    std::string logPath, log, standardOutput;

    std::string SystemDirectory() override {
        Record("sysdir");
        return systemDirectory;
    }

    ProgramId StartProgram(const ProgramLaunch& launch) override {
        Record("start " + launch.program + " " + launch.parameters + " in " + launch.workingDirectory);
        if (!launchSucceeds) return kNoProgram;
        const auto id = static_cast<ProgramId>(100 + started.size());
        started.push_back({id, launch});
        return id;
    }

    ProgramEnd FinishProgram(ProgramId id, std::chrono::milliseconds limit) override {
        Record("finish " + std::to_string(id) + " within " + std::to_string(limit.count()));
        for (const Started& program : started) {
            if (program.id != id) continue;
            const std::string& parameters = program.launch.parameters;
            const std::string name = parameters.substr(parameters.rfind(' ') + 1);
            const auto found = programEnds.find(name);
            const ProgramEnd end = found == programEnds.end() ? ProgramEnd{true, 0} : found->second;
            if (end.finished && end.exitCode == 0) RegisterServer(Installed(name));
            return end;
        }
        return {};
    }

    // The id the registration tool for `name` was started with.
    ProgramId ProgramFor(const std::string& name) const {
        for (const Started& program : started) {
            if (program.launch.parameters.ends_with(name)) return program.id;
        }
        return kNoProgram;
    }

    bool StartWorker(const std::string& folder) override {
        Record("worker start in " + folder);
        if (Count("worker start") > 1) workerTakesLeft = 1000;  // a new worker takes all
        workerQueue.clear();
        workerRunning = workerStarts && workerStartsLeft-- > 0;
        return workerRunning;
    }
    bool SendToWorker(const std::string& path) override {
        Record("worker take " + path);
        if (!workerRunning || workerTakesLeft-- <= 0) return false;
        workerQueue.push_back(path);
        return true;
    }
    WorkerVerdict WaitForWorker(std::chrono::milliseconds limit) override {
        Record("worker wait within " + std::to_string(limit.count()));
        if (workerQueue.empty()) return {};
        const std::string path = workerQueue.front();
        const std::string name = path.substr(path.rfind('\\') + 1);
        if (workerLostBefore[name] > 0) {
            // Something the file before left running crashed the worker.
            --workerLostBefore[name];
            workerRunning = false;
            workerQueue.clear();
            return {WorkerVerdict::Kind::kLost, 0xC0000005};
        }
        workerQueue.erase(workerQueue.begin());
        const auto found = workerVerdicts.find(name);
        const WorkerVerdict verdict =
            found == workerVerdicts.end() ? WorkerVerdict{WorkerVerdict::Kind::kRegistered, 0} : found->second;
        if (verdict.kind == WorkerVerdict::Kind::kRegistered) RegisterServer(path);
        if (verdict.kind == WorkerVerdict::Kind::kCrashed || verdict.kind == WorkerVerdict::Kind::kTimedOut) {
            workerRunning = false;
            workerQueue.clear();
        }
        return verdict;
    }
    void EndWorker() override {
        Record("worker end");
        workerRunning = false;
        workerQueue.clear();
    }
    bool ServeAsWorker(const std::string& handshake) override {
        Record("serve " + handshake);
        return handshakeAccepted;
    }
    std::string ErrorText(std::uint32_t code) override {
        const auto found = errorTexts.find(code);
        return found == errorTexts.end() ? std::string() : found->second;
    }

    std::string WindowsDirectory() override { return windowsDirectory; }
    std::string EnvironmentVariable(const std::string& name) override {
        const auto found = environment.find(name);
        return found == environment.end() ? std::string() : found->second;
    }
    FileIdentity IdentifyFile(const std::string& path) override {
        Record("identify " + path);
        const auto alias = aliases.find(path);
        const std::string& real = alias == aliases.end() ? path : alias->second;
        if (folders.contains(real)) return {FileIdentity::Kind::kFolder, 0, 0};
        if (!files.contains(real)) return {FileIdentity::Kind::kMissing, 0, 0};
        return {FileIdentity::Kind::kFile, 1,
                static_cast<std::uint64_t>(std::distance(files.begin(), files.find(real))) + 1};
    }
    ImportQuery GetImports(const std::string& path) override {
        Record("imports " + path);
        if (FileResult found = Find(path); found != FileResult::kOk) {
            ImportQuery query;
            query.result = found;
            return query;
        }
        const auto listed = imports.find(path);
        if (listed != imports.end()) return listed->second;
        ImportQuery none;
        none.readable = true;
        return none;
    }
    RegistryString ReadClassesValue(ClassesHive hive, const std::string& key) override {
        Record("registry " + key);
        const auto found = registry.find({hive, Lower(key)});
        return found == registry.end() ? RegistryString{} : found->second;
    }
    std::vector<std::string> ClassesSubkeys(ClassesHive hive, const std::string& key) override {
        Record("subkeys " + key);
        std::vector<std::string> names;
        const std::string prefix = Lower(key) + "\\";
        for (const auto& [where, value] : registry) {
            if (where.first != hive || !where.second.starts_with(prefix)) continue;
            std::string name = where.second.substr(prefix.size());
            name = name.substr(0, name.find('\\'));
            if (names.empty() || names.back() != name) names.push_back(name);
        }
        return names;
    }
    TypeLibraryQuery ReadTypeLibrary(const std::string& path) override {
        Record("typelib " + path);
        const auto found = typeLibraries.find(path);
        if (found != typeLibraries.end()) return found->second;
        TypeLibraryQuery none;
        none.error = 0x80029C4A;  // TYPE_E_CANTLOADLIBRARY
        return none;
    }
    // The type library of the component `name`: LIBID {LIB-name}, 1.0,
    // LCID 0, creatable class {CLASS-name}, noncreatable {ITEM-name}.
    static TypeLibraryQuery SampleLibrary(const std::string& name) {
        TypeLibraryQuery library;
        library.loaded = true;
        library.libid = "{LIB-" + name + "}";
        library.major = 1;
        library.classes = {{"{CLASS-" + name + "}", true}, {"{ITEM-" + name + "}", false}};
        return library;
    }
    // What a successful registration of the server at `path` writes: its
    // type library's creatable classes and the library itself.
    void RegisterServer(const std::string& path) {
        const auto library = typeLibraries.find(path);
        if (!serversRegister || library == typeLibraries.end()) return;
        const auto instead = registersTo.find(path.substr(path.rfind('\\') + 1));
        const std::string& server = instead == registersTo.end() ? path : instead->second;
        for (const TypeLibraryClass& coclass : library->second.classes) {
            if (coclass.creatable) RegisterClass(coclass.clsid, server);
        }
        registry[{ClassesHive::kClassesRoot, Lower("TypeLib\\" + library->second.libid + "\\1.0\\0\\win32")}] =
            {RegistryString::Kind::kString, server};
    }
    // Registers the class `clsid` to `path` in `hive`, as a server would.
    void RegisterClass(const std::string& clsid, const std::string& path,
                       ClassesHive hive = ClassesHive::kClassesRoot) {
        registry[{hive, Lower("CLSID\\" + clsid + "\\InprocServer32")}] = {RegistryString::Kind::kString, path};
    }

    FileMove CopyToTemporary(const std::string& source, const std::string& folder) override {
        const std::string temporary = folder + "\\tarnwick-temporary-" + std::to_string(++lastTemporary) + ".tmp";
        Record("copy " + source + " -> " + temporary);
        if (FileResult found = Find(source); found != FileResult::kOk) return {found, {}};
        if (!folders.contains(folder)) return {FileResult::kPathNotFound, {}};
        files[temporary] = files[source];
        const std::string name = source.substr(source.rfind('\\') + 1);
        if (const auto library = typeLibraries.find(source); library != typeLibraries.end()) {
            typeLibraries[temporary] = library->second;
        } else if (serversRegister) {
            typeLibraries[temporary] = SampleLibrary(name);
        }
        return {FileResult::kOk, temporary};
    }
    FileResult ReplaceFile(const std::string& from, const std::string& to) override {
        Record("move " + from + " -> " + to);
        if (auto forced = copyFailures.find(to); forced != copyFailures.end()) return forced->second;
        if (inUse.contains(to) || stepFailures.contains("move " + to)) return FileResult::kPermissionDenied;
        return Move(from, to);
    }
    FileMove SetAside(const std::string& path) override {
        const std::string aside =
            Parent(path) + "\\tarnwick-replaced-" + std::to_string(++lastTemporary) + "." + path.substr(path.rfind('\\') + 1);
        Record("aside " + path + " -> " + aside);
        const auto use = inUse.find(path);
        if ((use != inUse.end() && use->second == Use::kHeld) || stepFailures.contains("aside " + path)) {
            return {FileResult::kPermissionDenied, {}};
        }
        const FileResult moved = Move(path, aside);
        if (moved != FileResult::kOk) return {moved, {}};
        // The program that has it loaded keeps the copy under its new name.
        if (const auto loaded = inUse.find(path); loaded != inUse.end()) {
            inUse[aside] = loaded->second;
            inUse.erase(path);
        }
        return {FileResult::kOk, aside};
    }
    FileResult RenameFile(const std::string& from, const std::string& to) override {
        Record("rename " + from + " -> " + to);
        if (files.contains(to) || stepFailures.contains("rename " + to)) return FileResult::kAccessError;
        return Move(from, to);
    }
    bool RemoveFile(const std::string& path) override {
        Record("remove " + path);
        if (inUse.contains(path)) return false;
        files.erase(path);
        typeLibraries.erase(path);
        return true;
    }
    void Pause(std::chrono::milliseconds time) override {
        Record("pause " + std::to_string(time.count()));
        if (--heldFor > 0) return;
        std::erase_if(inUse, [](const auto& use) { return use.second == Use::kHeld; });
    }
    std::vector<Leftover> LeftoverFiles(const std::string& folder) override {
        Record("leftovers " + folder);
        return leftovers;
    }
    std::string RealSystemDirectory() override { return realSystemDirectory; }
    bool ScheduleRename(const std::string& from, const std::string& to) override {
        Record("schedule " + from + " -> " + to);
        if (!mayRecordForRestart) return false;
        pending.push_back({from, to});
        return true;
    }
    std::vector<PendingRename> PendingRenames() override { return pending; }
    bool SetRunOnce(const std::string& name, const std::string& command) override {
        Record("runonce " + name + " = " + command);
        if (!mayRecordForRestart) return false;
        runOnce[name] = command;
        return true;
    }
    void RemoveRunOnce(const std::string& name) override {
        Record("runonce remove " + name);
        runOnce.erase(name);
    }

    FileVersionQuery GetFileVersion(const std::string& path) override {
        Record("version " + path);
        if (auto forced = probeFailures.find(path); forced != probeFailures.end()) {
            return {forced->second, std::nullopt};
        }
        FileVersionQuery query{Find(path), std::nullopt};
        if (query.result == FileResult::kOk) query.version = files[path].version;
        return query;
    }

    bool IsProtectedFile(const std::string& path) override {
        Record("protected? " + path);
        return protectedFiles.contains(path);
    }

    std::string AppFolder() override { return appFolder; }
    AppVersion AppVersionNumbers() override {
        Record("appversion");
        return version;
    }

    void DoEvents() override {
        Record("events");
        const auto arrived = std::exchange(arrivedEnds, {});
        for (const auto& [program, code] : arrived) {
            if (sink) sink(program, code);
        }
        if (onDoEvents) onDoEvents();
    }

    void ShowMessage(const std::string& text, MessageBoxStyle style,
                     const std::string& title) override {
        Record("box " + title);
        messages.push_back({text, style, title, visible});
        if (onShowMessage) onShowMessage();
    }

    bool CreateLog(const std::string& path) override {
        Record("log " + path);
        if (!logCanBeCreated) return false;
        logPath = path;
        log.clear();
        return true;
    }
    void WriteLog(const std::string& text) override {
        if (!logPath.empty()) log += text;
    }
    void WriteStandardOutput(const std::string& text) override { standardOutput += text; }

    void AddProgressItem(const std::string& item) override {
        Record("item " + item);
        items.push_back(item);
    }
    void ReplaceProgressItem(int index, const std::string& item) override {
        Record("replace " + std::to_string(index) + " " + item);
        if (index >= 0 && index < static_cast<int>(items.size())) items[index] = item;
    }
    void SetProgressText(const std::string& text) override {
        Record("bar " + std::to_string(text.size()));
        bar = text;
    }
    void SetNoteText(const std::string& text) override {
        Record("note");
        note = text;
    }
    void SetCaption(const std::string& text) override {
        Record("caption " + text);
        caption = text;
    }
    void ShowForm() override {
        Record("show");
        visible = true;
    }
    void HideForm() override {
        Record("hide");
        visible = false;
    }

    // Helpers for the tests.
    std::string Installed(const std::string& name) const { return systemDirectory + "\\" + name; }
    std::string Source(const std::string& name) const { return appFolder + "\\" + name; }
    // Whether standard output holds `text`.
    bool Said(const std::string& text) const { return standardOutput.find(text) != std::string::npos; }
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const std::string& entry : journal) n += entry.rfind(prefix, 0) == 0;
        return n;
    }
    std::size_t IndexOf(const std::string& prefix) const {
        for (std::size_t i = 0; i < journal.size(); ++i) {
            if (journal[i].rfind(prefix, 0) == 0) return i;
        }
        return journal.size();
    }

private:
    // Journals `entry`, and throws once where the test asked for it.
    void Record(std::string entry) {
        const bool fail = !throwAt.empty() && entry.rfind(throwAt, 0) == 0;
        journal.push_back(std::move(entry));
        if (fail) {
            if (!throwEveryTime) throwAt.clear();
            throw std::bad_alloc();
        }
    }

    static std::string Lower(std::string text) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    }
    static std::string Parent(const std::string& path) {
        const auto slash = path.rfind('\\');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
    // Moves the file (and its type library) from `from` to `to`.
    FileResult Move(const std::string& from, const std::string& to) {
        if (FileResult found = Find(from); found != FileResult::kOk) return found;
        if (!folders.contains(Parent(to))) return FileResult::kPathNotFound;
        files[to] = files[from];
        files.erase(from);
        if (const auto library = typeLibraries.find(from); library != typeLibraries.end()) {
            typeLibraries[to] = library->second;
            typeLibraries.erase(from);
        }
        return FileResult::kOk;
    }
    int lastTemporary = 0;

    FileResult Find(const std::string& path) const {
        if (!folders.contains(Parent(path))) return FileResult::kPathNotFound;
        return files.contains(path) ? FileResult::kOk : FileResult::kFileNotFound;
    }
};

// Runs the command line `arguments` on `platform` as the program does: its
// exit code, or none where the window opens.
inline std::optional<int> RunOn(FakePlatform& platform, const std::vector<std::string>& arguments) {
    return RunCommandLine(platform, ParseCommandLine(arguments));
}

// A test of unattended runs on the fake platform, where the registration
// worker starts.
class UnattendedTest : public ::testing::Test {
protected:
    UnattendedTest() { platform.workerStarts = true; }
    std::optional<int> Run(const std::vector<std::string>& arguments = {"/S"}) { return RunOn(platform, arguments); }
    FakePlatform platform;
};

}  // namespace tarnwick::testing
