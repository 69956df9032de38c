// tarnwick-driver: drives the Tarnwick window from another process of the same
// Windows (or Wine) session, for the end-to-end tests. It reads the window, waits
// for the install run to finish, leaves the window the way a user would, answers
// the message boxes that follow, and records everything it saw in files that the
// test scripts compare byte for byte.
//
// Usage:
//   tarnwick-driver [--action exit|altx|close|enter|space|restore|none|boxes] [--timeout SECONDS]
//                   [--out DIR] [--shots DIR] [--items N] [--bar N] [--errors N]
//                   [--launch PROGRAM] [-- ARGUMENT...]
//
//   --action   how the window is left once the run is over (default exit):
//                exit   BM_CLICK posted to the Exit button
//                altx   Alt+X posted to the focused control, as the keyboard sends it
//                close  WM_SYSCOMMAND SC_CLOSE posted to the window (close box, Alt+F4)
//                enter  Tab until the Exit button has the focus, then Enter
//                space  Tab until the Exit button has the focus, then Space
//                restore  Tab until the Exit button has the focus, minimise the window
//                       and restore it (WM_SYSCOMMAND), then Enter to the focused control
//                none   only read the window and leave the program running
//                boxes  the program shows no window, only message boxes: answer them
//                       (with --launch only)
//   --timeout  bound of every single wait, in seconds (default 60; fractions allowed)
//   --out      folder (created if missing) for the result files below
//   --shots    folder (created if missing) for window.bmp, box1.bmp, box2.bmp, ...
//   --items    list count that means the run is over (default 9)
//   --bar      progress bar length that means the run is over (default 50)
//   --errors   and this many items starting "Error registering" (default: any number;
//              verdicts come in after the bar is full)
//   --launch   start PROGRAM instead of attaching to a window that is already up; it
//              gets every argument after a lone --, and the driver's current folder
//
// Result files, UTF-8 without BOM. Texts are exactly as read, nothing added (a box
// text keeps its CR LF); list files end every entry with LF; numbers and yes/no
// have no line end.
//   caption.txt label.txt bar.txt button.txt  the window once the run is over
//   items.txt                                 the list then, one item per line
//   first-bar.txt first-items.txt             the first state seen, if it could be read
//   fits.txt                                  whether the bar's characters, the button's
//                                             caption and the note show whole, and the
//                                             frame is on screen (see CheckFit)
//   focus-after-restore.txt                   with restore: what had the focus then
//   controls.txt                              "ListBox N\nEdit N\nStatic N\nButton N\n"
//   boxes.txt                                 how many message boxes came up
//   boxN-title.txt boxN-text.txt              each box's caption and message
//   boxN-buttons.txt                          each box's visible button texts
//   boxN-topmost.txt                          yes when the box stays in front of other windows
//   boxN-icon.txt                             the box's icon: information, warning, error,
//                                             question, none, or unknown
//   hidden-during-boxes.txt                   yes when the window was hidden under every box
//                                             (also yes when none came: see boxes.txt)
//   exit-code.txt                             the program's exit code, when it could be read
// The box files, hidden-during-boxes.txt and exit-code.txt are not written with
// --action none. Each file is written as soon as it is known, so a failed run
// leaves what was seen up to the failure.
// A readable summary goes to standard output.
//
// Exit code: 0 when every step finished within its time; 1 when a step failed or
// timed out (standard error says which and what was seen; a program the driver
// launched is then ended); 2 for a bad command line.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/windows/handles.h"

