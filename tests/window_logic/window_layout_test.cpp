#include "window_logic/window_layout.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(WindowLayout, StretchesTheWidgetsWithAnEightThousandTwipWindow) {
    const WindowLayout l = applyResizeRules(designLayout(), 8000, 6000);
    EXPECT_EQ(l.statusView.width, 7850);
    EXPECT_EQ(l.rangesView.width, 7850);
    EXPECT_EQ(l.statusView.height, 5155);
    EXPECT_EQ(l.rangesView.height, 5155);
    EXPECT_EQ(l.logView.width, 7750);
    EXPECT_EQ(l.logView.height, 3900);
    EXPECT_EQ(l.blockingPanel.width, 3600);
    EXPECT_EQ(l.fullLogPanel.width, 3600);
    EXPECT_EQ(l.startHiddenPanel.width, 3600);
    EXPECT_EQ(l.banList.width, 7700);
    EXPECT_EQ(l.banList.height, 4500);
    EXPECT_EQ(l.buttonBar.width, 7700);
    EXPECT_EQ(l.addButton.width, 3850);
    EXPECT_EQ(l.removeButton.width, 3805);
    EXPECT_EQ(l.removeButton.left, 3850);
    // Positions other than Command2's left edge stay.
    const WindowLayout d = designLayout();
    EXPECT_EQ(l.logView.left, d.logView.left);
    EXPECT_EQ(l.logView.top, d.logView.top);
    EXPECT_EQ(l.blockingPanel.left, d.blockingPanel.left);
    EXPECT_EQ(l.banList.top, d.banList.top);
    EXPECT_EQ(l.addButton.left, d.addButton.left);
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
        EXPECT_EQ(l.blockingPanel.width, c.optionPanels);
        EXPECT_EQ(l.fullLogPanel.width, c.optionPanels);
        EXPECT_EQ(l.startHiddenPanel.width, c.optionPanels);
        EXPECT_EQ(l.logView.height, c.text2Height);
        // Every other rule still applies.
        EXPECT_EQ(l.statusView.width, c.width - 150);
        EXPECT_EQ(l.logView.width, c.width - 250);
        EXPECT_EQ(l.buttonBar.width, c.width - 300);
        EXPECT_EQ(l.addButton.width, (c.width - 300) / 2);
        EXPECT_EQ(l.removeButton.left, (c.width - 300) / 2);
    }
}

TEST(WindowLayout, AKeptButtonBarWidthStillSizesTheButtons) {
    WindowLayout before = designLayout();
    before.buttonBar.width = 80;  // from an earlier, narrow layout
    const WindowLayout l = applyResizeRules(before, 200, 200);
    EXPECT_EQ(l.buttonBar.width, 80);  // 200 - 300 is skipped
    EXPECT_EQ(l.addButton.width, 40);
    EXPECT_EQ(l.removeButton.width, before.removeButton.width);  // 40 - 45 is skipped
    EXPECT_EQ(l.removeButton.left, 40);
    EXPECT_EQ(l.statusView.width, 50);
    EXPECT_EQ(l.banList.width, before.banList.width);
    EXPECT_EQ(l.banList.height, before.banList.height);
}

}  // namespace
}  // namespace bw
