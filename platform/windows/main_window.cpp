// frmMain as a Win32 window. Layout, fonts and texts come from the form's data;
// every user action that leaves the window goes to frmMain::RequestUnload.
#include "platform/windows/main_window.h"

#include <cmath>
#include <cwchar>

#include "platform/windows/unicode.h"
#include "ui/form_layout.h"

namespace tarnwick::win {
namespace {

constexpr wchar_t kWindowClass[] = L"TarnwickMainWindow";
constexpr int kIconId = 1;
constexpr int kFirstControlId = 100;
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kFrameExStyle = WS_EX_CONTROLPARENT;  // lets Tab and mnemonics reach the controls
constexpr LONG kSmallestNoteFont = 6;                 // pixels

int ControlId(ControlIndex index) { return kFirstControlId + index; }

struct ControlClass {
    const wchar_t* name;
    DWORD style;
    DWORD exStyle;
};

ControlClass ClassFor(ControlKind kind) {
    switch (kind) {
        case ControlKind::kListBox:
            return {L"LISTBOX", WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY, WS_EX_CLIENTEDGE};
        case ControlKind::kButton: return {L"BUTTON", BS_PUSHBUTTON, 0};
        case ControlKind::kTextBox: return {L"EDIT", ES_READONLY | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
        case ControlKind::kLabel: break;
    }
    return {L"STATIC", SS_LEFT | SS_NOPREFIX, 0};
}

// CreateWindowExW's arguments by name.
struct WindowArgs {
    DWORD exStyle = 0;
    const wchar_t* className = nullptr;
    const wchar_t* text = L"";
    DWORD style = 0;
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT, width = CW_USEDEFAULT, height = CW_USEDEFAULT;
    HWND parent = nullptr;  // not owned
    int id = 0;             // a child's control ID
    HINSTANCE instance = nullptr;
    void* param = nullptr;  // handed to WM_NCCREATE
};

HWND CreateWindowFrom(const WindowArgs& args) {
    return ::CreateWindowExW(args.exStyle, args.className, args.text, args.style, args.x, args.y,
                             args.width, args.height, args.parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(args.id)), args.instance,
                             args.param);
}

HWND CreateControl(HWND parent, ControlIndex index, int dpi, HFONT font) {
    const ControlSpec& control = kControls[index];
    const ControlClass type = ClassFor(control.kind);
    const std::wstring text = Widen(control.text);
    HWND window = CreateWindowFrom({
        .exStyle = type.exStyle,
        .className = type.name,
        .text = text.c_str(),
        .style = WS_CHILD | WS_VISIBLE | type.style | (control.tabStop ? WS_TABSTOP : 0),
        .x = TwipsToPixels(control.left, dpi),
        .y = TwipsToPixels(control.top, dpi),
        .width = TwipsToPixels(control.width, dpi),
        .height = TwipsToPixels(control.height, dpi),
        .parent = parent,
        .id = ControlId(index),
        .instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
    });
    if (window) ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return window;
}

// The system's message font (what dialogs use), at the system DPI.
LOGFONTW SystemUiFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        return metrics.lfMessageFont;
    }
    LOGFONTW font{};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    return font;
}

UniqueFont MakeFont(const FontSpec& wanted, int dpi) {
    if (wanted.face.empty()) {
        const LOGFONTW system = SystemUiFont();
        return UniqueFont(::CreateFontIndirectW(&system));
    }
    LOGFONTW font{};
    font.lfHeight = -static_cast<LONG>(std::lround(wanted.points * dpi / 72.0));
    font.lfWeight = wanted.bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = wanted.fixedPitch ? FIXED_PITCH | FF_MODERN : DEFAULT_PITCH;
    const std::wstring face = Widen(wanted.face);
    std::wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    return UniqueFont(::CreateFontIndirectW(&font));
}

int ScreenDpi() {
    UniqueScreenDc screen(::GetDC(nullptr));
    return screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
}

}  // namespace