namespace {

using tarnwick::win::FileHandle;
using tarnwick::win::UniqueGdiObject;
using tarnwick::win::UniqueHandle;
using tarnwick::win::UniqueMemoryDc;
using tarnwick::win::UniqueScreenDc;

constexpr std::wstring_view kCaptionPrefix = L"Tarnwick  v";
constexpr std::wstring_view kBoxClass = L"#32770";
constexpr double kDefaultTimeoutSeconds = 60;
constexpr int kDefaultItems = 9;
constexpr int kDefaultBarLength = 50;
constexpr UINT kMessageTimeoutMs = 2000;
constexpr DWORD kPollMs = 50;
// The final state must hold this long, so that a note set just after the last
// item is not missed.
constexpr DWORD kSettleMs = 300;
// A window that has just come up gets this long to paint before it is captured.
constexpr DWORD kPaintMs = 300;
constexpr int kMaxBoxes = 8;
constexpr int kMaxTabs = 8;
constexpr int kExitStepFailed = 1;
constexpr int kExitUsage = 2;

// --- Small RAII owners --------------------------------------------------------

// An object stays selected into a DC for this object's lifetime; it must end
// before the object is deleted.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() {
        if (previous_) SelectObject(dc_, previous_);
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

class Deadline {
public:
    explicit Deadline(DWORD milliseconds) : end_(GetTickCount64() + milliseconds) {}
    bool Passed() const { return GetTickCount64() >= end_; }

private:
    ULONGLONG end_;
};

// --- Text -----------------------------------------------------------------------

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

// WriteFile rather than a C stream: the bytes stay exactly UTF-8 whether the
// handle is a file, a pipe or (with the code page set in wmain) a console.
void WriteStd(DWORD which, std::string_view bytes) {
    const HANDLE handle = GetStdHandle(which);
    if (!handle || handle == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Say(std::wstring_view line) { WriteStd(STD_OUTPUT_HANDLE, Utf8(line) + "\n"); }

std::wstring Hex(std::uintptr_t value) {
    wchar_t text[32];
    swprintf(text, 32, L"0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::wstring Seconds(ULONGLONG milliseconds) {
    wchar_t text[32];
    swprintf(text, 32, L"%.2f s", static_cast<double>(milliseconds) / 1000.0);
    return text;
}

bool SameText(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256];
    const int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? static_cast<size_t>(length) : 0);
}

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteArgument(std::wstring_view argument) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// --- Files ----------------------------------------------------------------------

bool WriteWholeFile(const std::wstring& path, const void* data, size_t size) {
    UniqueHandle file = FileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) &&
           written == size;
}

bool EnsureFolder(const std::wstring& folder) {
    return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::wstring JoinPath(const std::wstring& folder, std::wstring_view name) {
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    return path.append(name);
}

// A copy of part of the screen, 24-bit, bottom-up as BMP files store rows.
// The screen is copied rather than a window printed: WM_PRINT cannot carry a
// DC to another process.
struct ScreenCopy {
    int width = 0;
    int height = 0;
    DWORD stride = 0;
    std::string bits;

    // Red, green and blue of the pixel at (x, y), top-down.
    const unsigned char* At(int x, int y) const {
        return reinterpret_cast<const unsigned char*>(bits.data()) +
               static_cast<DWORD>(height - 1 - y) * stride + static_cast<DWORD>(x) * 3;
    }
};

// A 24-bit top-down copy of `width` by `height` pixels of what `paint` draws
// into a memory DC compatible with the screen (given the screen's DC too).
template <typename Paint>
std::optional<ScreenCopy> PaintedCopy(int width, int height, Paint paint) {
    ScreenCopy copy;
    copy.width = width;
    copy.height = height;
    if (width <= 0 || height <= 0) return std::nullopt;
    UniqueScreenDc screen(GetDC(nullptr));
    UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueGdiObject bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!screen.get() || !memory.get() || !bitmap.get() || !bits) return std::nullopt;
    {
        Selection selected(memory.get(), bitmap.get());
        if (!paint(memory.get(), screen.get())) return std::nullopt;
    }
    GdiFlush();
    copy.stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    copy.bits.assign(static_cast<const char*>(bits), copy.stride * static_cast<DWORD>(height));
    return copy;
}

std::optional<ScreenCopy> CopyScreen(const RECT& rect) {
    return PaintedCopy(rect.right - rect.left, rect.bottom - rect.top, [&rect](HDC memory, HDC screen) {
        return BitBlt(memory, 0, 0, rect.right - rect.left, rect.bottom - rect.top, screen, rect.left, rect.top,
                      SRCCOPY | CAPTUREBLT) != FALSE;
    });
}

// Saves the screen area under `window` as a 24-bit BMP.
bool SaveScreenshot(HWND window, const std::wstring& path) {
    RECT rect{};
    if (!GetWindowRect(window, &rect)) return false;
    const auto copy = CopyScreen(rect);
    if (!copy) return false;

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = copy->width;
    info.biHeight = copy->height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(copy->bits.size());
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    header.bfSize = header.bfOffBits + info.biSizeImage;

    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    bytes += copy->bits;
    return WriteWholeFile(path, bytes.data(), bytes.size());
}

// --- Reading another process's windows -------------------------------------------
// Only the W messages: the system converts their text across processes whole,
// while ANSI reads from another process come back cut.

std::optional<LRESULT> Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &result))
        return std::nullopt;
    return static_cast<LRESULT>(result);
}

