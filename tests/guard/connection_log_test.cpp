#include "guard/connection_log.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fake_clock.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

class ConnectionLogTest : public ::testing::Test {
protected:
    std::string file() const { return dir.read("connlog.txt"); }

    test::TempDir dir;
    test::RecordingHost host;
    test::FakeClock clock;
    ConnectionLog log{host, clock, dir.file("connlog.txt")};
};

TEST_F(ConnectionLogTest, LineFormats) {
    log.logFullStep("10.0.0.5");
    log.logRejectFile("10.0.0.5", "Example Net");
    log.logRejectView("10.0.0.5", "Example Net");
    EXPECT_EQ(file(),
              "12-05-2026, 21:41:15, 10.0.0.5\r\n"
              "Rejected: 10.0.0.5 - Example Net (12-05-2026 @ 21:41:15)\r\n");
    EXPECT_EQ(host.log, "Connection Rejected: 10.0.0.5 - Example Net (12-05-2026 @ 21:41:15)\r\n");
}

TEST_F(ConnectionLogTest, DateAndTimeFieldsArePadded) {
    clock.time = {987, 1, 2, 3, 4, 5};
    log.logRejectView("1.2.3.4", "n");
    EXPECT_EQ(host.log, "Connection Rejected: 1.2.3.4 - n (01-02-0987 @ 03:04:05)\r\n");
}

TEST_F(ConnectionLogTest, RefusedTeardownHasALineOfItsOwnInTheViewOnly) {
    log.logTeardownRefused("10.0.0.5", "Example Net", "not permitted");
    EXPECT_EQ(host.log,
              "Could not close connection: 10.0.0.5 - Example Net (12-05-2026 @ 21:41:15): "
              "not permitted\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("connlog.txt")));
}

TEST_F(ConnectionLogTest, HeaderReplacesTheLogView) {
    host.log = "old text\r\n";
    clock.offsetMinutes = -210;
    log.writeLogHeader();
    EXPECT_EQ(host.log,
              "Bastionwatch v1.99b (2.0 pre-release)\r\n"
              "https://www.bastionwatch.example.org --- https://forum.bastionwatch.example.org\r\n"
              "\r\n"
              "System Timezone: GMT -3:30\r\n"
              "\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("connlog.txt")));
}

TEST_F(ConnectionLogTest, SameAddressIsRecordedOnce) {
    for (int pass = 0; pass < 5; ++pass) log.logFullStep("10.0.0.5");
    EXPECT_EQ(file(), "12-05-2026, 21:41:15, 10.0.0.5\r\n");
}

TEST_F(ConnectionLogTest, LinesFollowTheExistingContent) {
    dir.write("connlog.txt", "earlier line\r\n");
    log.logFullStep("10.0.0.5");
    EXPECT_EQ(file(), "earlier line\r\n12-05-2026, 21:41:15, 10.0.0.5\r\n");
}

TEST_F(ConnectionLogTest, UnwritableFileLosesTheLineButNotTheViewLine) {
    ConnectionLog nowhere(host, clock, dir.file("missing") / "connlog.txt");
    nowhere.logFullStep("10.0.0.5");
    nowhere.logRejectFile("10.0.0.5", "x");
    nowhere.logRejectView("10.0.0.5", "x");
    EXPECT_EQ(host.log, "Connection Rejected: 10.0.0.5 - x (12-05-2026 @ 21:41:15)\r\n");
    // The lost record is not retried: the address counts as recorded.
    EXPECT_EQ(nowhere.recentAddresses().at(0), "10.0.0.5");
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

std::string addressNumber(int i) {
    return "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256);
}

std::size_t occurrences(const std::string& text, const std::string& piece) {
    std::size_t count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos;
         at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

// a1 is searched for among the 257 newest texts: it is written again only
// once 257 other addresses came after it.
TEST_F(ConnectionLogTest, AddressIsRecordedAgainAfter257Others) {
    const std::pair<int, std::size_t> cases[] = {{256, 1}, {257, 2}};
    for (auto [others, records] : cases) {
        test::TempDir folder;
        ConnectionLog fresh(host, clock, folder.file("connlog.txt"));
        fresh.logFullStep("10.0.0.1");
        for (int i = 0; i < others; ++i) fresh.logFullStep(addressNumber(1000 + i));
        fresh.logFullStep("10.0.0.1");
        EXPECT_EQ(occurrences(folder.read("connlog.txt"), ", 10.0.0.1\r\n"), records)
            << "others: " << others;
    }
}

TEST(RecentAddresses, NewestFirstWithTheOverflowPosition) {
    RecentAddresses recent;
    for (int i = 0; i < 259; ++i) EXPECT_TRUE(recent.remember(addressNumber(i)));
    EXPECT_EQ(recent.at(0), addressNumber(258));
    EXPECT_EQ(recent.at(256), addressNumber(2));
    EXPECT_EQ(recent.at(257), addressNumber(1));  // kept, but not searched
    EXPECT_EQ(recent.at(258), "");
    EXPECT_FALSE(recent.remember(addressNumber(2)));
    EXPECT_TRUE(recent.remember(addressNumber(1)));
    // A found address stays where it is.
    EXPECT_EQ(recent.at(0), addressNumber(1));
    EXPECT_EQ(recent.at(256), addressNumber(3));
    EXPECT_EQ(recent.at(257), addressNumber(2));
}

// A text recorded a second time leaves the search again 257 texts later.
TEST(RecentAddresses, ReturningTextLeavesTheSearchOnTime) {
    RecentAddresses recent;
    recent.remember("a");
    for (int i = 0; i < 257; ++i) recent.remember(addressNumber(i));
    ASSERT_TRUE(recent.remember("a"));
    for (int i = 0; i < 256; ++i) recent.remember(addressNumber(500 + i));
    EXPECT_FALSE(recent.remember("a"));  // at 256: still searched
    recent.remember(addressNumber(900));
    EXPECT_TRUE(recent.remember("a"));  // pushed to 257: no longer searched
}

}  // namespace
}  // namespace bw
