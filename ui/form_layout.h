// The main window and its four controls as data: positions and sizes in twips
// (1/1440 inch), fonts, texts and tab order. The Windows binding builds the
// window from this and nothing else, so the layout is tested on any host.
#pragma once

#include <array>
#include <string_view>

namespace tarnwick {

enum class ControlKind { kListBox, kButton, kTextBox, kLabel };
enum class Background { kDefault, kWhite, kButtonFace };

struct FontSpec {
    std::string_view face;  // empty: the system's default GUI font
    double points = 0;      // 0: the default font's size
    bool bold = false;
    bool fixedPitch = false;  // where the face is missing, fall back to a fixed-pitch one
};

struct ControlSpec {
    std::string_view name;
    ControlKind kind;
    int left, top, width, height;  // twips, relative to the client area
    FontSpec font;
    Background background;
    bool tabStop;
    std::string_view text;  // design-time text
};

inline constexpr std::string_view kFormName = "frmMain";
inline constexpr std::string_view kDesignCaption = "Tarnwick";
inline constexpr int kClientWidthTwips = 5205;
inline constexpr int kClientHeightTwips = 4200;
inline constexpr int kTwipsPerInch = 1440;

// Indices into kControls, which lists the controls in tab order.
enum ControlIndex { kListIndex, kExitIndex, kBarIndex, kLabelIndex };

inline constexpr std::array<ControlSpec, 4> kControls = {{
    {"lstProgress", ControlKind::kListBox, 0, 0, 5175, 2595, {"Courier", 9.75, false, true},
     Background::kWhite, true, ""},
    {"cmdExit", ControlKind::kButton, 3840, 3720, 1335, 375, {}, Background::kDefault, true,
     "E&xit"},
    {"txtProgress", ControlKind::kTextBox, 0, 3675, 3735, 450, {"MS Sans Serif", 13.5, true},
     Background::kButtonFace, false,
     "||||||||||||||||||||||||||||||||||||||||||||||||||"},
    {"Label1", ControlKind::kLabel, 120, 2760, 4935, 855, {}, Background::kDefault, false, ""},
}};

// Twips to pixels at `dpi` dots per inch, rounded to the nearest pixel
// (15 twips make a pixel at 96 DPI).
constexpr int TwipsToPixels(int twips, int dpi) {
    const long long scaled = static_cast<long long>(twips) * dpi;
    return static_cast<int>((scaled + (scaled >= 0 ? kTwipsPerInch / 2 : -kTwipsPerInch / 2)) /
                            kTwipsPerInch);
}

}  // namespace tarnwick