std::optional<std::wstring> ReadText(HWND window) {
    const auto length = Send(window, WM_GETTEXTLENGTH, 0, 0);
    if (!length || *length < 0) return std::nullopt;
    // The text may grow between the two messages; a copy that fills the buffer
    // may be cut, so it is taken again with more room.
    size_t capacity = static_cast<size_t>(*length) + 16;
    for (int attempt = 0; attempt < 4; ++attempt, capacity *= 2) {
        std::wstring text(capacity, L'\0');
        const auto copied =
            Send(window, WM_GETTEXT, capacity, reinterpret_cast<LPARAM>(text.data()));
        if (!copied || *copied < 0) return std::nullopt;
        if (static_cast<size_t>(*copied) + 1 < capacity) {
            text.resize(static_cast<size_t>(*copied));
            return text;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::wstring>> ReadItems(HWND list) {
    const auto count = Send(list, LB_GETCOUNT, 0, 0);
    if (!count || *count < 0) return std::nullopt;
    std::vector<std::wstring> items;
    for (LRESULT index = 0; index < *count; ++index) {
        const auto length = Send(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
        if (!length || *length < 0) return std::nullopt;
        std::wstring item(static_cast<size_t>(*length) + 1, L'\0');
        const auto copied = Send(list, LB_GETTEXT, static_cast<WPARAM>(index),
                                 reinterpret_cast<LPARAM>(item.data()));
        if (!copied || *copied < 0 || *copied > *length) return std::nullopt;
        item.resize(static_cast<size_t>(*copied));
        items.push_back(std::move(item));
    }
    return items;
}

struct Controls {
    HWND list = nullptr;
    HWND bar = nullptr;
    HWND note = nullptr;
    HWND button = nullptr;
    int lists = 0;
    int edits = 0;
    int statics = 0;
    int buttons = 0;
};

struct ControlSearch {
    HWND parent;
    Controls found;
};

BOOL CALLBACK CollectControl(HWND child, LPARAM param) {
    auto& search = *reinterpret_cast<ControlSearch*>(param);
    if (GetAncestor(child, GA_PARENT) != search.parent) return TRUE;
    const std::wstring name = ClassOf(child);
    auto take = [&](HWND& slot, int& count) {
        if (count++ == 0) slot = child;
    };
    if (SameText(name, L"ListBox")) take(search.found.list, search.found.lists);
    else if (SameText(name, L"Edit")) take(search.found.bar, search.found.edits);
    else if (SameText(name, L"Static")) take(search.found.note, search.found.statics);
    else if (SameText(name, L"Button")) take(search.found.button, search.found.buttons);
    return TRUE;
}

Controls FindControls(HWND main) {
    ControlSearch search{main, {}};
    EnumChildWindows(main, CollectControl, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct WindowState {
    std::wstring caption;
    std::wstring label;
    std::wstring bar;
    std::wstring button;
    std::vector<std::wstring> items;
    bool operator==(const WindowState&) const = default;
};

std::optional<WindowState> ReadState(HWND main, const Controls& controls) {
    auto caption = ReadText(main);
    auto label = ReadText(controls.note);
    auto bar = ReadText(controls.bar);
    auto button = ReadText(controls.button);
    auto items = ReadItems(controls.list);
    if (!caption || !label || !bar || !button || !items) return std::nullopt;
    return WindowState{std::move(*caption), std::move(*label), std::move(*bar),
                       std::move(*button), std::move(*items)};
}

// --- Whether every text shows whole ---------------------------------------------
// The program's fonts cannot be looked at from here: a font handle means
// nothing in another process. So what shows is judged from the positions the
// edit box reports and from the pixels on the screen.

// How many of the bar's characters lie wholly inside its formatting rectangle,
// going by the positions the edit box itself gives them (the last one is as
// wide as the one before it: the bar is one repeated character).
std::optional<int> CharactersInside(HWND edit, size_t length, RECT& format) {
    if (length < 2 || !Send(edit, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format))) return std::nullopt;
    std::vector<int> x;
    for (size_t i = 0; i < length; ++i) {
        const auto position = Send(edit, EM_POSFROMCHAR, i, 0);
        if (!position || *position == -1) return std::nullopt;
        x.push_back(static_cast<short>(LOWORD(*position)));
    }
    x.push_back(x[length - 1] + (x[length - 1] - x[length - 2]));
    int inside = 0;
    for (size_t i = 0; i < length; ++i) inside += x[i] >= format.left && x[i + 1] <= format.right;
    return inside;
}

// The smallest rectangle, in `control`'s client coordinates, holding every
// text-coloured pixel inside `area` (also client coordinates); empty when
// there is none. A pixel is text when it is nearer the text colour than the
// face colour.
std::optional<RECT> InkBounds(HWND control, const RECT& area) {
    RECT screen = area;
    MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&screen), 2);
    const auto copy = CopyScreen(screen);
    if (!copy) return std::nullopt;
    auto lightness = [](COLORREF c) { return GetRValue(c) * 299 + GetGValue(c) * 587 + GetBValue(c) * 114; };
    const int threshold = (lightness(GetSysColor(COLOR_BTNFACE)) + lightness(GetSysColor(COLOR_BTNTEXT))) / 2;
    RECT ink{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    for (int y = 0; y < copy->height; ++y) {
        for (int x = 0; x < copy->width; ++x) {
            const unsigned char* bgr = copy->At(x, y);
            if (bgr[2] * 299 + bgr[1] * 587 + bgr[0] * 114 >= threshold) continue;
            ink = {std::min<LONG>(ink.left, x), std::min<LONG>(ink.top, y),
                   std::max<LONG>(ink.right, x + 1), std::max<LONG>(ink.bottom, y + 1)};
        }
    }
    if (ink.left > ink.right) return RECT{};
    OffsetRect(&ink, area.left, area.top);
    return ink;
}

bool Within(const RECT& inner, const RECT& outer) {
    return !IsRectEmpty(&inner) && inner.left >= outer.left && inner.top >= outer.top &&
           inner.right <= outer.right && inner.bottom <= outer.bottom;
}

std::wstring RectText(const RECT& r) {
    return L"(" + std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L")-(" +
           std::to_wstring(r.right) + L"," + std::to_wstring(r.bottom) + L")";
}

std::string JoinLines(const std::vector<std::wstring>& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += Utf8(line) + "\n";
    return bytes;
}

struct MainSearch {
    DWORD pid;  // 0: any process
    std::vector<HWND> found;
};

// GetWindowTextW, not WM_GETTEXT: for another process's window it reads the
// stored caption without waiting on that process.
BOOL CALLBACK CollectMain(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<MainSearch*>(param);
    if (!IsWindowVisible(window)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (search.pid != 0 && pid != search.pid) return TRUE;
    wchar_t caption[64];
    const int length = GetWindowTextW(window, caption, 64);
    if (length > 0 && std::wstring_view(caption, static_cast<size_t>(length)).starts_with(kCaptionPrefix))
        search.found.push_back(window);
    return TRUE;
}

struct BoxSearch {
    DWORD pid;
    HWND main;
    HWND found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<BoxSearch*>(param);
    if (window == search.main || !IsWindowVisible(window)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search.pid || ClassOf(window) != kBoxClass) return TRUE;
    search.found = window;
    return FALSE;
}

struct BoxContents {
    std::wstring title;
    std::wstring text;
    int textId = 0;
    std::vector<std::wstring> buttons;
    HWND ok = nullptr;
    int okId = 0;
    HWND icon = nullptr;  // the static showing the box's icon, if any
};

struct BoxChildSearch {
    HWND box;
    BoxContents contents;
    bool textFound = false;
    bool failed = false;
};

// The message is the longest text among the box's visible text statics. Its
// control ID is not relied on: Windows gives it 0xFFFF, Wine another number.
BOOL CALLBACK CollectBoxChild(HWND child, LPARAM param) {
    auto& search = *reinterpret_cast<BoxChildSearch*>(param);
    if (GetAncestor(child, GA_PARENT) != search.box || !IsWindowVisible(child)) return TRUE;
    const std::wstring name = ClassOf(child);
    const bool isStatic = SameText(name, L"Static");
    if (!isStatic && !SameText(name, L"Button")) return TRUE;
    if (isStatic) {
        const auto type = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE)) & SS_TYPEMASK;
        if (type == SS_ICON) search.contents.icon = child;
        if (type == SS_ICON || type == SS_BITMAP || type == SS_ENHMETAFILE) return TRUE;
    }
    const auto text = ReadText(child);
    if (!text) {
        search.failed = true;
        return FALSE;
    }
    auto& contents = search.contents;
    if (isStatic) {
        if (!search.textFound || text->size() > contents.text.size()) {
            contents.text = *text;
            contents.textId = GetDlgCtrlID(child);
            search.textFound = true;
        }
        return TRUE;
    }
    contents.buttons.push_back(*text);
    const int id = GetDlgCtrlID(child);
    if (!contents.ok || id == IDOK) {
        contents.ok = child;
        contents.okId = id;
    }
    return TRUE;
}

// An icon drawn as the icon static draws it, at its client size, over black
// and over white: where both agree, the icon's own colour shows.
std::optional<ScreenCopy> DrawnIcon(HICON icon, int width, int height, bool white) {
    return PaintedCopy(width, height, [&](HDC memory, HDC) {
        const RECT all{0, 0, width, height};
        FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(white ? WHITE_BRUSH : BLACK_BRUSH)));
        return DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL) != FALSE;
    });
}

