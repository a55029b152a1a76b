#include "blocklist/number_text.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(LeadingNumber, ReadsTheLeadingDecimalNumber) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {
        {"90%", 90}, {" 1 ", 1},  {"\t50", 50},  {"12.5", 12.5}, {"-20", -20},
        {"+7x", 7},  {".5", 0.5}, {"-.5", -0.5}, {"1.2.3", 1.2}, {"", 0},
        {"abc", 0},  {"-", 0},    {".", 0},      {"010", 10},    {"4060\r", 4060},
    };
    for (const Case& c : cases) EXPECT_EQ(leadingNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(FormatPlainNumber, WritesPlainDecimals) {
    EXPECT_EQ(formatPlainNumber(257), "257");
    EXPECT_EQ(formatPlainNumber(12.5), "12.5");
    EXPECT_EQ(formatPlainNumber(-3), "-3");
    EXPECT_EQ(formatPlainNumber(0), "0");
    EXPECT_EQ(formatPlainNumber(1099511627776.0), "1099511627776");
}

}  // namespace
}  // namespace bw
