#include "blocklist/blocklist_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "blocklist/blocklist_writer.h"
#include "fixtures.h"

namespace bw {
namespace {

TEST(LoadBlocklist, ReadsOneLine) {
    struct Case {
        const char* line;
        int bucket;  // -1: not stored
        double start, end;
        const char* name;
        std::uint64_t ranges;
        double addresses;
        std::uint64_t failed;
    } cases[] = {
        {"Evil Corporation:1.1.1.1-2.2.2.2", 1, 16843009, 33686018, "Evil Corporation", 1, 16843010,
         0},
        {"x:1.2.3.4 - 1.2.3.9", 1, 16909060, 16909065, "x", 1, 6, 0},
        {"a:1.2.3.4-1.2.3.9:x", 1, 16909060, 16909065, "a", 1, 6, 0},
        {":10.0.0.1", 10, 167772161, 167772161, "", 1, 1, 0},
        {" sp : 10.0.0.1 ", 10, 167772161, 167772161, " sp ", 1, 1, 0},
        {"x:1.2.3.4-1.2.3.9-7.7.7.7", 1, 16909060, 16909065, "x", 1, 6, 0},
        {"x:255.0.0.0-255.0.0.1", 255, 4278190080.0, 4278190081.0, "x", 1, 2, 0},
        {"x:0.0.0.0", 0, 0, 0, "x", 1, 1, 0},
        {"x:\t10.0.0.1\t", 10, 167772161, 167772161, "x", 1, 1, 0},
        {"x:1 0.0.0.1", 10, 167772161, 167772161, "x", 1, 1, 0},
        {"x:001.2.3.4", 1, 16909060, 16909060, "x", 1, 1, 0},
        // A bound that is not exactly four parts of one to three digits, each
        // at most 255, or an end below the start: a failed line, never stored.
        {"Typo:200.1.2,3-200.1.2.9", -1, 0, 0, "", 0, 0, 1},
        {"b:2E1.1", -1, 0, 0, "", 0, 0, 1},
        {"x:1.2.3.9-1.2.3.4", -1, 0, 0, "", 0, 0, 1},
        {"x:+7.0.0.0-7.0.0.1", -1, 0, 0, "", 0, 0, 1},
        {"x:10abc.0.0.0-10.0.0.9", -1, 0, 0, "", 0, 0, 1},
        {"x:10.0.0.5-zz", -1, 0, 0, "", 0, 0, 1},
        {"x:10.0.0.5-", -1, 0, 0, "", 0, 0, 1},
        {"x:abc", -1, 0, 0, "", 0, 0, 1},
        {"x:", -1, 0, 0, "", 0, 0, 1},
        {"x:1.2.3", -1, 0, 0, "", 0, 0, 1},
        {"x:1.2.3.4.5", -1, 0, 0, "", 0, 0, 1},
        {"x:1.2.3.300", -1, 0, 0, "", 0, 0, 1},
        {"x:1.2.3.1234", -1, 0, 0, "", 0, 0, 1},
        {"x:256.0.0.0-256.0.0.1", -1, 0, 0, "", 0, 0, 1},
        {"x:256.0.0.1", -1, 0, 0, "", 0, 0, 1},
        {"x:-1.0.0.0", -1, 0, 0, "", 0, 0, 1},
        // Failed and empty lines.
        {"no colon", -1, 0, 0, "", 0, 0, 1},
        {"   ", -1, 0, 0, "", 0, 0, 1},
        {"1.2.3.4-1.2.3.9", -1, 0, 0, "", 0, 0, 1},
        {"", -1, 0, 0, "", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        BanTable table;
        LoadTotals totals = loadBlocklist(c.line, table);
        EXPECT_EQ(totals.ranges, c.ranges);
        EXPECT_EQ(totals.addresses, c.addresses);
        EXPECT_EQ(totals.failed, c.failed);
        if (c.bucket < 0) {
            EXPECT_EQ(table.size(), 0u);
            continue;
        }
        ASSERT_EQ(table.bucket(c.bucket).size(), 1u);
        const BanEntry& e = table.bucket(c.bucket)[0];
        EXPECT_EQ(e.text, c.line);
        EXPECT_EQ(e.name, c.name);
        EXPECT_EQ(e.start, c.start);
        EXPECT_EQ(e.end, c.end);
    }
}

TEST(LoadBlocklist, KeepsFileOrderWithinABucketAndDoesNotDropDuplicates) {
    BanTable table;
    LoadTotals totals = loadBlocklist(
        "a:10.0.0.0-10.0.0.255\r\nb:10.0.0.7\r\nc:9.0.0.1\r\na:10.0.0.0-10.0.0.255\r\n", table);
    EXPECT_EQ(totals.ranges, 4u);
    EXPECT_EQ(totals.addresses, 514);
    ASSERT_EQ(table.bucket(10).size(), 3u);
    EXPECT_EQ(table.bucket(10)[0].text, "a:10.0.0.0-10.0.0.255");
    EXPECT_EQ(table.bucket(10)[1].text, "b:10.0.0.7");
    EXPECT_EQ(table.bucket(10)[2].text, "a:10.0.0.0-10.0.0.255");
    EXPECT_EQ(table.bucket(9).size(), 1u);
}

TEST(LoadBlocklist, EmptySlotsOfTheFileLayoutCountNowhere) {
    std::string bytes;
    for (int i = 0; i < 262400; ++i) bytes += i == 1025 ? "x:1.1.1.1-2.2.2.2\r\n" : "\r\n";
    BanTable table;
    LoadTotals totals = loadBlocklist(bytes, table);
    EXPECT_EQ(totals.ranges, 1u);
    EXPECT_EQ(totals.failed, 0u);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(loadReport(totals), "Successfully loaded 16843010 IPs from 1 profiles.\r\n\r\n");
}

TEST(LoadBlocklist, LineEndsOfAnyKindLoadAlike) {
    BanTable crlf;
    LoadTotals crlfTotals = loadBlocklist(test::blocklistFixture("sample_crlf.p2p"), crlf);
    ASSERT_EQ(crlf.size(), 4u);
    EXPECT_EQ(crlfTotals.failed, 2u);  // no colon; "second:colon:..." reads "colon"
    EXPECT_EQ(crlf.bucket(200)[0].name, "Caf\xe9 \xff\x80");
    for (const char* name : {"sample_lf.p2p", "sample_cr.p2p"}) {
        SCOPED_TRACE(name);
        BanTable table;
        LoadTotals totals = loadBlocklist(test::blocklistFixture(name), table);
        EXPECT_EQ(totals.ranges, crlfTotals.ranges);
        EXPECT_EQ(totals.addresses, crlfTotals.addresses);
        EXPECT_EQ(totals.failed, crlfTotals.failed);
        EXPECT_EQ(formatStoredOnly(table), formatStoredOnly(crlf));
    }
}

TEST(LoadBlocklist, ABucketOverTheNominalSlotsLoadsWholeAndSurvivesRewrites) {
    const std::string fixture = test::blocklistFixture("big_bucket.p2p");
    BanTable table;
    LoadTotals totals = loadBlocklist(fixture, table);
    EXPECT_EQ(totals.ranges, 1102u);
    ASSERT_EQ(table.bucket(185).size(), 1100u);
    EXPECT_EQ(formatStoredOnly(table), fixture);

    const std::string everySlot = formatEverySlot(table);
    BanTable reloaded;
    LoadTotals again = loadBlocklist(everySlot, reloaded);
    EXPECT_EQ(again.ranges, totals.ranges);
    EXPECT_EQ(again.addresses, totals.addresses);
    EXPECT_EQ(formatStoredOnly(reloaded), fixture);
    EXPECT_EQ(formatEverySlot(reloaded), everySlot);

    std::vector<EntryRef> matches;
    reloaded.findMatches(185 * 16777216.0 + 1099 * 4096, matches);
    EXPECT_EQ(matches, (std::vector<EntryRef>{{185, 1099}}));
}

TEST(LoadReport, IsWordedExactly) {
    EXPECT_EQ(loadReport({2, 257, 0}), "Successfully loaded 257 IPs from 2 profiles.\r\n\r\n");
    EXPECT_EQ(loadReport({0, 0, 1}),
              "Failed to read 1 lines.\r\nSuccessfully loaded 0 IPs from 0 profiles.\r\n\r\n");
    EXPECT_EQ(loadReport({385602, 4294967296.0, 12}),
              "Failed to read 12 lines.\r\n"
              "Successfully loaded 4294967296 IPs from 385602 profiles.\r\n\r\n");
}

TEST(LoadBlocklist, OneLineWithoutColonReportsOneFailedLine) {
    BanTable table;
    EXPECT_EQ(loadReport(loadBlocklist("just text\r\n", table)),
              "Failed to read 1 lines.\r\nSuccessfully loaded 0 IPs from 0 profiles.\r\n\r\n");
}

}  // namespace
}  // namespace bw