// Which of the system's message box icons the static `shown` shows, told by
// its pixels on screen: an icon handle of another process means nothing here.
std::string IconName(HWND shown) {
    if (!shown) return "none";
    RECT rect{};
    if (!GetClientRect(shown, &rect)) return "unknown";
    MapWindowPoints(shown, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    const auto screen = CopyScreen(rect);
    if (!screen) return "unknown";
    const std::pair<int, const char*> known[] = {
        {32516, "information"}, {32515, "warning"}, {32513, "error"}, {32514, "question"}};  // IDI_*
    std::string best = "unknown";
    double bestShare = 0.9;  // below this, none of them
    for (const auto& [id, name] : known) {
        const HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(id));
        const auto black = DrawnIcon(icon, screen->width, screen->height, false);
        const auto white = DrawnIcon(icon, screen->width, screen->height, true);
        if (!icon || !black || !white) continue;
        int opaque = 0, same = 0;
        for (int y = 0; y < screen->height; ++y) {
            for (int x = 0; x < screen->width; ++x) {
                const unsigned char* b = black->At(x, y);
                const unsigned char* w = white->At(x, y);
                if (b[0] != w[0] || b[1] != w[1] || b[2] != w[2]) continue;
                ++opaque;
                const unsigned char* s = screen->At(x, y);
                if (s[0] == b[0] && s[1] == b[1] && s[2] == b[2]) ++same;
            }
        }
        const double share = opaque ? static_cast<double>(same) / opaque : 0;
        if (share > bestShare) {
            bestShare = share;
            best = name;
        }
    }
    return best;
}

// --- The run --------------------------------------------------------------------

enum class Action { kExit, kAltX, kClose, kEnter, kSpace, kRestore, kNone, kBoxes };

struct Options {
    Action action = Action::kExit;
    std::wstring actionName = L"exit";
    DWORD timeoutMs = static_cast<DWORD>(kDefaultTimeoutSeconds * 1000);
    std::wstring outFolder;
    std::wstring shotsFolder;
    int items = kDefaultItems;
    int barLength = kDefaultBarLength;
    int errors = -1;  // -1: any
    std::wstring launch;
    std::vector<std::wstring> launchArguments;
};

class Driver {
public:
    explicit Driver(const Options& options) : options_(options), started_(GetTickCount64()) {}

    int Run();

private:
    int Fail(std::wstring_view step, std::wstring_view detail);
    bool Output(std::wstring_view name, std::string_view bytes);
    bool Shot(HWND window, std::wstring_view name);
    std::wstring Elapsed() const { return Seconds(GetTickCount64() - started_); }
    bool ProcessEnded() const { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }
    std::optional<DWORD> ExitCode() const;
    std::wstring SeenState() const;

    int Launch();
    int FindMainWindow();
    int WaitForRun();
    int CheckFit();
    int Leave();
    int TabToButton();
    int MinimizeAndRestore();
    int AnswerBoxes();

    const Options& options_;
    const ULONGLONG started_;
    UniqueHandle process_;
    bool launched_ = false;
    DWORD pid_ = 0;
    DWORD thread_ = 0;
    HWND main_ = nullptr;
    Controls controls_;
    std::optional<WindowState> lastState_;
};

int Driver::Fail(std::wstring_view step, std::wstring_view detail) {
    const std::wstring message = L"tarnwick-driver: step '" + std::wstring(step) + L"' failed after " +
                                 Elapsed() + L": " + std::wstring(detail);
    Say(L"FAILED: " + message);
    WriteStd(STD_ERROR_HANDLE, Utf8(message) + "\n");
    // A program this driver started must not outlive it and hold the session.
    if (launched_ && process_ && !ProcessEnded()) {
        TerminateProcess(process_.get(), 255);
        WaitForSingleObject(process_.get(), options_.timeoutMs);
    }
    return kExitStepFailed;
}

bool Driver::Output(std::wstring_view name, std::string_view bytes) {
    if (options_.outFolder.empty()) return true;
    if (WriteWholeFile(JoinPath(options_.outFolder, name), bytes.data(), bytes.size())) return true;
    Fail(L"write results", L"cannot write " + JoinPath(options_.outFolder, name) + L" (error " +
                               std::to_wstring(GetLastError()) + L")");
    return false;
}

bool Driver::Shot(HWND window, std::wstring_view name) {
    if (options_.shotsFolder.empty()) return true;
    const std::wstring path = JoinPath(options_.shotsFolder, name);
    if (SaveScreenshot(window, path)) {
        Say(L"  screenshot: " + path);
        return true;
    }
    Fail(L"screenshot", L"cannot capture " + path);
    return false;
}

