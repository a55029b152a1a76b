#include "maintenance/check_places.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "blocklist/blocklist_reader.h"
#include "maintenance/list_format.h"
#include "maintenance/list_keeper.h"
#include "support/fake_clock.h"
#include "support/fake_downloader.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

constexpr std::uint32_t ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(RangeLineNumbersTest, CountsEveryLineAndOnlyTheRangeExpected) {
    const std::string text =
        "# a comment\r\n"
        "\r\n"
        "One:1.1.1.1-1.1.1.9\r\n"
        "not a range\r\n"
        "Two:2.2.2.2\r"
        "Three:3.3.3.3-3.3.3.4\n";
    const ListRange one{ip(1, 1, 1, 1), ip(1, 1, 1, 9), "One"};
    const ListRange two{ip(2, 2, 2, 2), ip(2, 2, 2, 2), "Two"};
    const ListRange three{ip(3, 3, 3, 3), ip(3, 3, 3, 4), "Three"};
    struct Case {
        const char* what;
        std::vector<WantedRange> wanted;
        std::vector<std::size_t> lines;
    } cases[] = {
        {"each in turn", {{0, one}, {1, two}, {2, three}}, {3, 5, 6}},
        {"out of order", {{2, three}, {0, one}}, {6, 3}},
        {"another range at the index", {{1, three}}, {0}},
        {"past the last range", {{3, three}}, {0}},
        {"none asked", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(rangeLineNumbers(text, c.wanted), c.lines);
    }
}

// IPv6 ranges are counted apart: an index names a range among those of its family.
TEST(RangeLineNumbersTest, Ipv6RangesAreCountedAmongThemselves) {
    const std::string text =
        "One:1.1.1.1-1.1.1.9\n"
        "Doc:2001:db8::-2001:db8::ff\n"
        "Two:2.2.2.2\n"
        "More:2001:db8:1::-2001:db8:1::ff\n";
    auto v6 = [](const char* t) { return parseIpAddress(t)->v6(); };
    const ListRange two{ip(2, 2, 2, 2), ip(2, 2, 2, 2), "Two"};
    const ListRange6 doc{v6("2001:db8::"), v6("2001:db8::ff"), "Doc"};
    const ListRange6 more{v6("2001:db8:1::"), v6("2001:db8:1::ff"), "More"};
    EXPECT_EQ(rangeLineNumbers(text, {{1, {}, true, more}, {1, two}, {0, {}, true, doc}}),
              (std::vector<std::size_t>{4, 3, 2}));
    EXPECT_EQ(rangeLineNumbers(text, {{0, {}, true, more}, {2, {}, true, doc}}),
              (std::vector<std::size_t>{0, 0}));
}

TEST(CheckPlacesTest, OwnEntriesAreFoundByTheLineTheyWereLoadedFrom) {
    BanTable own;
    loadBlocklist("a:1.1.1.1\r\n\r\nb:2.2.2.2\rc:3.3.3.3\nbroken\nd:4.4.4.4", own);
    CheckResult result = checkAddresses(own, ListTable(), {{0, 0xFFFFFFFFu}});
    placeOwnEntriesInFile(result, own, "Moatlist.P2P");
    std::map<std::string, std::string> where;
    for (const CheckedEntry& e : result.entries) where[std::string(e.text)] = e.where;
    EXPECT_EQ(where, (std::map<std::string, std::string>{{"a:1.1.1.1", "Moatlist.P2P line 1"},
                                                         {"b:2.2.2.2", "Moatlist.P2P line 3"},
                                                         {"c:3.3.3.3", "Moatlist.P2P line 4"},
                                                         {"d:4.4.4.4", "Moatlist.P2P line 6"}}));
}

// What a running guard keeps in the folder, as a check finds it.
std::map<std::string, std::string> folderState(const std::filesystem::path& folder) {
    std::map<std::string, std::string> state;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        std::string bytes;
        if (item.is_regular_file()) {
            std::ifstream in(item.path(), std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        state[std::filesystem::relative(item.path(), folder).string()] = bytes;
    }
    return state;
}

class LoadToRead : public ::testing::Test {
protected:
    // A folder as a guard leaves it: a local list "mine" with its cached copy.
    void subscribeToLocalList() {
        dir.write("mine.txt", "# mine\n192.0.2.0/24\n2001:db8::/32\n");
        ListKeeper guard(downloader, clock, dir.path());
        ASSERT_EQ(guard.load(true), "");
        Subscription local;
        local.name = "mine";
        local.source = dir.file("mine.txt").string();
        ASSERT_EQ(guard.add(local), "");
        guard.startUpdates(true);
        while (guard.updating()) {
            guard.poll();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        guard.poll();
        // What a killed download leaves, and no lock file yet: a check makes neither go.
        dir.write("lists/mine-00000000.list.part", "half");
        std::filesystem::remove(dir.file("lists.json.lock"));
    }

    test::TempDir dir;
    test::FakeClock clock;
    test::FakeDownloader downloader;
};

TEST_F(LoadToRead, HoldsTheListsAGuardWouldAndChangesNothing) {
    subscribeToLocalList();
    const auto before = folderState(dir.path());
    ListKeeper check(downloader, clock, dir.path());
    EXPECT_EQ(check.loadToRead(), "");
    const ListTable table = check.table();
    EXPECT_EQ(table.findBlock(ip(192, 0, 2, 5)), (ListHit{"192.0.2.0/24", "mine"}));
    EXPECT_TRUE(table.allows(ip(10, 1, 2, 3)));

    CheckResult result = checkAddresses(BanTable(), table, {{ip(192, 0, 2, 5), ip(192, 0, 2, 5)}});
    placeListEntries(result, table, check);
    ASSERT_EQ(result.entries.size(), 1u);
    EXPECT_TRUE(result.entries[0].where.starts_with("lists/mine-")) << result.entries[0].where;
    EXPECT_TRUE(result.entries[0].where.ends_with(".list line 2")) << result.entries[0].where;

    // An IPv6 entry by its line too, not by the IPv4 range at its index.
    result = checkAddress6(BanTable(), table, parseIpAddress("2001:db8::5")->v6());
    placeListEntries(result, table, check);
    ASSERT_EQ(result.entries.size(), 1u);
    EXPECT_TRUE(result.entries[0].where.ends_with(".list line 3")) << result.entries[0].where;

    EXPECT_NE(check.setEnabled("mine", false), "");
    EXPECT_EQ(folderState(dir.path()), before);
}

TEST_F(LoadToRead, AFolderWithoutListsHasTheBuiltInAllowListAndStaysEmpty) {
    ListKeeper check(downloader, clock, dir.path());
    EXPECT_EQ(check.loadToRead(), "");
    EXPECT_TRUE(check.table().allows(ip(192, 168, 1, 1)));
    EXPECT_TRUE(folderState(dir.path()).empty());
}

TEST_F(LoadToRead, ADamagedFileLeavesOnlyTheBuiltInAllowListAndIsKept) {
    subscribeToLocalList();
    dir.write("lists.json", "{ damaged");
    const auto before = folderState(dir.path());
    ListKeeper check(downloader, clock, dir.path());
    EXPECT_NE(check.loadToRead().find("only the built-in allow list would be in force"),
              std::string::npos);
    EXPECT_EQ(check.table().findBlock(ip(192, 0, 2, 5)), std::nullopt);
    EXPECT_TRUE(check.table().allows(ip(10, 1, 2, 3)));
    EXPECT_EQ(folderState(dir.path()), before);
}

}  // namespace
}  // namespace bw
