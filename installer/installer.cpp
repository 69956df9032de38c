// The install run and its two component steps. Each step absorbs its own
// failures: a failure becomes one line in the result list, never an exception.
#include "installer/installer.h"

#include <cmath>
#include <cstdint>

namespace tarnwick {

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (path.empty() || path.back() != '\\') path += '\\';
    path += name;
    return path;
}

std::string ProgressBar(int done) {
    // The bar grows by 50/9 per component; rint rounds ties to even.
    const double length = std::rint(static_cast<double>(kBarLength) / kComponentCount * done);
    return std::string(static_cast<std::size_t>(length), '|');
}

std::string_view ErrorDescription(FileResult result) {
    switch (result) {
        case FileResult::kOk: return {};
        case FileResult::kFileNotFound: return "File not found";
        case FileResult::kPathNotFound: return "Path not found";
        case FileResult::kPermissionDenied: return "Permission denied";
        case FileResult::kAccessError: break;
    }
    return "Path/File access error";
}

bool KeepInstalled(const std::optional<FileVersion>& source,
                   const std::optional<FileVersion>& installed) {
    if (!installed) return false;
    return !source || *installed >= *source;
}

std::string Installer::GetSystemDir() {
    std::string dir = platform_.SystemDirectory();
    while (!dir.empty() && dir.back() == '\\') dir.pop_back();
    return dir;
}

FileResult Installer::PlaceComponent(const std::string& name) {
    // Without a system directory there is nowhere safe to write: joining an
    // empty folder would name the root of the current drive.
    if (state_.sysDir.empty()) return FileResult::kPathNotFound;

    // Nor without the program's folder: the name alone would be looked for
    // in the root of the current drive.
    const std::string folder = platform_.AppFolder();
    if (folder.empty()) return FileResult::kFileNotFound;
    const std::string source = JoinPath(folder, name);
    const std::string destination = JoinPath(state_.sysDir, name);

    const FileVersionQuery from = platform_.GetFileVersion(source);
    if (from.result != FileResult::kOk) return from.result;
    const FileVersionQuery installed = platform_.GetFileVersion(destination);
    if (installed.result == FileResult::kOk && KeepInstalled(from.version, installed.version)) {
        return FileResult::kOk;
    }
    return platform_.CopyFileTo(source, destination);
}

bool Installer::StepFailed(std::initializer_list<std::string_view> line) noexcept {
    try {
        std::string item;
        for (std::string_view part : line) item += part;
        platform_.AddProgressItem(item);
    } catch (...) {
        // The flag and the failure log still record the failure.
    }
    state_.anyErrors = true;
    return false;
}

bool Installer::CopyToSystem(const std::string& name) {
    FileResult result = FileResult::kAccessError;
    try {
        result = PlaceComponent(name);
    } catch (...) {
        // Reported as an access error, like any other unexpected failure.
    }
    return result == FileResult::kOk || StepFailed({name, ":", ErrorDescription(result)});
}

bool Installer::RegisterComponent(const std::string& name) {
    bool started = false;
    try {
        // By full path, so no copy of the tool in the program's folder or the
        // current directory can stand in for the system's own.
        started = !state_.sysDir.empty() &&
                  platform_.StartProgram(JoinPath(state_.sysDir, kRegistrationTool), name,
                                         state_.sysDir);
    } catch (...) {
    }
    return started || StepFailed({"Error registering \"", name, "\""});
}

void Installer::LogFailure(const std::string& name) {
    state_.dllFailed += kFailureLogPrefix;
    state_.dllFailed += name;
}

void Installer::InstallComponents(const std::function<bool()>& stopRequested) {
    for (std::int16_t i = 0; i < kComponentCount; ++i) {
        if (stopRequested && stopRequested()) {
            // Left before the end: what was not reached was not registered.
            for (; i < kComponentCount; ++i) LogFailure(state_.dllFiles[i]);
            state_.anyErrors = true;
            return;
        }
        const std::string& name = state_.dllFiles[i];
        bool ok = CopyToSystem(name);
        platform_.DoEvents();
        if (ok) ok = RegisterComponent(name);
        platform_.DoEvents();
        platform_.SetProgressText(ProgressBar(i + 1));
        if (ok) {
            platform_.AddProgressItem(name + std::string(kSuccessSuffix));
        } else {
            LogFailure(name);
        }
        platform_.DoEvents();
    }
}

}  // namespace tarnwick
