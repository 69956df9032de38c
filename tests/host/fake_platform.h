// A PlatformServices that keeps files, folders and the window in memory and
// writes every call into a journal, so tests can check what happened and in
// which order.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "installer/install_state.h"
#include "platform/platform_services.h"

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
    std::map<std::string, FileResult> copyFailures;   // destination -> forced result
    std::map<std::string, FileResult> probeFailures;  // path -> forced version query result
    bool launchSucceeds = true;
    std::function<void()> onDoEvents;     // runs inside every DoEvents
    std::function<void()> onShowMessage;  // runs inside every message box

    // --- What happened --------------------------------------------------------
    std::vector<std::string> journal;
    std::vector<std::string> items;
    std::vector<Message> messages;
    std::string bar = std::string(50, '|');
    std::string note, caption;
    bool visible = false;

    std::string SystemDirectory() override {
        journal.push_back("sysdir");
        return systemDirectory;
    }

    bool StartProgram(const std::string& program, const std::string& parameters,
                      const std::string& workingDirectory) override {
        journal.push_back("start " + program + " " + parameters + " in " + workingDirectory);
        return launchSucceeds;
    }

    FileResult CopyFileTo(const std::string& source, const std::string& destination) override {
        journal.push_back("copy " + source + " -> " + destination);
        if (auto forced = copyFailures.find(destination); forced != copyFailures.end()) {
            return forced->second;
        }
        if (FileResult found = Find(source); found != FileResult::kOk) return found;
        if (!folders.contains(Parent(destination))) return FileResult::kPathNotFound;
        files[destination] = files[source];
        return FileResult::kOk;
    }

    FileVersionQuery GetFileVersion(const std::string& path) override {
        journal.push_back("version " + path);
        if (auto forced = probeFailures.find(path); forced != probeFailures.end()) {
            return {forced->second, std::nullopt};
        }
        FileVersionQuery query{Find(path), std::nullopt};
        if (query.result == FileResult::kOk) query.version = files[path].version;
        return query;
    }

    std::string AppFolder() override { return appFolder; }
    AppVersion AppVersionNumbers() override { return version; }

    void DoEvents() override {
        journal.push_back("events");
        if (onDoEvents) onDoEvents();
    }

    void ShowMessage(const std::string& text, MessageBoxStyle style,
                     const std::string& title) override {
        journal.push_back("box " + title);
        messages.push_back({text, style, title, visible});
        if (onShowMessage) onShowMessage();
    }

    void AddProgressItem(const std::string& item) override {
        journal.push_back("item " + item);
        items.push_back(item);
    }
    void SetProgressText(const std::string& text) override {
        journal.push_back("bar " + std::to_string(text.size()));
        bar = text;
    }
    void SetNoteText(const std::string& text) override {
        journal.push_back("note");
        note = text;
    }
    void SetCaption(const std::string& text) override {
        journal.push_back("caption " + text);
        caption = text;
    }
    void ShowForm() override {
        journal.push_back("show");
        visible = true;
    }
    void HideForm() override {
        journal.push_back("hide");
        visible = false;
    }

    // Helpers for the tests.
    std::string Installed(const std::string& name) const { return systemDirectory + "\\" + name; }
    std::string Source(const std::string& name) const { return appFolder + "\\" + name; }
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
    static std::string Parent(const std::string& path) {
        const auto slash = path.rfind('\\');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
    FileResult Find(const std::string& path) const {
        if (!folders.contains(Parent(path))) return FileResult::kPathNotFound;
        return files.contains(path) ? FileResult::kOk : FileResult::kFileNotFound;
    }
};

}  // namespace tarnwick::testing
