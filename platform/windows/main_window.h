// frmMain as a Win32 window: one window class, built from the form's layout
// data, forwarding its events to the portable frmMain.
#pragma once

#include <windows.h>

#include <string>

#include "platform/windows/handles.h"
#include "ui/main_form.h"

namespace tarnwick::win {

class MainWindow {
public:
    explicit MainWindow(frmMain& form) : form_(form) {}
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window, hidden, centred on the screen. False on failure.
    bool Create(HINSTANCE instance);
    void Destroy() { window_.reset(); }
    HWND hwnd() const { return window_.get(); }

    void AddListItem(const std::wstring& item);
    // Replaces the list's item at `index` in place; nothing if there is none.
    void ReplaceListItem(int index, const std::wstring& item);
    void SetBarText(const std::wstring& text);
    void SetNoteText(const std::wstring& text);
    void SetCaption(const std::wstring& text);
    void Show();
    void Hide();

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    bool OnCreate();
    void OnActivate(bool active, bool minimized);
    void OnCommand(int id, int code);
    void OnClose();
    HBRUSH OnControlColor(HDC dc, HWND control);
    void OnDestroy();

    void OnSetFocus(HWND previous);
    void RestoreFocus();
    // Each control's font is the largest size of the requested one that lets
    // its whole text show; the control keeps using it until replaced.
    void SetFittedFont(HWND control, UniqueFont& owner, UniqueFont font);
    void FitBarFont();
    void FitExitFont();
    void FitNoteFont(const std::wstring& text);

    frmMain& form_;
    int dpi_ = 96;
    UniqueFont listFont_, barFont_, exitFont_, noteFont_;
    bool created_ = false;
    // Child windows, owned and destroyed by the main window.
    HWND list_ = nullptr, exit_ = nullptr, bar_ = nullptr, note_ = nullptr;
    HWND focus_ = nullptr;  // the child that had the focus when the window was deactivated or minimised
    // Declared last so the window goes before the fonts its controls use.
    UniqueWindow window_;
};

}  // namespace tarnwick::win
