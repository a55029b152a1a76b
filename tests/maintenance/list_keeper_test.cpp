#include "maintenance/list_keeper.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/fake_clock.h"
#include "support/gzip_bytes.h"
#include "support/http_test_server.h"
#include "support/stuck_on_fifo.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

constexpr std::uint32_t ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

constexpr const char* kGoodList = "Bad Net:203.0.113.0-203.0.113.255\nOther:198.51.100.7\n";

class ListKeeperTest : public ::testing::Test {
protected:
    void SetUp() override { EXPECT_EQ(keeper.load(false), ""); }

    void updateAll() {
        keeper.startUpdates(true);
        finish();
    }
    void finish() { finish(keeper); }
    static void finish(ListKeeper& running) {
        while (running.updating()) {
            running.poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    std::string subscribe(const std::string& path, ListMode mode = ListMode::Block) {
        Subscription list;
        list.name = path;
        list.source = server.baseUrl() + path;
        list.mode = mode;
        return keeper.add(list);
    }
    const Subscription& listNamed(const std::string& name) {
        for (const Subscription& s : keeper.subscriptions()) {
            if (s.name == name)
                return s;
        }
        throw std::runtime_error("no list " + name);
    }
    bool banned(std::uint32_t address) { return keeper.table().findBlock(address).has_value(); }

    test::TempDir dir;
    test::FakeClock clock;
    test::HttpTestServer server;
    std::unique_ptr<Downloader> downloader =
        makeCurlDownloader({std::chrono::seconds(5), std::chrono::seconds(20)});
    ListKeeper keeper{*downloader, clock, dir.path()};
};

TEST(SubscriptionsFileTest, RoundTripsEveryField) {
    Subscription full;
    full.name = "Level \"one\"";
    full.source = "https://lists.example.net/level1.gz";
    full.enabled = false;
    full.mode = ListMode::Allow;
    full.intervalHours = 168;
    full.lastUpdate = 1796000000;
    full.lastAttempt = 1796003600;
    full.etag = "\"abc\"";
    full.lastModified = "Wed, 09 Dec 2026 10:00:00 GMT";
    full.lastError = "refused: it holds no ranges";
    full.ranges = 215000;
    full.failedLines = 3;
    full.ipv6Lines = 12;
    std::vector<Subscription> lists{full, privateNetworksList()};

    SubscriptionsFile back = parseSubscriptions(formatSubscriptions(lists));
    ASSERT_TRUE(back.ok) << back.error;
    EXPECT_EQ(back.lists, lists);

    EXPECT_FALSE(parseSubscriptions("{\"lists\": [{\"source\": \"x\"}]}").ok);
    EXPECT_FALSE(parseSubscriptions("{\"lists\": [{\"name\": \"a\", \"mode\": \"maybe\"}]}").ok);
    EXPECT_FALSE(parseSubscriptions("not json").ok);
}

TEST_F(ListKeeperTest, AFirstStartGetsThePrivateNetworksAllowList) {
    test::TempDir fresh;
    ListKeeper first{*downloader, clock, fresh.path()};
    ASSERT_EQ(first.load(true), "");
    ASSERT_EQ(first.subscriptions().size(), 1u);
    EXPECT_EQ(first.subscriptions()[0].mode, ListMode::Allow);
    EXPECT_TRUE(first.subscriptions()[0].enabled);
    ListTable table = first.table();
    for (std::uint32_t address :
         {ip(10, 9, 8, 7), ip(172, 31, 255, 255), ip(192, 168, 1, 1), ip(169, 254, 0, 1)}) {
        EXPECT_TRUE(table.allows(address)) << address;
    }
    EXPECT_FALSE(table.allows(ip(172, 32, 0, 0)));
    EXPECT_FALSE(table.allows(ip(11, 0, 0, 0)));

    // Not on a later start, and never over a list the user removed.
    ASSERT_EQ(first.remove("Private networks"), "");
    ListKeeper later{*downloader, clock, fresh.path()};
    ASSERT_EQ(later.load(true), "");
    EXPECT_TRUE(later.subscriptions().empty());
    test::TempDir upgraded;
    ListKeeper old{*downloader, clock, upgraded.path()};
    ASSERT_EQ(old.load(false), "");
    EXPECT_TRUE(old.subscriptions().empty());
}

TEST_F(ListKeeperTest, AGzipListIsFetchedCachedAndLoadsWithoutTheNetwork) {
    test::HttpReply reply = test::HttpReply::ok(test::gzipBytes(kGoodList));
    reply.etag = "\"v1\"";
    server.route("/level1.gz", reply);
    ASSERT_EQ(subscribe("level1.gz"), "");
    updateAll();

    EXPECT_EQ(listNamed("level1.gz").ranges, 2u);
    EXPECT_EQ(listNamed("level1.gz").lastError, "");
    EXPECT_EQ(keeper.table().findBlock(ip(203, 0, 113, 9)), (ListHit{"Bad Net", "level1.gz"}));

    // A later start reads the cached copy and the file, and asks nobody.
    const std::size_t asked = server.requests().size();
    ListKeeper restarted{*downloader, clock, dir.path()};
    ASSERT_EQ(restarted.load(false), "");
    EXPECT_TRUE(restarted.table().findBlock(ip(198, 51, 100, 7)).has_value());
    EXPECT_EQ(restarted.subscriptions()[0].etag, "\"v1\"");
    EXPECT_EQ(server.requests().size(), asked);
}

TEST_F(ListKeeperTest, A304KeepsTheCachedCopy) {
    test::HttpReply reply = test::HttpReply::ok(kGoodList);
    reply.etag = "\"v1\"";
    server.route("/list.p2p", reply);
    ASSERT_EQ(subscribe("list.p2p"), "");
    updateAll();
    clock.time.day += 2;
    updateAll();

    EXPECT_NE(server.requestHeads().back().find("If-None-Match: \"v1\""), std::string::npos);
    EXPECT_TRUE(banned(ip(203, 0, 113, 1)));
    EXPECT_EQ(listNamed("list.p2p").lastError, "");
    EXPECT_EQ(listNamed("list.p2p").lastUpdate, unixSeconds(clock));
    EXPECT_EQ(keeper.takeReports().back(), "List list.p2p: unchanged since the last update.");
}

TEST_F(ListKeeperTest, EachRefusedDownloadLeavesTheLastGoodCopyInForce) {
    std::string garbage = kGoodList;
    for (int i = 0; i < 5; ++i) garbage += "this is not a list line\n";
    const std::string packed = test::gzipBytes(std::string(kGoodList) + kGoodList + kGoodList);
    struct Case {
        const char* what;
        test::HttpReply reply;
        const char* error;
    } cases[] = {
        {"empty", test::HttpReply::ok(""), "refused: it holds no ranges"},
        {"HTML", test::HttpReply::ok("<html><body>Bad Net:1.2.3.4</body></html>"),
         "refused: the download is a web page, not a list"},
        {"mostly garbage", test::HttpReply::ok(garbage),
         "refused: 5 of 7 lines were not understood"},
        {"truncated gzip", test::HttpReply::ok(packed.substr(0, packed.size() - 12)),
         "the compressed list breaks off before its end"},
        {"server error", test::HttpReply::withStatus(500, "broken"), nullptr},
    };
    server.route("/list", test::HttpReply::ok(kGoodList));
    ASSERT_EQ(subscribe("list"), "");
    updateAll();
    const std::int64_t goodAt = listNamed("list").lastUpdate;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clock.time.hour += 1;
        server.route("/list", c.reply);
        updateAll();
        const Subscription& list = listNamed("list");
        if (c.error) {
            EXPECT_EQ(list.lastError, c.error);
        }
        EXPECT_FALSE(list.lastError.empty());
        EXPECT_EQ(list.lastUpdate, goodAt);
        EXPECT_EQ(list.ranges, 2u);
        EXPECT_TRUE(banned(ip(203, 0, 113, 1)));
        EXPECT_NE(keeper.takeReports().back().find("; the copy of " + formatUtc(goodAt) +
                                                   " stays in force."),
                  std::string::npos);
        // And a restart still finds the good copy.
        ListKeeper restarted{*downloader, clock, dir.path()};
        ASSERT_EQ(restarted.load(false), "");
        EXPECT_TRUE(restarted.table().findBlock(ip(198, 51, 100, 7)).has_value());
    }
}

TEST_F(ListKeeperTest, ListsAreFetchedWhenDueCheckedHourly) {
    server.route("/list", test::HttpReply::ok(kGoodList));
    ASSERT_EQ(subscribe("list"), "");
    keeper.startUpdates(false);  // at start: never fetched, so due
    finish();
    EXPECT_EQ(server.requests().size(), 1u);

    auto advanceHours = [&](int hours) {
        clock.time.hour += hours;
        keeper.tick();
        finish();
    };
    advanceHours(1);  // checked, not due
    advanceHours(22);
    EXPECT_EQ(server.requests().size(), 1u);
    advanceHours(1);  // 24 hours old
    EXPECT_EQ(server.requests().size(), 2u);
    clock.time.minute += 30;  // within the hour: not checked again
    keeper.tick();
    EXPECT_FALSE(keeper.updating());

    // A failing list is tried at every hourly check, the good copy staying.
    server.route("/list", test::HttpReply::withStatus(404, "gone"));
    advanceHours(24);
    advanceHours(1);
    EXPECT_EQ(server.requests().size(), 4u);
    ASSERT_EQ(keeper.setEnabled("list", false), "");
    advanceHours(48);
    EXPECT_EQ(server.requests().size(), 4u);
}

TEST_F(ListKeeperTest, AllowListsOverrideAndSwitchedOffListsDoNothing) {
    server.route("/block", test::HttpReply::ok("Too wide:192.168.0.0-192.168.255.255\n"));
    server.route("/mine", test::HttpReply::ok("192.168.1.0/24\n"));
    ASSERT_EQ(subscribe("block"), "");
    ASSERT_EQ(subscribe("mine", ListMode::Allow), "");
    updateAll();
    EXPECT_FALSE(banned(ip(192, 168, 1, 20)));
    EXPECT_TRUE(banned(ip(192, 168, 2, 20)));

    ASSERT_EQ(keeper.setEnabled("mine", false), "");
    EXPECT_TRUE(banned(ip(192, 168, 1, 20)));
    ASSERT_EQ(keeper.setEnabled("block", false), "");
    EXPECT_FALSE(banned(ip(192, 168, 2, 20)));
}

TEST_F(ListKeeperTest, ALocalFileIsASourceTooAndBadEditsAreRefused) {
    dir.write("mine.dat", "1.2.3.0 - 1.2.3.255 , 0 , Local\n");
    Subscription local;
    local.name = "local";
    local.source = dir.file("mine.dat").string();
    ASSERT_EQ(keeper.add(local), "");
    updateAll();
    EXPECT_EQ(keeper.table().findBlock(ip(1, 2, 3, 4)), (ListHit{"Local", "local"}));

    EXPECT_EQ(keeper.add(local), "there is already a list named local");
    local.name = "other";
    local.source = "ftp://x";
    EXPECT_NE(keeper.add(local), "");
    EXPECT_EQ(keeper.remove("nothing"), "there is no list named nothing");

    dir.write("lists.json", "{ damaged");
    ListKeeper damaged{*downloader, clock, dir.path()};
    EXPECT_NE(damaged.load(true), "");
    local.source = dir.file("mine.dat").string();
    EXPECT_NE(damaged.add(local), "");
    EXPECT_EQ(dir.read("lists.json"), "{ damaged");
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

TEST_F(ListKeeperTest, ARunningKeeperPicksUpAnotherCopysChanges) {
    keeper.tick();
    dir.write("mine.txt", "198.51.100.0/24\n");
    ListKeeper console{*downloader, clock, dir.path()};
    ASSERT_EQ(console.load(false), "");
    Subscription local;
    local.name = "mine";
    local.source = dir.file("mine.txt").string();
    ASSERT_EQ(console.add(local), "");
    console.startUpdates(true);
    finish(console);

    clock.time.second += 5;  // not looked at yet
    EXPECT_FALSE(keeper.tick());
    EXPECT_FALSE(banned(ip(198, 51, 100, 1)));
    clock.time.second += 5;
    EXPECT_TRUE(keeper.tick());
    EXPECT_TRUE(banned(ip(198, 51, 100, 1)));
    EXPECT_EQ(keeper.takeReports().back(),
              "Lists: the subscriptions file changed; lists reloaded.");

    // Its own saves are no news.
    ASSERT_EQ(keeper.setEnabled("mine", false), "");
    keeper.poll();
    clock.time.second += 10;
    EXPECT_FALSE(keeper.tick());
    EXPECT_TRUE(keeper.takeReports().empty());
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

TEST_F(ListKeeperTest, AnEditChangesModeAndSourceAndUpdateNowFetchesOneList) {
    server.route("/a", test::HttpReply::ok("A:192.0.2.0-192.0.2.255\n"));
    server.route("/b", test::HttpReply::ok("B:192.0.2.0-192.0.2.255\n"));
    ASSERT_EQ(subscribe("a"), "");
    ASSERT_EQ(subscribe("b"), "");
    keeper.updateNow("a");
    EXPECT_TRUE(keeper.updating("a"));
    EXPECT_FALSE(keeper.updating("b"));
    finish();
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"/a"}));
    EXPECT_TRUE(banned(ip(192, 0, 2, 1)));

