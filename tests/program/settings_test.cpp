#include "program/settings.h"

#include <gtest/gtest.h>

#include "blocklist/number_text.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

struct Applied {
    bool windowVisible;
    bool startHidden;
    int aggression;
    std::string aggressionText;
    int intervalMs;
    std::string version;
};

ProgramState firstStartState() {
    ProgramState state;
    state.lastUpdateVersion = "old";
    return state;
}

TEST(Settings, AppliesEachLineAsRead) {
    struct Case {
        const char* bytes;
        Applied expected;
    } cases[] = {
        {"1\r\n50%\r\n3\r\n", {false, true, 50, "50", 55, "3"}},
        {" 1 \r\n50\r\n3\r\n", {false, true, 50, "50", 55, "3"}},
        {"0\r\n150\r\n\r\n", {true, false, 100, "100", 5, ""}},
        {"0\r\n100\r\n7\r\n", {true, false, 100, "100", 5, "7"}},
        {"0\r\n101\r\n7\r\n", {true, false, 100, "100", 5, "7"}},
        {"0\r\n-20\r\n7\r\n", {true, false, 10, "10", 95, "7"}},
        {"0\r\n-0.5\r\n7\r\n", {true, false, 10, "10", 95, "7"}},
        {"0\r\n0\r\n7\r\n", {true, false, 0, "0", 105, "7"}},
        {"0\r\nletters\r\n7\r\n", {true, false, 0, "0", 105, "7"}},
        {"0\r\n\r\n7\r\n", {true, false, 0, "0", 105, "7"}},
        {"0\r\n12.5\r\n7\r\n", {true, false, 12, "12.5", 92, "7"}},
        {"0\r\n13.5\r\n7\r\n", {true, false, 14, "13.5", 92, "7"}},
        {"2\r\n90%\r\n7\r\n", {true, false, 90, "90", 15, "7"}},
        {"word\r\n90%\r\n7\r\n", {true, false, 90, "90", 15, "7"}},
        {"\r\n90%\r\n7\r\n", {true, false, 90, "90", 15, "7"}},
        // Too few lines: the missing ones read as empty and the version stays.
        {"1", {false, true, 0, "0", 105, "old"}},
        {"1\r\n", {false, true, 0, "0", 105, "old"}},
        {"1\r\n75%\r\n", {false, true, 75, "75", 30, "old"}},
        // Any line end the blocklist reader knows.
        {"1\n50\n3\n", {false, true, 50, "50", 55, "3"}},
        {"1\r50\r3", {false, true, 50, "50", 55, "3"}},
    };
    for (const Case& c : cases) {
        ProgramState state = firstStartState();
        state.windowVisible = !c.expected.windowVisible;
        applySettingsText(c.bytes, state);
        const Applied got{state.windowVisible,      state.options.startHidden,
                          state.options.aggression, state.options.aggressionText,
                          state.timer.intervalMs,   state.lastUpdateVersion};
        SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
        EXPECT_EQ(got.windowVisible, c.expected.windowVisible);
        EXPECT_EQ(got.startHidden, c.expected.startHidden);
        EXPECT_EQ(got.aggression, c.expected.aggression);
        EXPECT_EQ(got.aggressionText, c.expected.aggressionText);
        EXPECT_EQ(got.intervalMs, c.expected.intervalMs);
        EXPECT_EQ(got.version, c.expected.version);
    }
}

TEST(Settings, RoundsHalvesToTheEvenNeighbour) {
    struct Case {
        double value;
        int rounded;
    } cases[] = {{12.5, 12}, {13.5, 14}, {92.5, 92}, {0.5, 0},   {1.5, 2},
                 {12.4, 12}, {12.6, 13}, {-0.5, 0},  {-1.5, -2}, {100, 100}};
    for (const Case& c : cases) EXPECT_EQ(roundHalfToEven(c.value), c.rounded) << c.value;
}

