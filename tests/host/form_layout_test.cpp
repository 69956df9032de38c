// The window's layout in twips and its conversion to pixels.
#include <gtest/gtest.h>

#include "ui/form_layout.h"

namespace tarnwick {
namespace {

TEST(FormLayoutTest, ControlsLieInsideTheClientArea) {
    for (const ControlSpec& c : kControls) {
        EXPECT_GE(c.left, 0) << c.name;
        EXPECT_GE(c.top, 0) << c.name;
        EXPECT_LE(c.left + c.width, kClientWidthTwips) << c.name;
        EXPECT_LE(c.top + c.height, kClientHeightTwips) << c.name;
    }
}

TEST(FormLayoutTest, BarAndButtonSpanTheListsWidth) {
    const ControlSpec& list = kControls[kListIndex];
    const ControlSpec& bar = kControls[kBarIndex];
    const ControlSpec& exit = kControls[kExitIndex];
    EXPECT_EQ(exit.left - (bar.left + bar.width), 105);
    EXPECT_EQ(exit.left + exit.width, list.left + list.width);
    EXPECT_EQ(bar.text, std::string(50, '|'));
    EXPECT_FALSE(bar.tabStop);
    EXPECT_EQ(exit.text, "E&xit");
}

TEST(FormLayoutTest, TwipsBecomePixelsAtTheDisplaysDpi) {
    EXPECT_EQ(TwipsToPixels(kClientWidthTwips, 96), 347);
    EXPECT_EQ(TwipsToPixels(kClientHeightTwips, 96), 280);
    EXPECT_EQ(TwipsToPixels(15, 96), 1);
    EXPECT_EQ(TwipsToPixels(kClientWidthTwips, 120), 434);  // 433.75
    EXPECT_EQ(TwipsToPixels(kClientWidthTwips, 144), 521);  // 520.5 rounds up
    EXPECT_EQ(TwipsToPixels(3735, 144), 374);               // 373.5
    EXPECT_EQ(TwipsToPixels(105, 96), 7);
}

}  // namespace
}  // namespace tarnwick
