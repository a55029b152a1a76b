#include "blocklist/blocklist_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "blocklist/blocklist_reader.h"
#include "blocklist/text_lines.h"

namespace bw {
namespace {

BanEntry entry(std::string_view text) {
    return {text, "n", 1, 2};
}

TEST(FormatEverySlot, AnEmptyTableGivesTheFullLayoutOfEmptyLines) {
    BanTable table;
    std::string bytes = formatEverySlot(table);
    EXPECT_EQ(bytes.size(), 262400u * 2);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 262400);
    EXPECT_EQ(bytes.find_first_not_of("\r\n"), std::string::npos);
}

TEST(FormatEverySlot, PutsEachEntryOnTheLineOfItsSlot) {
    BanTable table;
    table.append(1, entry("Evil Corporation:1.1.1.1-2.2.2.2"));
    table.append(255, entry("last:255.0.0.1"));
    table.append(255, entry("x"));
    const std::string bytes = formatEverySlot(table);
    std::vector<std::string_view> lines = splitLines(bytes);
    ASSERT_EQ(lines.size(), 262400u);
    EXPECT_EQ(lines[1025], "Evil Corporation:1.1.1.1-2.2.2.2");  // line 1 026
    EXPECT_EQ(lines[255 * 1025], "last:255.0.0.1");
    EXPECT_EQ(lines[255 * 1025 + 1], "x");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto l) { return !l.empty(); }), 3);
}

// A line the load cannot read bans nothing, but the user typed it: a rewrite
// keeps it, and the next load reports it again.
TEST(FormatEverySlot, KeepsTheLinesTheLoadCouldNotRead) {
    const std::string file =
        "good:1.2.3.4-1.2.3.9\r\nTypo:200.1.2,3-200.1.2.9\r\nno colon here\r\n";
    for (auto format : {formatEverySlot, formatStoredOnly}) {
        BanTable table;
        ASSERT_EQ(loadBlocklist(file, table).failed, 2u);
        table.append(9, entry("added:9.9.9.9"));
        const std::string rewritten = format(table);
        EXPECT_NE(rewritten.find("\r\nTypo:200.1.2,3-200.1.2.9\r\nno colon here\r\n"),
                  std::string::npos);
        BanTable reloaded;
        LoadTotals again = loadBlocklist(rewritten, reloaded);
        EXPECT_EQ(again.failed, 2u);
        EXPECT_EQ(again.ranges, 2u);
        EXPECT_EQ(format(reloaded), rewritten);
    }
}

TEST(FormatEverySlot, ABucketOverTheNominalSlotsGetsOneLinePerEntry) {
    BanTable table;
    for (std::size_t i = 0; i < 1026; ++i) table.append(7, entry("e:" + std::to_string(i)));
    table.append(8, entry("next:8.0.0.1"));
    const std::string bytes = formatEverySlot(table);
    std::vector<std::string_view> lines = splitLines(bytes);
    ASSERT_EQ(lines.size(), 262401u);
    EXPECT_EQ(lines[7 * 1025 + 1025], "e:1025");
    EXPECT_EQ(lines[8 * 1025 + 1], "next:8.0.0.1");
}

TEST(FormatEverySlot, WritesTextsByteForByte) {
    BanTable table;
    const std::string odd = "\x80\xFF\xE9 N\xE4me : 1.2.3.4 - 1.2.3.9 \t";
    table.append(1, entry(odd));
    std::string bytes = formatEverySlot(table);
    EXPECT_EQ(bytes.substr(1025 * 2, odd.size() + 2), odd + "\r\n");
}

TEST(FormatStoredOnly, WritesOnlyTextsOfTwoOrMoreCharacters) {
    BanTable table;
    table.append(3, entry("b:3.0.0.1"));
    table.append(0, entry(":"));
    table.append(0, entry("a:"));
    table.append(3, entry("\xFF:3.0.0.2"));
    EXPECT_EQ(formatStoredOnly(table), "a:\r\nb:3.0.0.1\r\n\xFF:3.0.0.2\r\n");
    EXPECT_EQ(formatStoredOnly(BanTable()), "");
}

// IPv6 lines of the own list: entries after the IPv4 ones, each line as read.
TEST(OwnListIpv6, LinesRoundTripByteForByteAndBanWhatTheyName) {
    const std::string ipv4 = "A:1.2.3.4-1.2.3.9\r\nB : 001.002.003.004\r\n";
    const std::string ipv6 =
        "Doc Net:2001:db8::1-2001:db8::ff\r\n"
        "One:[2001:DB8::7]\r\n"
        "Spaced: 2001:db8::1:0 - 2001:db8::1:ffff\r\n";
    const std::string unread =
        "bad:2001:db8::ff-2001:db8::1\r\nmapped:::ffff:1.2.3.4-::ffff:1.2.3.9\r\n";
    BanTable table;
    const LoadTotals totals = loadBlocklist(ipv6 + ipv4 + unread, table);
    EXPECT_EQ(totals.ranges, 2u);
    EXPECT_EQ(totals.addresses, 7);
    EXPECT_EQ(totals.ranges6, 3u);
    EXPECT_EQ(totals.failed, 2u);
    EXPECT_EQ(loadReport(totals),
              "Failed to read 2 lines.\r\nSuccessfully loaded 7 IPs from 2 profiles.\r\n"
              "Successfully loaded 3 IPv6 ranges.\r\n\r\n");
    EXPECT_EQ(formatStoredOnly(table), ipv4 + ipv6 + unread);
    ASSERT_EQ(table.size6(), 3u);
    EXPECT_EQ(table.at6(1).name, "One");
    std::vector<EntryRef> hits;
    const std::pair<const char*, std::size_t> cases[] = {
        {"2001:db8::1", 1}, {"2001:db8::7", 2}, {"2001:db8::100", 0}, {"2001:db8::1:8000", 1}};
    for (const auto& [address, count] : cases) {
        table.findMatches(*parseIpAddress(address), hits);
        EXPECT_EQ(hits.size(), count) << address;
    }

    // What was written reads back the same.
    BanTable again;
    EXPECT_EQ(loadBlocklist(formatEverySlot(table), again).ranges6, 3u);
    EXPECT_EQ(formatStoredOnly(again), ipv4 + ipv6 + unread);
}

}  // namespace
}  // namespace bw
