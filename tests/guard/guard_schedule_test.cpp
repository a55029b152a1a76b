#include "guard/guard_schedule.h"

#include <gtest/gtest.h>

#include "blocklist/address_codec.h"
#include "support/fake_clock.h"
#include "support/fake_tcp_table.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace bw {
namespace {

using test::connectionTo;
using test::ipField;

TEST(GuardInterval, Is105LessTheAggressionRoundedHalfToEven) {
    const std::pair<double, int> cases[] = {
        {0, 105},   {90, 15},   {100, 5},   {40, 65},   {50, 55},   {10, 95},
        {12.5, 92}, {13.5, 92}, {12.4, 93}, {12.6, 92}, {0.5, 104}, {99.5, 6},
    };
    for (auto [aggression, interval] : cases) {
        EXPECT_EQ(guardIntervalFor(aggression), interval) << aggression;
    }
}

class GuardScheduleTest : public ::testing::Test {
protected:
    void SetUp() override {
        table.append(10,
                     {"x:10.0.0.0-10.0.0.255", "x", *IP2LONG("10.0.0.0"), *IP2LONG("10.0.0.255")});
    }
    // Every pass yields exactly once, at its end.
    int passes() const { return host.yields; }
    void tickWith(std::vector<TcpRow> rows) {
        tcp.rows = std::move(rows);
        schedule.guardTick();
    }

    test::TempDir dir;
    test::RecordingHost host;
    test::FakeClock clock;
    test::FakeTcpTable tcp;
    BanTable table;
    ProgramState state;
    ConnectionLog log{host, clock, dir.file("connlog.txt")};
    GuardPass pass{table, tcp, log, state, host};
    GuardSchedule schedule{tcp, pass, state, host};
    TcpRow a = connectionTo(ipField(8, 8, 8, 1), 1);
    TcpRow b = connectionTo(ipField(8, 8, 8, 2), 2);
    TcpRow c = connectionTo(ipField(8, 8, 8, 3), 3);
};

TEST_F(GuardScheduleTest, OnePassPerChangeOfContent) {
    struct Step {
        std::vector<TcpRow> rows;
        int passesAfter;
    };
    const Step steps[] = {
        {{a, b}, 1},                  // first tick: differs from the empty start
        {{a, b}, 1},                  // unchanged
        {{b, a}, 1},                  // same rows in another order
        {{a, b, c}, 2},               // one more row: still one pass
        {{a, c}, 3},                  // one fewer
        {{}, 3},                      // empty (or unreadable): nothing to examine
        {{}, 3},        {{a, c}, 4},  // back again
    };
    for (const Step& step : steps) {
        tickWith(step.rows);
        EXPECT_EQ(passes(), step.passesAfter) << "rows: " << step.rows.size();
    }
}

TEST_F(GuardScheduleTest, ReplacedConnectionIsExaminedThoughTheCountStays) {
    tickWith({a, b});
    TcpRow banned = connectionTo(ipField(10, 0, 0, 5), 9);
    tickWith({a, banned});

    ASSERT_EQ(tcp.tornDown.size(), 1u);
    EXPECT_EQ(tcp.tornDown[0], banned);
    EXPECT_EQ(state.counters.blocked, 1u);
}

TEST_F(GuardScheduleTest, StateChangeOfARowIsAChange) {
    tickWith({a, b});
    b.state = kTcpCloseWait;
    tickWith({a, b});
    EXPECT_EQ(passes(), 2);
}

TEST_F(GuardScheduleTest, LargeTableRunsOnePass) {
    std::vector<TcpRow> rows;
    for (std::uint64_t i = 0; i < 300; ++i)
        rows.push_back(connectionTo(ipField(9, 0, i / 256, i % 256), 10 + i));
    rows.push_back(connectionTo(ipField(10, 0, 0, 5), 1));
    tickWith(rows);

    EXPECT_EQ(passes(), 1);
    EXPECT_EQ(tcp.tornDown.size(), 1u);
    EXPECT_EQ(state.counters.blocked, 1u);
}

TEST_F(GuardScheduleTest, TickArrivingDuringAPassIsSkipped) {
    int nestedTicks = 0;
    host.onYield = [&] {
        if (nestedTicks++ > 3)
            return;  // bound the test should skipping fail
        tcp.rows.push_back(connectionTo(ipField(8, 8, 9, nestedTicks), 100 + nestedTicks));
        schedule.guardTick();
    };
    tickWith({a});
    EXPECT_EQ(nestedTicks, 1);
    EXPECT_EQ(passes(), 1);
    EXPECT_EQ(tcp.reads, 2);  // the tick's snapshot and the pass's

    host.onYield = nullptr;
    schedule.guardTick();  // the row added meanwhile is a change
    EXPECT_EQ(passes(), 2);
}

TEST_F(GuardScheduleTest, SliderSetsAggressionLabelAndInterval) {
    const std::pair<int, int> cases[] = {{40, 65}, {100, 5}, {0, 105}};
    int changes = 0;
    for (auto [position, interval] : cases) {
        schedule.sliderClicked(position);
        EXPECT_EQ(state.options.aggression, position);
        EXPECT_EQ(state.options.aggressionText, std::to_string(position) + "%");
        EXPECT_EQ(state.timer.intervalMs, interval);
        EXPECT_EQ(host.stateChanges, ++changes);
    }
}

TEST_F(GuardScheduleTest, BlockingSwitchSetsTheBannerAndKeepsTheTimer) {
    state.timer.enabled = true;
    state.guardOnBanner = true;
    schedule.blockingClicked(false);
    EXPECT_FALSE(state.options.blocking);
    EXPECT_FALSE(state.guardOnBanner);
    EXPECT_TRUE(state.timer.enabled);
    EXPECT_EQ(host.stateChanges, 1);

    tickWith({connectionTo(ipField(10, 0, 0, 5), 1)});
    EXPECT_EQ(passes(), 1);
    EXPECT_TRUE(tcp.tornDown.empty());

    schedule.blockingClicked(true);
    EXPECT_TRUE(state.options.blocking);
    EXPECT_TRUE(state.guardOnBanner);
    EXPECT_EQ(host.stateChanges, 2);
}

}  // namespace
}  // namespace bw
