#include "maintenance/list_keeper.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/ip_address.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "maintenance/keeper_updating_one_list.h"
#include "platform/slot_lock.h"
#include "support/fake_clock.h"
#include "support/fake_downloader.h"
#include "support/gzip_bytes.h"
#include "support/stuck_on_fifo.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

constexpr std::uint32_t ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

constexpr const char* kGoodList = "Bad Net:203.0.113.0-203.0.113.255\nOther:198.51.100.7\n";
// Where the lists of these tests are served from.
const std::string kServer = "http://lists.example.net/";

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
        list.source = kServer + path;
        list.mode = mode;
        return keeper.add(list);
    }
    void serve(const std::string& path, test::FakeAnswer answer) {
        downloader.answer(kServer + path, std::move(answer));
    }
    const Subscription& listNamed(const std::string& name) {
        for (const Subscription& s : keeper.subscriptions()) {
            if (s.name == name)
                return s;
        }
        throw std::runtime_error("no list " + name);
    }
    bool banned(std::uint32_t address) { return keeper.table().findBlock(address).has_value(); }
    // Subscribes to a local file "mine" holding 192.0.2.0/24, updates, and
    // returns the path of its cached copy.
    std::filesystem::path cachedLocalList() {
        dir.write("mine.txt", "192.0.2.0/24\n");
        Subscription local;
        local.name = "mine";
        local.source = dir.file("mine.txt").string();
        EXPECT_EQ(keeper.add(local), "");
        updateAll();
        for (const auto& file : std::filesystem::directory_iterator(dir.file("lists"))) {
            if (file.path().filename().string().starts_with("mine-"))
                return file.path();
        }
        return {};
    }

    test::TempDir dir;
    test::FakeClock clock;
    test::FakeDownloader downloader;
    ListKeeper keeper{downloader, clock, dir.path()};
};

// Stored times are shown in UTC to the minute, over the whole range the file allows.
TEST(FormatUtcTest, ShowsStoredTimesInUtc) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "never"},
        {1, "1970-01-01 00:00 UTC"},
        {951782399, "2000-02-28 23:59 UTC"},
        {951782400, "2000-02-29 00:00 UTC"},
        {1796000000, "2026-11-30 00:53 UTC"},
        {253402300799, "9999-12-31 23:59 UTC"},
    };
    for (const auto& [seconds, shown] : cases) EXPECT_EQ(formatUtc(seconds), shown) << seconds;
}

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
    full.ranges6 = 12;
    full.wide = true;
    full.publicAddresses = 3'702'258'688;
    std::vector<Subscription> lists{full, privateNetworksList()};

    SubscriptionsFile back = parseSubscriptions(formatSubscriptions(lists));
    ASSERT_TRUE(back.ok) << back.error;
    EXPECT_EQ(back.lists, lists);

    EXPECT_FALSE(parseSubscriptions("{\"lists\": [{\"source\": \"x\"}]}").ok);
    EXPECT_FALSE(parseSubscriptions("{\"lists\": [{\"name\": \"a\", \"mode\": \"maybe\"}]}").ok);
    EXPECT_FALSE(parseSubscriptions("not json").ok);
}

TEST(SubscriptionsFileTest, WideIsOptionalAndKeptByTheMerge) {
    SubscriptionsFile old = parseSubscriptions(R"({"lists": [{"name": "a"}]})");
    ASSERT_TRUE(old.ok) << old.error;
    EXPECT_FALSE(old.lists[0].wide);
    EXPECT_EQ(formatSubscriptions(old.lists).find("wide"), std::string::npos);
    EXPECT_FALSE(parseSubscriptions(R"({"lists": [{"name": "a", "wide": 1}]})").ok);

    Subscription base = old.lists[0];
    Subscription ours = base;
    ours.wide = true;
    Subscription theirs = base;
    theirs.enabled = false;
    std::vector<Subscription> merged = mergeSubscriptions({base}, {ours}, {theirs});
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_TRUE(merged[0].wide);
    EXPECT_FALSE(merged[0].enabled);
    // Marked wide elsewhere, it stays so when this copy saves other changes.
    merged = mergeSubscriptions({base}, {theirs}, {ours});
    EXPECT_TRUE(merged[0].wide);
}

