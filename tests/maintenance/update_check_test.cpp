#include "maintenance/update_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/fake_downloader.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

using Events = std::vector<std::string>;

const std::string kOldList = "old:10.0.0.0-10.0.0.255\r\n";  // 25 bytes, above the 20-byte rule
const std::string kNewList = "new:1.2.3.4-1.2.3.9\r\nnew2:5.6.7.8\r\n";

// Where the update server of these tests is.
const std::string kServer = "http://updates.example.net/lists/";

constexpr const char* kErrorText = "Error connecting to update server.  Please try later.";
constexpr const char* kNoUpdateText = "No updates available since you last received an updated!";
constexpr const char* kAvailableText =
    "Blocklist update will now be downloaded.  This will replace your 'Moatlist.p2p' file.";

// Blanks count nowhere: " 8" and "1 0" read as 8 and 10.
TEST(VersionValue, ReadsZeroFollowedByTheText) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"", 0},      {"9", 9},  {"10", 10}, {"1.5", 1.5}, {".5", 0.5},
        {"2.5", 2.5}, {"-5", 0}, {"+5", 0},  {"abc", 0},   {"7 beta", 7},
        {"3\r", 3},   {" 8", 8}, {"\t8", 8}, {"1 0", 10},  {" - 5", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(versionValue(c.text), c.value) << '"' << c.text << '"';
}

class UpdateCheckTest : public testing::Test {
protected:
    UpdateCheckTest() {
        folder.write("Moatlist.P2P", kOldList);
        serve("moatlist.p2p", test::FakeAnswer::ok(kNewList));
    }

    void serve(const std::string& file, test::FakeAnswer answer) {
        downloader.answer(kServer + file, std::move(answer));
    }
    void serveVersion(const std::string& body) {
        serve("bwlistver.txt", test::FakeAnswer::ok(body));
    }

    UpdateCheck makeCheck(const std::string& base) {
        return UpdateCheck(downloader, host, state, folder.path(), base,
                           [this] { events.push_back("save " + state.lastUpdateVersion); });
    }
    // The program reloads the table when a check has replaced the list.
    void record(UpdateCheck::Outcome outcome) {
        if (outcome == UpdateCheck::Outcome::ListReplaced)
            events.push_back("startup " + folder.read("Moatlist.P2P"));
    }

    void runCheck() { record(makeCheck(kServer).run()); }

    std::vector<std::string> titles() const {
        std::vector<std::string> out;
        for (const Message& m : host.messages) out.push_back(m.shownTitle());
        return out;
    }

    // What every check leaves behind, whatever its outcome.
    void expectNoLeftovers() {
        EXPECT_FALSE(std::filesystem::exists(folder.file("bwlistver.txt")));
        EXPECT_FALSE(std::filesystem::exists(folder.file("Moatlist.P2P.download")));
        for (const Message& m : host.messages) {
            EXPECT_EQ(m.icon, MessageIcon::Information);
            EXPECT_EQ(m.buttons, MessageButtons::Ok);
        }
    }

    // The old blocklist stays, bwuv and the settings are untouched, the user is told.
    void expectFailedUpdate(const std::string& previousVersion) {
        EXPECT_EQ(folder.read("Moatlist.P2P"), kOldList);
        EXPECT_EQ(state.lastUpdateVersion, previousVersion);
        EXPECT_TRUE(events.empty());
        ASSERT_FALSE(host.messages.empty());
        EXPECT_EQ(host.messages.back().shownTitle(), "Update Error");
        EXPECT_EQ(host.messages.back().text, kErrorText);
        expectNoLeftovers();
    }

    test::TempDir folder;
    test::RecordingHost host;
    ProgramState state;
    Events events;
    test::FakeDownloader downloader;
};

// The update server must stay reachable whatever the lists ban.
TEST_F(UpdateCheckTest, RemembersTheUpdateServersAddress) {
    test::FakeAnswer version = test::FakeAnswer::ok("1");
    version.serverAddress = "192.0.2.80";
    serve("bwlistver.txt", version);
    UpdateCheck check = makeCheck(kServer);
    EXPECT_EQ(check.serverLifeline(), std::nullopt);
    record(check.run());
    EXPECT_EQ(check.serverLifeline(), (Lifeline{IpAddress::fromV4(0xC0000250u), "update server"}));
}