std::optional<DWORD> Driver::ExitCode() const {
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.get(), &code) || code == STILL_ACTIVE) return std::nullopt;
    return code;
}

std::wstring Driver::SeenState() const {
    if (!lastState_) return L"the window's contents could not be read";
    return std::to_wstring(lastState_->items.size()) + L" list items, bar of " +
           std::to_wstring(lastState_->bar.size()) + L" characters \"" + lastState_->bar + L"\"";
}

int Driver::Launch() {
    std::wstring commandLine = QuoteArgument(options_.launch);
    for (const auto& argument : options_.launchArguments) commandLine += L" " + QuoteArgument(argument);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(options_.launch.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info))
        return Fail(L"launch", L"cannot start " + options_.launch + L" (error " +
                                   std::to_wstring(GetLastError()) + L")");
    CloseHandle(info.hThread);
    process_ = UniqueHandle(info.hProcess);
    launched_ = true;
    pid_ = info.dwProcessId;
    Say(L"launched " + options_.launch + L" as process " + std::to_wstring(pid_));
    return 0;
}

int Driver::FindMainWindow() {
    const Deadline deadline(options_.timeoutMs);
    for (;;) {
        MainSearch search{pid_, {}};
        EnumWindows(CollectMain, reinterpret_cast<LPARAM>(&search));
        if (search.found.size() > 1)
            return Fail(L"find window", std::to_wstring(search.found.size()) +
                                            L" visible windows have a caption starting with \"" +
                                            std::wstring(kCaptionPrefix) + L"\"");
        if (search.found.size() == 1) {
            main_ = search.found.front();
            break;
        }
        if (launched_ && ProcessEnded())
            return Fail(L"find window", L"the program ended before showing its window");
        if (deadline.Passed())
            return Fail(L"find window", L"no visible window with a caption starting with \"" +
                                            std::wstring(kCaptionPrefix) + L"\"");
        Sleep(kPollMs);
    }

    DWORD pid = 0;
    thread_ = GetWindowThreadProcessId(main_, &pid);
    if (!launched_) {
        pid_ = pid;
        // Opened now, while the program still runs, so that its end and exit
        // code can be seen later.
        process_ = UniqueHandle(
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid_));
        if (!process_)
            return Fail(L"find window", L"cannot open process " + std::to_wstring(pid_) +
                                            L" (error " + std::to_wstring(GetLastError()) + L")");
    }
    Say(L"window " + Hex(reinterpret_cast<std::uintptr_t>(main_)) + L" of process " +
        std::to_wstring(pid_) + L" found after " + Elapsed());

    controls_ = FindControls(main_);
    const std::wstring counts = L"ListBox " + std::to_wstring(controls_.lists) + L"\nEdit " +
                                std::to_wstring(controls_.edits) + L"\nStatic " +
                                std::to_wstring(controls_.statics) + L"\nButton " +
                                std::to_wstring(controls_.buttons) + L"\n";
    if (!Output(L"controls.txt", Utf8(counts))) return kExitStepFailed;
    if (!controls_.list || !controls_.bar || !controls_.note || !controls_.button) {
        std::wstring seen = counts;
        for (auto& c : seen)
            if (c == L'\n') c = L' ';
        return Fail(L"find controls", L"need one ListBox, Edit, Static and Button; found " + seen);
    }

    // The very first state shows how the run starts (an empty bar, say). A
    // program busy at this moment may not answer; that is not an error here.
    lastState_ = ReadState(main_, controls_);
    if (lastState_) {
        Say(L"first state: " + SeenState());
        if (!Output(L"first-bar.txt", Utf8(lastState_->bar)) ||
            !Output(L"first-items.txt", JoinLines(lastState_->items)))
            return kExitStepFailed;
    } else {
        Say(L"first state: the window did not answer yet");
    }
    return 0;
}

int Driver::WaitForRun() {
    const Deadline deadline(options_.timeoutMs);
    auto done = [&](const std::optional<WindowState>& state) {
        if (!state || state->items.size() != static_cast<size_t>(options_.items) ||
            state->bar.size() != static_cast<size_t>(options_.barLength))
            return false;
        int errors = 0;
        for (const auto& item : state->items) errors += item.rfind(L"Error registering", 0) == 0;
        return options_.errors < 0 || errors == options_.errors;
    };
    while (!done(lastState_)) {
        if (ProcessEnded()) return Fail(L"wait for run", L"the program ended; last seen " + SeenState());
        if (deadline.Passed())
            return Fail(L"wait for run", L"expected " + std::to_wstring(options_.items) +
                                             L" list items and a bar of " +
                                             std::to_wstring(options_.barLength) +
                                             L" characters; last seen " + SeenState());
        Sleep(kPollMs);
        if (auto state = ReadState(main_, controls_)) lastState_ = std::move(state);
    }
    Say(L"run over after " + Elapsed());

    // Whatever the program changes right after the last item (the note, say)
    // belongs to the final state, so the state must stop changing first.
    for (;;) {
        Sleep(kSettleMs);
        auto state = ReadState(main_, controls_);
        if (state && *state == *lastState_) break;
        if (state) lastState_ = std::move(state);
        if (deadline.Passed())
            return Fail(L"wait for run", L"the window kept changing or stopped answering; last seen " +
                                             SeenState());
    }

    const WindowState& state = *lastState_;
    Say(L"caption: " + state.caption);
    Say(L"label: " + state.label);
    Say(L"bar: " + state.bar + L" (" + std::to_wstring(state.bar.size()) + L")");
    Say(L"button: " + state.button);
    Say(L"items (" + std::to_wstring(state.items.size()) + L"):");
    for (const auto& item : state.items) Say(L"  " + item);
    if (!Output(L"caption.txt", Utf8(state.caption)) || !Output(L"label.txt", Utf8(state.label)) ||
        !Output(L"bar.txt", Utf8(state.bar)) || !Output(L"button.txt", Utf8(state.button)) ||
        !Output(L"items.txt", JoinLines(state.items)))
        return kExitStepFailed;
    if (!Shot(main_, L"window.bmp")) return kExitStepFailed;
    return CheckFit();
}

