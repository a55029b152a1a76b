#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "support/fake_downloader.h"
#include "support/owner_access_only.h"
#include "support/program_fixture.h"

namespace bw {
namespace {

std::size_t countLines(const std::string& text) {
    std::size_t lines = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2))
        ++lines;
    return lines;
}

class ProgramCommands : public ::testing::Test, public test::ProgramFixture {
protected:
    void SetUp() override {
        dir.write("Moatlist.P2P", "A:5.0.0.1\r\nB:5.0.0.2-5.0.0.3\r\nC:5.0.0.4\r\n");
        program.load("");
    }
    std::string lineOfFile(std::size_t number) const {  // counting from 1
        std::string text = dir.read("Moatlist.P2P");
        std::size_t begin = 0;
        for (std::size_t i = 1; i < number; ++i) begin = text.find("\r\n", begin) + 2;
        return text.substr(begin, text.find("\r\n", begin) - begin);
    }
};

TEST_F(ProgramCommands, AddSavesTheWholeTableInTheSlotLayout) {
    program.addRange("Evil Corporation", "1.1.1.1", "2.2.2.2");
    std::string file = dir.read("Moatlist.P2P");
    EXPECT_EQ(countLines(file), 262400u);
    EXPECT_EQ(lineOfFile(1026), "Evil Corporation:1.1.1.1-2.2.2.2");
    EXPECT_EQ(lineOfFile(5 * 1025 + 1), "A:5.0.0.1");
}

TEST_F(ProgramCommands, RemoveClosesTheGapAndRewritesTheFile) {
    int resetsBefore = host.listResets;
    program.removeEntry({5, 1});
    ASSERT_EQ(program.table().bucket(5).size(), 2u);
    EXPECT_EQ(program.table().at({5, 1}).text, "C:5.0.0.4");
    EXPECT_EQ(lineOfFile(5 * 1025 + 1), "A:5.0.0.1");
    EXPECT_EQ(lineOfFile(5 * 1025 + 2), "C:5.0.0.4");
    EXPECT_EQ(lineOfFile(5 * 1025 + 3), "");
    EXPECT_GT(host.listResets, resetsBefore);
}

TEST_F(ProgramCommands, ARowThatIsNoLongerInTheTableRemovesNothing) {
    std::string before = dir.read("Moatlist.P2P");
    program.removeEntry({5, 7});
    EXPECT_EQ(program.table().size(), 3u);
    EXPECT_EQ(dir.read("Moatlist.P2P"), before);
}

TEST_F(ProgramCommands, AFailedSaveKeepsTheEntryAndSaysWhy) {
    std::filesystem::remove(dir.file("Moatlist.P2P"));
    std::filesystem::create_directories(dir.file("Moatlist.P2P") / "x");
    program.addRange("n", "9.9.9.9", "");
    EXPECT_EQ(program.table().bucket(9).size(), 1u);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_NE(host.messages[0].text.find("Moatlist.P2P"), std::string::npos);
}

TEST_F(ProgramCommands, TheCountersFollowTheTableAfterEveryChange) {
    auto counters = [&] {
        return program.state().counters.ranges + " " + program.state().counters.addresses;
    };
    EXPECT_EQ(counters(), "3 4");
    program.addRange("n", "9.0.0.1", "9.0.0.10");
    EXPECT_EQ(counters(), "4 14");
    program.removeEntry({5, 1});
    EXPECT_EQ(counters(), "3 12");
    const std::string import = "4071\r\nd:6.0.0.1-6.0.0.2\r\n";  // 25 bytes: 4096 - 25
    dir.write("more.p2p", import);
    program.filesDropped({dir.file("more.p2p").string()});
    EXPECT_EQ(counters(), "4 14");
}

TEST_F(ProgramCommands, AddsAndRemovalsKeepTheRecordOfTheUsersOwnEntries) {
    program.addRange("n", "9.0.0.1", "");
    program.addRange("m", "9.0.0.2", "");
    program.addRange("n", "9.0.0.1", "");  // already listed: recorded once
    EXPECT_EQ(dir.read("BWUserEntries.p2p"), "n:9.0.0.1\r\nm:9.0.0.2\r\n");
    program.removeEntry({9, 0});
    program.removeEntry({5, 0});  // from the list itself: not in the record
    EXPECT_EQ(dir.read("BWUserEntries.p2p"), "m:9.0.0.2\r\n");
}

