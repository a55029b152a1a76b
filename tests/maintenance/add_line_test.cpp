#include "maintenance/add_line.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(ComposeAddLine, JoinsTheFieldsAsTyped) {
    struct Case {
        const char* profile;
        const char* start;
        const char* end;
        const char* line;
    } cases[] = {
        {"Evil Corporation", "1.1.1.1", "2.2.2.2", "Evil Corporation:1.1.1.1-2.2.2.2"},
        {"Evil Corporation", "1.1.1.1", "", "Evil Corporation:1.1.1.1"},     // no dash
        {"Evil Corporation", "1.1.1.1", " ", "Evil Corporation:1.1.1.1- "},  // a blank counts
        {"", "1.1.1.1", "2.2.2.2", ":1.1.1.1-2.2.2.2"},
        {" a ", " 1.1.1.1 ", " 2.2.2.2 ", " a : 1.1.1.1 - 2.2.2.2 "},  // nothing trimmed
        {"", "", "", ":"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(composeAddLine(c.profile, c.start, c.end), c.line)
            << '"' << c.profile << "\" \"" << c.start << "\" \"" << c.end << '"';
    }
}

}  // namespace
}  // namespace bw