// Whether the bar, the button's caption and the note show whole and the frame
// is on screen, one line each in fits.txt.
int Driver::CheckFit() {
    std::string report;
    auto verdict = [&](std::wstring_view what, std::wstring_view seen, std::wstring_view detail) {
        Say(L"  " + std::wstring(what) + L": " + std::wstring(seen) + L"; " + std::wstring(detail));
        report += Utf8(what) + ": " + Utf8(seen) + "\n";
    };
    // A control beyond the screen's edge cannot be looked at.
    const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    auto inkVerdict = [&](std::wstring_view what, HWND control, const RECT& area, const RECT& allowed) {
        RECT onScreen = area;
        MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&onScreen), 2);
        if (!Within(onScreen, screen)) {
            verdict(what, L"off screen", L"at " + RectText(onScreen));
            return;
        }
        const auto ink = InkBounds(control, area);
        verdict(what, !ink ? L"unknown" : Within(*ink, allowed) ? L"inside" : L"cut off",
                L"text pixels " + (ink ? RectText(*ink) : L"?") + L", room " + RectText(allowed));
    };

    RECT format{};
    const size_t length = lastState_->bar.size();
    const auto inside = CharactersInside(controls_.bar, length, format);
    verdict(L"bar", inside ? std::to_wstring(*inside) + L" of " + std::to_wstring(length) + L" characters inside" : L"unknown",
            L"formatting rectangle " + RectText(format));

    // The caption belongs inside the focus rectangle, with a pixel to spare;
    // the button's own dark edge is not looked at.
    RECT button{};
    GetClientRect(controls_.button, &button);
    RECT area = button;
    InflateRect(&area, -GetSystemMetrics(SM_CXEDGE), -GetSystemMetrics(SM_CYEDGE));
    RECT room = area;
    InflateRect(&room, -(std::max(1, GetSystemMetrics(SM_CXFOCUSBORDER)) + 1),
                -(std::max(1, GetSystemMetrics(SM_CYFOCUSBORDER)) + 1));
    inkVerdict(L"exit caption", controls_.button, area, room);

    // Text cut off by the label's edge reaches its last row or column.
    RECT label{};
    GetClientRect(controls_.note, &label);
    inkVerdict(L"note", controls_.note, label, RECT{0, 0, label.right - 1, label.bottom - 1});

    // Centred where the frame fits the work area, else from its top or left
    // edge: the caption and its close box must stay reachable.
    RECT frame{}, work{};
    GetWindowRect(main_, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    auto placed = [](LONG start, LONG end, LONG workStart, LONG workEnd) {
        return end - start <= workEnd - workStart ? start >= workStart && end <= workEnd : start == workStart;
    };
    const bool onScreen = placed(frame.left, frame.right, work.left, work.right) &&
                          placed(frame.top, frame.bottom, work.top, work.bottom);
    verdict(L"window", onScreen ? L"on screen" : L"off screen",
            L"frame " + RectText(frame) + L", work area " + RectText(work));
    return Output(L"fits.txt", report) ? 0 : kExitStepFailed;
}

// Keyboard actions go where the keyboard would send them: the control that has
// the focus in the program's GUI thread.
HWND KeyboardTarget(DWORD thread, HWND fallback) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(thread, &info)) return fallback;
    if (info.hwndFocus) return info.hwndFocus;
    return info.hwndActive ? info.hwndActive : fallback;
}

LPARAM KeyData(UINT virtualKey, bool alt, bool up) {
    LPARAM data = 1 | static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC) << 16);
    if (alt) data |= LPARAM{1} << 29;                   // context code: Alt is down
    if (up) data |= (LPARAM{1} << 30) | (LPARAM{1} << 31);  // was down, is being released
    return data;
}

int Driver::TabToButton() {
    for (int tabs = 0;; ++tabs) {
        const HWND focus = KeyboardTarget(thread_, main_);
        if (focus == controls_.button) {
            Say(L"  the Exit button has the focus after " + std::to_wstring(tabs) + L" Tab(s)");
            return 0;
        }
        if (tabs == kMaxTabs)
            return Fail(L"leave window", L"the Exit button did not get the focus after " +
                                             std::to_wstring(kMaxTabs) + L" Tabs");
        PostMessageW(focus, WM_KEYDOWN, VK_TAB, KeyData(VK_TAB, false, false));
        PostMessageW(focus, WM_KEYUP, VK_TAB, KeyData(VK_TAB, false, true));
        const Deadline deadline(options_.timeoutMs);
        while (KeyboardTarget(thread_, main_) == focus) {
            if (deadline.Passed())
                return Fail(L"leave window", L"Tab did not move the focus away from a " + ClassOf(focus));
            Sleep(kPollMs);
        }
    }
}

// What a user does with the minimise box and then the window's button on the
// taskbar; waits until the program has handled each.
int Driver::MinimizeAndRestore() {
    for (const bool minimize : {true, false}) {
        const wchar_t* what = minimize ? L"minimise" : L"restore";
        if (!PostMessageW(main_, WM_SYSCOMMAND, minimize ? SC_MINIMIZE : SC_RESTORE, 0))
            return Fail(what, L"cannot post to the window (error " + std::to_wstring(GetLastError()) + L")");
        const Deadline deadline(options_.timeoutMs);
        while (static_cast<bool>(IsIconic(main_)) != minimize) {
            if (deadline.Passed()) return Fail(what, L"the window did not change");
            Sleep(kPollMs);
        }
        // The messages that come with the change (activation, focus) are
        // handled before this one returns.
        if (!Send(main_, WM_NULL, 0, 0)) return Fail(what, L"the window stopped answering");
        Sleep(kSettleMs);
    }
    return 0;
}

