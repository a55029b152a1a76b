#include "blocklist/address_codec.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(IP2LONG, ConvertsDottedText) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"0.0.0.0", 0},
        {"255.255.255.255", 4294967295.0},
        {"127.0.0.1", 2130706433},
        {"128.0.0.0", 2147483648.0},  // no signed wrap
        {"1.2.3.4", 16909060},
        {" 1.2.3.4 ", 16909060},
        {"1 . 2 .\t3. 4", 16909060},
        {"1.2.3.300", 16909356},  // no octet range check
        {"-1.0.0.0", -16777216},
        {"+1.0.0.0", 16777216},
        {"1.2.3.4.5", 16909060},  // parts after the fourth are ignored
        {"1.2.3.4.", 16909060},
        {"1.2.3.4.x", 16909060},
        {"256.0.0.0", 4294967296.0},
        {"001.002.003.004", 16909060},
        {"1e1.0.0.0", 167772160},
        {"4294967296.0.0.0", 4294967296.0 * 16777216.0},
    };
    for (const Case& c : cases) {
        std::optional<double> value = IP2LONG(c.text);
        ASSERT_TRUE(value.has_value()) << '"' << c.text << '"';
        EXPECT_EQ(*value, c.value) << '"' << c.text << '"';
    }
}

TEST(IP2LONG, FailsOnMissingOrNonNumericParts) {
    for (const char* text :
         {"1.2.3", "1..3.4", "a.b.c.d", "", "...", "1.2.3.", "1.2.3.4x", "1.2.3.-", "1.2.3.0x1",
          "1.2.3.inf", "1.2.3.nan", "1.2.3.1 2", "1.2.3.+-1", "1.2.3.1e999"}) {
        EXPECT_FALSE(IP2LONG(text).has_value()) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace bw
