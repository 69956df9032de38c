// PlatformServices on Windows: the file system, the shell and version
// resources through the W functions; the window operations go to the main
// window once it is attached.
#pragma once

#include <windows.h>

#include "platform/platform_services.h"
#include "platform/windows/handles.h"

namespace tarnwick::win {

class MainWindow;

// The words the user is told for a Win32 error code from a file operation.
FileResult FileResultFromError(DWORD error);

class WindowsPlatform final : public PlatformServices {
public:
    // `window` is not owned; pass nullptr when it is destroyed.
    void AttachWindow(MainWindow* window) { window_ = window; }

    std::string SystemDirectory() override;
    bool StartProgram(const std::string& program, const std::string& parameters,
                      const std::string& workingDirectory) override;
    FileResult CopyFileTo(const std::string& source, const std::string& destination) override;
    FileVersionQuery GetFileVersion(const std::string& path) override;
    std::string AppFolder() override;
    AppVersion AppVersionNumbers() override;
    void DoEvents() override;
    void ShowMessage(const std::string& text, MessageBoxStyle style,
                     const std::string& title) override;

    void AddProgressItem(const std::string& item) override;
    void SetProgressText(const std::string& text) override;
    void SetNoteText(const std::string& text) override;
    void SetCaption(const std::string& text) override;
    void ShowForm() override;
    void HideForm() override;

private:
    MainWindow* window_ = nullptr;
};

}  // namespace tarnwick::win
