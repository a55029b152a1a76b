#include "window_logic/shell_icon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bw {
namespace {

// Records the events and the backend calls as text, in one sequence.
struct Recorder : TrayBackend, ShellIconEvents {
    void notify(TrayCommand command, const TrayRecord& record) override {
        static const char* names[] = {"add", "modify", "delete"};
        log.push_back(std::string(names[static_cast<int>(command)]) + " '" + record.tip + "' " +
                      std::to_string(record.icon));
    }
    void showSystemMenu(WindowHandle window) override {
        log.push_back("menu " + std::to_string(window));
    }
    void switchMenuTimer(bool on) override { log.push_back(on ? "timer on" : "timer off"); }
    void mouseMove() override { log.push_back("MouseMove"); }
    void mouseDown(int b) override { log.push_back("MouseDown(" + std::to_string(b) + ")"); }
    void mouseUp(int b) override { log.push_back("MouseUp(" + std::to_string(b) + ")"); }
    void dblClick(int b) override { log.push_back("DblClick(" + std::to_string(b) + ")"); }
    void click(int b) override { log.push_back("Click(" + std::to_string(b) + ")"); }
    void singleClick(int b) override { log.push_back("SingleClick(" + std::to_string(b) + ")"); }

    std::vector<std::string> log;
};

using Log = std::vector<std::string>;
constexpr WindowHandle kHost = 77;

TEST(ShellIcon, DecodesTheShellsMouseMessages) {
    struct Case {
        std::vector<int> messages;
        bool sysMenu;
        Log raised;
    } cases[] = {
        {{512}, true, {"MouseMove"}},
        {{513}, true, {"MouseDown(1)"}},
        {{514}, true, {"MouseUp(1)", "Click(1)", "timer on"}},
        {{515}, true, {"DblClick(1)"}},
        {{516}, true, {"MouseDown(2)"}},
        {{517}, true, {"menu 77"}},
        {{517}, false, {"MouseUp(2)", "Click(2)"}},
        {{518}, true, {"DblClick(2)"}},
        {{511, 519, 0, -1}, true, {}},
        // A right click: with the menu on, no MouseUp or Click.
        {{516, 517}, true, {"MouseDown(2)", "menu 77"}},
        {{516, 517}, false, {"MouseDown(2)", "MouseUp(2)", "Click(2)"}},
        // A left double click switches the timer on and off again: no SingleClick.
        {{513, 514, 515, 514},
         true,
         {"MouseDown(1)", "MouseUp(1)", "Click(1)", "timer on", "DblClick(1)", "MouseUp(1)",
          "Click(1)", "timer off"}},
    };
    for (const Case& c : cases) {
        Recorder r;
        ShellIcon icon(r, r, kHost);
        icon.setSysMenu(c.sysMenu);
        for (int m : c.messages) icon.mouseMessage(m);
        EXPECT_EQ(r.log, c.raised) << "first message " << (c.messages.empty() ? 0 : c.messages[0]);
    }
}

TEST(ShellIcon, ADoubleClickRaisesNoSingleClickEvenWhenALateTickArrives) {
    Recorder r;
    ShellIcon icon(r, r, kHost);
    for (int m : {513, 514, 515, 514}) icon.mouseMessage(m);
    EXPECT_FALSE(icon.menuTimerOn());
    r.log.clear();
    icon.tmrMenuFired();
    EXPECT_EQ(r.log, Log{});
}

TEST(ShellIcon, ALoneClickRaisesSingleClickWhenTheTimerRunsOut) {
    Recorder r;
    ShellIcon icon(r, r, kHost);
    icon.mouseMessage(513);
    icon.mouseMessage(514);
    EXPECT_TRUE(icon.menuTimerOn());
    r.log.clear();
    icon.tmrMenuFired();
    EXPECT_EQ(r.log, (Log{"timer off", "SingleClick(1)"}));
    EXPECT_FALSE(icon.menuTimerOn());
}

TEST(ShellIcon, AddsOnceAndDeletesOnlyWhatIsThere) {
    Recorder r;
    {
        ShellIcon icon(r, r, kHost);
        icon.setVisible(false);
        EXPECT_EQ(r.log, Log{});
        icon.setToolTipText("Bastionwatch v1.99");
        icon.setIcon(5);
        EXPECT_EQ(r.log, Log{});  // not registered: only the stored values change
        icon.setVisible(true);
        icon.setVisible(true);
        EXPECT_TRUE(icon.visible());
        EXPECT_EQ(r.log, Log{"add 'Bastionwatch v1.99' 5"});
        icon.setToolTipText("new tip");
        icon.setIcon(6);
        EXPECT_EQ(r.log,
                  (Log{"add 'Bastionwatch v1.99' 5", "modify 'new tip' 5", "modify 'new tip' 6"}));
        r.log.clear();
        icon.setVisible(false);
        icon.setVisible(false);
        EXPECT_EQ(r.log, Log{"delete 'new tip' 6"});
        icon.setVisible(true);
        r.log.clear();
    }
    EXPECT_EQ(r.log, Log{"delete 'new tip' 6"});  // taken down with the control
}

TEST(ShellIcon, ShowsTheHostsMenuUnlessToldAnotherWindow) {
    Recorder r;
    ShellIcon icon(r, r, kHost);
    icon.showSysMenu(0);
    icon.showSysMenu(9);
    EXPECT_EQ(r.log, (Log{"menu 77", "menu 9"}));
}

TEST(ShellIcon, CutsTheTipToItsField) {
    const std::string tip63(63, 'a');
    EXPECT_EQ(tipField(tip63), tip63);
    EXPECT_EQ(tipField(tip63 + "b"), tip63);
    EXPECT_EQ(tipField(std::string(100, 'c')), std::string(63, 'c'));
    // A two-byte character across the cut is left out whole.
    EXPECT_EQ(tipField(std::string(62, 'a') + "\xC3\xA9"), std::string(62, 'a'));
    Recorder r;
    ShellIcon icon(r, r, kHost);
    icon.setToolTipText(tip63 + "xyz");
    EXPECT_EQ(icon.toolTipText(), tip63 + "xyz");
    EXPECT_EQ(icon.record().tip, tip63);
}

}  // namespace
}  // namespace bw
