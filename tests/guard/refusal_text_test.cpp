#include "guard/refusal_text.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

RefusalRecord named(std::string command, std::uint32_t pid) {
    RefusalRecord r;
    r.command = std::move(command);
    r.pid = pid;
    r.port = 8080;
    r.protocol = 6;
    return r;
}

RefusalRecord unnamed(std::string why) {
    RefusalRecord r;
    r.programUnknown = std::move(why);
    r.port = 51234;
    r.protocol = 6;
    r.direction = RefusedDirection::Incoming;
    return r;
}

TEST(RefusalText, ProtocolNames) {
    struct Case {
        std::uint8_t protocol;
        const char* name;
    } cases[] = {{6, "TCP"},    {17, "UDP"},       {1, "ICMP"},
                 {132, "SCTP"}, {136, "UDP-Lite"}, {47, "protocol 47"}};
    for (const Case& c : cases) EXPECT_EQ(protocolName(c.protocol), c.name);
    EXPECT_EQ(directionText(RefusedDirection::Outgoing), "outgoing");
    EXPECT_EQ(directionText(RefusedDirection::Incoming), "incoming");
}

TEST(RefusalText, TheProgramAndTheDetailsLine) {
    struct Case {
        RefusalRecord refusal;
        const char* program;
        const char* details;
    } cases[] = {
        {named("refusme", 4242), "refusme (pid 4242)",
         "    Details: program \"refusme\" (pid 4242), port 8080, TCP, outgoing"},
        // A name is the program's own choice: it cannot pass for the fields after it.
        {named("a \"b\\c\", port 1", 7), "a \"b\\c\", port 1 (pid 7)",
         "    Details: program \"a \\\"b\\\\c\\\", port 1\" (pid 7), port 8080, TCP, outgoing"},
        {named("tab\there\x7F", 7), "tab\there\x7F (pid 7)",
         "    Details: program \"tab\\x09here\\x7F\" (pid 7), port 8080, TCP, outgoing"},
        {named("", 99), "unknown (pid 99, which ended before its name was read)",
         "    Details: program unknown (pid 99, which ended before its name was read), port "
         "8080, TCP, outgoing"},
        {unnamed("not allowed to see other users' processes"),
         "unknown (not allowed to see other users' processes)",
         "    Details: program unknown (not allowed to see other users' processes), port "
         "51234, TCP, incoming"},
        {unnamed(""), "unknown (not known)",
         "    Details: program unknown (not known), port 51234, TCP, incoming"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        EXPECT_EQ(programText(c.refusal), c.program);
        EXPECT_EQ(refusalDetailsLine(c.refusal), c.details);
    }
}

}  // namespace
}  // namespace bw