TEST_F(UpdateCheckTest, ComparesStoredAndReceivedVersions) {
    struct Case {
        const char* stored;
        const char* received;
        bool due;
    } cases[] = {
        {"", "1", true},     {"9", "10", true}, {"10", "9", false}, {"2", "2.5", true},
        {"2.5", "2", false}, {"", "-5", false}, {"3", "3", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("stored \"") + c.stored + "\", received \"" + c.received + '"');
        folder.write("Moatlist.P2P", kOldList);
        host.messages.clear();
        events.clear();
        state.lastUpdateVersion = c.stored;
        serveVersion(std::string(c.received) + "\r\n");

        runCheck();

        EXPECT_EQ(state.lastUpdateVersion, c.received);  // a lower version replaces it too
        if (c.due) {
            EXPECT_EQ(titles(), std::vector<std::string>{"Update Available"});
            EXPECT_EQ(host.messages[0].text, kAvailableText);
            EXPECT_EQ(folder.read("Moatlist.P2P"), kNewList);
            // Saved before the reload, which reads the settings back.
            EXPECT_EQ(events, (Events{"save " + std::string(c.received), "startup " + kNewList}));
        } else {
            EXPECT_EQ(titles(), std::vector<std::string>{"No Updates Found"});
            EXPECT_EQ(host.messages[0].text, kNoUpdateText);
            EXPECT_EQ(folder.read("Moatlist.P2P"), kOldList);
            EXPECT_EQ(events, Events{"save " + std::string(c.received)});
        }
        expectNoLeftovers();
    }
}

TEST_F(UpdateCheckTest, AShortLocalBlocklistIsAlwaysReplaced) {
    struct Case {
        std::size_t length;
        bool due;
    } cases[] = {{0, true}, {19, true}, {20, false}, {21, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        folder.write("Moatlist.P2P", std::string(c.length, 'x'));
        host.messages.clear();
        events.clear();
        state.lastUpdateVersion = "5";
        serveVersion("5\r\n");

        runCheck();

        if (c.due) {
            EXPECT_EQ(titles(), std::vector<std::string>{"Update Available"});
            EXPECT_EQ(folder.read("Moatlist.P2P"), kNewList);
        } else {
            EXPECT_EQ(titles(), std::vector<std::string>{"No Updates Found"});
            EXPECT_EQ(folder.read("Moatlist.P2P"), std::string(c.length, 'x'));
        }
        expectNoLeftovers();
    }
}

TEST_F(UpdateCheckTest, AMissingLocalBlocklistIsCreatedAndReplaced) {
    std::filesystem::remove(folder.file("Moatlist.P2P"));
    state.lastUpdateVersion = "5";
    serveVersion("5");
    runCheck();
    EXPECT_EQ(titles(), std::vector<std::string>{"Update Available"});
    EXPECT_EQ(folder.read("Moatlist.P2P"), kNewList);
}

TEST_F(UpdateCheckTest, TheReceivedVersionIsTheFirstLineAsReceived) {
    struct Case {
        const char* body;
        const char* version;
    } cases[] = {
        {"7\r\nnotes\r\n", "7"},
        {"7\nnotes", "7"},
        {" 8 beta\r\n", " 8 beta"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.body)));
        state.lastUpdateVersion = "100";
        serveVersion(c.body);
        runCheck();
        EXPECT_EQ(state.lastUpdateVersion, c.version);
    }
}

TEST_F(UpdateCheckTest, AFailedVersionDownloadChangesNothing) {
    state.lastUpdateVersion = "3";
    runCheck();  // no version file on the server: 404
    EXPECT_EQ(titles(), std::vector<std::string>{"Update Error"});
    expectFailedUpdate("3");
    EXPECT_EQ(downloader.urls(), std::vector<std::string>{kServer + "bwlistver.txt"});
}

TEST_F(UpdateCheckTest, AnUnreachableServerChangesNothing) {
    downloader.unanswered = test::FakeAnswer::failure("Failed to connect to 192.0.2.9 port 9");
    state.lastUpdateVersion = "3";
    record(makeCheck("http://192.0.2.9:9/lists/").run());
    EXPECT_EQ(titles(), std::vector<std::string>{"Update Error"});
    expectFailedUpdate("3");
}

