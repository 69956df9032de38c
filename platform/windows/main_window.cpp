// frmMain as a Win32 window. Layout, fonts and texts come from the form's data;
// every user action that leaves the window goes to frmMain::RequestUnload.
#include "platform/windows/main_window.h"

#include <algorithm>
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
constexpr LONG kSmallestFont = 6;                     // pixels, for fitted fonts

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

// The font the form asks for, at `dpi`.
LOGFONTW RequestedFont(const FontSpec& wanted, int dpi) {
    if (wanted.face.empty()) return SystemUiFont();
    LOGFONTW font{};
    font.lfHeight = -static_cast<LONG>(std::lround(wanted.points * dpi / 72.0));
    font.lfWeight = wanted.bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = wanted.fixedPitch ? FIXED_PITCH | FF_MODERN : DEFAULT_PITCH;
    const std::wstring face = Widen(wanted.face);
    std::wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    return font;
}

// The largest size of `font`, from its own down to kSmallestFont pixels, for
// which fits(dc, candidate) holds with the candidate selected into a screen
// DC; the smallest when none does. A substituted face (Wine has no "MS Sans
// Serif") or a large system font would otherwise spill out of its control.
template <typename Fits>
UniqueFont LargestFittingFont(LOGFONTW font, Fits fits) {
    UniqueScreenDc dc(::GetDC(nullptr));
    if (!dc) return UniqueFont(::CreateFontIndirectW(&font));
    for (LONG size = std::labs(font.lfHeight);; --size) {
        font.lfHeight = -size;
        UniqueFont candidate(::CreateFontIndirectW(&font));
        if (!candidate) return candidate;
        const HGDIOBJ previous = ::SelectObject(dc.get(), candidate.get());
        const bool fit = fits(dc.get(), candidate.get());
        ::SelectObject(dc.get(), previous);
        if (fit || size <= kSmallestFont) return candidate;
    }
}

// Rows a single line of `text` needs in the selected font, the mnemonic's
// underline included: DrawTextW draws it one pixel under the ascent, and the
// font's own underline may sit lower still.
int UnderlinedLineHeight(HDC dc) {
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    int height = std::max<int>(metrics.tmHeight, metrics.tmAscent + 2);
    OUTLINETEXTMETRICW outline{};
    outline.otmSize = sizeof outline;
    if (::GetOutlineTextMetricsW(dc, sizeof outline, &outline)) {
        height = std::max<int>(height, metrics.tmAscent - outline.otmsUnderscorePosition +
                                           static_cast<int>(outline.otmsUnderscoreSize));
    }
    return height;
}

// Where a window of `size` starts along one axis of the work area: centred
// when it fits, else at the work area's start, so that its caption and close
// box stay on screen.
int PlaceInWorkArea(LONG start, LONG end, int size) {
    const int room = static_cast<int>(end - start);
    return static_cast<int>(start) + (size <= room ? (room - size) / 2 : 0);
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
               .x = PlaceInWorkArea(work.left, work.right, width),
               .y = PlaceInWorkArea(work.top, work.bottom, height),
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
        case WM_SETFOCUS: OnSetFocus(reinterpret_cast<HWND>(wParam)); return 0;
        case WM_SIZE:
            if (wParam == SIZE_RESTORED && ::GetFocus() == hwnd) RestoreFocus();
            break;
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
    const LOGFONTW listFont = RequestedFont(kControls[kListIndex].font, dpi_);
    listFont_ = UniqueFont(::CreateFontIndirectW(&listFont));
    list_ = CreateControl(hwnd(), kListIndex, dpi_, listFont_.get());
    exit_ = CreateControl(hwnd(), kExitIndex, dpi_, nullptr);
    bar_ = CreateControl(hwnd(), kBarIndex, dpi_, nullptr);
    note_ = CreateControl(hwnd(), kLabelIndex, dpi_, nullptr);
    created_ = list_ && exit_ && bar_ && note_;
    if (!created_) return false;
    FitBarFont();
    FitExitFont();
    FitNoteFont(L"");
    return true;
}

