// Whether the DLLs a component imports can be found where the system's loader
// looks for them, all the way down: a DLL missing two levels below fails the
// load as surely as one the component names itself. Read from the files'
// bytes only; nothing is loaded.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform_services.h"

namespace tarnwick {

// A DLL the walk tells of.
struct DllFinding {
    std::string name;      // as the importing file spells it; where the loader finds it, for one it cannot load
    std::string neededBy;  // the DLL that imports it; empty for the component itself
    std::string why;       // for one the loader cannot load: what is wrong with it
};

struct DependencyReport {
    std::vector<DllFinding> missing;          // imports the loader would not find
    std::vector<DllFinding> unreadable;       // imports the loader finds but cannot load
    std::vector<std::string> missingDelayed;  // the component's own imports on first use, not found
    // Imports, at any depth and on first use, not looked for: the walk had
    // used up its lookups. Neither found nor missing.
    std::vector<DllFinding> notChecked;
};

// Why `imports` holds no names: the file could not be read ("permission
// denied"), or it is no 32-bit program (the reader's words). Empty when it
// was read.
std::string ImportProblem(const ImportQuery& imports);

// "A.DLL, B.DLL (needed by C.DLL), C:\DIR\D.DLL (needed by E.DLL; why)".
std::string DllList(const std::vector<DllFinding>& dlls);

// Whether `name` is an API set (api-ms-win-..., ext-ms-...), which the system
// resolves without a file of that name.
bool IsApiSet(std::string_view name);

// Why the file at `path` (in `systemDirectory`) cannot be loaded, when a DLL
// it needs is missing ("it needs X.DLL, which was not found") or is there but
// cannot be loaded ("a DLL it needs is unreadable: C:\DIR\X.DLL (why)");
// empty when its imports show neither, or cannot be read.
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
        enum class Where { kNowhere, kFound, kNotLookedFor };
        Where where = Where::kNowhere;
        std::string path;     // with kFound: where
        ImportQuery imports;  // with kFound: what the file found imports
    };
    // The DLL `name` where the loader finds it, with its imports; looked up
    // once. Reading a file's imports is also what tells whether it is there.
    // A file for another processor is passed over, as the loader passes it
    // over; found nowhere else, it is the one found.
    const Found& Locate(const std::string& name);

    PlatformServices& platform_;
    std::vector<std::string> folders_;
    // By lower-case name, in the order looked up: a walk asks for tens of
    // DLLs, not thousands. What Locate returns lasts until its next call.
    std::vector<std::pair<std::string, Found>> located_;
    std::size_t lookups_ = 0;
};

}  // namespace tarnwick
