#include "platform/span_set.h"

#include <gtest/gtest.h>

#include <vector>

namespace bw {
namespace {

constexpr Ipv6Number kTop = Ipv6Number::max();
constexpr Ipv6Number v6(std::uint64_t high, std::uint64_t low) {
    return {high, low};
}

struct MergeCase4 {
    std::vector<Span4> given;
    std::vector<Span4> merged;
};

TEST(SpanSetTest, MergesOverlappingAndAdjacentIpv4Spans) {
    const std::vector<MergeCase4> cases = {
        {{}, {}},
        {{{5, 9}, {1, 3}}, {{1, 3}, {5, 9}}},
        {{{1, 4}, {5, 9}}, {{1, 9}}},
        {{{1, 6}, {3, 4}}, {{1, 6}}},
        {{{0, 0xFFFFFFFEu}, {0xFFFFFFFFu, 0xFFFFFFFFu}}, {{0, 0xFFFFFFFFu}}},
        {{{0xFFFFFFFFu, 0xFFFFFFFFu}, {0, 0xFFFFFFFFu}}, {{0, 0xFFFFFFFFu}}},
    };
    for (const MergeCase4& c : cases) EXPECT_EQ(mergeSpans(c.given), c.merged);
}

TEST(SpanSetTest, MergesIpv6SpansAcrossTheHalves) {
    const std::vector<Span6> given = {
        {v6(1, 0), v6(1, 5)},
        {v6(0, UINT64_MAX - 1), v6(0, UINT64_MAX)},  // ends right before v6(1, 0)
        {v6(2, 0), kTop},
        {kTop, kTop},
    };
    const std::vector<Span6> merged = {{v6(0, UINT64_MAX - 1), v6(1, 5)}, {v6(2, 0), kTop}};
    EXPECT_EQ(mergeSpans(given), merged);
}

struct SubtractCase4 {
    std::vector<Span4> spans;
    std::vector<Span4> cut;
    std::vector<Span4> left;
};

TEST(SpanSetTest, SubtractsASortedCut) {
    const std::vector<SubtractCase4> cases = {
        {{{1, 10}}, {}, {{1, 10}}},
        {{{1, 10}}, {{1, 10}}, {}},
        {{{1, 10}}, {{0, 1}}, {{2, 10}}},
        {{{1, 10}}, {{10, 12}}, {{1, 9}}},
        {{{1, 10}}, {{3, 4}, {6, 6}}, {{1, 2}, {5, 5}, {7, 10}}},
        {{{1, 3}, {8, 10}}, {{3, 8}}, {{1, 2}, {9, 10}}},
        {{{0, 0xFFFFFFFFu}}, {kLoopback4}, {{0, 0x7EFFFFFFu}, {0x80000000u, 0xFFFFFFFFu}}},
        {{{0, 0xFFFFFFFFu}}, {{0, 0}, {0xFFFFFFFFu, 0xFFFFFFFFu}}, {{1, 0xFFFFFFFEu}}},
    };
    for (const SubtractCase4& c : cases) EXPECT_EQ(subtractSpans(c.spans, c.cut), c.left);
}

TEST(SpanSetTest, SubtractsIpv6AcrossTheHalvesAndAtTheEnds) {
    const std::vector<Span6> all = {{v6(0, 0), kTop}};
    const std::vector<Span6> cut = {
        {v6(0, 0), v6(0, 1)}, {v6(0, UINT64_MAX), v6(1, 0)}, {kTop, kTop}};
    const std::vector<Span6> left = {{v6(0, 2), v6(0, UINT64_MAX - 1)},
                                     {v6(1, 1), v6(UINT64_MAX, UINT64_MAX - 1)}};
    EXPECT_EQ(subtractSpans(all, cut), left);
}

TEST(SpanSetTest, SubtractKeepsWhatASpanCarries) {
    struct Named {
        std::uint32_t first = 0;
        std::uint32_t last = 0;
        int name = 0;
        bool operator==(const Named&) const = default;
    };
    const std::vector<Named> spans = {{1, 10, 7}};
    const std::vector<Named> left = {{1, 4, 7}, {6, 10, 7}};
    EXPECT_EQ(subtractSpans(spans, std::vector<Span4>{{5, 5}}), left);
}

TEST(SpanSetTest, FindsTheSpanHoldingAnAddress) {
    const std::vector<Span4> spans4 = {{2, 4}, {10, 10}, {0xFFFFFFF0u, 0xFFFFFFFFu}};
    const std::vector<std::pair<std::uint32_t, const Span4*>> cases4 = {
        {0, nullptr},
        {1, nullptr},
        {2, &spans4[0]},
        {4, &spans4[0]},
        {5, nullptr},
        {9, nullptr},
        {10, &spans4[1]},
        {11, nullptr},
        {0xFFFFFFEFu, nullptr},
        {0xFFFFFFF0u, &spans4[2]},
        {0xFFFFFFFFu, &spans4[2]},
    };
    for (const auto& [address, span] : cases4)
        EXPECT_EQ(spanHolding(spans4, address), span) << address;

    const std::vector<Span6> spans6 = {{v6(0, UINT64_MAX), v6(1, 0)}, {kTop, kTop}};
    const std::vector<std::pair<Ipv6Number, const Span6*>> cases6 = {
        {v6(0, 0), nullptr},
        {v6(0, UINT64_MAX - 1), nullptr},
        {v6(0, UINT64_MAX), &spans6[0]},
        {v6(1, 0), &spans6[0]},
        {v6(1, 1), nullptr},
        {kTop.previous(), nullptr},
        {kTop, &spans6[1]},
    };
    for (const auto& [address, span] : cases6) EXPECT_EQ(spanHolding(spans6, address), span);
}

}  // namespace
}  // namespace bw
