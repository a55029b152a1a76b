#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "blocklist/blocklist_writer.h"
#include "platform/instance_channel.h"
#include "support/program_fixture.h"

namespace bw {
namespace {

using test::ProgramFixture;
using test::RecordingHost;

class StartupLoad : public ::testing::Test, public ProgramFixture {
protected:
    void startWith(const std::string& blocklist, const std::string& argument = "") {
        dir.write("Moatlist.P2P", blocklist);
        program.load(argument);
    }
    std::size_t entriesIn(int bucket) const { return program.table().bucket(bucket).size(); }
};

TEST_F(StartupLoad, LoadsTwoProfilesAndReportsTheirAddresses) {
    startWith("a:10.0.0.0-10.0.0.255\r\nb:10.0.0.7\r\n");

    EXPECT_NE(host.log.find("Successfully loaded 257 IPs from 2 profiles.\r\n\r\n"),
              std::string::npos)
        << host.log;
    EXPECT_EQ(host.log.find("Failed to read"), std::string::npos);
    EXPECT_EQ(program.state().counters.ranges, "2");
    EXPECT_EQ(program.state().counters.addresses, "257");
    ASSERT_EQ(entriesIn(10), 2u);
    EXPECT_EQ(program.table().at({10, 1}).text, "b:10.0.0.7");
    EXPECT_GE(host.listResets, 1);
    EXPECT_TRUE(program.state().timer.enabled);
    EXPECT_TRUE(program.state().guardOnBanner);
    EXPECT_EQ(program.state().trayToolTip, "Bastionwatch v1.99");
    EXPECT_EQ(priority.raises, 1);
}

TEST_F(StartupLoad, TheHeaderOpensTheLogViewBeforeTheReport) {
    startWith("a:10.0.0.0-10.0.0.255\r\n");
    EXPECT_EQ(host.log.rfind("Bastionwatch v1.99b (2.0 pre-release)\r\n", 0), 0u) << host.log;
    EXPECT_LT(host.log.find("System Timezone: GMT +0:00"), host.log.find("Successfully loaded"));
}

TEST_F(StartupLoad, ALineWithoutColonIsReportedAsFailed) {
    startWith("not an entry\r\n");
    EXPECT_NE(
        host.log.find("Failed to read 1 lines.\r\nSuccessfully loaded 0 IPs from 0 profiles."),
        std::string::npos)
        << host.log;
    EXPECT_EQ(program.table().size(), 0u);
}

TEST_F(StartupLoad, AnEmptyFileGivesNoReportAndLeavesTheCounters) {
    startWith("");
    EXPECT_EQ(host.log.find("Successfully loaded"), std::string::npos);
    EXPECT_EQ(program.state().counters.ranges, "0");
    EXPECT_EQ(program.state().counters.addresses, "0");
    EXPECT_TRUE(program.state().timer.enabled);
}

TEST_F(StartupLoad, AMissingBlocklistIsCreatedEmpty) {
    program.load("");
    EXPECT_TRUE(std::filesystem::exists(dir.file("Moatlist.P2P")));
    EXPECT_EQ(std::filesystem::file_size(dir.file("Moatlist.P2P")), 0u);
    EXPECT_EQ(std::filesystem::file_size(dir.file("BW2Config.p2p")), 0u);
    EXPECT_TRUE(program.state().timer.enabled);
}

// The files are the program's own whatever their letter case, as the update
// server names the blocklist "moatlist.p2p".
TEST_F(StartupLoad, FilesAreFoundWithoutRegardToLetterCase) {
    dir.write("moatlist.p2p", "a:10.0.0.0-10.0.0.255\r\n");
    dir.write("bw2config.P2P", "0\r\n40\r\n\r\n");
    program.load("");
    EXPECT_EQ(program.table().size(), 1u);
    EXPECT_EQ(program.state().options.aggression, 40);
    EXPECT_FALSE(std::filesystem::exists(dir.file("Moatlist.P2P")));

    program.addRange("b", "11.0.0.1", "");
    EXPECT_NE(dir.read("moatlist.p2p").find("b:11.0.0.1\r\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("Moatlist.P2P")));
}

TEST_F(StartupLoad, ADuplicateLineLoadsTwiceAndBothEntriesAct) {
    tcp.rows = {test::connectionTo(test::ipField(10, 0, 0, 5))};
    startWith("Example Net:10.0.0.0-10.0.0.255\r\nExample Net:10.0.0.0-10.0.0.255\r\n");

    EXPECT_EQ(entriesIn(10), 2u);
    EXPECT_NE(host.log.find("Successfully loaded 512 IPs from 2 profiles."), std::string::npos);
    // The first guard pass runs right after the load, and each entry acts once.
    std::size_t first = host.log.find("Connection Rejected: 10.0.0.5 - Example Net (");
    ASSERT_NE(first, std::string::npos) << host.log;
    EXPECT_NE(host.log.find("Connection Rejected: 10.0.0.5 - Example Net (", first + 1),
              std::string::npos);
    EXPECT_GT(first, host.log.find("Successfully loaded"));
}

TEST_F(StartupLoad, AnUnreadableBlocklistLeavesAnEmptyTableAndSaysSo) {
    std::filesystem::create_directory(dir.file("Moatlist.P2P"));  // cannot be read as a file
    program.load("");
    EXPECT_NE(host.log.find("Could not open the blocklist"), std::string::npos) << host.log;
    EXPECT_EQ(program.table().size(), 0u);
    EXPECT_TRUE(program.state().timer.enabled);
    EXPECT_EQ(host.exitStatus, -1);
}

TEST_F(StartupLoad, AReloadThatFindsNothingToLoadEmptiesTheList) {
    struct Case {
        const char* what;
        std::function<void(const std::filesystem::path&)> leave;
    } cases[] = {
        {"an empty file", [](const auto& file) { std::filesystem::resize_file(file, 0); }},
        {"an unreadable file",
         [](const auto& file) {
             std::filesystem::remove(file);
             std::filesystem::create_directory(file);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir.file("Moatlist.P2P"));
        startWith("a:10.0.0.0-10.0.0.255\r\n");
        ASSERT_EQ(program.table().size(), 1u);
        c.leave(dir.file("Moatlist.P2P"));
        const int resetsBefore = host.listResets;

        program.STARTUPLOAD("");  // as the update check reruns it

        EXPECT_EQ(program.table().size(), 0u);
        EXPECT_GT(host.listResets, resetsBefore);
    }
}

TEST_F(StartupLoad, SettingsAreAppliedAfterTheTimerIsOn) {
    dir.write("BW2Config.p2p", "1\r\n50%\r\n3\r\n");
    startWith("");
    EXPECT_FALSE(program.state().windowVisible);
    EXPECT_EQ(program.state().timer.intervalMs, 55);
    EXPECT_EQ(program.state().lastUpdateVersion, "3");
}

TEST_F(StartupLoad, TheLinkSchemeIsRegisteredAtEveryStart) {
    program.load("");
    ASSERT_FALSE(registry.calls.empty());
    EXPECT_NE(registry.calls.front().find("bwdat"), std::string::npos);
}

TEST_F(StartupLoad, AnyOtherArgumentIsANormalStart) {
    startWith("a:1.2.3.4\r\n", "--something");
    EXPECT_EQ(host.exitStatus, -1);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(program.state().trayToolTip, "Bastionwatch v1.99");
}

class LinkStart : public StartupLoad {};

TEST_F(LinkStart, AddsTheEntriesRewritesWithoutEmptyLinesAndEnds) {
    // A file in the every-slot layout, as the add dialog leaves it.
    BanTable saved;
    saved.append(10, {"old:10.0.0.1", "old", 167772161, 167772161});
    dir.write("Moatlist.P2P", formatEverySlot(saved));

    program.load("BWDAT://x@1.2.3.4:1.2.3.9/");

    EXPECT_EQ(dir.read("Moatlist.P2P"), "x:1.2.3.4-1.2.3.9\r\nold:10.0.0.1\r\n");
    ASSERT_EQ(host.messages.size(), 1u);
    // It names the file it wrote.
    EXPECT_EQ(host.messages[0].text,
              "Added range(s) to blocklist.\r\n\r\nChanges will only be effective once "
              "Bastionwatch has been restarted.\r\n\r\nSaved in " +
                  dir.file("Moatlist.P2P").string() + ".");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Information);
    EXPECT_EQ(host.messages[0].shownTitle(), "Bastionwatch Update");
    EXPECT_EQ(host.exitStatus, 0);
    EXPECT_FALSE(program.state().windowVisible);
    EXPECT_FALSE(program.state().trayVisible);
    EXPECT_TRUE(program.state().trayToolTip.empty());  // the load sequence ended with the program
    EXPECT_EQ(dir.read("BW2Config.p2p"), "0\r\n90%\r\n\r\n");
}

TEST_F(LinkStart, KeepsTheCaseOfThePayloadAndSkipsEmptySegments) {
    // 1.1.1.1-2.2.2.2, the add dialog's own example, would ban more than a /8: a link may not.
    program.load("bwdat://Evil Corporation@1.1.1.1:1.2.2.2//b@2.2.2.3");
    EXPECT_EQ(dir.read("Moatlist.P2P"), "Evil Corporation:1.1.1.1-1.2.2.2\r\nb:2.2.2.3\r\n");
}

TEST_F(LinkStart, AFailedRewriteIsNotReportedAsAdded) {
    // The blocklist's place is taken by a folder with something in it: the rename must fail.
    std::filesystem::create_directories(dir.file("Moatlist.P2P") / "x");
    program.load("bwdat://x@1.2.3.4:1.2.3.9");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_NE(host.messages[0].text.find("could not be written"), std::string::npos);
    EXPECT_NE(host.exitStatus, 0);
}

TEST_F(LinkStart, SaysAddedOnlyWhenAnEntryWasStoredAndOtherwiseWhyNot) {
    // A link that adds nothing ends with a failure, so a script or browser can tell.
    struct Case {
        const char* link;
        const char* said;  // in the last message
        bool rewritten;
        int status;
    } cases[] = {
        {"bwdat://x@1.2.3.9:1.2.3.4",
         "Nothing was added to the blocklist.\r\n\r\nx:1.2.3.9-1.2.3.4: not a valid", false, 1},
        {"bwdat://x@126.0.0.0:128.0.0.0", "x:126.0.0.0-128.0.0.0: localhost", false, 1},
        {"bwdat://x@127.0.0.1", "x:127.0.0.1: localhost", false, 1},
        {"bwdat://x@1.2.3.4%00", "Nothing was added", false, 1},
        {"bwdat://x@1.2.3.4%0A", "Nothing was added", false, 1},
        {"bwdat://x@1.2.3", "x:1.2.3: not a valid", false, 1},
        {"bwdat:///", "Nothing was added", false, 1},
        {"bwdat://old@10.0.0.1", "old:10.0.0.1: already listed", false, 1},
        {"bwdat://Half@0.1.0.1:126.255.255.255/Other@128.0.0.0:255.255.255.255",
         "Refused: this link would ban 3702258688 public IPv4 addresses (100.0 % of the public "
         "IPv4 space)",
         false, 1},
        {"bwdat://a%20b@1.2.3.4/x@1.2.3.9:1.2.3.4", "Not added:\r\nx:1.2.3.9-1.2.3.4: not a valid",
         true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        host.messages.clear();
        dir.write("Moatlist.P2P", "old:10.0.0.1\r\n");
        program.load(c.link);
        ASSERT_FALSE(host.messages.empty());
        EXPECT_NE(host.messages.back().text.find(c.said), std::string::npos)
            << host.messages.back().text;
        EXPECT_EQ(dir.read("Moatlist.P2P") != "old:10.0.0.1\r\n", c.rewritten);
        EXPECT_EQ(host.exitStatus, c.status);
    }
    // The decoded name is what reached the file, and the record of the user's own entries.
    EXPECT_EQ(dir.read("Moatlist.P2P"), "a b:1.2.3.4\r\nold:10.0.0.1\r\n");
    EXPECT_EQ(dir.read("BWUserEntries.p2p"), "a b:1.2.3.4\r\n");
}

// The link start's message stays on screen until the user closes it; by then
// its link is saved, so a second link start (or the window opened meanwhile)
// claims the folder instead of waiting on the box, and gives up the folder in turn.
TEST_F(LinkStart, GivesUpTheFolderBeforeItsMessageIsShown) {
    test::TempDir runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    struct Case {
        const char* link;
        const char* said;
    } cases[] = {
        {"bwdat://x@1.2.3.4", "Added range(s)"},
        {"bwdat://x@127.0.0.1", "Nothing was added"},
        {"bwdat://", "Refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        InstanceClaim claim = claimProgramFolder(dir.path(), ClaimPurpose::OneLink);
        ASSERT_TRUE(claim.channel) << claim.error;
        ProgramServices linked = services();
        linked.instanceChannel = claim.channel.get();
        RecordingHost linkHost;
        bool secondGotThrough = false;
        linkHost.onMessage = [&](const Message&) {
            InstanceClaim second = claimProgramFolder(dir.path(), ClaimPurpose::OneLink);
            secondGotThrough = second.channel != nullptr;
        };
        Program(linkHost, linked).load(c.link);
        ASSERT_EQ(linkHost.messages.size(), 1u);
        EXPECT_NE(linkHost.messages[0].text.find(c.said), std::string::npos);
        EXPECT_TRUE(secondGotThrough) << "the second start was kept waiting on the message";
    }
    ::unsetenv("XDG_RUNTIME_DIR");
}

// The prefix alone names nothing: it is refused instead of starting a guard that never ends.
TEST_F(LinkStart, AnEmptyLinkIsRefusedAndStartsNoGuard) {
    dir.write("Moatlist.P2P", "old:10.0.0.1\r\n");
    program.load("bwdat://");
    EXPECT_EQ(host.exitStatus, 1);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text.rfind("Refused: the link bwdat:// holds no entries.", 0), 0u)
        << host.messages[0].text;
    EXPECT_FALSE(program.state().timer.enabled);
    EXPECT_EQ(program.table().size(), 0u);
    EXPECT_EQ(dir.read("Moatlist.P2P"), "old:10.0.0.1\r\n");
}

TEST_F(StartupLoad, LeftoversOfInterruptedSavesAreRemoved) {
    const char* leftovers[] = {".Moatlist.P2P.k2Lm9q", ".BW2Config.p2p.Zz0a1b",
                               ".BWUserEntries.p2p.abcdef", "Moatlist.P2P.download"};
    for (const char* name : leftovers) dir.write(name, std::string(1000, 'x'));
    dir.write("notes.txt", "kept");
    startWith("a:1.2.3.4\r\n");
    for (const char* name : leftovers)
        EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
    EXPECT_TRUE(std::filesystem::exists(dir.file("notes.txt")));
    EXPECT_EQ(program.table().size(), 1u);
}

TEST_F(StartupLoad, SaysOnceWhereItKeepsItsFilesWhenThatIsNotBesideTheProgram) {
    test::TempDir elsewhere;
    ProgramServices moved = services();
    moved.executable = elsewhere.path() / "bastionwatch";
    Program relocated(host, moved);
    relocated.load("");
    const std::string said = "Bastionwatch keeps its files in " + dir.path().string() +
                             ", not beside the program in " + elsewhere.path().string() + ".";
    EXPECT_NE(host.log.find(said), std::string::npos) << host.log;
    program.load("");  // beside the program: nothing said
    EXPECT_EQ(host.log.find("keeps its files"), std::string::npos) << host.log;
}

// A later start hands its request to this copy, which holds the folder.
TEST_F(StartupLoad, LaterStartsHandTheirLinksToTheRunningCopy) {
    startWith("old:10.0.0.1\r\n");
    struct Case {
        const char* request;
        const char* answer;  // its beginning
        int status;          // the later start's
        std::size_t entries;
    } cases[] = {
        {"bwdat://x@1.2.3.4:1.2.3.9", "Added range(s) to blocklist.", 0, 2},
        {"BWDAT://x@1.2.3.4:1.2.3.9", "Nothing was added", 1, 2},  // already listed
        {"bwdat://x@127.0.0.1", "Nothing was added", 1, 2},
        {"rm -rf /", "Refused", 1, 2},
        {"bwdat://", "Refused", 1, 2},
        {"bwdat://Half@0.1.0.1:126.255.255.255/Other@128.0.0.0:255.255.255.255",
         "Refused: this link would ban 3702258688 public IPv4 addresses", 1, 2},
        {"show the window", "Bastionwatch is already running", 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        laterStarts.answers.clear();
        host.messages.clear();
        laterStarts.waiting = {c.request};
        program.guardTimerFired();
        ASSERT_EQ(laterStarts.answers.size(), 1u);
        const LaterStartAnswer answer = decodeLaterStartAnswer(laterStarts.answers[0]);
        EXPECT_EQ(answer.text.rfind(c.answer, 0), 0u) << answer.text;
        EXPECT_EQ(answer.status, c.status);
        // One box at most, shown after the answer went: the later start never waits on the user.
        EXPECT_LE(host.messages.size(), 1u);
        EXPECT_EQ(program.table().size(), c.entries);
    }
    // The entries work at once, were saved, and the user was told without a restart.
    EXPECT_NE(dir.read("Moatlist.P2P").find("x:1.2.3.4-1.2.3.9\r\n"), std::string::npos);
    EXPECT_EQ(dir.read("BWUserEntries.p2p"), "x:1.2.3.4-1.2.3.9\r\n");
    EXPECT_EQ(program.state().counters.ranges, "2");
    EXPECT_GE(program.state().visibilityRequests, 2u);
    EXPECT_TRUE(program.state().windowVisible);
    EXPECT_EQ(host.exitStatus, -1);
    // The answer names the file the entries were saved in.
    laterStarts.waiting = {"bwdat://y@1.2.3.20"};
    program.guardTimerFired();
    ASSERT_FALSE(laterStarts.answers.empty());
    EXPECT_EQ(decodeLaterStartAnswer(laterStarts.answers.back()).status, 0);
    EXPECT_NE(laterStarts.answers.back().find("Saved in " + dir.file("Moatlist.P2P").string()),
              std::string::npos)
        << laterStarts.answers.back();
}

}  // namespace
}  // namespace bw
