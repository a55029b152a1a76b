#include "maintenance/list_format.h"

#include <gtest/gtest.h>

#include <string>

#include "maintenance/gzip_data.h"
#include "support/gzip_bytes.h"

namespace bw {
namespace {

constexpr std::uint32_t ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

using Kind = LineReading::Kind;

struct LineCase {
    ListFormat format;
    const char* line;
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
        LineCase{ListFormat::P2p, "v6:[2001:db8::1]-[2001:db8::ff]", Kind::Ipv6},
        LineCase{ListFormat::P2p, "v6:2001:db8::1-2001:db8::ff", Kind::Ipv6},
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
        LineCase{ListFormat::Dat, "2001:db8::1 - 2001:db8::2 , 0 , v6", Kind::Ipv6},
        // CIDR and single addresses
        LineCase{ListFormat::Cidr, "10.0.0.0/8", Kind::Range, ip(10, 0, 0, 0),
                 ip(10, 255, 255, 255), "10.0.0.0/8"},
        LineCase{ListFormat::Cidr, "192.0.2.77/24 ; SBL1", Kind::Range, ip(192, 0, 2, 0),
                 ip(192, 0, 2, 255), "192.0.2.77/24"},
        LineCase{ListFormat::Cidr, "203.0.113.9/32", Kind::Range, ip(203, 0, 113, 9),
                 ip(203, 0, 113, 9), "203.0.113.9/32"},
        LineCase{ListFormat::Cidr, "0.0.0.0/0", Kind::Range, 0, 0xFFFFFFFFu, "0.0.0.0/0"},
        LineCase{ListFormat::Cidr, "198.51.100.1\t# feed", Kind::Range, ip(198, 51, 100, 1),
                 ip(198, 51, 100, 1), "198.51.100.1"},
        LineCase{ListFormat::Cidr, "2001:db8::/32", Kind::Ipv6},
        LineCase{ListFormat::Cidr, "10.0.0.0/33", Kind::Failed},
        LineCase{ListFormat::Cidr, "10.0.0.0/", Kind::Failed},
        LineCase{ListFormat::Cidr, "example.com", Kind::Failed}));

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
    EXPECT_EQ(list.ipv6Lines, 1u);
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

TEST(ListGateTest, RefusesWhatMustNotReplaceAList) {
    EXPECT_EQ(listRefusal(parseList(linesOf(99, 1))), "");
    EXPECT_EQ(listRefusal(parseList(linesOf(98, 2))), "2 of 100 lines were not understood");
    EXPECT_EQ(listRefusal(parseList("")), "it holds no ranges");
    EXPECT_EQ(listRefusal(parseList("# only a comment\n")), "it holds no ranges");
    EXPECT_EQ(listRefusal(parseList("2001:db8::/32\n")),
              "it holds no IPv4 ranges (1 IPv6 lines skipped)");
    EXPECT_EQ(listRefusal(parseList("<!DOCTYPE html>\n<html>a:1.2.3.4</html>\n")),
              "the download is a web page, not a list");
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