TEST_F(UpdateCheckTest, AFailedBlocklistDownloadKeepsTheOldFile) {
    struct Case {
        const char* what;
        test::FakeAnswer reply;
    } cases[] = {
        {"not found", test::FakeAnswer::failure("The requested URL returned error: 404", "gone")},
        {"server error",
         test::FakeAnswer::failure("The requested URL returned error: 500", kNewList)},
        {"broken off halfway",
         test::FakeAnswer::failure("transfer closed with 18 bytes remaining to read",
                                   kNewList.substr(0, kNewList.size() / 2))},
        {"redirect to nowhere", test::FakeAnswer::failure("The requested URL returned error: 404")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.messages.clear();
        events.clear();
        state.lastUpdateVersion = "1";
        serveVersion("2\r\n");
        serve("moatlist.p2p", c.reply);

        runCheck();

        EXPECT_EQ(titles(), (std::vector<std::string>{"Update Available", "Update Error"}));
        expectFailedUpdate("1");
    }
}

TEST_F(UpdateCheckTest, DownloadsRunWhileEventsAreServed) {
    serve("bwlistver.txt", {.body = "2", .held = true});
    serve("moatlist.p2p", {.body = kNewList, .held = true});
    host.onYield = [&] { downloader.finishAll(); };
    runCheck();
    // Both downloads ran under the host's progress wait, which keeps events running.
    EXPECT_EQ(host.progressCaptions.size(), 2u);
    EXPECT_EQ(folder.read("Moatlist.P2P"), kNewList);
}

TEST_F(UpdateCheckTest, ACheckAskedForDuringACheckIsIgnored) {
    serve("bwlistver.txt", {.body = "2", .held = true});
    serve("moatlist.p2p", {.body = kNewList, .held = true});
    UpdateCheck check = makeCheck(kServer);
    host.onYield = [&] {
        record(check.run());
        downloader.finishAll();
    };
    record(check.run());
    EXPECT_EQ(downloader.urls(),
              (std::vector<std::string>{kServer + "bwlistver.txt", kServer + "moatlist.p2p"}));
    EXPECT_EQ(events, (Events{"save 2", "startup " + kNewList}));
}

// Whatever the server sends that is not a version and a sound blocklist
// leaves the old list and bwuv as they were, and the message names the reason.
TEST_F(UpdateCheckTest, RefusesAnythingButANumberAndASoundList) {
    std::string goodLines;
    for (int i = 0; i < 99; ++i) goodLines += "n:1.2.3." + std::to_string(i + 1) + "\r\n";
    struct Case {
        const char* what;
        std::string version;
        std::string list;
        const char* reason;  // empty: accepted
    } cases[] = {
        {"an empty version", "", kNewList, "no version number"},
        {"a web page as version", "<!DOCTYPE html>\r\n<html>", kNewList, "no version number"},
        {"an empty list", "2", "", "holds no range"},
        {"lines without ranges", "2", "x\r\ny\r\n", "holds no range"},
        {"a web page as list", "2", "\r\n<!DOCTYPE html><html><body>a:1.2.3.4</body></html>",
         "web page"},
        {"2 bad lines in 100", "2", goodLines.substr(goodLines.find('\n') + 1) + "bad\r\nbad\r\n",
         "could not be read"},
        {"1 bad line in 100", "2", goodLines + "bad\r\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        folder.write("Moatlist.P2P", kOldList);
        host.messages.clear();
        events.clear();
        state.lastUpdateVersion = "1";
        serveVersion(c.version);
        serve("moatlist.p2p", test::FakeAnswer::ok(c.list));

        runCheck();

        ASSERT_FALSE(host.messages.empty());
        if (std::string(c.reason).empty()) {
            EXPECT_EQ(folder.read("Moatlist.P2P"), c.list);
            EXPECT_EQ(state.lastUpdateVersion, "2");
            continue;
        }
        EXPECT_EQ(host.messages.back().shownTitle(), "Update Error");
        EXPECT_NE(host.messages.back().text.find(c.reason), std::string::npos)
            << host.messages.back().text;
        EXPECT_EQ(folder.read("Moatlist.P2P"), kOldList);
        EXPECT_EQ(state.lastUpdateVersion, "1");
        EXPECT_TRUE(events.empty());
        expectNoLeftovers();
    }
}

TEST_F(UpdateCheckTest, TheUsersOwnEntriesAreCarriedIntoTheNewList) {
    folder.write("BWUserEntries.p2p", "mine:9.9.9.9\r\nnew2:5.6.7.8\r\n");
    serveVersion("2");
    runCheck();
    // An entry the new list already holds is not added twice.
    EXPECT_EQ(folder.read("Moatlist.P2P"), kNewList + "mine:9.9.9.9\r\n");
}

TEST_F(UpdateCheckTest, ADownloadPastItsLimitOrCancelledSaysSo) {
    struct Case {
        const char* what;
        test::FakeAnswer version;
        bool cancel;
        const char* title;
        const char* reason;
    } cases[] = {
        {"a version file over 64 KiB", test::FakeAnswer::ok("2" + std::string(64 * 1024, ' ')),
         false, "Update Error", "larger than 65536 bytes"},
        {"cancelled", test::FakeAnswer::heldBack(), true, "Update Cancelled", "cancelled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.messages.clear();
        state.lastUpdateVersion = "1";
        serve("bwlistver.txt", c.version);
        host.cancelProgress = c.cancel;

        runCheck();

        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].shownTitle(), c.title);
        EXPECT_NE(host.messages[0].text.find(c.reason), std::string::npos) << host.messages[0].text;
        EXPECT_EQ(state.lastUpdateVersion, "1");
        EXPECT_EQ(folder.read("Moatlist.P2P"), kOldList);
    }
}

}  // namespace
}  // namespace bw
