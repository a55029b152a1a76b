#include "program/add_refusal.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(AddRefusalText, NamesTheFieldAtFaultOrWhyNot) {
    struct Case {
        const char* start;
        const char* end;
        AddOutcome outcome;
        const char* said;  // a piece of the text
    } cases[] = {
        {"1.1.1.1", "2.2.2.2", AddOutcome::Added, ""},
        {"1.1.1.1", "2.2.2.2", AddOutcome::Duplicate, "already listed"},
        {"126.0.0.0", "128.0.0.0", AddOutcome::Localhost, "localhost"},
        {"1.2.3.x", "2.2.2.2", AddOutcome::NotAnEntry,
         "Start of IP Range \"1.2.3.x\" is not an address (four numbers from 0 to 255 joined by "
         "dots, such as 1.2.3.4)."},
        {"1.1.1.1", "2.2.x.2", AddOutcome::NotAnEntry, "End of IP Range \"2.2.x.2\" is not"},
        {"2.2.2.2", "1.1.1.1", AddOutcome::NotAnEntry, "End of IP Range lies below"},
        {"0.0.0.1", "0.0.0.9", AddOutcome::NotAnEntry, "above 0.1.0.0"},
        {"2001:db8::1", "2001:db8::ff", AddOutcome::Added, ""},
        {"2001:db8::1", "", AddOutcome::Duplicate, "already listed"},
        {"::", "::2", AddOutcome::Localhost, "localhost (::1)"},
        {"2001:db8:::1", "", AddOutcome::NotAnEntry, "Start of IP Range \"2001:db8:::1\" is not"},
        {"2001:db8::1", "2001:db8::g", AddOutcome::NotAnEntry, "End of IP Range \"2001:db8::g\""},
        {"1.1.1.1", "2001:db8::1", AddOutcome::NotAnEntry, "both be IPv4 or both be IPv6"},
        {"::ffff:192.0.2.1", "2001:db8::9", AddOutcome::NotAnEntry,
         "\"::ffff:192.0.2.1\" is an IPv4 address written as IPv6: write it as 192.0.2.1."},
        {"2001:db8::1", "::ffff:c000:209", AddOutcome::NotAnEntry,
         "End of IP Range \"::ffff:c000:209\" is an IPv4 address written as IPv6: write it as "
         "192.0.2.9."},
        {"2001:db8::ff", "2001:db8::1", AddOutcome::NotAnEntry, "End of IP Range lies below"},
        {"2001:db8::1", "2001:db8::ff", AddOutcome::NotAnEntry, "do not make an entry"},
    };
    for (const Case& c : cases) {
        std::string text = addRefusalText(c.start, c.end, c.outcome);
        if (std::string(c.said).empty()) {
            EXPECT_EQ(text, "");
        } else {
            EXPECT_NE(text.find(c.said), std::string::npos)
                << c.start << " " << c.end << ": " << text;
        }
    }
}

// A link's message names each line that was not stored in the words the user
// has always seen there.
TEST(LinkLineNotAdded, SaysTheLineAndWhy) {
    struct Case {
        AddOutcome outcome;
        const char* said;
    } cases[] = {
        {AddOutcome::Duplicate, "x:1.2.3.4: already listed\r\n"},
        {AddOutcome::Localhost, "x:1.2.3.4: localhost (127.x.x.x) is not allowed\r\n"},
        {AddOutcome::NotAnEntry, "x:1.2.3.4: not a valid address or range\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(linkLineNotAdded("x:1.2.3.4", c.outcome), c.said);
}

}  // namespace
}  // namespace bw
