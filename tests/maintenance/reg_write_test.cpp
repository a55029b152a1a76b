#include "maintenance/reg_write.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "maintenance/link_registration.h"
#include "support/fake_registry.h"
#include "support/recording_host.h"

namespace bw {
namespace {

using Calls = std::vector<std::string>;

class RegWriteTest : public testing::Test {
protected:
    test::FakeRegistry registry;
    test::RecordingHost host;
    RegWrite regWrite{registry, host};
};

TEST_F(RegWriteTest, RootKeyKnowsTheRootNamesInTheirExactCase) {
    struct Case {
        const char* name;
        std::uint32_t handle;
    } cases[] = {
        {"HKEY_CLASSES_ROOT", 0x80000000},
        {"HKEY_CURRENT_USER", 0x80000001},
        {"HKEY_LOCAL_MACHINE", 0x80000002},
        {"HKEY_USERS", 0x80000003},
        {"HKEY_PERFORMANCE_DATA", 0x80000004},
        {"HKEY_CURRENT_CONFIG", 0x80000005},
        {"HKEY_DYN_DATA", 0x80000006},
        {"hkey_classes_root", 0},
        {"HKEY_FOO", 0},
        {"HKEY_CLASSES_ROOT ", 0},
        {"", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(regWrite.ROOTKEY(c.name), c.handle) << c.name;
}

TEST_F(RegWriteTest, SplitPathSeparatesRootAndSubkey) {
    struct Case {
        const char* path;
        std::uint32_t root;
        const char* subkey;
    } cases[] = {
        {"HKEY_CURRENT_USER", 0x80000001, ""},
        {"HKEY_CLASSES_ROOT\\bwdat", 0x80000000, "bwdat"},
        {"HKEY_CLASSES_ROOT\\bwdat\\shell\\open", 0x80000000, "bwdat\\shell\\open"},
        {"HKEY_FOO\\x", 0, "x"},
        {"HKEY_\\x", 0, "x"},
    };
    for (const Case& c : cases) {
        std::string path = c.path;
        std::uint32_t root = 12345;
        regWrite.SPLITPATH(path, root);
        EXPECT_EQ(root, c.root) << c.path;
        EXPECT_EQ(path, c.subkey) << c.path;
    }
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(RegWriteTest, SplitPathRejectsAPathOfTheWrongForm) {
    const char* paths[] = {
        "hkey_classes_root\\x", "HKEY_CLASSES_ROOT\\bwdat\\", "HKEY", "SOFTWARE\\x", "",
        "HKEY_CURRENT_USER\\"};
    for (const char* bad : paths) {
        host.messages.clear();
        std::string path = bad;
        std::uint32_t root = 12345;
        regWrite.SPLITPATH(path, root);
        EXPECT_EQ(root, 0u) << bad;
        ASSERT_EQ(host.messages.size(), 1u) << bad;
        EXPECT_EQ(host.messages[0].text, "Incorrect Format:\n\n" + std::string(bad));
        EXPECT_EQ(host.messages[0].icon, MessageIcon::None);
        EXPECT_EQ(host.messages[0].buttons, MessageButtons::Ok);
        EXPECT_EQ(host.messages[0].shownTitle(), "Bastionwatch");
    }
}

TEST_F(RegWriteTest, CreateKeyCreatesAndClosesTheKey) {
    regWrite.CREATEKEY("HKEY_CURRENT_USER\\Software\\x");
    EXPECT_EQ(registry.calls, (Calls{"create 80000001 \"Software\\x\" -> 1", "close 1"}));
}

TEST_F(RegWriteTest, SetStringWritesTheTextWithItsNull) {
    regWrite.SETSTRING("HKEY_CLASSES_ROOT\\bwdat", "URL Protocol", "");
    regWrite.SETSTRING("HKEY_CLASSES_ROOT\\bwdat", "", "abc");
    EXPECT_EQ(registry.calls, (Calls{
                                  "open 80000000 \"bwdat\" -> 1",
                                  "set 1 \"URL Protocol\" string \"\\0\"",
                                  "close 1",
                                  "open 80000000 \"bwdat\" -> 2",
                                  "set 2 \"\" string \"abc\\0\"",
                                  "close 2",
                              }));
}

TEST_F(RegWriteTest, SetBinaryWritesOneBytePerCharacter) {
    regWrite.SETBINARY("HKEY_CLASSES_ROOT\\bwdat", "EditFlags", std::string_view("\x02\0\0\0", 4));
    EXPECT_EQ(registry.calls, (Calls{
                                  "open 80000000 \"bwdat\" -> 1",
                                  "set 1 \"EditFlags\" binary \"\\x02\\0\\0\\0\"",
                                  "close 1",
                              }));
}

TEST_F(RegWriteTest, NothingIsTouchedForAnUnknownRootOrABadPath) {
    regWrite.CREATEKEY("HKEY_FOO\\x");
    regWrite.SETSTRING("HKEY_FOO\\x", "", "a");
    regWrite.SETBINARY("HKEY_FOO\\x", "", "a");
    EXPECT_TRUE(host.messages.empty());
    regWrite.CREATEKEY("hkey_classes_root\\x");
    regWrite.SETSTRING("HKEY_CLASSES_ROOT\\x\\", "", "a");
    EXPECT_EQ(host.messages.size(), 2u);
    EXPECT_TRUE(registry.calls.empty());
}

TEST_F(RegWriteTest, RegistryFailuresAreSilent) {
    registry.createResult = kRegistryAccessDenied;
    registry.openResult = kRegistryAccessDenied;
    regWrite.CREATEKEY("HKEY_CLASSES_ROOT\\bwdat");
    regWrite.SETSTRING("HKEY_CLASSES_ROOT\\bwdat", "", "a");
    // A key that could not be opened is neither written nor closed.
    EXPECT_EQ(registry.calls,
              (Calls{"create 80000000 \"bwdat\" -> 0", "open 80000000 \"bwdat\" -> 0"}));
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(RegWriteTest, AFailedWriteStillClosesTheKey) {
    registry.setResult = kRegistryAccessDenied;
    regWrite.SETSTRING("HKEY_CLASSES_ROOT\\bwdat", "", "a");
    EXPECT_EQ(registry.calls,
              (Calls{"open 80000000 \"bwdat\" -> 1", "set 1 \"\" string \"a\\0\"", "close 1"}));
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(RegWriteTest, RegistrationMakesTheEightCallsInOrder) {
    registerLinkScheme(regWrite, "/opt/guard dir/bastionwatch");
    EXPECT_EQ(registry.calls, (Calls{
                                  "create 80000000 \"bwdat\" -> 1",
                                  "close 1",
                                  "create 80000000 \"bwdat\\shell\" -> 2",
                                  "close 2",
                                  "create 80000000 \"bwdat\\shell\\open\" -> 3",
                                  "close 3",
                                  "create 80000000 \"bwdat\\shell\\open\\command\" -> 4",
                                  "close 4",
                                  "open 80000000 \"bwdat\" -> 5",
                                  "set 5 \"\" string \"URL: ZQ Hub Address\\0\"",
                                  "close 5",
                                  "open 80000000 \"bwdat\" -> 6",
                                  "set 6 \"URL Protocol\" string \"\\0\"",
                                  "close 6",
                                  "open 80000000 \"bwdat\" -> 7",
                                  "set 7 \"EditFlags\" binary \"\\x02\\0\\0\\0\"",
                                  "close 7",
                                  "open 80000000 \"bwdat\\shell\\open\\command\" -> 8",
                                  "set 8 \"\" string \"\"/opt/guard dir/bastionwatch\" %1\\0\"",
                                  "close 8",
                              }));
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(RegWriteTest, RegisteringTwiceGivesTheSameValues) {
    registerLinkScheme(regWrite, "/opt/bw/bastionwatch");
    auto first = registry.values;
    registerLinkScheme(regWrite, "/opt/bw/bastionwatch");
    EXPECT_EQ(registry.values, first);
    EXPECT_EQ(first.size(), 4u);
    EXPECT_EQ(first.at("80000000\\bwdat\\shell\\open\\command|"),
              std::string("\"/opt/bw/bastionwatch\" %1\0", 26));
}

}  // namespace
}  // namespace bw
