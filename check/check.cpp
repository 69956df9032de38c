// The check of each installed component, read-only from start to end.
#include "check/check.h"

#include <algorithm>

#include "installer/ascii.h"
#include "installer/installer.h"

namespace tarnwick {
namespace {

using Verdict = ComponentCheck::Verdict;

// COM loads a server by a path no longer than this, in UTF-16 code units,
// its terminating NUL included (MAX_PATH).
constexpr std::size_t kMaxServerPath = 260;

// How many UTF-16 code units `utf8` takes: one per character, two for one
// beyond the Basic Multilingual Plane (a four-byte sequence).
std::size_t Utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;  // not a continuation byte
        if (byte >= 0xF0) ++units;
    }
    return units;
}

// Gives `check` the verdict unless an earlier one in the order applies.
void Find(ComponentCheck& check, Verdict verdict, std::string finding) {
    if (verdict >= check.verdict) return;
    check.verdict = verdict;
    check.finding = std::move(finding);
}

std::string VersionText(const std::optional<FileVersion>& v) {
    return v ? VersionText(*v) : std::string("no version");
}

std::string Hex(std::uint64_t value) {
    std::string text;
    AppendHex(text, value, 16);
    // Without leading zeros, as the registry's key names are written.
    const std::size_t first = text.find_first_not_of('0');
    return first == std::string::npos ? "0" : text.substr(first);
}

// The registry key of class `clsid`'s in-process server.
std::string ServerKey(const std::string& clsid) { return "CLSID\\" + clsid + "\\InprocServer32"; }

// Where one registry value sends COM, against the installed file.
struct Pointing {
    enum class To { kThisFile, kOtherFile, kNothing };
    To to = To::kNothing;
    std::string registered;  // the path as registered; empty with kNothing
    std::string detail;      // what its detail line says of it
};

}  // namespace

std::string CheckLines(std::string_view name, const ComponentCheck& check) {
    std::string text = std::string(name) + ": " + check.finding + "\r\n";
    for (const std::string& detail : check.details) text += "    " + detail + "\r\n";
    return text;
}

std::string CheckClosing(const std::array<ComponentCheck, kComponentCount>& checks) {
    int ok = 0, waiting = 0;
    bool install = false, stale = false, dependency = false, damagedDependency = false;
    for (const ComponentCheck& check : checks) {
        switch (check.verdict) {
            case Verdict::kOk: ++ok; break;
            case Verdict::kWaiting: ++waiting; break;
            case Verdict::kOtherFile: stale = true; break;
            case Verdict::kMissingDependency: dependency = true; break;
            case Verdict::kUnreadableDependency: damagedDependency = true; break;
            default: install = true; break;
        }
    }
    std::string text = std::to_string(ok) + " of " + std::to_string(kComponentCount) + " components are ok";
    if (waiting > 0) text += ", " + std::to_string(waiting) + (waiting == 1 ? " waits" : " wait") + " for Windows to restart";
    if (ok + waiting == kComponentCount) return text + ".\r\n";
    std::string advice;
    const auto add = [&advice](std::string_view what) {
        if (!advice.empty()) advice += "; ";
        advice += what;
    };
    if (install) add("install them with Tarnwick, run from the folder that holds the right files");
    if (stale) add("remove the stale copy the registry names, or register the installed file again");
    if (dependency) add("install the missing DLLs the lines name");
    if (damagedDependency) add("replace the unreadable DLLs the lines name with sound 32-bit copies");
    return text + "; to mend the others, " + advice + ".\r\n";
}

Checker::Checker(PlatformServices& platform, std::string systemDirectory)
    : platform_(platform), systemDirectory_(std::move(systemDirectory)), walker_(platform, systemDirectory_) {}

std::array<ComponentCheck, kComponentCount> Checker::CheckAll() {
    std::array<ComponentCheck, kComponentCount> checks;
    for (int i = 0; i < kComponentCount; ++i) checks[i] = Check(kComponentTable[i]);
    return checks;
}