TEST_F(ListKeeperTest, AFirstStartGetsThePrivateNetworksAllowList) {
    test::TempDir fresh;
    ListKeeper first{downloader, clock, fresh.path()};
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
    const std::pair<const char*, bool> ipv6Cases[] = {
        {"fc00::", true},
        {"fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"fe80::1", true},
        {"febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff", true},
        {"fbff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", false},
        {"fec0::", false},
        {"2001:db8::1", false},
    };
    for (const auto& [text, allowed] : ipv6Cases)
        EXPECT_EQ(table.allows(*parseIpAddress(text)), allowed) << text;
    EXPECT_EQ(first.subscriptions()[0].ranges6, 2u);

    // Never over a list the user removed.
    ASSERT_EQ(first.remove("Private networks"), "");
    ListKeeper later{downloader, clock, fresh.path()};
    ASSERT_EQ(later.load(true), "");
    EXPECT_TRUE(later.subscriptions().empty());
}

TEST_F(ListKeeperTest, AGzipListIsFetchedCachedAndLoadsWithoutTheNetwork) {
    test::FakeAnswer reply = test::FakeAnswer::ok(test::gzipBytes(kGoodList));
    reply.etag = "\"v1\"";
    serve("level1.gz", reply);
    ASSERT_EQ(subscribe("level1.gz"), "");
    updateAll();
    EXPECT_EQ(downloader.transfers.back()->request.maxBytes, ListKeeper::kMaxListBytes);

    EXPECT_EQ(listNamed("level1.gz").ranges, 2u);
    EXPECT_EQ(listNamed("level1.gz").lastError, "");
    EXPECT_EQ(keeper.table().findBlock(ip(203, 0, 113, 9)), (ListHit{"Bad Net", "level1.gz"}));

    // A later start reads the cached copy and the file, and asks nobody.
    const std::size_t asked = downloader.transfers.size();
    ListKeeper restarted{downloader, clock, dir.path()};
    ASSERT_EQ(restarted.load(false), "");
    EXPECT_TRUE(restarted.table().findBlock(ip(198, 51, 100, 7)).has_value());
    EXPECT_EQ(restarted.subscriptions().back().etag, "\"v1\"");
    EXPECT_EQ(downloader.transfers.size(), asked);
}

TEST_F(ListKeeperTest, A304KeepsTheCachedCopy) {
    test::FakeAnswer reply = test::FakeAnswer::ok(kGoodList);
    reply.etag = "\"v1\"";
    serve("list.p2p", reply);
    ASSERT_EQ(subscribe("list.p2p"), "");
    updateAll();
    clock.advance(std::chrono::hours(48));
    serve("list.p2p", test::FakeAnswer::unchanged());
    updateAll();

    EXPECT_EQ(downloader.transfers.back()->request.ifNoneMatch, "\"v1\"");
    EXPECT_TRUE(banned(ip(203, 0, 113, 1)));
    EXPECT_EQ(listNamed("list.p2p").lastError, "");
    EXPECT_EQ(listNamed("list.p2p").lastUpdate, unixSeconds(clock.utcNow()));
    EXPECT_EQ(keeper.takeReports().back(), "List list.p2p: unchanged since the last update.");
}

TEST_F(ListKeeperTest, EachRefusedDownloadLeavesTheLastGoodCopyInForce) {
    std::string garbage = kGoodList;
    for (int i = 0; i < 5; ++i) garbage += "this is not a list line\n";
    const std::string packed = test::gzipBytes(std::string(kGoodList) + kGoodList + kGoodList);
    struct Case {
        const char* what;
        test::FakeAnswer reply;
        const char* error;
    } cases[] = {
        {"empty", test::FakeAnswer::ok(""), "refused: it holds no ranges"},
        {"HTML", test::FakeAnswer::ok("<html><body>Bad Net:1.2.3.4</body></html>"),
         "refused: the download is a web page, not a list"},
        {"mostly garbage", test::FakeAnswer::ok(garbage),
         "refused: 5 of 7 lines were not understood"},
        {"truncated gzip", test::FakeAnswer::ok(packed.substr(0, packed.size() - 12)),
         "the compressed list breaks off before its end"},
        {"server error",
         test::FakeAnswer::failure("The requested URL returned error: 500", "broken"), nullptr},
    };
    serve("list", test::FakeAnswer::ok(kGoodList));
    ASSERT_EQ(subscribe("list"), "");
    updateAll();
    const std::int64_t goodAt = listNamed("list").lastUpdate;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clock.advance(std::chrono::hours(1));
        serve("list", c.reply);
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
        ListKeeper restarted{downloader, clock, dir.path()};
        ASSERT_EQ(restarted.load(false), "");
        EXPECT_TRUE(restarted.table().findBlock(ip(198, 51, 100, 7)).has_value());
    }
}

