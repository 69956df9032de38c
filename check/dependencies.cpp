// The search for a component's dependencies, breadth first through every
// level of imports.
#include "check/dependencies.h"

#include <algorithm>

#include "installer/ascii.h"
#include "installer/installer.h"

namespace tarnwick {
namespace {

// Far more files than any real chain of imports, through every folder of
// PATH, makes the walk look for; it looks for no more, so no set of files
// and no PATH can keep it going.
constexpr std::size_t kMaxLookups = 4096;

}  // namespace

std::string ImportProblem(const ImportQuery& imports) {
    if (imports.result != FileResult::kOk) return AsciiLower(ErrorDescription(imports.result));
    return imports.readable ? std::string() : imports.why;
}

std::string DllList(const std::vector<DllFinding>& dlls) {
    std::string text;
    for (const DllFinding& dll : dlls) {
        if (!text.empty()) text += ", ";
        text += dll.name;
        std::string about = dll.neededBy.empty() ? std::string() : "needed by " + dll.neededBy;
        if (!dll.why.empty()) about += (about.empty() ? "" : "; ") + dll.why;
        if (!about.empty()) text += " (" + about + ")";
    }
    return text;
}

bool IsApiSet(std::string_view name) {
    const std::string lower = AsciiLower(name);
    return lower.starts_with("api-ms-win-") || lower.starts_with("ext-ms-");
}

DependencyWalker::DependencyWalker(PlatformServices& platform, const std::string& systemDirectory)
    : platform_(platform) {
    if (!systemDirectory.empty()) folders_.push_back(systemDirectory);
    const std::string windows = platform.WindowsDirectory();
    if (!windows.empty()) folders_.push_back(windows);
    const std::string path = platform.EnvironmentVariable("PATH");
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(';', start);
        if (end == std::string::npos) end = path.size();
        std::string folder = Unquoted(std::string_view(path).substr(start, end - start));
        if (!folder.empty()) folders_.push_back(std::move(folder));
        start = end + 1;
    }
}

const DependencyWalker::Found& DependencyWalker::Locate(const std::string& name) {
    std::string key = AsciiLower(name);
    for (const auto& [known, where] : located_) {
        if (known == key) return where;
    }
    Found found;
    // A name with a folder in it is looked for there alone.
    std::vector<std::string> places;
    if (name.find_first_of("\\/") != std::string::npos) {
        places.push_back(name);
    } else {
        for (const std::string& folder : folders_) places.push_back(JoinPath(folder, name));
    }
    for (const std::string& path : places) {
        if (lookups_ >= kMaxLookups) {
            found.where = Found::Where::kNotLookedFor;
            break;
        }
        ++lookups_;
        ImportQuery imports = platform_.GetImports(path);
        if (imports.result == FileResult::kFileNotFound || imports.result == FileResult::kPathNotFound) continue;
        // The first file for another processor stands until a later one can be loaded.
        const bool passedOver = imports.result == FileResult::kOk && imports.otherMachine;
        if (found.where == Found::Where::kNowhere || !passedOver) {
            found.where = Found::Where::kFound;
            found.path = path;
            found.imports = std::move(imports);
        }
        if (!passedOver) break;
    }
    return located_.emplace_back(std::move(key), std::move(found)).second;
}

DependencyReport DependencyWalker::Check(const ImportQuery& imports) {
    DependencyReport report;
    struct Pending {
        std::string name;
        std::string neededBy;
    };
    // Breadth first: the queue is walked in order as it grows.
    std::vector<Pending> queue;
    for (const std::string& name : imports.imports) queue.push_back({name, {}});
    std::vector<std::string> seen;  // in this walk, by lower-case name
    for (std::size_t at = 0; at < queue.size(); ++at) {
        const Pending next = queue[at];
        if (IsApiSet(next.name)) continue;
        std::string lower = AsciiLower(next.name);
        if (std::find(seen.begin(), seen.end(), lower) != seen.end()) continue;
        seen.push_back(std::move(lower));
        const Found& found = Locate(next.name);
        if (found.where == Found::Where::kNowhere) {
            report.missing.push_back({next.name, next.neededBy, {}});
            continue;
        }
        if (found.where == Found::Where::kNotLookedFor) {
            report.notChecked.push_back({next.name, next.neededBy, {}});
            continue;
        }
        const ImportQuery& dll = found.imports;
        if (dll.result != FileResult::kOk || !dll.readable) {
            report.unreadable.push_back({found.path, next.neededBy, ImportProblem(dll)});
            continue;
        }
        for (const std::string& name : dll.imports) queue.push_back({name, next.name});
    }
    for (const std::string& name : imports.delayed) {
        if (IsApiSet(name)) continue;
        switch (Locate(name).where) {
            case Found::Where::kNowhere: report.missingDelayed.push_back(name); break;
            case Found::Where::kNotLookedFor: report.notChecked.push_back({name, {}, {}}); break;
            case Found::Where::kFound: break;
        }
    }
    return report;
}

std::string MissingDllReason(PlatformServices& platform, const std::string& systemDirectory,
                             const std::string& path) {
    const ImportQuery imports = platform.GetImports(path);
    if (imports.result != FileResult::kOk || !imports.readable) return {};
    DependencyWalker walker(platform, systemDirectory);
    const DependencyReport report = walker.Check(imports);
    std::string reason;
    if (!report.missing.empty()) {
        reason = "it needs " + DllList(report.missing) +
                 (report.missing.size() == 1 ? ", which was not found" : ", which were not found");
    }
    if (!report.unreadable.empty()) {
        if (!reason.empty()) reason += "; ";
        reason += (report.unreadable.size() == 1 ? "a DLL it needs is unreadable: " : "DLLs it needs are unreadable: ") +
                  DllList(report.unreadable);
    }
    return reason;
}

}  // namespace tarnwick