TEST_F(ProgramCommands, Ipv6EntriesAreRowsAfterTheIpv4OnesAndAreRemovedLikeThem) {
    program.addRange("v6", "2001:db8::1", "2001:db8::ff");
    program.addRange("w6", "2001:db8:1::1", "");
    const BanTable& table = program.table();
    EXPECT_EQ(program.state().counters.ranges + " " + program.state().counters.addresses + " " +
                  program.state().counters.ranges6,
              "3 4 2");
    ASSERT_EQ(table.rows(), 5u);
    EXPECT_EQ(table.refAtRow(3), (EntryRef{BanTable::kIpv6Bucket, 0}));
    EXPECT_EQ(table.refAtRow(5), (EntryRef{BanTable::kBuckets, 0}));

    program.removeEntry(table.refAtRow(3));
    ASSERT_EQ(table.size6(), 1u);
    EXPECT_EQ(table.at6(0).text, "w6:2001:db8:1::1");
    EXPECT_EQ(program.state().counters.ranges6, "1");
    EXPECT_EQ(dir.read("Moatlist.P2P").find("v6:"), std::string::npos);
    EXPECT_NE(dir.read("Moatlist.P2P").find("w6:2001:db8:1::1\r\n"), std::string::npos);
    EXPECT_EQ(dir.read("BWUserEntries.p2p"), "w6:2001:db8:1::1\r\n");

    const std::string before = dir.read("Moatlist.P2P");
    program.removeEntry({BanTable::kIpv6Bucket, 1});  // a row no longer there
    EXPECT_EQ(table.size6(), 1u);
    EXPECT_EQ(dir.read("Moatlist.P2P"), before);
}

TEST_F(ProgramCommands, UnloadSavesTheSettingsAndEnds) {
    program.sliderClicked(75);
    program.startHiddenClicked(true);
    program.unload();
    EXPECT_EQ(dir.read("BW2Config.p2p"), "1\r\n75%\r\n\r\n");
    EXPECT_EQ(host.exitStatus, 0);
}

TEST_F(ProgramCommands, UnloadEndsEvenWhenTheSettingsCannotBeWritten) {
    std::filesystem::remove(dir.file("BW2Config.p2p"));
    std::filesystem::create_directories(dir.file("BW2Config.p2p") / "x");
    program.unload();
    EXPECT_EQ(host.exitStatus, 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].text.find("BW2Config.p2p"), std::string::npos);
}

TEST_F(ProgramCommands, ViewingTheLogOpensConnlogFromTheProgramFolder) {
    program.viewConnectionLog();
    ASSERT_EQ(launcher.calls.size(), 1u);
    EXPECT_EQ(launcher.calls[0], "open " + dir.file("connlog.txt").string());
}

TEST_F(ProgramCommands, AFailedVersionDownloadShowsTheUpdateError) {
    program.checkForUpdates();
    ASSERT_EQ(downloader.urls.size(), 1u);
    EXPECT_EQ(downloader.urls[0], "http://127.0.0.1:9/bwlistver.txt");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].shownTitle(), "Update Error");
}

// The new list is read as a start reads it, and a check asked for while that
// reload runs is ignored, as one asked for during the check's downloads is.
TEST(ProgramUpdate, TheReloadOfANewListTakesNoSecondCheck) {
    test::FakeServices world;
    world.dir.write("Moatlist.P2P", "old:10.0.0.0-10.0.0.255\r\n");
    test::FakeDownloader downloads;
    downloads.unanswered = test::FakeAnswer::heldBack();
    test::RecordingHost host;
    Program program(host, {.tcpTable = world.tcp,
                           .clock = world.clock,
                           .downloader = downloads,
                           .registry = world.registry,
                           .launcher = world.launcher,
                           .priority = world.priority,
                           .folder = world.dir.path(),
                           .executable = world.dir.path() / "bastionwatch",
                           .updateServer = "http://127.0.0.1:9/"});
    program.load("");
    int yieldsSinceTheNewList = -1;
    host.onYield = [&] {
        for (std::size_t i = 0; i < downloads.transfers.size(); ++i) {
            if (!downloads.transfers[i]->finished)
                downloads.finish(
                    i, test::FakeAnswer::ok(i == 1 ? "new:1.2.3.4-1.2.3.9\r\nnew2:5.6.7.8\r\n"
                                                   : "2\r\n"));
        }
        if (downloads.transfers.size() >= 2 && ++yieldsSinceTheNewList == 1) {
            EXPECT_EQ(program.table().size(), 0u) << "not asked during the reload";
            program.checkForUpdates();
        }
    };

    program.checkForUpdates();

    EXPECT_EQ(downloads.transfers.size(), 2u);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].shownTitle(), "Update Available");
    EXPECT_EQ(program.table().size(), 2u);
}