void Checker::ReadFiles(std::string_view name) {
    if (!systemDirectory_.empty()) Files(name);
}

const Checker::FileFacts& Checker::Files(std::string_view name) {
    // Kept by the component's place in the table; a name not in it (none the
    // program asks for) shares the last place, read again whenever asked.
    const auto at = std::find(kComponentTable.begin(), kComponentTable.end() - 1, name);
    std::optional<FileFacts>& known = files_[static_cast<std::size_t>(at - kComponentTable.begin())];
    const std::string installed = JoinPath(systemDirectory_, name);
    if (known && known->installed == installed) return *known;
    FileFacts& facts = known.emplace();
    facts.installed = installed;
    facts.self = Identify(facts.installed);
    if (facts.self.kind == FileIdentity::Kind::kFile) facts.version = platform_.GetFileVersion(facts.installed);
    if (facts.version && facts.version->result == FileResult::kOk) facts.imports = platform_.GetImports(facts.installed);
    if (facts.imports && facts.imports->result == FileResult::kOk && facts.imports->readable) {
        facts.dependencies = walker_.Check(*facts.imports);
        facts.library = platform_.ReadTypeLibrary(facts.installed);
        facts.beside = platform_.GetFileVersion(JoinPath(platform_.AppFolder(), std::string(name)));
    }
    return facts;
}

ComponentCheck Checker::Check(std::string_view name) {
    ComponentCheck check;
    const std::string file(name);
    if (systemDirectory_.empty()) {
        Find(check, Verdict::kMissing, "missing");
        check.details.push_back("the system directory is not known");
        return check;
    }
    // A copy where only 64-bit programs look is the usual reason a 32-bit
    // program cannot find one that "is there".
    const auto sixtyFourBitCopy = [&] {
        const std::string windows = platform_.WindowsDirectory();
        if (windows.empty()) return;
        // Sysnative is how a 32-bit program names the 64-bit system directory.
        if (platform_.IdentifyFile(JoinPath(windows, "Sysnative\\" + file)).kind != FileIdentity::Kind::kFile) return;
        check.details.push_back("a copy in the 64-bit system directory, which 32-bit programs never use: " +
                                JoinPath(windows, "System32\\" + file));
    };

    // What is there now matters no more once the restart replaces it.
    if (const std::optional<PendingRename> replacement = WaitingReplacement(name)) {
        const FileVersionQuery next = platform_.GetFileVersion(replacement->to);
        Find(check, Verdict::kWaiting, "waiting for the restart, which replaces it with " +
                                           (next.version ? "version " + VersionText(*next.version)
                                                         : std::string("a file of no version")));
        check.details.push_back("the restart puts " + replacement->from + " in its place");
        return check;
    }

    const FileFacts& facts = Files(name);
    switch (facts.self.kind) {
        case FileIdentity::Kind::kMissing:
            Find(check, Verdict::kMissing, "missing");
            sixtyFourBitCopy();
            return check;
        case FileIdentity::Kind::kFolder: Find(check, Verdict::kUnreadable, "unreadable: a folder, not a file"); return check;
        case FileIdentity::Kind::kUnreadable:
            Find(check, Verdict::kUnreadable, "unreadable: it could not be opened");
            return check;
        case FileIdentity::Kind::kFile: break;
    }
    const FileVersionQuery& version = *facts.version;
    if (version.result != FileResult::kOk) {
        Find(check, Verdict::kUnreadable, "unreadable: " + AsciiLower(ErrorDescription(version.result)));
        return check;
    }
    if (facts.imports->result != FileResult::kOk || !facts.imports->readable) {
        Find(check, Verdict::kUnreadable, "unreadable: " + ImportProblem(*facts.imports));
        return check;
    }

    const DependencyReport& dependencies = facts.dependencies;
    if (!dependencies.missing.empty()) {
        Find(check, Verdict::kMissingDependency, "missing dependency: " + DllList(dependencies.missing));
    }
    if (!dependencies.unreadable.empty()) {
        const std::string unreadable = "unreadable dependency: " + DllList(dependencies.unreadable);
        Find(check, Verdict::kUnreadableDependency, unreadable);
        // Behind a missing one, it is still to be mended.
        if (check.verdict != Verdict::kUnreadableDependency) check.details.push_back(unreadable);
    }
    for (const std::string& dll : dependencies.missingDelayed) {
        check.details.push_back("imported on first use, not found: " + dll +
                                " (the component loads, but may fail when it needs it)");
    }
    if (!dependencies.notChecked.empty()) {
        check.details.push_back("not checked (limit reached): " + DllList(dependencies.notChecked));
    }
    // What these say holds for an ok component too; what the registry's lines
    // say does not.
    const std::size_t loadDetails = check.details.size();

    CheckRegistration(facts.self, facts.library, name, check);

    const FileVersionQuery& beside = facts.beside;
    if (beside.result == FileResult::kOk && beside.version && !KeepInstalled(beside.version, version.version) &&
        !platform_.IsProtectedFile(facts.installed)) {
        Find(check, Verdict::kOlder,
             "older than the copy beside the program: " + VersionText(version.version) + " installed, " +
                 VersionText(beside.version) + " beside the program");
    }
    if (check.verdict == Verdict::kOk) {
        check.finding = version.version ? "ok, version " + VersionText(version.version) : "ok, no version";
        check.details.erase(check.details.begin() + static_cast<std::ptrdiff_t>(loadDetails), check.details.end());
    } else {
        sixtyFourBitCopy();
    }
    return check;
}

