#include "maintenance/link_intake.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(LinkPayload, TakesThePayloadAfterThePrefixInAnyCase) {
    struct Case {
        const char* argument;
        const char* payload;
    } cases[] = {
        {"bwdat://Evil Corporation@1.1.1.1:2.2.2.2", "Evil Corporation@1.1.1.1:2.2.2.2"},
        {"BWDAT://Evil Corporation@1.1.1.1:2.2.2.2", "Evil Corporation@1.1.1.1:2.2.2.2"},
        {"BwDaT://MiXeD@1.2.3.4", "MiXeD@1.2.3.4"},
        {"bwdat://a@1.1.1.1:1.1.1.9/b@2.2.2.2/", "a@1.1.1.1:1.1.1.9/b@2.2.2.2/"},
        {"bwdat://", ""},  // the prefix alone: nothing to add
        {"bwdat:/", ""},   // one short of the prefix
        {"", ""},
        {"-minimized", ""},  // any other argument is ignored
        {" bwdat://x@1.2.3.4", ""},
        {"http://x@1.2.3.4", ""},
        {"bwdat:/x@1.2.3.4", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(linkPayload(c.argument), c.payload) << '"' << c.argument << '"';
    }
}

TEST(LinkLines, GivesEachNonEmptySegmentAsALineAndTellsALinkByItsPrefix) {
    struct Case {
        const char* payload;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"/", {}},
        {"a@1.1.1.1:1.1.1.9//b@2.2.2.2/", {"a:1.1.1.1-1.1.1.9", "b:2.2.2.2"}},
        {"x@1.2.3.4%0A", {"x:1.2.3.4\n"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(linkLines(c.payload), c.lines) << '"' << c.payload << '"';
    }
    EXPECT_TRUE(isLink("bwdat://"));
    EXPECT_TRUE(isLink("BwDaT://x"));
    EXPECT_FALSE(isLink("bwdat:/"));
    EXPECT_FALSE(isLink("-minimized"));
}

TEST(LinkSegmentToLine, TurnsASegmentIntoABlocklistLine) {
    struct Case {
        const char* segment;
        const char* line;
    } cases[] = {
        {"Evil Corporation@1.1.1.1:2.2.2.2", "Evil Corporation:1.1.1.1-2.2.2.2"},
        {"b@2.2.2.2", "b:2.2.2.2"},
        {"x@1.2.3.4:1.2.3.9", "x:1.2.3.4-1.2.3.9"},
        {"Net-Co@1.2.3.4", "Net-Co:1.2.3.4"},  // a dash in a name survives
        {"a%20b@1.2.3.4", "a b:1.2.3.4"},      // escapes are decoded first
        {"%41%62@1.2.3.4", "Ab:1.2.3.4"},
        {"a%3Ab@1.2.3.4", "a-b:1.2.3.4"},   // an escaped colon reads like a colon
        {"a%0Db@1.2.3.4", "a\rb:1.2.3.4"},  // kept, and so refused by the add
        {"100%@1.2.3.4", "100%:1.2.3.4"},   // not an escape: left as it is
        {"a%zz%4@1.2.3.4", "a%zz%4:1.2.3.4"},
        {"a:b@1.2.3.4", "a-b:1.2.3.4"},  // colons turn into dashes first
        {"no separator", "no separator"},
        {"", ""},
        // IPv6 bounds come in brackets, whose colons stay.
        {"Name@[2001:db8::1]:[2001:db8::ff]", "Name:[2001:db8::1]-[2001:db8::ff]"},
        {"One@[2001:db8::7]", "One:[2001:db8::7]"},
        {"Esc@%5B2001%3Adb8%3A%3A1%5D", "Esc:[2001:db8::1]"},
        {"a:b@[::2]:[::3]", "a-b:[::2]-[::3]"},
        // A bracket left open keeps its colons to the end: no entry reads from it.
        {"Open@[2001:db8::1:[2001:db8::ff]", "Open:[2001:db8::1:[2001:db8::ff]"},
        {"Bare@2001:db8::1", "Bare:2001-db8--1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(linkSegmentToLine(c.segment), c.line) << '"' << c.segment << '"';
    }
}

}  // namespace
}  // namespace bw