// A window that is not a dialog forgets which control had the focus when it
// is deactivated (by the registration tool's pop-ups, say) or minimised;
// without this, Enter and Space would do nothing until the user pressed Tab.
void MainWindow::OnActivate(bool active, bool minimized) {
    if (!active) {
        HWND focus = ::GetFocus();  // not owned
        if (focus && ::IsChild(hwnd(), focus)) focus_ = focus;
    } else if (!minimized) {
        RestoreFocus();
    }
}

// Minimising moves the focus from the control to the frame itself, without a
// deactivation, and the frame keeps it while minimised; restoring then
// activates nothing, so the control is given the focus back when the window
// is its normal size again.
void MainWindow::OnSetFocus(HWND previous) {
    if (previous && ::IsChild(hwnd(), previous)) focus_ = previous;
    RestoreFocus();
}

void MainWindow::RestoreFocus() {
    if (!::IsIconic(hwnd())) ::SetFocus(focus_ ? focus_ : list_);
}

void MainWindow::SetFittedFont(HWND control, UniqueFont& owner, UniqueFont font) {
    // The control lets go of the old font before it is deleted; a null font
    // gives it the system's.
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    owner = std::move(font);
}

// All fifty strokes of the full bar must show: the requested font where they
// fit the edit box's formatting rectangle, else the largest size that fits.
// The rectangle's margins follow the font, so each candidate is tried in the
// box itself.
void MainWindow::FitBarFont() {
    const std::wstring full = Widen(kControls[kBarIndex].text);
    RECT client{};
    ::GetClientRect(bar_, &client);
    SetFittedFont(bar_, barFont_, LargestFittingFont(RequestedFont(kControls[kBarIndex].font, dpi_),
        [&](HDC dc, HFONT candidate) {
            ::SendMessageW(bar_, WM_SETFONT, reinterpret_cast<WPARAM>(candidate), FALSE);
            RECT format{};
            ::SendMessageW(bar_, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
            SIZE extent{};
            ::GetTextExtentPoint32W(dc, full.c_str(), static_cast<int>(full.size()), &extent);
            return extent.cx <= format.right - format.left && extent.cy <= client.bottom - client.top;
        }));
}

// The caption must fit inside the button's edge and focus rectangle, however
// large the system's message font ("Make text bigger").
void MainWindow::FitExitFont() {
    const std::wstring caption = Widen(kControls[kExitIndex].text);
    RECT inside{};
    ::GetClientRect(exit_, &inside);
    const int focusX = std::max(1, ::GetSystemMetrics(SM_CXFOCUSBORDER));
    const int focusY = std::max(1, ::GetSystemMetrics(SM_CYFOCUSBORDER));
    // The edge, the focus rectangle and a pixel between it and the text.
    ::InflateRect(&inside, -(::GetSystemMetrics(SM_CXEDGE) + focusX + 1),
                  -(::GetSystemMetrics(SM_CYEDGE) + focusY + 1));
    SetFittedFont(exit_, exitFont_, LargestFittingFont(RequestedFont(kControls[kExitIndex].font, dpi_),
        [&](HDC dc, HFONT) {
            RECT bounds{};
            ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &bounds,
                        DT_CALCRECT | DT_SINGLELINE);  // the & is measured away
            return bounds.right <= inside.right - inside.left &&
                   UnderlinedLineHeight(dc) <= inside.bottom - inside.top;
        }));
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

// The note must be read whole: the system's font where the wrapped text fits
// the label, else the largest size that fits.
void MainWindow::FitNoteFont(const std::wstring& text) {
    RECT label{};
    ::GetClientRect(note_, &label);
    SetFittedFont(note_, noteFont_, LargestFittingFont(RequestedFont(kControls[kLabelIndex].font, dpi_),
        [&](HDC dc, HFONT) {
            RECT bounds{0, 0, label.right, 0};
            ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
                        DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            return bounds.bottom <= label.bottom;
        }));
}

}  // namespace tarnwick::win
