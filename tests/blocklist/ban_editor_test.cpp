#include "blocklist/ban_editor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "blocklist/blocklist_reader.h"
#include "blocklist/blocklist_writer.h"
#include "support/recording_host.h"

namespace bw {
namespace {

struct EditorFixture : testing::Test {
    BanTable table;
    test::RecordingHost host;
    BanEditor editor{table, host};
};

constexpr const char* kRefusal = "Attempted to add localhost (127.0.0.1) - Not allowed!";

TEST_F(EditorFixture, AddBanRangeStoresOnlyAcceptableText) {
    struct Case {
        std::string text;
        int bucket;  // -1: nothing stored
        double start, end;
        std::string name;
        bool refused = false;
    } cases[] = {
        {"x:10.0.0.0-10.0.0.255", 10, 167772160, 167772415, "x"},
        {"Evil Corporation:1.1.1.1-2.2.2.2", 1, 16843009, 33686018, "Evil Corporation"},
        {"x:1.2.3.4 - 1.2.3.9", 1, 16909060, 16909065, "x"},
        {"x:1.2.3.4-1.2.3.9:extra", 1, 16909060, 16909065, "x"},
        {":1.2.3.4-1.2.3.9", 1, 16909060, 16909065, ""},
        {"x:1.2.3.4-1.2.3.4", 1, 16909060, 16909060, "x"},  // end equal to start
        {"x:1.2.3.9-1.2.3.4", -1, 0, 0, ""},                // end below start
        // The start must lie above 65 536 (0.1.0.0).
        {"x:0.0.0.1-0.0.0.9", -1, 0, 0, ""},
        {"x:0.1.0.0-0.1.0.5", -1, 0, 0, ""},
        {"x:0.1.0.1-0.1.0.5", 0, 65537, 65541, "x"},
        // Every entry that bans an address of 127.0.0.0/8 is refused, the single form too.
        {"x:126.0.0.0-128.0.0.0", -1, 0, 0, "", true},
        {"x:126.255.255.255-127.0.0.1", -1, 0, 0, "", true},
        {"x:126.255.255.255-127.0.0.0", -1, 0, 0, "", true},
        {"x:127.0.0.0-127.255.255.255", -1, 0, 0, "", true},
        {"x:127.0.0.1-127.0.0.1", -1, 0, 0, "", true},
        {"x:127.255.255.255-128.0.0.1", -1, 0, 0, "", true},
        {"x:127.0.0.1", -1, 0, 0, "", true},
        {"x: 127.0.0.1 ", -1, 0, 0, "", true},
        {"x:126.0.0.0-126.255.255.255", 126, 2113929216, 2130706431, "x"},
        {"x:128.0.0.0-128.0.0.1", 128, 2147483648.0, 2147483649.0, "x"},
        {"x:126.255.255.255", 126, 2130706431, 2130706431, "x"},
        // Single addresses need no start above 0.1.0.0.
        {"x:0.0.0.5", 0, 5, 5, "x"},
        {"x: 10.0.0.1", 10, 167772161, 167772161, "x"},
        {"x:\t10.0.0.1-10.0.0.2\t", 10, 167772161, 167772162, "x"},
        {"x:1 0.0.0.1", 10, 167772161, 167772161, "x"},  // spaces go, as in the file
        {"x:001.2.3.4", 1, 16909060, 16909060, "x"},
        // An address is exactly four parts of one to three digits, each at most
        // 255; anything else is no address, so nothing is stored.
        {"x:+5.0.0.0", -1, 0, 0, ""},
        {"x:5.a.b.c", -1, 0, 0, ""},
        {"x:1.2.3", -1, 0, 0, ""},
        {"b:2E1.1", -1, 0, 0, ""},
        {"x:1.2.3.300", -1, 0, 0, ""},
        {"x:1.2.3.4.5", -1, 0, 0, ""},
        {"x:1.2.3.1234", -1, 0, 0, ""},
        {"x:1..3.4", -1, 0, 0, ""},
        {"Typo:200.1.2,3-200.1.2.9", -1, 0, 0, ""},
        {"x:200.1.2.3-200.1.2.x", -1, 0, 0, ""},
        {"x:1.2.3.4-", -1, 0, 0, ""},
        {"x:-1.0.0.0", -1, 0, 0, ""},
        {"x:a.b.c.d-1.2.3.4", -1, 0, 0, ""},
        {"x:256.0.0.1", -1, 0, 0, ""},
        {"x:abc", -1, 0, 0, ""},
        {"x:10abc.0.0.1", -1, 0, 0, ""},
        {"x:", -1, 0, 0, ""},
        {"1.2.3.4", -1, 0, 0, ""},  // no ":": the default name, but no bucket
        {"1.2.3.4-1.2.3.9", -1, 0, 0, ""},
        // Line breaks and NUL would become extra lines in the file.
        {"x:1.2.3.4-1.2.3.9\r\ny:5.0.0.1", -1, 0, 0, ""},
        {"x:1.2.3.4\n", -1, 0, 0, ""},
        {"x:1.2.3.4\r", -1, 0, 0, ""},
        {std::string("x:1.2.3.4\0z", 11), -1, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        table.clear();
        host.messages.clear();
        host.listResets = 0;
        editor.ADDBANRANGE(c.text);
        EXPECT_EQ(host.messages.size(), c.refused ? 1u : 0u);
        EXPECT_GE(host.listResets, 1) << "the list is always shown afresh";
        if (c.bucket < 0) {
            EXPECT_EQ(table.size(), 0u);
            continue;
        }
        ASSERT_EQ(table.size(), 1u);
        ASSERT_EQ(table.bucket(c.bucket).size(), 1u);
        const BanEntry& e = table.bucket(c.bucket)[0];
        EXPECT_EQ(e.text, c.text);
        EXPECT_EQ(e.name, c.name);
        EXPECT_EQ(e.start, c.start);
        EXPECT_EQ(e.end, c.end);
    }
}

// The add dialog, links and the import all add through ADDBANRANGE: what they
// store must read back the same from the rewritten file, and what they refuse
// must not load either.
TEST_F(EditorFixture, AnAddedLineReadsTheSameAfterAReload) {
    for (const char* line :
         {"b:2E1.1", "x:1.2.3.300", "Typo:200.1.2,3-200.1.2.9", "x:+5.0.0.0", "x:1 0.0.0.1",
          "x: 20.1.1.1 - 20.1.1.9", "x:5.0.0.1", "x:1.2.3.9-1.2.3.4"}) {
        SCOPED_TRACE(line);
        table.clear();
        editor.ADDBANRANGE(line);
        BanTable reloaded;
        LoadTotals totals = loadBlocklist(std::string(line), reloaded);
        ASSERT_EQ(reloaded.size(), table.size());
        EXPECT_EQ(totals.failed, 1u - table.size());
        if (table.size() == 1) {
            EXPECT_EQ(reloaded.refAtRow(0), table.refAtRow(0));
            EXPECT_EQ(reloaded.at(reloaded.refAtRow(0)).start, table.at(table.refAtRow(0)).start);
            EXPECT_EQ(reloaded.at(reloaded.refAtRow(0)).end, table.at(table.refAtRow(0)).end);
            EXPECT_EQ(formatStoredOnly(reloaded), formatStoredOnly(table));
        }
    }
}

TEST_F(EditorFixture, LocalhostRefusalShowsTheMessageThenYields) {
    std::vector<std::string> events;
    host.onMessage = [&](const Message&) { events.push_back("message"); };
    host.onYield = [&] { events.push_back("yield"); };
    editor.ADDBANRANGE("x:126.0.0.0-128.0.0.0");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, kRefusal);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::None);
    EXPECT_EQ(host.messages[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(host.messages[0].shownTitle(), "Bastionwatch");
    EXPECT_EQ(events, (std::vector<std::string>{"message", "yield"}));
    EXPECT_EQ(host.listResets, 1);
}

TEST_F(EditorFixture, AddBanYieldsBeforeTheEntryExists) {
    std::vector<std::size_t> sizesAtYield;
    host.onYield = [&] { sizesAtYield.push_back(table.size()); };
    editor.ADDBANRANGE("x:10.0.0.0-10.0.0.255");
    EXPECT_EQ(sizesAtYield, (std::vector<std::size_t>{0}));
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(host.listResets, 2) << "once after the store, once at the end";
}

TEST_F(EditorFixture, DuplicateBoundsStoreNothingWhateverTheName) {
    editor.ADDBANRANGE("x:10.0.0.0-10.0.0.255");
    host.listResets = 0;
    editor.ADDBANRANGE("x:10.0.0.0-10.0.0.255");
    editor.ADDBANRANGE("y:10.0.0.0 - 10.0.0.255");
    EXPECT_EQ(table.bucket(10).size(), 1u);
    EXPECT_EQ(table.bucket(10)[0].name, "x");
    EXPECT_EQ(host.listResets, 2) << "only ADDBANRANGE's own refresh";
    editor.ADDBANRANGE("z:10.0.0.0-10.0.0.254");  // one bound differs
    EXPECT_EQ(table.bucket(10).size(), 2u);
}

TEST_F(EditorFixture, AddBanReportsWhetherTheTextNamedABucket) {
    EXPECT_TRUE(editor.ADDBAN("n:9.0.0.1", 1, 2, "n"));
    EXPECT_TRUE(editor.ADDBAN("n:9.0.0.1", 1, 2, "n"));  // duplicate: not a failure
    EXPECT_FALSE(editor.ADDBAN("9.0.0.1", 1, 2, "n"));
    EXPECT_FALSE(editor.ADDBAN("n:-1.0.0.1", 1, 2, "n"));
    EXPECT_FALSE(editor.ADDBAN("n:256.0.0.1", 1, 2, "n"));
    EXPECT_FALSE(editor.ADDBAN("n:255", 3, 4, "n"));
    EXPECT_TRUE(editor.ADDBAN("n:255.0.0.1-255.0.0.9", 3, 4, "n"));
    EXPECT_TRUE(editor.ADDBAN("n:0.0.0.1", 3, 4, "n"));
    EXPECT_EQ(table.size(), 3u);
    EXPECT_EQ(table.bucket(255).size(), 1u);
    EXPECT_EQ(host.yields, 8);
}

TEST_F(EditorFixture, NewEntryFollowsItsBucketAndPrecedesHigherBuckets) {
    editor.ADDBANRANGE("a:10.0.0.1");
    editor.ADDBANRANGE("c:11.0.0.1");
    editor.ADDBANRANGE("b:10.0.0.2");
    EXPECT_EQ(table.refAtRow(0), (EntryRef{10, 0}));
    EXPECT_EQ(table.refAtRow(1), (EntryRef{10, 1}));
    EXPECT_EQ(table.at(table.refAtRow(1)).text, "b:10.0.0.2");
    EXPECT_EQ(table.refAtRow(2), (EntryRef{11, 0}));
}

TEST_F(EditorFixture, AnAddedRangeIsMatchedAtOnce) {
    std::vector<EntryRef> matches;
    table.findMatches(167772165, matches);  // builds the index while empty
    EXPECT_TRUE(matches.empty());
    editor.ADDBANRANGE("x:10.0.0.0-10.0.0.255");
    table.findMatches(167772165, matches);
    EXPECT_EQ(matches, (std::vector<EntryRef>{{10, 0}}));
}

// The table's size each time the list was shown afresh.
TEST_F(EditorFixture, Ipv6LinesAreAddedInTheSameFormAndLoopbackIsRefused) {
    const struct {
        const char* line;
        AddOutcome outcome;
    } cases[] = {
        {"Doc:2001:db8::1-2001:db8::ff", AddOutcome::Added},
        {"Again:[2001:db8::1]-[2001:db8::ff]", AddOutcome::Duplicate},
        {"One:2001:db8::7", AddOutcome::Added},
        {"Self:::1", AddOutcome::Localhost},
        {"Low:::-::ff", AddOutcome::Localhost},
        {"All:::-ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", AddOutcome::Localhost},
        {"Near:::2-::ff", AddOutcome::Added},
        {"Upside:2001:db8::ff-2001:db8::1", AddOutcome::NotAnEntry},
        {"Mapped:::ffff:127.0.0.1", AddOutcome::NotAnEntry},
        // The first colon ends the name, even where the text meant none.
        {"2001:db8::1", AddOutcome::Added},
    };
    for (const auto& c : cases) EXPECT_EQ(editor.ADDBANRANGE(c.line), c.outcome) << c.line;
    EXPECT_EQ(table.size(), 0u);
    ASSERT_EQ(table.size6(), 4u);
    EXPECT_EQ(table.at6(3).name, "2001");
    EXPECT_EQ(table.at6(3).first, (Ipv6Number{0x0DB8000000000000u, 1}));
    EXPECT_EQ(table.at6(0).text, "Doc:2001:db8::1-2001:db8::ff");
    EXPECT_EQ(table.at6(0).name, "Doc");
    EXPECT_EQ(host.messages.size(), 3u);
    EXPECT_EQ(host.messages[0].text, kRefusal);
    std::vector<EntryRef> hits;
    table.findMatches(*parseIpAddress("2001:db8::80"), hits);
    EXPECT_EQ(hits, (std::vector<EntryRef>{{BanTable::kIpv6Bucket, 0}}));
}

struct ResetSizesHost : test::RecordingHost {
    const BanTable* table = nullptr;
    std::vector<std::size_t> sizes;
    void banListReset() override {
        RecordingHost::banListReset();
        sizes.push_back(table->size());
    }
};

TEST(BanEditorThrottle, AnImportShowsTheListEveryHundredMillisecondsAndAtItsEnd) {
    using namespace std::chrono_literals;
    BanTable table;
    ResetSizesHost host;
    host.table = &table;
    std::chrono::steady_clock::time_point now{};
    BanEditor editor(table, host, [&] { return now; });

    editor.throttleListRefresh(true);
    for (int i = 1; i <= 50; ++i) {
        editor.ADDBANRANGE("x:10.0.0." + std::to_string(i));
        now += 10ms;
    }
    // 50 entries over 500 ms: one refresh per 100 ms instead of two per entry.
    EXPECT_EQ(host.sizes, (std::vector<std::size_t>{11, 21, 31, 41}));
    editor.throttleListRefresh(false);
    EXPECT_EQ(host.sizes.back(), 50u) << "the last entries are shown when the import ends";

    // Entries that arrive within 10 ms of each other share one yield.
    editor.throttleListRefresh(true);
    host.yields = 0;
    for (int i = 1; i <= 20; ++i) {
        editor.ADDBANRANGE("y:11.0.0." + std::to_string(i));
        now += 1ms;
    }
    EXPECT_EQ(host.yields, 2);
    editor.throttleListRefresh(false);
    EXPECT_EQ(host.sizes.back(), 70u);

    // Without the throttle every add shows the list, and so does a removal's refresh.
    host.sizes.clear();
    editor.ADDBANRANGE("x:10.0.0.51");
    EXPECT_EQ(host.sizes, (std::vector<std::size_t>{71, 71}));
    editor.throttleListRefresh(true);
    editor.UPDATELIST();
    EXPECT_EQ(host.sizes.size(), 3u);
    editor.throttleListRefresh(false);
    EXPECT_EQ(host.sizes.size(), 3u) << "nothing was waiting";
    EXPECT_EQ(host.yields, 3) << "every add yields again";
}

}  // namespace
}  // namespace bw