int Driver::Leave() {
    bool posted = true;
    switch (options_.action) {
    case Action::kNone:
    case Action::kBoxes:  // no window to leave
        return 0;
    case Action::kExit:
        // Posted, not sent: the click handler only returns once the message
        // boxes that follow are answered, which is this driver's next step.
        Say(L"action exit: BM_CLICK posted to the Exit button");
        posted = PostMessageW(controls_.button, BM_CLICK, 0, 0);
        break;
    case Action::kClose:
        Say(L"action close: WM_SYSCOMMAND SC_CLOSE posted to the window");
        posted = PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case Action::kAltX: {
        // What the keyboard's Alt+X becomes in the program's queue once
        // translated: Alt down, then the system character 'x' with the Alt
        // context bit. The 'X' key-down itself is left out, since the program's
        // IsDialogMessageW would translate it again into a second character.
        const HWND target = KeyboardTarget(thread_, main_);
        Say(L"action altx: Alt down and WM_SYSCHAR 'x' posted to the focused " + ClassOf(target));
        posted = PostMessageW(target, WM_SYSKEYDOWN, VK_MENU, KeyData(VK_MENU, true, false)) &&
                 PostMessageW(target, WM_SYSCHAR, L'x', KeyData('X', true, false));
        break;
    }
    case Action::kRestore: {
        Say(L"action restore: Tab to the Exit button, minimise, restore, then Enter posted to the focused control");
        if (const int failed = TabToButton()) return failed;
        if (const int failed = MinimizeAndRestore()) return failed;
        const HWND target = KeyboardTarget(thread_, main_);
        const std::wstring focus = target == controls_.button ? L"Exit button"
                                 : target == main_           ? L"the window itself"
                                                             : ClassOf(target);
        Say(L"  the focus after restoring: " + focus);
        if (!Output(L"focus-after-restore.txt", Utf8(focus))) return kExitStepFailed;
        posted = PostMessageW(target, WM_KEYDOWN, VK_RETURN, KeyData(VK_RETURN, false, false)) &&
                 PostMessageW(target, WM_KEYUP, VK_RETURN, KeyData(VK_RETURN, false, true));
        break;
    }
    case Action::kEnter:
    case Action::kSpace: {
        const bool enter = options_.action == Action::kEnter;
        Say(std::wstring(L"action ") + (enter ? L"enter" : L"space") +
            L": Tab to the Exit button, then the key posted to it");
        if (const int failed = TabToButton()) return failed;
        const UINT key = enter ? VK_RETURN : VK_SPACE;
        const HWND target = KeyboardTarget(thread_, main_);
        posted = PostMessageW(target, WM_KEYDOWN, key, KeyData(key, false, false)) &&
                 PostMessageW(target, WM_KEYUP, key, KeyData(key, false, true));
        break;
    }
    }
    if (!posted)
        return Fail(L"leave window", L"cannot post to the window (error " +
                                         std::to_wstring(GetLastError()) + L")");
    return 0;
}

int Driver::AnswerBoxes() {
    int boxes = 0;
    bool hiddenUnderAll = true;
    for (;;) {
        const Deadline deadline(options_.timeoutMs);
        HWND box = nullptr;
        while (!box) {
            if (ProcessEnded()) break;
            BoxSearch search{pid_, main_, nullptr};
            EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
            box = search.found;
            if (box) break;
            if (deadline.Passed())
                return Fail(L"message box " + std::to_wstring(boxes + 1),
                            L"neither a message box nor the end of the program came; " +
                                std::to_wstring(boxes) + L" box(es) answered, the window is " +
                                (IsWindow(main_) && IsWindowVisible(main_) ? L"visible" : L"hidden"));
            Sleep(kPollMs);
        }
        if (!box) break;
        if (++boxes > kMaxBoxes)
            return Fail(L"message box " + std::to_wstring(boxes),
                        L"more than " + std::to_wstring(kMaxBoxes) + L" message boxes");
        const std::wstring step = L"message box " + std::to_wstring(boxes);
        const std::wstring prefix = L"box" + std::to_wstring(boxes);

        const bool visible = IsWindow(main_) && IsWindowVisible(main_);
        hiddenUnderAll = hiddenUnderAll && !visible;

        BoxChildSearch children{box, {}};
        EnumChildWindows(box, CollectBoxChild, reinterpret_cast<LPARAM>(&children));
        auto title = ReadText(box);
        if (!title || children.failed) return Fail(step, L"the box did not answer");
        if (!children.textFound) return Fail(step, L"no message text in the box");
        if (!children.contents.ok) return Fail(step, L"no button in the box");
        const BoxContents& contents = children.contents;

        Say(step + L" after " + Elapsed() + L": \"" + *title + L"\", window " +
            (visible ? L"VISIBLE" : L"hidden") + L", text control ID " +
            std::to_wstring(contents.textId));
        std::wstring indented = L"  | ";
        for (const wchar_t c : contents.text) {
            if (c == L'\r') continue;
            indented += c;
            if (c == L'\n') indented += L"  | ";
        }
        Say(indented);
        std::wstring buttonList;
        for (const auto& text : contents.buttons) buttonList += L" [" + text + L"]";
        Say(L"  buttons:" + buttonList);
        if (!Output(prefix + L"-title.txt", Utf8(*title)) ||
            !Output(prefix + L"-text.txt", Utf8(contents.text)) ||
            !Output(prefix + L"-buttons.txt", JoinLines(contents.buttons)) ||
            !Output(prefix + L"-topmost.txt",
                    (GetWindowLongPtrW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) ? "yes" : "no"))
            return kExitStepFailed;

        Sleep(kPaintMs);
        // Read from the screen, once the box has been painted.
        if (!Output(prefix + L"-icon.txt", IconName(contents.icon))) return kExitStepFailed;
        if (!Shot(box, prefix + L".bmp")) return kExitStepFailed;

        // Posted, like a click would be queued: sending would wait until the
        // program's next box is answered.
        Say(L"  BM_CLICK posted to button ID " + std::to_wstring(contents.okId));
        if (!PostMessageW(contents.ok, BM_CLICK, 0, 0))
            return Fail(step, L"cannot post to the box (error " + std::to_wstring(GetLastError()) + L")");
        const Deadline gone(options_.timeoutMs);
        while (IsWindow(box)) {
            if (gone.Passed()) return Fail(step, L"the box stayed up after its button was clicked");
            Sleep(kPollMs);
        }
    }

    Say(L"program ended after " + Elapsed() + L", " + std::to_wstring(boxes) + L" message box(es)");
    if (!Output(L"boxes.txt", std::to_string(boxes)) ||
        !Output(L"hidden-during-boxes.txt", hiddenUnderAll ? "yes" : "no"))
        return kExitStepFailed;
    if (const auto code = ExitCode()) {
        Say(L"exit code: " + std::to_wstring(*code));
        if (!Output(L"exit-code.txt", std::to_string(*code))) return kExitStepFailed;
    } else {
        Say(L"exit code: unknown (error " + std::to_wstring(GetLastError()) + L")");
    }
    return 0;
}

