#include "program/launching.h"

#include <gtest/gtest.h>

#include "platform/launcher.h"
#include "support/fake_launcher.h"
#include "support/recording_host.h"

namespace bw {
namespace {

TEST(ShellDocument, OpensTheTargetAndStaysQuietUnlessNothingIsAssociated) {
    struct Case {
        LaunchOutcome outcome;
        std::vector<std::string> calls;
        std::size_t messages;
    } cases[] = {
        {LaunchOutcome::Opened, {"open /p/connlog.txt"}, 0},
        {LaunchOutcome::Failed, {"open /p/connlog.txt"}, 0},
        {LaunchOutcome::NoAssociation, {"open /p/connlog.txt", "openWith /p/connlog.txt"}, 1},
    };
    for (const Case& c : cases) {
        test::FakeLauncher launcher;
        launcher.outcome = c.outcome;
        test::RecordingHost host;
        shellDocument(launcher, host, "Open", "/p/connlog.txt", 0, 0, 1);
        EXPECT_EQ(launcher.calls, c.calls);
        EXPECT_EQ(host.messages.size(), c.messages);
    }
}

TEST(ShellDocument, TellsTheUserBeforeOfferingTheChooser) {
    test::FakeLauncher launcher;
    launcher.outcome = LaunchOutcome::NoAssociation;
    test::RecordingHost host;
    std::size_t callsWhenShown = 0;
    host.onMessage = [&](const Message&) { callsWhenShown = launcher.calls.size(); };
    shellDocument(launcher, host, "Open", "/p/connlog.txt", 0, 0, 1);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Couldn't load the default application");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::None);
    EXPECT_EQ(host.messages[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(host.messages[0].shownTitle(), "Bastionwatch");
    EXPECT_EQ(callsWhenShown, 1u);  // the chooser comes only after the box
}

TEST(ShellOpen, OpensTheAddress) {
    test::FakeLauncher launcher;
    test::RecordingHost host;
    shellOpen(launcher, host, "https://forum.example.org/");
    EXPECT_EQ(launcher.calls, std::vector<std::string>{"open https://forum.example.org/"});
    EXPECT_TRUE(host.messages.empty());
}

TEST(DesktopLauncher, TellsWebAddressesFromFilePaths) {
    struct Case {
        const char* target;
        bool web;
    } cases[] = {
        {"https://example.org/", true},
        {"http://example.org", true},
        {"mailto:someone@example.org", true},
        {"bwdat://a@1.1.1.1", true},
        {"/home/u/connlog.txt", false},
        {"connlog.txt", false},
        {"://nothing", false},
        {"/tmp/a://b", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(isWebAddress(c.target), c.web) << c.target;
}

TEST(DesktopLauncher, WritesFileAddressesAndGdbusStrings) {
    EXPECT_EQ(fileUri("/home/u/connlog.txt"), "file:///home/u/connlog.txt");
    EXPECT_EQ(fileUri("/home/u/my log's #1.txt"), "file:///home/u/my%20log%27s%20%231.txt");
    EXPECT_EQ(fileUri("/t/\xC3\xA9"), "file:///t/%C3%A9");
    EXPECT_EQ(quotedForGdbus("file:///a"), "'file:///a'");
    EXPECT_EQ(quotedForGdbus("it's\\"), "'it\\'s\\\\'");
}

TEST(DesktopLauncher, AMissingFileIsAFailureNotAMessage) {
    auto launcher = makeDesktopLauncher();
    const auto outcome = launcher->open("/nonexistent-folder-of-bastionwatch/connlog.txt");
    // xdg-open is one of the program's packages; the missing file is the failure.
    EXPECT_EQ(outcome, LaunchOutcome::Failed);
}

}  // namespace
}  // namespace bw