TEST_F(ListKeeperTest, ListsAreFetchedWhenDueCheckedHourly) {
    serve("list", test::FakeAnswer::ok(kGoodList));
    ASSERT_EQ(subscribe("list"), "");
    keeper.startUpdates(false);  // at start: never fetched, so due
    finish();
    EXPECT_EQ(downloader.transfers.size(), 1u);

    auto advanceHours = [&](int hours) {
        clock.advance(std::chrono::hours(hours));
        keeper.tick();
        finish();
    };
    advanceHours(1);  // checked, not due
    advanceHours(22);
    EXPECT_EQ(downloader.transfers.size(), 1u);
    advanceHours(1);  // 24 hours old
    EXPECT_EQ(downloader.transfers.size(), 2u);
    clock.advance(std::chrono::minutes(30));  // within the hour: not checked again
    keeper.tick();
    EXPECT_FALSE(keeper.updating());

    // A failing list is tried at every hourly check, the good copy staying.
    serve("list", test::FakeAnswer::failure("The requested URL returned error: 404"));
    advanceHours(24);
    advanceHours(1);
    EXPECT_EQ(downloader.transfers.size(), 4u);
    ASSERT_EQ(keeper.setEnabled("list", false), "");
    advanceHours(48);
    EXPECT_EQ(downloader.transfers.size(), 4u);
}

TEST_F(ListKeeperTest, AllowListsOverrideAndSwitchedOffListsDoNothing) {
    ASSERT_EQ(keeper.setEnabled("Private networks", false), "");  // it allows 192.168.0.0/16
    serve("block", test::FakeAnswer::ok("Too wide:192.168.0.0-192.168.255.255\n"));
    serve("mine", test::FakeAnswer::ok("192.168.1.0/24\n"));
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
    ListKeeper damaged{downloader, clock, dir.path()};
    EXPECT_NE(damaged.load(true), "");
    local.source = dir.file("mine.dat").string();
    EXPECT_NE(damaged.add(local), "");
    EXPECT_EQ(dir.read("lists.json"), "{ damaged");
}

TEST_F(ListKeeperTest, ARunningKeeperPicksUpAnotherCopysChanges) {
    keeper.tick();
    dir.write("mine.txt", "198.51.100.0/24\n");
    ListKeeper console{downloader, clock, dir.path()};
    ASSERT_EQ(console.load(false), "");
    Subscription local;
    local.name = "mine";
    local.source = dir.file("mine.txt").string();
    ASSERT_EQ(console.add(local), "");
    console.startUpdates(true);
    finish(console);

    clock.advance(std::chrono::seconds(5));  // not looked at yet
    EXPECT_FALSE(keeper.tick());
    EXPECT_FALSE(banned(ip(198, 51, 100, 1)));
    clock.advance(std::chrono::seconds(5));
    EXPECT_TRUE(keeper.tick());
    EXPECT_TRUE(banned(ip(198, 51, 100, 1)));
    EXPECT_EQ(keeper.takeReports().back(),
              "Lists: the subscriptions file changed; lists reloaded.");

    // Its own saves are no news.
    ASSERT_EQ(keeper.setEnabled("mine", false), "");
    keeper.poll();
    clock.advance(std::chrono::seconds(10));
    EXPECT_FALSE(keeper.tick());
    EXPECT_TRUE(keeper.takeReports().empty());
}