int Driver::Run() {
    for (const auto* folder : {&options_.outFolder, &options_.shotsFolder}) {
        if (!folder->empty() && !EnsureFolder(*folder))
            return Fail(L"start", L"cannot create " + *folder + L" (error " +
                                      std::to_wstring(GetLastError()) + L")");
    }
    if (!options_.launch.empty())
        if (const int failed = Launch()) return failed;
    if (options_.action == Action::kBoxes) {
        if (const int failed = AnswerBoxes()) return failed;
        Say(L"all steps done in " + Elapsed());
        return 0;
    }
    if (const int failed = FindMainWindow()) return failed;
    if (const int failed = WaitForRun()) return failed;
    if (const int failed = Leave()) return failed;
    if (options_.action != Action::kNone)
        if (const int failed = AnswerBoxes()) return failed;
    Say(L"all steps done in " + Elapsed());
    return 0;
}

// --- Command line ---------------------------------------------------------------

constexpr std::wstring_view kUsage =
    L"usage: tarnwick-driver [--action exit|altx|close|enter|space|restore|none|boxes] [--timeout SECONDS]\n"
    L"                       [--out DIR] [--shots DIR] [--items N] [--bar N] [--errors N]\n"
    L"                       [--launch PROGRAM] [-- ARGUMENT...]\n";

std::optional<Options> ParseOptions(int argc, wchar_t** argv, std::wstring& error) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view name = argv[i];
        if (name == L"--") {
            for (++i; i < argc; ++i) options.launchArguments.emplace_back(argv[i]);
            break;
        }
        if (i + 1 >= argc) {
            error = L"missing value for " + std::wstring(name);
            return std::nullopt;
        }
        const wchar_t* value = argv[++i];
        wchar_t* end = nullptr;
        if (name == L"--action") {
            const std::pair<std::wstring_view, Action> known[] = {
                {L"exit", Action::kExit},   {L"altx", Action::kAltX},   {L"close", Action::kClose},
                {L"enter", Action::kEnter}, {L"space", Action::kSpace}, {L"restore", Action::kRestore},
                {L"none", Action::kNone},   {L"boxes", Action::kBoxes}};
            bool found = false;
            for (const auto& [text, action] : known) {
                if (text == value) {
                    options.action = action;
                    options.actionName = value;
                    found = true;
                }
            }
            if (!found) {
                error = L"unknown action " + std::wstring(value);
                return std::nullopt;
            }
        } else if (name == L"--timeout") {
            const double seconds = std::wcstod(value, &end);
            if (*end != L'\0' || !(seconds > 0) || seconds > 86400) {
                error = L"bad timeout " + std::wstring(value);
                return std::nullopt;
            }
            options.timeoutMs = static_cast<DWORD>(seconds * 1000);
        } else if (name == L"--items" || name == L"--bar" || name == L"--errors") {
            const long number = std::wcstol(value, &end, 10);
            if (*end != L'\0' || number < 0 || number > 100000) {
                error = L"bad number " + std::wstring(value);
                return std::nullopt;
            }
            (name == L"--items" ? options.items : name == L"--bar" ? options.barLength : options.errors) =
                static_cast<int>(number);
        } else if (name == L"--out") {
            options.outFolder = value;
        } else if (name == L"--shots") {
            options.shotsFolder = value;
        } else if (name == L"--launch") {
            options.launch = value;
        } else {
            error = L"unknown option " + std::wstring(name);
            return std::nullopt;
        }
    }
    if (options.action == Action::kBoxes && options.launch.empty()) {
        error = L"--action boxes needs --launch";
        return std::nullopt;
    }
    if (!options.launchArguments.empty() && options.launch.empty()) {
        error = L"arguments after -- need --launch";
        return std::nullopt;
    }
    return options;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Lets a console show the UTF-8 bytes written to it as text.
    SetConsoleOutputCP(CP_UTF8);
    std::wstring error;
    const auto options = ParseOptions(argc, argv, error);
    if (!options) {
        WriteStd(STD_ERROR_HANDLE, Utf8(L"tarnwick-driver: " + error + L"\n" + std::wstring(kUsage)));
        return kExitUsage;
    }
    Say(L"tarnwick-driver: action " + options->actionName + L", timeout " +
        Seconds(options->timeoutMs) + L" per step");
    return Driver(*options).Run();
}
