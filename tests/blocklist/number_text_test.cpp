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

TEST(NumberFromText, TakesTheWholeTextAsANumberOrNothing) {
    struct Case {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"10", 10},
        {" 10\t", 10},
        {"+5", 5},
        {"-5", -5},
        {"007", 7},
        {"1.5", 1.5},
        {"1e2", 100},
        {"999999999999999", 999999999999999.0},
        {"12345678901234567890", 12345678901234567890.0},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"-", std::nullopt},
        {"+-1", std::nullopt},
        {"- 1", std::nullopt},
        {"1 2", std::nullopt},
        {"10abc", std::nullopt},
        {".5", std::nullopt},
        {"0x10", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1e999", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(numberFromText(c.text), c.value) << '"' << c.text << '"';
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
