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

}  // namespace
}  // namespace bw
