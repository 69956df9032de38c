// Whether the DLLs a component imports can be found where the system's loader
// looks for them, all the way down: a DLL missing two levels below fails the
// load as surely as one the component names itself. Read from the files'
// bytes only; nothing is loaded.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_services.h"

namespace tarnwick {

struct MissingDll {
    std::string name;      // as the importing file spells it
    std::string neededBy;  // the DLL that imports it; empty for the component itself
};

struct DependencyReport {
    std::vector<MissingDll> missing;        // imports the loader would not find
    std::vector<std::string> missingDelayed;  // the component's own imports on first use, not found
    std::vector<std::string> unreadable;    // DLLs found but not readable: "NAME (why)"
};

// Why `imports` holds no names: the file could not be read ("permission
// denied"), or it is no 32-bit program (the reader's words). Empty when it
// was read.
std::string ImportProblem(const ImportQuery& imports);

// "A.DLL, B.DLL (needed by C.DLL)".
std::string MissingDllList(const std::vector<MissingDll>& missing);

// Whether `name` is an API set (api-ms-win-..., ext-ms-...), which the system
// resolves without a file of that name.
bool IsApiSet(std::string_view name);

// Why the file at `path` (in `systemDirectory`) cannot be loaded, when a DLL
// it needs is missing: "it needs X.DLL, which was not found"; empty when its
// imports show nothing missing, or cannot be read.
std::string MissingDllReason(PlatformServices& platform, const std::string& systemDirectory,
                             const std::string& path);

// Searches as the loader does for a DLL loaded by its full path from the
// system directory: that folder, the Windows directory, then each folder of
// PATH. Each DLL is looked up and read once per walker, however many files
// import it, so cycles end and the nine components share the work.
class DependencyWalker {
public:
    DependencyWalker(PlatformServices& platform, const std::string& systemDirectory);

    // What of a component's imports (`imports`, as read from its file) the
    // loader would not find, at any depth.
    DependencyReport Check(const ImportQuery& imports);

private:
    struct Found {
        bool found = false;
        ImportQuery imports;  // with found: what the file found imports
    };
    // The DLL `name` where the loader finds it, with its imports; looked up
    // once. Reading a file's imports is also what tells whether it is there.
    const Found& Locate(const std::string& name);

    PlatformServices& platform_;
    std::vector<std::string> folders_;
    std::map<std::string, Found> located_;  // by lower-case name
    std::size_t lookups_ = 0;
};

}  // namespace tarnwick
