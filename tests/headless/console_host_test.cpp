#include "headless/console_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace bw {
namespace {

// What the console guard prints after a recorded refusal.
std::string printedAfter(bool details, bool reported) {
    char* bytes = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&bytes, &size);
    {
        ConsoleHost host(out, stderr);
        host.showRefusalDetails(details);
        RefusalRecord refusal;
        refusal.pid = 4242;
        refusal.command = "refusme";
        refusal.port = 8080;
        refusal.protocol = 6;
        host.refusalRecorded(refusal, reported);
    }
    std::fclose(out);
    std::string printed(bytes, size);
    std::free(bytes);
    return printed;
}

// Off by default; on, only after lines just printed, as a line of its own.
TEST(ConsoleHost, DetailsFollowAReportedRejectionOnlyWhenAskedFor) {
    struct Case {
        bool details;
        bool reported;
        const char* printed;
    } cases[] = {
        {false, true, ""},
        {false, false, ""},
        {true, false, ""},
        {true, true, "    Details: program \"refusme\" (pid 4242), port 8080, TCP, outgoing\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.details << c.reported);
        EXPECT_EQ(printedAfter(c.details, c.reported), c.printed);
    }
}

}  // namespace
}  // namespace bw
