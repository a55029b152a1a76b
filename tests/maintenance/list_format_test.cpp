#include "maintenance/list_format.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "maintenance/gzip_data.h"
#include "platform/ip_address.h"
#include "support/gzip_bytes.h"

namespace bw {
namespace {

constexpr std::uint32_t ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

using Kind = LineReading::Kind;

struct LineCase {
    ListFormat format;
    std::string_view line;
    Kind kind;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    const char* entry = "";
};

std::ostream& operator<<(std::ostream& out, const LineCase& c) {
    return out << formatName(c.format) << " \"" << c.line << "\"";
}

class ListLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ListLineTest, ReadsTheLineAsExpected) {
    const LineCase& c = GetParam();
    LineReading reading = readListLine(c.format, c.line);
    ASSERT_EQ(static_cast<int>(reading.kind), static_cast<int>(c.kind));
    if (c.kind == Kind::Range) {
        EXPECT_EQ(reading.range, (ListRange{c.first, c.last, c.entry}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ListLineTest,
    ::testing::Values(
        // P2P
        LineCase{ListFormat::P2p, "Evil Corp:1.1.1.1-2.2.2.2", Kind::Range, ip(1, 1, 1, 1),
                 ip(2, 2, 2, 2), "Evil Corp"},
        LineCase{ListFormat::P2p, "x:1.2.3.4 - 1.2.3.9", Kind::Range, ip(1, 2, 3, 4),
                 ip(1, 2, 3, 9), "x"},
        LineCase{ListFormat::P2p, "single:8.8.4.4", Kind::Range, ip(8, 8, 4, 4), ip(8, 8, 4, 4),
                 "single"},
        LineCase{ListFormat::P2p, "a:b:001.002.003.004-001.002.003.010", Kind::Range,
                 ip(1, 2, 3, 4), ip(1, 2, 3, 10), "a:b"},
        LineCase{ListFormat::P2p, ":0.0.0.0-255.255.255.255", Kind::Range, 0, 0xFFFFFFFFu, ""},
        LineCase{ListFormat::P2p, "  # a comment", Kind::Skip},
        LineCase{ListFormat::P2p, "// another", Kind::Skip},
        LineCase{ListFormat::P2p, "   ", Kind::Skip},
        LineCase{ListFormat::P2p, "x:1.2.3.9-1.2.3.4", Kind::Failed},
        LineCase{ListFormat::P2p, "x:1.2.3.256", Kind::Failed},
        LineCase{ListFormat::P2p, "x:1.2.3", Kind::Failed},
        LineCase{ListFormat::P2p, "x:1.2.3.4.5", Kind::Failed},
        LineCase{ListFormat::P2p, "no colon 1.2.3.4-1.2.3.5", Kind::Failed},
        // DAT
        LineCase{ListFormat::Dat, "001.002.003.004 - 001.002.003.255 , 000 , Some Net", Kind::Range,
                 ip(1, 2, 3, 4), ip(1, 2, 3, 255), "Some Net"},
        LineCase{ListFormat::Dat, "1.2.3.4 - 1.2.3.5 , 126 , a, with comma", Kind::Range,
                 ip(1, 2, 3, 4), ip(1, 2, 3, 5), "a, with comma"},
        LineCase{ListFormat::Dat, "1.2.3.4 - 1.2.3.5 , 127 , allowed", Kind::Permitted},
        LineCase{ListFormat::Dat, "1.2.3.4 - 1.2.3.5 , x , bad level", Kind::Failed},
        LineCase{ListFormat::Dat, "1.2.3.4 , 0 , no end", Kind::Failed},
        // CIDR and single addresses
        LineCase{ListFormat::Cidr, "10.0.0.0/8", Kind::Range, ip(10, 0, 0, 0),
                 ip(10, 255, 255, 255), "10.0.0.0/8"},
        LineCase{ListFormat::Cidr, "192.0.2.77/24 ; SBL1", Kind::Range, ip(192, 0, 2, 0),
                 ip(192, 0, 2, 255), "192.0.2.77/24"},
        // Host bits set: the network, as ipset and iptables read it.
        LineCase{ListFormat::Cidr, "10.5.6.7/8", Kind::Range, ip(10, 0, 0, 0),
                 ip(10, 255, 255, 255), "10.5.6.7/8"},
        LineCase{ListFormat::Cidr, "203.0.113.9/32", Kind::Range, ip(203, 0, 113, 9),
                 ip(203, 0, 113, 9), "203.0.113.9/32"},
        LineCase{ListFormat::Cidr, "0.0.0.0/0", Kind::Range, 0, 0xFFFFFFFFu, "0.0.0.0/0"},
        LineCase{ListFormat::Cidr, "198.51.100.1\t# feed", Kind::Range, ip(198, 51, 100, 1),
                 ip(198, 51, 100, 1), "198.51.100.1"},
        LineCase{ListFormat::Cidr, "10.0.0.0/33", Kind::Failed},
        LineCase{ListFormat::Cidr, "10.0.0.0/", Kind::Failed},
        LineCase{ListFormat::Cidr, "example.com", Kind::Failed},
        // Bytes no list holds make a line not understood, a comment too.
        LineCase{ListFormat::P2p, std::string_view("a\0b:1.2.3.4", 11), Kind::Failed},
        LineCase{ListFormat::P2p, "a:1.2.3.4\x1A", Kind::Failed},
        LineCase{ListFormat::P2p, "# \x7F", Kind::Failed}));

struct Line6Case {
    ListFormat format;
    std::string_view line;
    Kind kind;
    std::string_view first = "";
    std::string_view last = "";
    const char* entry = "";
};

std::ostream& operator<<(std::ostream& out, const Line6Case& c) {
    return out << formatName(c.format) << " \"" << c.line << "\"";
}

class ListLine6Test : public ::testing::TestWithParam<Line6Case> {};

TEST_P(ListLine6Test, ReadsTheIpv6LineAsExpected) {
    const Line6Case& c = GetParam();
    LineReading reading = readListLine(c.format, c.line);
    ASSERT_EQ(static_cast<int>(reading.kind), static_cast<int>(c.kind));
    if (c.kind == Kind::Range6) {
        EXPECT_EQ(reading.range6, (ListRange6{parseIpAddress(c.first)->v6(),
                                              parseIpAddress(c.last)->v6(), c.entry}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ListLine6Test,
    ::testing::Values(
        // P2P: the first colon ends the note.
        Line6Case{ListFormat::P2p, "v6:2001:db8::1-2001:db8::ff", Kind::Range6, "2001:db8::1",
                  "2001:db8::ff", "v6"},
        Line6Case{ListFormat::P2p, "Doc Net:[2001:db8::1]-[2001:db8::ff]", Kind::Range6,
                  "2001:db8::1", "2001:db8::ff", "Doc Net"},
        Line6Case{ListFormat::P2p, "x: 2001:DB8::1 - 2001:db8::1 ", Kind::Range6, "2001:db8::1",
                  "2001:db8::1", "x"},
        Line6Case{ListFormat::P2p, "one:2001:db8::7", Kind::Range6, "2001:db8::7", "2001:db8::7",
                  "one"},
        Line6Case{ListFormat::P2p, ":::-ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", Kind::Range6,
                  "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", ""},
        Line6Case{ListFormat::P2p, "x:2001:db8::ff-2001:db8::1", Kind::Failed},
        Line6Case{ListFormat::P2p, "x:2001:db8::1-1.2.3.4", Kind::Failed},
        Line6Case{ListFormat::P2p, "x:2001:db8::/32", Kind::Failed},
        Line6Case{ListFormat::P2p, "x:2001:db8:::1", Kind::Failed},
        Line6Case{ListFormat::P2p, "x:[2001:db8::1", Kind::Failed},
        Line6Case{ListFormat::P2p, "x:fe80::1%eth0", Kind::Failed},
        // An IPv4-mapped bound is IPv4, which IPv6 text never bans.
        Line6Case{ListFormat::P2p, "x:[::ffff:1.2.3.4]-[::ffff:1.2.3.9]", Kind::Failed},
        // DAT
        Line6Case{ListFormat::Dat, "2001:db8::1 - 2001:db8::2 , 0 , v6", Kind::Range6,
                  "2001:db8::1", "2001:db8::2", "v6"},
        Line6Case{ListFormat::Dat, "2001:db8::1 - 2001:db8::2 , 127 , fine", Kind::Permitted},
        Line6Case{ListFormat::Dat, "2001:db8::2 - 2001:db8::1 , 0 , upside", Kind::Failed},
        Line6Case{ListFormat::Dat, "2001:db8::1 - 2001:db8::g , 0 , x", Kind::Failed},
        // CIDR and single addresses
        Line6Case{ListFormat::Cidr, "2001:db8::/32", Kind::Range6,
                  "2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", "2001:db8::/32"},
        Line6Case{ListFormat::Cidr, "2001:db8:1:2:3:4:5:6/80 ; x", Kind::Range6,
                  "2001:db8:1:2:3::", "2001:db8:1:2:3:ffff:ffff:ffff", "2001:db8:1:2:3:4:5:6/80"},
        Line6Case{ListFormat::Cidr, "2001:db8::1/128", Kind::Range6, "2001:db8::1", "2001:db8::1",
                  "2001:db8::1/128"},
        Line6Case{ListFormat::Cidr, "2001:db8::5/64", Kind::Range6,
                  "2001:db8::", "2001:db8::ffff:ffff:ffff:ffff", "2001:db8::5/64"},
        Line6Case{ListFormat::Cidr, "2001:db8::5/63", Kind::Range6,
                  "2001:db8::", "2001:db8:0:1:ffff:ffff:ffff:ffff", "2001:db8::5/63"},
        Line6Case{ListFormat::Cidr, "::/0", Kind::Range6,
                  "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "::/0"},
        Line6Case{ListFormat::Cidr, "2001:db8::9\t# one", Kind::Range6, "2001:db8::9",
                  "2001:db8::9", "2001:db8::9"},
        Line6Case{ListFormat::Cidr, "2001:db8::1-2001:db8::3", Kind::Range6, "2001:db8::1",
                  "2001:db8::3", "2001:db8::1-2001:db8::3"},
        Line6Case{ListFormat::Cidr, "2001:db8::/129", Kind::Failed},
        Line6Case{ListFormat::Cidr, "2001:db8::/", Kind::Failed},
        Line6Case{ListFormat::Cidr, "2001:db8::/0128", Kind::Failed}));

TEST(ListFormatTest, DetectsTheFormatFromTheContent) {
    EXPECT_EQ(detectListFormat("# c\r\na:1.2.3.4-1.2.3.5\r\nb:5.6.7.8\r\n"), ListFormat::P2p);
    EXPECT_EQ(detectListFormat("1.2.3.4 - 1.2.3.5 , 0 , a\n"), ListFormat::Dat);
    EXPECT_EQ(detectListFormat("; drop\n1.2.3.0/24\n5.6.7.8\n"), ListFormat::Cidr);
    EXPECT_EQ(detectListFormat("hello\nworld\n"), ListFormat::Unknown);
}

TEST(ListFormatTest, CountsEveryKindOfLine) {
    ParsedList list = parseList(
        "\xEF\xBB\xBF# header\r\n"
        "a:1.2.3.4-1.2.3.5\r\n"
        "\r\n"
        "v6:[::1]-[::2]\r\n"
        "b:9.9.9.9\n"
        "garbage\r\n");
    EXPECT_EQ(list.format, ListFormat::P2p);
    ASSERT_EQ(list.ranges.size(), 2u);
    EXPECT_EQ(list.ranges[1], (ListRange{ip(9, 9, 9, 9), ip(9, 9, 9, 9), "b"}));
    ASSERT_EQ(list.ranges6.size(), 1u);
    EXPECT_EQ(list.ranges6[0], (ListRange6{{0, 1}, {0, 2}, "v6"}));
    EXPECT_EQ(list.failedLines, 1u);
    EXPECT_EQ(list.entryLines(), 4u);
    EXPECT_FALSE(list.html);
}

std::string linesOf(std::size_t good, std::size_t bad) {
    std::string text;
    for (std::size_t i = 0; i < good; ++i) text += "n:1.2.3." + std::to_string(i % 256) + "\n";
    for (std::size_t i = 0; i < bad; ++i) text += "not a line\n";
    return text;
}

TEST(ListGateTest, AFewOddLinesDoNotRefuseASmallList) {
    // Up to 5 odd lines while they are at most a quarter of the entries, or 1 %.
    struct Case {
        std::size_t good;
        std::size_t bad;
        const char* refusal;
    } cases[] = {
        {4, 1, ""},
        {3, 1, ""},
        {2, 1, "1 of 3 lines were not understood"},
        {15, 5, ""},
        {14, 5, "5 of 19 lines were not understood"},
        {95, 5, ""},
        {94, 6, "6 of 100 lines were not understood"},
        {990, 10, ""},
        {989, 11, "11 of 1000 lines were not understood"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.good) + " good, " + std::to_string(c.bad) + " bad");
        ParsedList list = parseList(linesOf(c.good, c.bad));
        EXPECT_EQ(listRefusal(list), c.refusal);
        EXPECT_EQ(list.ranges.size(), c.good);
        EXPECT_EQ(list.failedLines, c.bad);
    }
}

TEST(ListGateTest, RefusesWhatMustNotReplaceAList) {
    EXPECT_EQ(listRefusal(parseList(linesOf(99, 1))), "");
    EXPECT_EQ(listRefusal(parseList("")), "it holds no ranges");
    EXPECT_EQ(listRefusal(parseList("# only a comment\n")), "it holds no ranges");
    EXPECT_EQ(listRefusal(parseList("2001:db8::/32\n")), "");
    EXPECT_EQ(listRefusal(parseList("<!DOCTYPE html>\n<html>a:1.2.3.4</html>\n")),
              "the download is a web page, not a list");
}

// A copy two writers shared: a run of zeros where lines were, glued into one
// line whose name ends where the next writer's text goes on.
TEST(ListGateTest, ZerosInACopyCountAsLinesNotUnderstood) {
    const std::string hole =
        linesOf(100, 0) + "Some na" + std::string(5000, '\0') + "me:9.9.9.9\n" + linesOf(100, 0);
    ParsedList list = parseList(hole);
    EXPECT_EQ(list.ranges.size(), 200u);
    EXPECT_EQ(list.failedLines, 5000u);
    EXPECT_EQ(list.controlBytes, 5000u);
    EXPECT_EQ(listRefusal(list),
              "5000 of 5200 lines were not understood, counting 5000 bytes no list holds (NUL or "
              "another control character) as lines");

    // A DOS end-of-file mark is one odd line, not a reason to refuse.
    ParsedList dos = parseList(linesOf(10, 0) + "\x1A");
    EXPECT_EQ(dos.failedLines, 1u);
    EXPECT_EQ(listRefusal(dos), "");
}

std::string utf16(std::string_view text, bool bigEndian, bool mark) {
    std::string wide = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (char c : text) {
        wide += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return wide;
}

TEST(ListGateTest, NamesTheEncodingOfAWideTextList) {
    const std::string text = "Bad Net:203.0.113.0-203.0.113.255\r\nOther:198.51.100.7\r\n";
    struct Case {
        std::string bytes;
        const char* encoding;
    } cases[] = {
        {utf16(text, false, true), "UTF-16LE"},
        {utf16(text, true, true), "UTF-16BE"},
        {utf16(text, false, false), "UTF-16LE"},
        {utf16(text, true, false), "UTF-16BE"},
        {"\xFF\xFE" + std::string(2, '\0') + "a", "UTF-32LE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoding);
        EXPECT_EQ(listRefusal(parseList(c.bytes)),
                  "it is text in " + std::string(c.encoding) +
                      "; lists are read in ASCII or UTF-8, so it must be saved in one of those");
    }
    EXPECT_EQ(listRefusal(parseList(text)), "");
}

TEST(ListGateTest, AListPastItsLimitsIsRefusedWhole) {
    const std::string shortNames = linesOf(4, 0);
    const std::string ipv6Lines = "a:2001:db8::1\nb:2001:db8::2\nc:2001:db8::3\nd:2001:db8::4\n";
    const std::string mixed = "a:1.2.3.4\nb:2001:db8::2\nc:1.2.3.5\nd:2001:db8::4\n";
    const std::size_t perRange = sizeof(ListRange);
    struct Case {
        ListLimits limits;
        std::string text;
        const char* refusal;
    } cases[] = {
        {{4, 1 << 20}, shortNames, ""},
        {{3, 1 << 20}, shortNames, "it holds more than 3 ranges, the most one list may hold"},
        // IPv6 ranges count against the same limits.
        {{4, 1 << 20}, ipv6Lines, ""},
        {{3, 1 << 20}, ipv6Lines, "it holds more than 3 ranges, the most one list may hold"},
        {{3, 1 << 20}, mixed, "it holds more than 3 ranges, the most one list may hold"},
        {{100, 4 * sizeof(ListRange6) - 1},
         ipv6Lines,
         "its ranges take more than 255 bytes of memory, the most one list may take"},
        {{100, 4 * perRange}, shortNames, ""},
        {{100, 4 * perRange - 1},
         shortNames,
         "its ranges take more than 159 bytes of memory, the most one list may take"},
        // An entry text too long for the string's own room costs its length too.
        {{100, perRange + 100},
         std::string(100, 'n') + ":1.2.3.4\n",
         "its ranges take more than 140 bytes of memory, the most one list may take"},
    };
    ASSERT_EQ(perRange, 40u) << "the messages above assume 40-byte ranges";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusal);
        ParsedList list = parseList(c.text, c.limits);
        EXPECT_EQ(listRefusal(list), c.refusal);
        if (*c.refusal) {
            EXPECT_TRUE(list.ranges.empty());
            EXPECT_TRUE(list.ranges6.empty());
        }
    }
    EXPECT_EQ(ListLimits{}.maxRanges, 4'194'304u);
    EXPECT_EQ(ListLimits{}.maxMemoryBytes, 256u << 20);
}

TEST(GzipDataTest, DecompressesAndRefusesDamage) {
    const std::string plain = linesOf(1000, 0);
    const std::string packed = test::gzipBytes(plain);
    ASSERT_TRUE(isGzip(packed));

    Gunzipped whole = listText(packed, 1 << 20);
    ASSERT_TRUE(whole.ok) << whole.error;
    EXPECT_EQ(whole.bytes, plain);

    Gunzipped twoMembers = gunzip(packed + packed, 1 << 20);
    ASSERT_TRUE(twoMembers.ok) << twoMembers.error;
    EXPECT_EQ(twoMembers.bytes, plain + plain);

    Gunzipped cut = listText(packed.substr(0, packed.size() / 2), 1 << 20);
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.error, "the compressed list breaks off before its end");

    EXPECT_FALSE(gunzip(packed, plain.size() - 1).ok);
    EXPECT_EQ(listText("a:1.2.3.4\n", 10).bytes, "a:1.2.3.4\n");
}

}  // namespace
}  // namespace bw
