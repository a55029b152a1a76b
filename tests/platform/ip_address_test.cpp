#include "platform/ip_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace bw {
namespace {

// Text in, the address's family and its text out: what every list, link and
// log line goes through.
TEST(IpAddress, ReadsAndWritesBothFamilies) {
    struct Case {
        const char* text;
        std::optional<AddressFamily> family;  // nothing: refused
        const char* written;
    };
    const Case cases[] = {
        {"1.2.3.4", AddressFamily::V4, "1.2.3.4"},
        {"0.0.0.0", AddressFamily::V4, "0.0.0.0"},
        {"255.255.255.255", AddressFamily::V4, "255.255.255.255"},
        {"::ffff:203.0.113.9", AddressFamily::V4, "203.0.113.9"},
        {"::FFFF:cb00:7109", AddressFamily::V4, "203.0.113.9"},
        {"[::ffff:1.2.3.4]", AddressFamily::V4, "1.2.3.4"},
        {"2001:DB8::1", AddressFamily::V6, "2001:db8::1"},
        {"2001:0db8:0000:0000:0000:0000:0000:0001", AddressFamily::V6, "2001:db8::1"},
        {"[2001:db8::ff]", AddressFamily::V6, "2001:db8::ff"},
        {"::1", AddressFamily::V6, "::1"},
        {"::", AddressFamily::V6, "::"},
        {"2001:db8:0:1:1:1:1:1", AddressFamily::V6,
         "2001:db8:0:1:1:1:1:1"},                                    // one zero group stays
        {"2001:0:0:1:0:0:0:1", AddressFamily::V6, "2001:0:0:1::1"},  // the longer run shortens
        {"2001:db8:0:0:1:0:0:1", AddressFamily::V6, "2001:db8::1:0:0:1"},  // the first of equals
        {"fe80::1:2", AddressFamily::V6, "fe80::1:2"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", AddressFamily::V6,
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
        {"", std::nullopt, ""},
        {"1.2.3", std::nullopt, ""},
        {"1.2.3.256", std::nullopt, ""},
        {" 1.2.3.4", std::nullopt, ""},
        {"1.2.3.4 ", std::nullopt, ""},
        {"2001:db8::1/32", std::nullopt, ""},
        {"fe80::1%lo", std::nullopt, ""},
        {"2001:db8:::1", std::nullopt, ""},
        {"1:2:3:4:5:6:7:8:9", std::nullopt, ""},
        {"[2001:db8::1", std::nullopt, ""},
        {"g::1", std::nullopt, ""},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17.18.19.20.21.22.23", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        const std::optional<IpAddress> parsed = parseIpAddress(c.text);
        ASSERT_EQ(parsed.has_value(), c.family.has_value()) << c.text;
        if (!parsed)
            continue;
        EXPECT_EQ(parsed->family(), *c.family) << c.text;
        EXPECT_EQ(ipAddressText(*parsed), c.written) << c.text;
        EXPECT_EQ(parseIpAddress(ipAddressText(*parsed)), parsed) << c.text;
    }
}

TEST(IpAddress, MappedAddressesAreTheirIpv4AddressAndSortBeforeIpv6) {
    const IpAddress mapped = IpAddress::fromV6({0, 0xFFFF'CB00'7109ull});
    EXPECT_EQ(mapped, IpAddress::fromV4(0xCB007109u));
    EXPECT_TRUE(mapped.isV4());
    EXPECT_EQ(IpAddress::fromV6Bytes(mapped.v6Bytes()), mapped);
    EXPECT_LT(IpAddress::fromV4(0xFFFFFFFFu), *parseIpAddress("::"));
    EXPECT_LT(*parseIpAddress("2001:db8::1"), *parseIpAddress("2001:db8::2"));
    EXPECT_LT(*parseIpAddress("2001:db8:0:0:ffff:ffff:ffff:ffff"),
              *parseIpAddress("2001:db8:0:1::"));
}

// What the C library's inet_pton makes of a text, brackets taken off as the
// parser does: the rules lists and links have always been read by. It cannot
// see past a NUL, and a text with one is no address.
std::optional<IpAddress> libraryReading(std::string_view text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    const std::string zeroEnded(text);
    if (text.find(':') == std::string_view::npos) {
        in_addr v4{};
        if (inet_pton(AF_INET, zeroEnded.c_str(), &v4) != 1)
            return std::nullopt;
        return IpAddress::fromV4(ntohl(v4.s_addr));
    }
    std::array<std::uint8_t, 16> bytes{};
    if (inet_pton(AF_INET6, zeroEnded.c_str(), bytes.data()) != 1)
        return std::nullopt;
    return IpAddress::fromV6Bytes(bytes);
}

void expectReadAsTheLibraryDoes(std::string_view text) {
    const std::optional<IpAddress> expected = libraryReading(text);
    const std::optional<IpAddress> parsed = parseIpAddress(text);
    ASSERT_EQ(parsed.has_value(), expected.has_value())
        << '"' << std::string(text) << "\" " << (expected ? "refused" : "accepted");
    if (parsed) {
        ASSERT_EQ(*parsed, *expected) << std::string(text);
    }
}

TEST(IpAddress, AcceptsExactlyWhatTheCLibraryAccepts) {
    using namespace std::string_view_literals;
    const std::string_view cases[] = {
        ":::",
        "::",
        ":",
        "",
        "1::2::3",
        "::1::",
        "1:::2",
        "::ffff:1.2.3.04",
        "::ffff:1.2.3.4",
        "::ffff:0.0.0.0",
        "::ffff:00.0.0.0",
        "::1.2.3.4",
        "::0.0.0.0",
        "::1.2.3",
        "::1.2.3.4.5",
        "::1.2.3.",
        "::.1.2.3",
        "::1..2.3",
        "::256.1.1.1",
        "::255.255.255.255",
        "::1234.1.1.1",
        "::12345.1.1.1",
        "::a.1.1.1",
        "::1.2.3.4:5",
        "::1.2.3.4.",
        "1:2:3:4:5:6:1.2.3.4",
        "1:2:3:4:5:6:7:1.2.3.4",
        "1:2:3:4:5::1.2.3.4",
        "::1:2:3:4:5:6:1.2.3.4",
        "1:2:3:4:5:6::1.2.3.4",
        "1:2:3:4:5:6:7:8:9",
        "1:2:3:4:5:6:7:8",
        "1:2:3:4:5:6:7",
        "1:2:3:4:5:6:7::",
        "::1:2:3:4:5:6:7",
        "1:2:3:4:5:6:7:8::",
        "::1:2:3:4:5:6:7:8",
        "1:2:3::4:5:6:7:8",
        "1:2:3::4:5:6:7",
        "12345::",
        "::12345",
        "01234::",
        "0000::",
        "00000::",
        "1:",
        "1::",
        ":1",
        "::1:",
        "1:2:3:4:5:6:7:8:",
        ":1:2:3:4:5:6:7:8",
        "ABCD:EF01::",
        "AbCd::eF",
        "FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF",
        "::FFFF:1.2.3.4",
        "g::",
        "::g",
        "1::-1",
        "1:: 2",
        " ::1",
        "::1 ",
        ":: 1",
        "1 ::",
        "\t::1",
        "::1\n",
        "[::1]",
        "[[::1]]",
        "[::1",
        "::1]",
        "[]",
        "[:]",
        "[1.2.3.4]",
        "fe80::1%eth0",
        "::/0",
        "2001:db8::1/64",
        "0x1::",
        "::0x1",
        "1.2.3.4",
        "1.2.3.04",
        "01.2.3.4",
        "0.0.0.0",
        "255.255.255.255",
        "256.1.1.1",
        "1.2.3",
        "1.2.3.4.5",
        "1.2.3.",
        ".1.2.3",
        "1..2.3",
        "1.2.3.4 ",
        "+1.2.3.4",
        "-1.2.3.4",
        "1.2.3.-4",
        "1e1.2.3.4",
        "0x1.2.3.4",
        "0000:0000:0000:0000:0000:0000:255.255.255.255",
        "0000:0000:0000:0000:0000:0000:255.255.255.2555",
        "0000:0000:0000:0000:0000:0000:0000:0000:0000",
        "000000000000000000000000000000000000000000000001::",
        "::1\0"sv,
        "::1\0junk"sv,
        "\0::1"sv,
        "1.2.3.4\0"sv,
        "1.2.3.4\0.5"sv,
        "::ffff:1.2.3.4\0"sv,
        "[::1\0]"sv,
        "\xff::1",
        "::\xc3\xa9",
        "\xef\xbc\x91::",
    };
    for (std::string_view text : cases) expectReadAsTheLibraryDoes(text);
}

// Texts near valid ones, deterministically: seeds changed a few bytes at a
// time, and texts strung together from the pieces addresses are made of.
TEST(IpAddress, AcceptsWhatTheCLibraryAcceptsInNearMisses) {
    const std::string seeds[] = {
        "2001:db8::1",
        "::",
        "::1",
        "1::",
        "1:2:3:4:5:6:7:8",
        "::ffff:1.2.3.4",
        "1:2:3:4:5:6:1.2.3.4",
        "fe80::abcd:ef01",
        "ABCD:0:0:0:0:0:0:FFFF",
        "0:0::0:0",
        "1.2.3.4",
        "255.255.255.255",
        "[2001:db8::ff]",
        "::255.0.10.1",
    };
    const std::string bytes(":.0123456789afAFgx[] \t%/-\0", 26);
    const std::string pieces[] = {":",    "::",    ".",       "0",       "00",  "1",
                                  "01",   "9",     "25",      "255",     "256", "ab",
                                  "FFFF", "12345", "1.2.3.4", "0.0.0.0", "[",   "]"};
    std::mt19937 random(20240611);
    const auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    bool sawAccepted = false;
    bool sawRefused = false;
    for (int round = 0; round < 200000; ++round) {
        std::string text;
        if (round % 2 == 0) {
            text = seeds[below(std::size(seeds))];
            for (std::size_t edits = 1 + below(3); edits > 0; --edits) {
                const std::size_t at = below(text.size() + 1);
                const char byte = bytes[below(bytes.size())];
                switch (below(4)) {
                    case 0:
                        text.insert(at, 1, byte);
                        break;
                    case 1:
                        if (at < text.size())
                            text[at] = byte;
                        break;
                    case 2:
                        if (at < text.size())
                            text.erase(at, 1);
                        break;
                    default:
                        text.insert(at, text.substr(below(text.size() + 1), below(6)));
                        break;
                }
            }
        } else {
            for (std::size_t n = 1 + below(12); n > 0; --n)
                text += pieces[below(std::size(pieces))];
        }
        expectReadAsTheLibraryDoes(text);
        if (::testing::Test::HasFatalFailure())
            return;
        (libraryReading(text) ? sawAccepted : sawRefused) = true;
    }
    // Both answers came up, so the texts were near the line between them.
    EXPECT_TRUE(sawAccepted);
    EXPECT_TRUE(sawRefused);
}

TEST(Ipv6Number, StepsAcrossTheHalves) {
    EXPECT_EQ((Ipv6Number{0, UINT64_MAX}.next()), (Ipv6Number{1, 0}));
    EXPECT_EQ((Ipv6Number{1, 0}.previous()), (Ipv6Number{0, UINT64_MAX}));
    EXPECT_LT((Ipv6Number{0, UINT64_MAX}), (Ipv6Number{1, 0}));
}

}  // namespace
}  // namespace bw
