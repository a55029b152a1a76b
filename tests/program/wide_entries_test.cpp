#include "program/wide_entries.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

// A link's entries count together, public unicast addresses only, each once.
TEST(WideEntries, ALinkThatWouldBanMoreThanASlashEightIsRefusedWithTheFigure) {
    struct Case {
        std::vector<std::string> lines;
        const char* refusal;  // its figure, or "" when the link may be added
    } cases[] = {
        {{"Half:0.1.0.1-126.255.255.255", "Other:128.0.0.0-255.255.255.255"},
         "would ban 3702258688 public IPv4 addresses (100.0 % of the public IPv4 space), more "
         "than a /8 (16777216 addresses)"},
        {{"a:1.0.0.0-1.255.255.255"}, ""},                                         // a /8 exactly
        {{"a:1.0.0.0-2.0.0.0"}, "would ban 16777217 "},                            // one more
        {{"a:1.0.0.0-1.200.0.0", "b:1.100.0.0-2.50.0.0"}, "would ban 20054017 "},  // together
        {{"a:1.0.0.0-1.200.0.0", "b:1.0.0.0-1.200.0.0"}, ""},  // the same range twice
        {{"a:9.255.255.255-11.0.0.0"}, ""},                    // around 10/8
        {{"m:224.0.0.0-255.255.255.255", "p:172.16.0.0-172.31.255.255"}, ""},
        {{"l:126.0.0.0-128.0.0.0"}, ""},  // refused by the add itself (loopback)
        {{"n:0.0.0.0-200.0.0.0"}, ""},    // not an entry: starts below 0.1.0.0
        {{"x:1.1.1.1-2.2.2.2"}, "would ban 16843010 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.front());
        const std::string refusal = wideLinkRefusal(c.lines);
        if (std::string(c.refusal).empty()) {
            EXPECT_EQ(refusal, "");
        } else {
            EXPECT_EQ(refusal.rfind("Refused: this link ", 0), 0u) << refusal;
            EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
            EXPECT_NE(refusal.find("nothing was added"), std::string::npos) << refusal;
        }
    }
}

// IPv6 counts /64 networks of 2000::/3: more than a /32's worth is refused.
TEST(WideEntries, ALinkThatWouldBanMoreThanASlash32OfIpv6IsRefused) {
    struct Case {
        std::vector<std::string> lines;
        const char* refusal;
    } cases[] = {
        {{"All:2000::-3fff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
         "would ban 2305843009213693952 /64 networks of public IPv6 space, more than a /32 "
         "(4294967296 /64 networks)"},
        {{"a:2001:db8::-2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"}, ""},  // a /32 exactly
        {{"a:2001:db8::-2001:db9::"}, "would ban 4294967297 /64"},      // one /64 more
        {{"a:2001:db8::-2001:db8:ffff::", "b:2001:db8:8000::-2001:db9:1::"},
         "would ban 4295032833 /64"},
        {{"a:2001:db8::-2001:db8:ffff:ffff:ffff:ffff:ffff:ffff",
          "b:2001:db8::-2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"},
         ""},                                                        // the same range twice
        {{"u:fc00::-fdff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}, ""},  // not public
        {{"l:::-ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}, ""},      // refused by the add (::1)
        {{"x:2001:db8::ff-2001:db8::1"}, ""},                        // not an entry
        {{"v4:1.0.0.0-1.255.255.255", "v6:2001:db8::1"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.front());
        const std::string refusal = wideLinkRefusal(c.lines);
        if (std::string(c.refusal).empty()) {
            EXPECT_EQ(refusal, "");
        } else {
            EXPECT_EQ(refusal.rfind("Refused: this link ", 0), 0u) << refusal;
            EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
        }
    }
    const std::string question = wideAddQuestion("Everyone", "2000::", "3fff::");
    EXPECT_NE(question.find("/64 networks of public IPv6 space"), std::string::npos) << question;
    EXPECT_EQ(wideAddQuestion("Doc", "2001:db8::", "2001:db8:ffff::"), "");
}

TEST(WideEntries, TheAddDialogAsksOnlyAboutARangeWiderThanASlashEight) {
    EXPECT_EQ(wideAddQuestion("n", "1.0.0.0", "1.255.255.255"), "");
    EXPECT_EQ(wideAddQuestion("n", "9.9.9.9", ""), "");
    EXPECT_EQ(wideAddQuestion("n", "2.2.2.2", "1.1.1.1"), "");  // not an entry: nothing to ask
    const std::string question = wideAddQuestion("Evil Corporation", "1.1.1.1", "2.2.2.2");
    EXPECT_NE(question.find("16843010 public IPv4 addresses"), std::string::npos) << question;
    EXPECT_NE(question.find("Add it all the same?"), std::string::npos) << question;
}

}  // namespace
}  // namespace bw