// An import's entries reach the list in a few refreshes, not two per entry,
// and the last refresh comes after the last entry.
TEST_F(ProgramCommands, AnImportRefreshesTheListSeldomAndLastAfterItsLastEntry) {
    constexpr int kEntries = 300;
    std::string body;
    for (int i = 0; i < kEntries; ++i)
        body += "i:6.0." + std::to_string(i / 256) + "." + std::to_string(i % 256) + "\r\n";
    std::string file;
    for (long head = 4096 - static_cast<long>(body.size());; --head) {
        file = std::to_string(head) + "\r\n" + body;
        if (head == 4096 - static_cast<long>(file.size()))
            break;
    }
    dir.write("import.p2p", file);
    int resetsAtLastYield = 0;
    host.onYield = [&] { resetsAtLastYield = host.listResets; };
    const int resetsBefore = host.listResets;

    program.filesDropped({dir.file("import.p2p").string()});
    EXPECT_EQ(program.table().bucket(6).size(), std::size_t{kEntries});
    EXPECT_LT(host.listResets - resetsBefore, kEntries);
    EXPECT_GT(host.listResets, resetsAtLastYield);
}

// A blocklist that exists but could not be read (0200, run as an ordinary user)
// is never replaced by the empty table the program guards with instead.
TEST(UnreadBlocklist, IsNeverOverwrittenAndTheUserIsToldWhy) {
    const std::string kept = "mine:10.0.0.0-10.0.0.255\r\n";
    struct Case {
        const char* what;
        std::function<void(Program&)> change;
    } cases[] = {
        {"add", [](Program& p) { p.addRange("n", "9.9.9.9", ""); }},
        {"remove",
         [](Program& p) {
             p.addRange("n", "9.9.9.9", "");
             p.removeEntry({9, 0});
         }},
        {"link start", [](Program& p) { p.load("bwdat://x@1.2.3.4:1.2.3.9"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::ProgramFixture f;
        f.dir.write("Moatlist.P2P", kept);
        std::filesystem::permissions(f.dir.file("Moatlist.P2P"),
                                     std::filesystem::perms::owner_write);
        {
            test::OwnerAccessOnly asAnOrdinaryUser;
            if (std::string(c.what) != "link start")
                f.program.load("");
            c.change(f.program);
        }
        std::filesystem::permissions(
            f.dir.file("Moatlist.P2P"),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        EXPECT_EQ(f.dir.read("Moatlist.P2P"), kept);
        ASSERT_FALSE(f.host.messages.empty());
        const Message& said = f.host.messages.back();
        EXPECT_EQ(said.icon, MessageIcon::Exclamation);
        EXPECT_NE(said.text.find("could not be read"), std::string::npos) << said.text;
        EXPECT_EQ(said.text.find("Added range(s)"), std::string::npos) << said.text;
    }
}

// Settings that exist but could not be read (mode 000, run as an ordinary user)
// are kept, as the blocklist is, instead of being replaced by the defaults, and
// the user is told so at the start and when they would have been saved.
TEST(UnreadSettings, AreKeptAndTheUserIsToldWhy) {
    const std::string kept = "1\r\n37\r\n5\r\n";
    test::ProgramFixture f;
    f.dir.write("Moatlist.P2P", "A:5.0.0.1\r\n");
    f.dir.write("BW2Config.p2p", kept);
    std::filesystem::permissions(f.dir.file("BW2Config.p2p"), std::filesystem::perms::none);
    {
        test::OwnerAccessOnly asAnOrdinaryUser;
        f.program.load("");
        f.program.sliderClicked(75);
        f.program.unload();
    }
    std::filesystem::permissions(
        f.dir.file("BW2Config.p2p"),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(f.dir.read("BW2Config.p2p"), kept);
    EXPECT_NE(
        f.host.log.find("Could not read the settings " + f.dir.file("BW2Config.p2p").string()),
        std::string::npos)
        << f.host.log;
    ASSERT_FALSE(f.host.messages.empty());
    EXPECT_NE(f.host.messages.back().text.find("could not be read when Bastionwatch started"),
              std::string::npos)
        << f.host.messages.back().text;
    EXPECT_EQ(f.host.exitStatus, 0);
}

}  // namespace
}  // namespace bw