TEST_F(ListKeeperTest, AnEditChangesModeAndSourceAndUpdateNowFetchesOneList) {
    serve("a", test::FakeAnswer::ok("A:192.0.2.0-192.0.2.255\n"));
    serve("b", test::FakeAnswer::ok("B:192.0.2.0-192.0.2.255\n"));
    ASSERT_EQ(subscribe("a"), "");
    ASSERT_EQ(subscribe("b"), "");
    keeper.updateNow("a");
    EXPECT_TRUE(keeper.updating("a"));
    EXPECT_FALSE(keeper.updating("b"));
    finish();
    EXPECT_EQ(downloader.urls(), (std::vector<std::string>{kServer + "a"}));
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

std::string subscriptionsFixture(const std::string& name) {
    std::ifstream in(std::filesystem::path(__FILE__).parent_path().parent_path() / "data" /
                         "subscriptions" / name,
                     std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// What adding a list refuses, loading refuses too, and no number is taken out
// of its range; the reason names the list and the field, or the line.
TEST(SubscriptionsFileTest, HostileFilesAreRefusedWithAClearReason) {
    struct Case {
        std::string text;
        const char* reason;
    } cases[] = {
        {subscriptionsFixture("subs_interval_float.json"),
         "list 1 (\"a\"): \"intervalHours\" is not a whole number from 1 to 2147483647"},
        {subscriptionsFixture("subs_lastupdate_float.json"),
         "list 1 (\"a\"): \"lastUpdate\" is not a whole number from 0 to 253402300799"},
        {subscriptionsFixture("subs_ranges_float.json"), "list 1 (\"a\"): \"ranges\" is not"},
        {subscriptionsFixture("keeper_due_overflow.json"), "list 1 (\"a\"): \"lastUpdate\" is not"},
        {subscriptionsFixture("subs_names.json"), "list 1: \"name\" cannot be used"},
        {R"({"lists":[{"name":"a"},{"name":"b"},{"name":"a","enabled":false}]})",
         "lists 1 and 3 are both named \"a\"; rename or remove one"},
        {R"({"lists":[{"name":"x\u0001y"}]})", "cannot be used: a list name cannot hold control"},
        {R"({"lists":[{"name":"a","intervalHours":0}]})", "\"intervalHours\" is not a whole"},
        {R"({"lists":[{"name":"a","intervalHours":2147483648}]})", "\"intervalHours\" is not"},
        {R"({"lists":[{"name":"a","intervalHours":"24"}]})", "\"intervalHours\" is not"},
        {R"({"lists":[{"name":"a","failedLines":-1}]})", "\"failedLines\" is not"},
        {R"({"lists":[{"name":"a","source":"ftp://x"}]})", "\"source\" cannot be used"},
        {R"({"lists":[{"name":"a","etag":"\"v\"\r\nX-Evil: 1"}]})", "\"etag\" holds control"},
        {R"({"lists":[{"name":"a","enabled":"yes"}]})", "\"enabled\" is neither true nor false"},
        {R"({"lists":[{"name":"a","mode":"maybe"}]})", "\"mode\" is neither \"block\" nor"},
        {R"({"lists":[7]})", "list 1 is not an object"},
        {R"({"lists":{}})", "it holds no \"lists\": [ ... ] array"},
        {"{\"lists\":[{\"name\":\"bad\xff\"}]}", "line 1, column 23 is not valid JSON"},
        {"{\n  \"lists\": [\n    {\"name\": \"a\"}\n    {\"name\": \"b\"}\n  ]\n}\n",
         "line 4, column 5 is not valid JSON (look there, and just before it, for a missing or "
         "extra comma, quote or bracket"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SubscriptionsFile file = parseSubscriptions(c.text);
        EXPECT_FALSE(file.ok);
        EXPECT_NE(file.error.find(c.reason), std::string::npos) << file.error;
        EXPECT_TRUE(file.lists.empty());
    }
    // Just inside each bound still reads.
    SubscriptionsFile edge = parseSubscriptions(
        R"({"lists":[{"name":"a","intervalHours":2147483647,"lastUpdate":253402300799,)"
        R"("ranges":9223372036854775807},{"name":"b","intervalHours":1,"lastUpdate":0}]})");
    ASSERT_TRUE(edge.ok) << edge.error;
    EXPECT_EQ(edge.lists[0].intervalHours, 2147483647);
}

// Text that is not UTF-8 is refused where it comes in, and what is saved can
// always be written: nothing throws.
TEST(SubscriptionsFileTest, TextThatIsNotUtf8IsRefusedAndNeverThrown) {
    EXPECT_EQ(nameProblem("bad\xffname"), "a list name must be UTF-8 text");
    EXPECT_EQ(nameProblem("Caf\xc3\xa9"), "");
    EXPECT_NE(sourceProblem("/srv/bad\xff.p2p"), "");
    EXPECT_NE(sourceProblem("https://x/\xc0\xaf"), "");
    Subscription list;
    list.name = "a";
    list.lastError = "cannot read /srv/\xff";
    std::string text;
    EXPECT_NO_THROW(text = formatSubscriptions({list}));
    EXPECT_TRUE(parseSubscriptions(text).ok);
}

TEST_F(ListKeeperTest, ACachedCopyPastTheSizeLimitIsNotRead) {
    const std::filesystem::path copy = cachedLocalList();
    ASSERT_TRUE(banned(ip(192, 0, 2, 1)));
    ASSERT_FALSE(copy.empty());
    // Sparse: as large as the limit allows and one byte more, without the disk space.
    std::filesystem::resize_file(copy, ListKeeper::kMaxListBytes + 1);

    ListKeeper restarted{downloader, clock, dir.path()};
    ASSERT_EQ(restarted.load(false), "");
    const std::vector<Subscription>& lists = restarted.subscriptions();
    const auto mine = std::find_if(lists.begin(), lists.end(),
                                   [](const Subscription& s) { return s.name == "mine"; });
    ASSERT_NE(mine, lists.end());
    EXPECT_EQ(mine->lastError, "the cached copy is not loaded: larger than 268435456 bytes");
    EXPECT_FALSE(restarted.table().findBlock(ip(192, 0, 2, 1)).has_value());
}

namespace fs = std::filesystem;

bool allowsPrivate(ListKeeper& keeper) {
    return keeper.table().allows(ip(192, 168, 1, 1));
}

// The private networks stay allowed whatever state lists.json is in, unless
// the user switched the built-in list off (or removed it).
// An install from before IPv6 was guarded holds the IPv4 lines alone in its copy.
TEST_F(ListKeeperTest, AnUntouchedOlderBuiltInCopyAllowsTheIpv6PrivateNetworksToo) {
    test::TempDir home;
    {
        ListKeeper first{downloader, clock, home.path()};
        ASSERT_EQ(first.load(true), "");
    }
    std::vector<fs::path> copies;
    for (const auto& item : fs::directory_iterator(home.file("lists"))) {
        if (item.path().extension() != ".lock" && item.is_regular_file())
            copies.push_back(item.path());
    }
    ASSERT_EQ(copies.size(), 1u);
    const IpAddress uniqueLocal = *parseIpAddress("fd12:3456::1");
    const struct {
        std::string copy;
        bool allowed;
    } cases[] = {
        {std::string(privateNetworksIpv4OnlyText()), true},
        {"10.0.0.0/8\n", false},  // the user's own edit stays as it is
    };
    for (const auto& c : cases) {
        home.write(fs::relative(copies[0], home.path()).string(), c.copy);
        ListKeeper later{downloader, clock, home.path()};
        ASSERT_EQ(later.load(false), "");
        EXPECT_EQ(later.table().allows(uniqueLocal), c.allowed) << c.copy;
        EXPECT_TRUE(later.table().allows(ip(10, 1, 1, 1)));
    }
}

TEST(PrivateNetworksTest, TheyStayAllowedUnlessTheUserSwitchedThemOff) {
    test::FakeClock clock;
    test::FakeDownloader downloader;
    auto keeperIn = [&](const test::TempDir& dir) {
        auto keeper = std::make_unique<ListKeeper>(downloader, clock, dir.path());
        keeper->load(false);
        return keeper;
    };
    struct Case {
        const char* what;
        std::function<void(const test::TempDir&)> before;
        bool allowed;
    } cases[] = {
        {"a blocklist there before the first start (scripts/run.sh)",
         [](const test::TempDir& dir) { dir.write("Moatlist.P2P", "A:203.0.113.1\n"); }, true},
        {"lists.json of an earlier version, without it",
         [](const test::TempDir& dir) {
             dir.write("lists.json", R"({"lists":[{"name":"mine","source":"/srv/mine.p2p"}]})");
         },
         true},
        {"a damaged lists.json", [](const test::TempDir& dir) { dir.write("lists.json", "{ d"); },
         true},
        {"switched off, then lists.json damaged",
         [&](const test::TempDir& dir) {
             ASSERT_EQ(keeperIn(dir)->setEnabled("Private networks", false), "");
             dir.write("lists.json", "{ d");
         },
         false},
        {"switched off, then lists.json gone",
         [&](const test::TempDir& dir) {
             ASSERT_EQ(keeperIn(dir)->setEnabled("Private networks", false), "");
             fs::remove(dir.file("lists.json"));
         },
         false},
        {"removed, then lists.json damaged",
         [&](const test::TempDir& dir) {
             ASSERT_EQ(keeperIn(dir)->remove("Private networks"), "");
             dir.write("lists.json", "{ d");
         },
         false},
        {"switched off and on again, then lists.json damaged",
         [&](const test::TempDir& dir) {
             auto keeper = keeperIn(dir);
             ASSERT_EQ(keeper->setEnabled("Private networks", false), "");
             ASSERT_EQ(keeper->setEnabled("Private networks", true), "");
             dir.write("lists.json", "{ d");
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        c.before(dir);
        auto keeper = keeperIn(dir);
        EXPECT_EQ(allowsPrivate(*keeper), c.allowed);
    }

    test::TempDir damaged;
    damaged.write("lists.json", "{\n  \"lists\": [\n    {\"name\": \"a\",}\n  ]\n}\n");
    ListKeeper keeper{downloader, clock, damaged.path()};
    EXPECT_EQ(keeper.load(false),
              damaged.file("lists.json").string() +
                  " is damaged: line 3, column 18 is not valid JSON (look there, and just before "
                  "it, for a missing or extra comma, quote or bracket, or for text that is not "
                  "UTF-8); the lists stay off until it is mended in a text editor (the built-in "
                  "allow list of private networks stays in force)");
    EXPECT_EQ(damaged.read("lists.json"), "{\n  \"lists\": [\n    {\"name\": \"a\",}\n  ]\n}\n");
}

// Waits for one byte from the child, which says it is ready.
void awaitChild(int readEnd) {
    char byte = 0;
    ASSERT_EQ(::read(readEnd, &byte, 1), 1);
}

// What killed saves and downloads left goes at the next start, but never a
// file another live process is writing, nor one of the user's own.
TEST_F(ListKeeperTest, LeftoversOfKilledUpdatesGoAtTheNextStartButNotALiveOnes) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t other = ::fork();
    if (other == 0) {
        test::KeeperUpdatingOneList updating(clock, dir.path(), "live",
                                             "http://192.0.2.1/live.p2p");
        if (::write(ready[1], updating.started ? "y" : "n", 1) != 1 || !updating.started)
            ::_exit(1);
        for (;;) ::pause();
    }
    awaitChild(ready[0]);
    fs::path livePart;
    for (const auto& item : fs::directory_iterator(dir.file("lists"))) {
        if (item.path().filename().string().starts_with("live-"))
            livePart = item.path();
    }
    ASSERT_TRUE(livePart.string().ends_with(".part")) << livePart;
    const std::vector<std::string> leftovers = {
        ".lists.json.Ab12Cd", "lists/.gone-0badf00d.list.Qw12Er", "lists/gone-0badf00d.list.part",
        "lists/gone-0badf00d.list.Zx98Yu.part", "lists/.private-networks.off.Kj34Lm"};
    for (const std::string& name : leftovers) dir.write(name, "left over");
    const std::vector<std::string> usersOwn = {"lists/.stray", "lists/notes.part",
                                               "lists/.notes.Ab12Cd"};
    for (const std::string& name : usersOwn) dir.write(name, "belongs to no list");

    ListKeeper next{downloader, clock, dir.path()};
    ASSERT_EQ(next.load(false), "");
    for (const std::string& name : leftovers) EXPECT_FALSE(fs::exists(dir.file(name))) << name;
    EXPECT_TRUE(fs::exists(livePart));

    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    ListKeeper afterTheKill{downloader, clock, dir.path()};
    ASSERT_EQ(afterTheKill.load(false), "");
    EXPECT_FALSE(fs::exists(livePart));
    for (const std::string& name : usersOwn) EXPECT_TRUE(fs::exists(dir.file(name))) << name;
    EXPECT_TRUE(fs::exists(dir.file("lists.json")));
}

// A server's validators that are not UTF-8 text, or hold control characters,
// are dropped rather than stored (or thrown over).
TEST(ListKeeperValidatorTest, ValidatorsThatCannotBeStoredAreDropped) {
    test::TempDir dir;
    test::FakeClock clock;
    test::KeeperUpdatingOneList guard(clock, dir.path(), "web", "http://192.0.2.1/web.p2p");
    ASSERT_TRUE(guard.started);
    ListKeeper& keeper = guard.keeper;
    test::FakeAnswer answer = test::FakeAnswer::ok(kGoodList);
    answer.etag = "\"v\xff\"";
    answer.lastModified = "Wed, 09 Dec 2026\r\nX-Evil: 1";
    guard.downloads.finish(0, answer);
    while (keeper.updating()) {
        EXPECT_NO_THROW(keeper.poll());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    SubscriptionsFile saved = readSubscriptions(dir.file("lists.json"));
    ASSERT_TRUE(saved.ok) << saved.error;
    EXPECT_EQ(saved.lists.back().ranges, 2u);
    EXPECT_EQ(saved.lists.back().etag, "");
    EXPECT_EQ(saved.lists.back().lastModified, "");
}

// What loading a cached copy found is no change of the guard's own: an update
// another copy makes meanwhile is taken in, and the guard's next save keeps it.
TEST_F(ListKeeperTest, AnUpdateByAnotherCopyIsTakenInWhenTheCachedCopyDidNotLoad) {
    const std::filesystem::path copy = cachedLocalList();
    ASSERT_FALSE(copy.empty());
    std::filesystem::resize_file(copy, ListKeeper::kMaxListBytes + 1);
    ListKeeper guard{downloader, clock, dir.path()};
    ASSERT_EQ(guard.load(false), "");
    guard.tick();
    ASSERT_FALSE(guard.table().findBlock(ip(192, 0, 2, 1)).has_value());

    clock.advance(std::chrono::hours(1));
    dir.write("mine.txt", "198.51.100.0/24\n");
    ListKeeper timer{downloader, clock, dir.path()};
    ASSERT_EQ(timer.load(false, ListKeeper::CachedCopies::Skip), "");
    timer.startUpdates(true);
    finish(timer);
    const std::int64_t updatedAt = unixSeconds(clock.utcNow());

    clock.advance(ListKeeper::kLookEvery);
    EXPECT_TRUE(guard.tick());
    EXPECT_TRUE(guard.table().findBlock(ip(198, 51, 100, 1)).has_value());
    ASSERT_EQ(guard.setEnabled("Private networks", false), "");
    SubscriptionsFile file = readSubscriptions(dir.file("lists.json"));
    ASSERT_TRUE(file.ok) << file.error;
    ASSERT_EQ(file.lists.back().name, "mine");
    EXPECT_EQ(file.lists.back().lastUpdate, updatedAt);
    EXPECT_EQ(file.lists.back().lastError, "");
}

// The guard's thread never waits on the lock file: while another process
// holds the subscriptions file (a list command stopped in its save, say), the
// save after an update is put off, and made at a later poll.
TEST(ListKeeperLockTest, AnUpdateIsSavedAtALaterPollWhileAnotherProcessHoldsTheFile) {
    test::TempDir dir;
    test::FakeClock clock;
    test::KeeperUpdatingOneList guard(clock, dir.path(), "web", "http://192.0.2.1/web.p2p");
    ASSERT_TRUE(guard.started);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        // It gives up in the end, so that a guard that waits fails this test
        // instead of hanging it.
        ::alarm(120);
        SlotLock::Result held =
            SlotLock::lock(dir.file("lists.json.lock"), 0, 1, SlotLock::Wait::UntilFree);
        if (::write(ready[1], held.lock ? "y" : "n", 1) != 1 || !held.lock)
            ::_exit(1);
        for (;;) ::pause();
    }
    awaitChild(ready[0]);

    guard.downloads.finish(0, test::FakeAnswer::ok(kGoodList));
    bool taken = false;  // the copy is prepared on a worker; a poll takes it in
    while (!taken) {
        guard.keeper.poll();
        for (const std::string& report : guard.keeper.takeReports())
            taken = taken || report.starts_with("List web: 2 ranges");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(guard.keeper.table().findBlock(ip(203, 0, 113, 1)).has_value());
    EXPECT_TRUE(guard.keeper.updating("web"));  // its state waits for the file
    EXPECT_EQ(readSubscriptions(dir.file("lists.json")).lists.back().ranges, 0u);

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    guard.keeper.poll();
    EXPECT_FALSE(guard.keeper.updating());
    SubscriptionsFile file = readSubscriptions(dir.file("lists.json"));
    ASSERT_TRUE(file.ok) << file.error;
    EXPECT_EQ(file.lists.back().ranges, 2u);
    EXPECT_TRUE(guard.keeper.takeSaveProblems().empty());
}

}  // namespace
}  // namespace bw