std::optional<PendingRename> Checker::WaitingReplacement(std::string_view name) {
    if (!pending_) {
        pending_ = platform_.PendingRenames();
        realFolder_ = platform_.RealSystemDirectory();
    }
    if (realFolder_.empty()) return {};
    const std::string installed = JoinPath(realFolder_, name);
    std::optional<PendingRename> found;
    // The last one recorded is the one that stays.
    for (const PendingRename& rename : *pending_) {
        if (SameText(rename.to, installed)) found = rename;
    }
    if (!found) return {};
    // One in the same folder is looked at as this program names that folder.
    found->to =
        InFolder(found->from, realFolder_) ? JoinPath(systemDirectory_, FileNameOf(found->from)) : found->from;
    if (platform_.IdentifyFile(found->to).kind != FileIdentity::Kind::kFile) return {};
    return found;
}

FileIdentity Checker::Identify(const std::string& path) {
    std::string key = AsciiLower(path);
    for (const auto& [known, identity] : identities_) {
        if (known == key) return identity;
    }
    return identities_.emplace_back(std::move(key), platform_.IdentifyFile(path)).second;
}

const std::vector<Checker::NamedClass>& Checker::ClassesByFileName() {
    if (classesByFileName_) return *classesByFileName_;
    std::vector<NamedClass> named;
    for (const std::string& clsid : platform_.ClassesSubkeys(ClassesHive::kClassesRoot, "CLSID")) {
        RegistryString value =
            platform_.ReadClassesValue(ClassesHive::kClassesRoot, ServerKey(clsid));
        if (value.kind != RegistryString::Kind::kString) continue;
        std::string fileName = AsciiLower(FileNameOf(Unquoted(value.text)));
        for (std::string_view component : kComponentTable) {
            if (fileName != AsciiLower(component)) continue;
            named.push_back({clsid, std::move(fileName), std::move(value)});
            break;
        }
    }
    return classesByFileName_.emplace(std::move(named));
}