bool MainWindow::Create(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(::LoadImageW(
        instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
        ::GetSystemMetrics(SM_CYICON), LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(::LoadImageW(
        instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
        ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&windowClass)) return false;

    dpi_ = ScreenDpi();
    RECT frame{0, 0, TwipsToPixels(kClientWidthTwips, dpi_), TwipsToPixels(kClientHeightTwips, dpi_)};
    ::AdjustWindowRectEx(&frame, kFrameStyle, FALSE, kFrameExStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);

    const std::wstring caption = Widen(kDesignCaption);
    return CreateWindowFrom({
               .exStyle = kFrameExStyle,
               .className = kWindowClass,
               .text = caption.c_str(),
               .style = kFrameStyle,
               .x = work.left + (work.right - work.left - width) / 2,  // centred
               .y = work.top + (work.bottom - work.top - height) / 2,
               .width = width,
               .height = height,
               .instance = instance,
               .param = this,
           }) != nullptr;
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_.reset(hwnd);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        (void)self->window_.release();  // already being destroyed
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    try {
        return self->HandleMessage(hwnd, message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's code that called us.
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT MainWindow::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: return OnCreate() ? 0 : -1;
        case WM_ACTIVATE:
            OnActivate(LOWORD(wParam) != WA_INACTIVE, HIWORD(wParam) != 0);
            return 0;
        case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
        case WM_CLOSE: OnClose(); return 0;
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSTATIC:
            if (HBRUSH brush = OnControlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam))) {
                return reinterpret_cast<LRESULT>(brush);
            }
            break;
        case WM_DESTROY: OnDestroy(); return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

bool MainWindow::OnCreate() {
    CreateFonts();
    list_ = CreateControl(hwnd(), kListIndex, dpi_, listFont_.get());
    exit_ = CreateControl(hwnd(), kExitIndex, dpi_, uiFont_.get());
    bar_ = CreateControl(hwnd(), kBarIndex, dpi_, barFont_.get());
    note_ = CreateControl(hwnd(), kLabelIndex, dpi_, uiFont_.get());
    created_ = list_ && exit_ && bar_ && note_;
    return created_;
}

// A window that is not a dialog forgets which control had the focus when it
// is deactivated (by the registration tool's pop-ups, say); without this,
// Enter and Space would do nothing until the user pressed Tab.
void MainWindow::OnActivate(bool active, bool minimized) {
    if (!active) {
        HWND focus = ::GetFocus();  // not owned
        if (focus && ::IsChild(hwnd(), focus)) focus_ = focus;
    } else if (!minimized) {
        ::SetFocus(focus_ ? focus_ : list_);
    }
}

void MainWindow::CreateFonts() {
    listFont_ = MakeFont(kControls[kListIndex].font, dpi_);
    barFont_ = MakeFont(kControls[kBarIndex].font, dpi_);
    uiFont_ = MakeFont(kControls[kExitIndex].font, dpi_);
}

void MainWindow::OnCommand(int id, int code) {
    const bool exitClicked = id == ControlId(kExitIndex) && code == BN_CLICKED;
    // Enter reaches a window that is not a dialog as IDOK; it means Exit only
    // while the button has the focus.
    const bool enterOnExit = id == IDOK && ::GetFocus() == exit_;
    if (exitClicked || enterOnExit) OnClose();
}

void MainWindow::OnClose() {
    // While the install runs this only takes note; frmMain::Load then runs the
    // closing report and its caller destroys the window.
    if (form_.RequestUnload()) Destroy();
}

HBRUSH MainWindow::OnControlColor(HDC dc, HWND control) {
    if (control == list_) {
        ::SetTextColor(dc, RGB(0, 0, 0));
        ::SetBkColor(dc, RGB(255, 255, 255));
        return static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    }
    if (control == bar_) {
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        return ::GetSysColorBrush(COLOR_BTNFACE);
    }
    return nullptr;
}

void MainWindow::OnDestroy() {
    list_ = exit_ = bar_ = note_ = focus_ = nullptr;
    // A window that failed to be created must not end the message loop of
    // the box that reports it.
    if (created_) ::PostQuitMessage(0);
}

void MainWindow::AddListItem(const std::wstring& item) {
    if (list_) ::SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void MainWindow::ReplaceListItem(int index, const std::wstring& item) {
    if (!list_ || index < 0 || index >= ::SendMessageW(list_, LB_GETCOUNT, 0, 0)) return;
    // Keep the selection and scroll position as the user left them.
    const LRESULT selected = ::SendMessageW(list_, LB_GETCURSEL, 0, 0);
    const LRESULT top = ::SendMessageW(list_, LB_GETTOPINDEX, 0, 0);
    ::SendMessageW(list_, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    ::SendMessageW(list_, LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item.c_str()));
    if (selected != LB_ERR) ::SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    ::SendMessageW(list_, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
}

void MainWindow::SetBarText(const std::wstring& text) {
    if (bar_) ::SetWindowTextW(bar_, text.c_str());
}

void MainWindow::SetNoteText(const std::wstring& text) {
    if (!note_) return;
    FitNoteFont(text);
    ::SetWindowTextW(note_, text.c_str());
}

void MainWindow::SetCaption(const std::wstring& text) {
    if (hwnd()) ::SetWindowTextW(hwnd(), text.c_str());
}

void MainWindow::Show() {
    if (!hwnd()) return;
    ::ShowWindow(hwnd(), SW_SHOW);
    ::UpdateWindow(hwnd());
    ::SetFocus(list_);
}

void MainWindow::Hide() {
    if (hwnd()) ::ShowWindow(hwnd(), SW_HIDE);
}

// The note must be read whole: start from the system's font and make it
// smaller until the wrapped text fits the label.
void MainWindow::FitNoteFont(const std::wstring& text) {
    const ControlSpec& label = kControls[kLabelIndex];
    const int width = TwipsToPixels(label.width, dpi_);
    const int height = TwipsToPixels(label.height, dpi_);
    UniqueScreenDc dc(::GetDC(nullptr));
    if (!dc) return;

    LOGFONTW font = SystemUiFont();
    LONG size = std::labs(font.lfHeight);
    for (;;) {
        font.lfHeight = -size;
        UniqueFont candidate(::CreateFontIndirectW(&font));
        if (!candidate) return;
        const HGDIOBJ previous = ::SelectObject(dc.get(), candidate.get());
        RECT bounds{0, 0, width, 0};
        ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &bounds,
                    DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        ::SelectObject(dc.get(), previous);
        if (bounds.bottom <= height || size <= kSmallestNoteFont) {
            // The label lets go of the old font before it is deleted.
            ::SendMessageW(note_, WM_SETFONT, reinterpret_cast<WPARAM>(candidate.get()), TRUE);
            noteFont_ = std::move(candidate);
            return;
        }
        --size;
    }
}

}  // namespace tarnwick::win