    Subscription changed = listNamed("a");
    changed.mode = ListMode::Allow;
    ASSERT_EQ(keeper.edit("a", changed), "");
    EXPECT_TRUE(keeper.table().allows(ip(192, 0, 2, 1)));
    EXPECT_FALSE(banned(ip(192, 0, 2, 1)));

    changed.source = "nonsense";
    EXPECT_NE(keeper.edit("a", changed), "");
    EXPECT_EQ(keeper.edit("zzz", changed), "there is no list named zzz");
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

// A local source gets the checks a download has: the keeper reads it on a
// worker, only when it is a regular file, and only up to the size limit.
TEST_F(ListKeeperTest, ALocalSourceThatIsNoListFileFailsWithoutStallingTheKeeper) {
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder"));
    {
        std::ofstream(dir.file("huge")).close();
        std::filesystem::resize_file(dir.file("huge"), ListKeeper::kMaxListBytes + 1);
    }
    dir.write("good.txt", "192.0.2.0/24\n");
    const std::string notAList = ": not a regular file (a pipe, device or folder cannot be a list)";
    struct Case {
        std::string source;
        std::string error;
    } cases[] = {
        {dir.file("pipe").string(), notAList},
        {"/dev/zero", notAList},
        {dir.file("folder").string(), notAList},
        {dir.file("huge").string(), ": larger than 268435456 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        Subscription local;
        local.name = "local";
        local.source = dir.file("good.txt").string();
        ASSERT_EQ(keeper.add(local), "");
        updateAll();
        ASSERT_TRUE(banned(ip(192, 0, 2, 1)));

        local.source = c.source;
        ASSERT_EQ(keeper.edit("local", local), "");
        EXPECT_TRUE(test::returnsWithoutAWriter(dir.file("pipe"), [&] {
            keeper.startUpdates(true);
        })) << "the update waited on the source";
        // Handed to a worker: nothing is read on the caller's thread.
        EXPECT_TRUE(keeper.updating("local"));
        finish();
        EXPECT_EQ(listNamed("local").lastError, "cannot read " + c.source + c.error);
        EXPECT_TRUE(banned(ip(192, 0, 2, 1)));  // the last good copy stays in force
        ASSERT_EQ(keeper.remove("local"), "");
    }
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

TEST_F(ListKeeperTest, ACachedCopyPastTheSizeLimitIsNotRead) {
    dir.write("mine.txt", "192.0.2.0/24\n");
    Subscription local;
    local.name = "mine";
    local.source = dir.file("mine.txt").string();
    ASSERT_EQ(keeper.add(local), "");
    updateAll();
    ASSERT_TRUE(banned(ip(192, 0, 2, 1)));
    std::filesystem::path copy;
    for (const auto& file : std::filesystem::directory_iterator(dir.file("lists")))
        copy = file.path();
    // Sparse: as large as the limit allows and one byte more, without the disk space.
    std::filesystem::resize_file(copy, ListKeeper::kMaxListBytes + 1);

    ListKeeper restarted{*downloader, clock, dir.path()};
    ASSERT_EQ(restarted.load(false), "");
    EXPECT_EQ(restarted.subscriptions()[0].lastError,
              "the cached copy is not loaded: larger than 268435456 bytes");
    EXPECT_FALSE(restarted.table().findBlock(ip(192, 0, 2, 1)).has_value());
}

}  // namespace
}  // namespace bw
