#include "guard/connection_log.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
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

// A full disk (here: a file size limit) must not leave half a record that the
// next record would be glued onto; the first failure is said once.
TEST_F(ConnectionLogTest, ARecordIsWrittenWholeOrNotAtAll) {
    const std::string record = "12-05-2026, 21:41:15, 10.0.0.1\r\n";
    log.logFullStep("10.0.0.1");
    ASSERT_EQ(file(), record);

    struct sigaction ignoreSizeSignal {};
    ignoreSizeSignal.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ::sigaction(SIGXFSZ, &ignoreSizeSignal, &previous);
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    rlimit tight = before;
    tight.rlim_cur = record.size() + 10;  // room for a third of the next record
    ::setrlimit(RLIMIT_FSIZE, &tight);
    log.logFullStep("10.0.0.2");
    log.logFullStep("10.0.0.3");
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    log.logFullStep("10.0.0.4");
    EXPECT_EQ(file(), record + "12-05-2026, 21:41:15, 10.0.0.4\r\n");
    EXPECT_EQ(host.log.rfind("Could not write to connlog.txt: ", 0), 0u) << host.log;
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), '\n'), 1) << host.log;  // said once
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
    // Two lines were lost; the loss is said once, before the view line.
    const std::string viewLine = "Connection Rejected: 10.0.0.5 - x (12-05-2026 @ 21:41:15)\r\n";
    EXPECT_EQ(host.log.rfind("Could not write to connlog.txt: ", 0), 0u) << host.log;
    EXPECT_EQ(host.log.substr(host.log.find("\r\n") + 2), viewLine) << host.log;
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
