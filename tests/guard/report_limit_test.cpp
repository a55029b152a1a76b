#include "guard/report_limit.h"

#include <gtest/gtest.h>

#include <optional>

namespace bw {
namespace {

IpAddress address(const char* text) {
    std::optional<IpAddress> parsed = parseIpAddress(text);
    EXPECT_TRUE(parsed) << text;
    return parsed.value_or(IpAddress());
}

// Each step reports one address in one second of 12-05-2026 21:41; quiet
// steps were already reported in that second.
TEST(ReportLimit, EachAddressOfEitherFamilyOnceASecond) {
    struct Step {
        const char* address;
        int second;
        bool quiet;
    };
    const Step steps[] = {
        {"2001:db8::5", 15, false},
        {"2001:db8::5", 15, true},
        {"2001:db8::6", 15, false},
        // The same low 32 bits in the other family is another address.
        {"::a00:5", 15, false},
        {"10.0.0.5", 15, false},
        {"::ffff:10.0.0.5", 15, true},  // the IPv4 address itself
        {"2001:db8::5", 16, false},
        {"2001:db8::5", 16, true},
        {"2001:db8:0:1::5", 16, false},  // differs only in the high 64 bits
    };
    ReportLimit limit;
    for (const Step& s : steps) {
        const LocalTime t{2026, 12, 5, 21, 41, s.second};
        EXPECT_EQ(limit.quiet(address(s.address), ReportLimit::secondOf(t)), s.quiet)
            << s.address << " at second " << s.second;
    }
}

}  // namespace
}  // namespace bw