TEST(Settings, FirstStartCreatesAnEmptyFileAndOnlyShowsTheWindow) {
    test::TempDir dir;
    ProgramState state;
    state.windowVisible = false;
    ASSERT_TRUE(LOADSETTINGS(dir.file(kSettingsFileName), state));
    EXPECT_TRUE(std::filesystem::exists(dir.file(kSettingsFileName)));
    EXPECT_EQ(std::filesystem::file_size(dir.file(kSettingsFileName)), 0u);
    EXPECT_TRUE(state.windowVisible);
    EXPECT_FALSE(state.options.startHidden);
    EXPECT_EQ(state.options.aggression, 90);
    EXPECT_EQ(state.options.aggressionText, "90%");
    EXPECT_EQ(state.timer.intervalMs, 100);
}

// Every load asks the window anew to show or hide, also with the same wish as before:
// a reload after an update hides a window the user had brought back.
TEST(Settings, EveryLoadAsksAgainForTheWindowsVisibility) {
    test::TempDir dir;
    ProgramState state;
    dir.write(kSettingsFileName, "1\r\n50\r\n\r\n");
    ASSERT_TRUE(LOADSETTINGS(dir.file(kSettingsFileName), state));
    const unsigned first = state.visibilityRequests;
    ASSERT_TRUE(LOADSETTINGS(dir.file(kSettingsFileName), state));
    EXPECT_FALSE(state.windowVisible);
    EXPECT_EQ(state.visibilityRequests, first + 1);
    EXPECT_GT(first, 0u);
}

TEST(Settings, AFileThatCannotBeOpenedChangesNothing) {
    test::TempDir dir;
    ProgramState state;
    state.windowVisible = false;
    EXPECT_FALSE(LOADSETTINGS(dir.path() / "missing-folder" / kSettingsFileName, state));
    EXPECT_FALSE(state.windowVisible);
    EXPECT_EQ(state.visibilityRequests, 0u);
    EXPECT_EQ(state.options.aggressionText, "90%");
    EXPECT_EQ(state.timer.intervalMs, 100);
}

TEST(Settings, SavesThreeLinesWithTheLabelAsShown) {
    ProgramState state;
    EXPECT_EQ(settingsText(state), "0\r\n90%\r\n\r\n");
    state.options.startHidden = true;
    state.options.aggressionText = "75%";
    state.lastUpdateVersion = "20240101";
    EXPECT_EQ(settingsText(state), "1\r\n75%\r\n20240101\r\n");
    state.lastUpdateVersion = "5\r\nextra";
    EXPECT_EQ(settingsText(state), "1\r\n75%\r\n5\r\n");
}

TEST(Settings, SavingAfterALoadGivesTheSameStateAgain) {
    test::TempDir dir;
    const auto file = dir.file(kSettingsFileName);
    dir.write(kSettingsFileName, "1\r\n50%\r\n3\r\n");
    ProgramState loaded;
    ASSERT_TRUE(LOADSETTINGS(file, loaded));
    ASSERT_TRUE(SAVESETTINGS(file, loaded));
    EXPECT_EQ(dir.read(kSettingsFileName), "1\r\n50\r\n3\r\n");
    ProgramState again;
    ASSERT_TRUE(LOADSETTINGS(file, again));
    EXPECT_EQ(again.windowVisible, loaded.windowVisible);
    EXPECT_EQ(again.options.startHidden, loaded.options.startHidden);
    EXPECT_EQ(again.options.aggression, loaded.options.aggression);
    EXPECT_EQ(again.options.aggressionText, loaded.options.aggressionText);
    EXPECT_EQ(again.timer.intervalMs, loaded.timer.intervalMs);
    EXPECT_EQ(again.lastUpdateVersion, loaded.lastUpdateVersion);
}

TEST(Settings, AFailedSaveIsReported) {
    test::TempDir dir;
    ProgramState state;
    const WriteResult result =
        SAVESETTINGS(dir.path() / "missing-folder" / kSettingsFileName, state);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
}

}  // namespace
}  // namespace bw