void Checker::CheckRegistration(const FileIdentity& self, const TypeLibraryQuery& library, std::string_view name,
                                ComponentCheck& check) {
    using To = Pointing::To;
    const auto pointing = [&](const RegistryString& value) -> Pointing {
        if (value.kind == RegistryString::Kind::kMissing) return {To::kNothing, {}, "not registered"};
        if (value.kind == RegistryString::Kind::kNotString) {
            return {To::kNothing, {}, "not registered (its value is not a string)"};
        }
        const std::string text = Unquoted(value.text);
        if (text.empty()) return {To::kNothing, {}, "not registered (its value is empty)"};
        // A bare name is loaded from the system directory.
        const std::string resolved =
            text.find_first_of("\\/:") == std::string::npos ? JoinPath(systemDirectory_, text) : text;
        if (Utf16Length(resolved) >= kMaxServerPath) return {To::kOtherFile, text, text + " (longer than COM can load)"};
        const FileIdentity target = Identify(resolved);
        switch (target.kind) {
            case FileIdentity::Kind::kFile:
                if (target.volume == self.volume && target.index == self.index) return {To::kThisFile, text, text};
                break;
            case FileIdentity::Kind::kFolder: return {To::kOtherFile, text, text + " (a folder)"};
            case FileIdentity::Kind::kMissing: return {To::kOtherFile, text, text + " (which does not exist)"};
            case FileIdentity::Kind::kUnreadable:
                return {To::kOtherFile, text, text + " (which could not be opened)"};
        }
        return {To::kOtherFile, text, text};
    };
    std::string firstOther;  // as registered
    int classes = 0, unregisteredClasses = 0;
    bool libraryUnregistered = false;
    const auto weigh = [&](const std::string& what, const RegistryString& value, bool isClass) {
        const Pointing to = pointing(value);
        if (to.to == To::kThisFile) return;
        if (to.to == To::kOtherFile && firstOther.empty()) firstOther = to.registered;
        if (to.to == To::kNothing) {
            if (isClass) ++unregisteredClasses;
            else libraryUnregistered = true;
        }
        check.details.push_back(what + ": " + to.detail);
    };
    // A registration in the user's own hive wins over the machine's for that
    // user on Windows; say where it points, whatever the merged view shows.
    const auto userToo = [&](const std::string& clsid) {
        const RegistryString user = platform_.ReadClassesValue(ClassesHive::kUserClasses, ServerKey(clsid));
        if (user.kind != RegistryString::Kind::kString) return;
        check.details.push_back("class " + clsid + " is also registered for this user only (HKEY_CURRENT_USER), to " +
                                user.text);
    };

    if (library.loaded) {
        for (const TypeLibraryClass& coclass : library.classes) {
            // Noncreatable classes (a control's items and collections) are
            // not registered by their servers.
            if (!coclass.creatable) continue;
            ++classes;
            weigh("class " + coclass.clsid,
                  platform_.ReadClassesValue(ClassesHive::kClassesRoot, ServerKey(coclass.clsid)), true);
            userToo(coclass.clsid);
        }
        const std::string version = Hex(library.major) + "." + Hex(library.minor);
        weigh("type library " + library.libid + " " + version,
              platform_.ReadClassesValue(ClassesHive::kClassesRoot, "TypeLib\\" + library.libid + "\\" + version +
                                                                        "\\" + Hex(library.lcid) + "\\win32"),
              false);
    } else {
        std::string code;
        AppendCode(code, library.error);
        check.details.push_back("no type library could be read from it (" + code +
                                "), so its classes were looked for by their file name");
        const std::string lowerName = AsciiLower(name);
        for (const NamedClass& named : ClassesByFileName()) {
            if (named.fileName != lowerName) continue;
            ++classes;
            weigh("class " + named.clsid, named.server, true);
            userToo(named.clsid);
        }
        if (classes == 0) {
            Find(check, Verdict::kNotRegistered, "not registered: no class names the file");
            return;
        }
    }

    if (!firstOther.empty()) {
        Find(check, Verdict::kOtherFile, "registered to another file: " + firstOther);
    } else if (unregisteredClasses > 0 || libraryUnregistered) {
        std::string what;
        if (unregisteredClasses > 0) {
            what = std::to_string(unregisteredClasses) + " of " + std::to_string(classes) +
                   (classes == 1 ? " class" : " classes");
        }
        if (libraryUnregistered) what += what.empty() ? "the type library" : ", the type library";
        Find(check, Verdict::kNotRegistered, "not registered: " + what);
    }
}

}  // namespace tarnwick
