#include "window_logic/window_layout.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(WindowLayout, StretchesTheWidgetsWithAnEightThousandTwipWindow) {
    const WindowLayout l = applyResizeRules(designLayout(), 8000, 6000);
    EXPECT_EQ(l.picture4.width, 7850);
    EXPECT_EQ(l.picture3.width, 7850);
    EXPECT_EQ(l.picture4.height, 5155);
    EXPECT_EQ(l.picture3.height, 5155);
    EXPECT_EQ(l.text2.width, 7750);
    EXPECT_EQ(l.text2.height, 3900);
    EXPECT_EQ(l.picture2.width, 3600);
    EXPECT_EQ(l.picture5.width, 3600);
    EXPECT_EQ(l.picture11.width, 3600);
    EXPECT_EQ(l.list1.width, 7700);
    EXPECT_EQ(l.list1.height, 4500);
    EXPECT_EQ(l.picture1.width, 7700);
    EXPECT_EQ(l.command1.width, 3850);
    EXPECT_EQ(l.command2.width, 3805);
    EXPECT_EQ(l.command2.left, 3850);
    // Positions other than Command2's left edge stay.
    const WindowLayout d = designLayout();
    EXPECT_EQ(l.text2.left, d.text2.left);
    EXPECT_EQ(l.text2.top, d.text2.top);
    EXPECT_EQ(l.picture2.left, d.picture2.left);
    EXPECT_EQ(l.list1.top, d.list1.top);
    EXPECT_EQ(l.command1.left, d.command1.left);
}

TEST(WindowLayout, SkipsTheSizesAWidgetCannotTake) {
    struct Case {
        double width;
        double height;
        double optionPanels;  // Picture2, 5 and 11 keep 1815 below 4400
        double text2Height;   // keeps 1875 below 2100
    } cases[] = {
        {4401, 3000, 1, 900},
        {4400, 2100, 0, 0},
        {4399, 2099, 1815, 1875},
        {3000, 3000, 1815, 900},
    };
    for (const Case& c : cases) {
        const WindowLayout l = applyResizeRules(designLayout(), c.width, c.height);
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        EXPECT_EQ(l.picture2.width, c.optionPanels);
        EXPECT_EQ(l.picture5.width, c.optionPanels);
        EXPECT_EQ(l.picture11.width, c.optionPanels);
        EXPECT_EQ(l.text2.height, c.text2Height);
        // Every other rule still applies.
        EXPECT_EQ(l.picture4.width, c.width - 150);
        EXPECT_EQ(l.text2.width, c.width - 250);
        EXPECT_EQ(l.picture1.width, c.width - 300);
        EXPECT_EQ(l.command1.width, (c.width - 300) / 2);
        EXPECT_EQ(l.command2.left, (c.width - 300) / 2);
    }
}

TEST(WindowLayout, AKeptButtonBarWidthStillSizesTheButtons) {
    WindowLayout before = designLayout();
    before.picture1.width = 80;  // from an earlier, narrow layout
    const WindowLayout l = applyResizeRules(before, 200, 200);
    EXPECT_EQ(l.picture1.width, 80);  // 200 - 300 is skipped
    EXPECT_EQ(l.command1.width, 40);
    EXPECT_EQ(l.command2.width, before.command2.width);  // 40 - 45 is skipped
    EXPECT_EQ(l.command2.left, 40);
    EXPECT_EQ(l.picture4.width, 50);
    EXPECT_EQ(l.list1.width, before.list1.width);
    EXPECT_EQ(l.list1.height, before.list1.height);
}

}  // namespace
}  // namespace bw
