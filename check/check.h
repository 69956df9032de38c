// The check: why a component may be "not correctly registered". For each
// installed component it reads, and never changes, the file, the DLLs it
// imports, the registry's classes and type library, and the copy beside the
// program, and gives the first verdict that applies.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check/dependencies.h"
#include "installer/install_state.h"
#include "platform/platform_services.h"

namespace tarnwick {

struct ComponentCheck {
    // In the order they are decided: the first that applies is the verdict.
    enum class Verdict {
        kWaiting,  // a replacement waits for Windows to restart
        kMissing,
        kUnreadable,
        kMissingDependency,
        kUnreadableDependency,  // an import is there but cannot be loaded
        kOtherFile,       // a class or the type library is registered to another file
        kNotRegistered,   // some of them are not registered at all
        kOlder,           // older than the copy beside the program
        kOk,
    };
    Verdict verdict = Verdict::kOk;
    std::string finding;               // the line after "NAME: "
    std::vector<std::string> details;  // each detail line, without its indent
};

// The line `name`'s check gives, with its detail lines, CR LF after each.
std::string CheckLines(std::string_view name, const ComponentCheck& check);

// The closing line: how many are ok, and what to do about the others.
std::string CheckClosing(const std::array<ComponentCheck, kComponentCount>& checks);

class Checker {
public:
    // `systemDirectory` without a trailing separator; empty when unknown.
    Checker(PlatformServices& platform, std::string systemDirectory);

    ComponentCheck Check(std::string_view name);

    // Reads now what the check of `name` needs of the files alone: the
    // installed file, the DLLs it imports, its type library, the copy beside
    // the program. Registering changes none of them, so an install reads them
    // while its registrations go on, and only the registry is left for after.
    void ReadFiles(std::string_view name);

    // The nine, in table order.
    std::array<ComponentCheck, kComponentCount> CheckAll();

private:
    // What the check reads of the files, as far as it gets: each read only
    // if the one before it succeeded.
    struct FileFacts {
        std::string installed;  // the path
        FileIdentity self;
        std::optional<FileVersionQuery> version;
        std::optional<ImportQuery> imports;
        DependencyReport dependencies;
        TypeLibraryQuery library;
        FileVersionQuery beside;  // the copy beside the program
    };
    // `name`'s file facts, read once.
    const FileFacts& Files(std::string_view name);

    // The file that the restart of Windows puts in the place of the
    // component `name` (a pending rename names it), if it is there to be
    // put: as recorded in `from`, as this program names it in `to`.
    std::optional<PendingRename> WaitingReplacement(std::string_view name);

    // Adds to `check` what the registry says of the installed file `name`,
    // which is the file `self` with the type library `library`.
    void CheckRegistration(const FileIdentity& self, const TypeLibraryQuery& library, std::string_view name,
                           ComponentCheck& check);

    struct NamedClass {
        std::string clsid;
        std::string fileName;  // lower case
        RegistryString server;
    };
    // The classes whose server has the file name of a component, read from
    // the registry once (it may list thousands of classes) for all nine.
    const std::vector<NamedClass>& ClassesByFileName();
    // What `path` names, asked once per spelling: a component's classes and
    // its type library usually all name one path.
    FileIdentity Identify(const std::string& path);

    PlatformServices& platform_;
    std::string systemDirectory_;
    DependencyWalker walker_;
    std::optional<std::vector<NamedClass>> classesByFileName_;
    std::vector<std::pair<std::string, FileIdentity>> identities_;  // by lower-case path
    std::array<std::optional<FileFacts>, kComponentCount> files_;  // by index in the table
    // What waits for the restart, and the real folder of the system files it
    // names them by: read once, when first needed.
    std::optional<std::vector<PendingRename>> pending_;
    std::string realFolder_;
};

}  // namespace tarnwick
