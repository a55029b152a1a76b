#include "guard/refusal_store.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/fake_clock.h"
#include "support/recording_host.h"

namespace bw {
namespace {

RefusalRecord refusal(std::uint32_t address) {
    RefusalRecord r;
    r.address = IpAddress::fromV4(address);
    r.entry = "Example Net";
    r.pid = 4242;
    r.command = "refusme";
    r.port = 443;
    r.protocol = 6;
    return r;
}

struct StoreFixture {
    explicit StoreFixture(std::size_t bound) : store(records, host, clock, bound) {}
    RecentRefusals records;
    test::RecordingHost host;
    test::FakeClock clock;
    RefusalStore store;
};

TEST(RefusalStore, KeepsTheLatestRecordsUpToItsBound) {
    struct Case {
        std::size_t bound;
        int distinct;  // refusals of as many different addresses, one after the other
        std::size_t kept;
        std::uint64_t oldestSerial;
    } cases[] = {
        {3, 2, 2, 1}, {3, 3, 3, 1}, {3, 4, 3, 2}, {3, 10, 3, 8}, {1, 2, 1, 2}, {0, 2, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bound << " " << c.distinct);
        StoreFixture f(c.bound);
        for (int i = 0; i < c.distinct; ++i) f.store.record(refusal(0x0A000000u + i), true);
        ASSERT_EQ(f.records.size(), c.kept);
        EXPECT_EQ(f.records.front().serial, c.oldestSerial);
        EXPECT_EQ(f.records.back().serial, static_cast<std::uint64_t>(c.distinct));
        EXPECT_EQ(f.records.back().address, IpAddress::fromV4(0x0A000000u + c.distinct - 1));
    }
}

TEST(RefusalStore, TheBoundHoldsByDefault) {
    RecentRefusals records;
    test::RecordingHost host;
    test::FakeClock clock;
    RefusalStore store(records, host, clock);
    for (std::uint32_t i = 0; i <= kRecentRefusalRecords; ++i) store.record(refusal(i), false);
    EXPECT_EQ(records.size(), kRecentRefusalRecords);
    EXPECT_EQ(records.front().address, IpAddress::fromV4(1));
}

// A repeat right after counts up its record and moves its time on; anything
// in between starts a new one.
TEST(RefusalStore, RepeatsInARowShareOneRecord) {
    StoreFixture f(10);
    f.store.record(refusal(1), true);
    f.clock.time.second = 16;
    f.store.record(refusal(1), false);
    f.store.record(refusal(1), false);
    f.store.record(refusal(2), true);
    f.store.record(refusal(1), true);

    ASSERT_EQ(f.records.size(), 3u);
    EXPECT_EQ(f.records[0].times, 3u);
    EXPECT_EQ(f.records[0].time, "12-05-2026 21:41:16");
    EXPECT_EQ(f.records[0].serial, 1u);
    EXPECT_EQ(f.records[1].times, 1u);
    EXPECT_EQ(f.records[2].times, 1u);
    EXPECT_EQ(f.records[2].serial, 3u);
}

// A repeat only counts as one when every detail agrees.
TEST(RefusalStore, ARefusalThatDiffersInAnyDetailIsNoRepeat) {
    const std::vector<std::pair<const char*, std::function<void(RefusalRecord&)>>> changes = {
        {"address", [](RefusalRecord& r) { r.address = IpAddress::fromV4(2); }},
        {"entry", [](RefusalRecord& r) { r.entry = "Other"; }},
        {"pid", [](RefusalRecord& r) { r.pid = 4243; }},
        {"command", [](RefusalRecord& r) { r.command = "other"; }},
        {"why unknown", [](RefusalRecord& r) { r.programUnknown = "hidden"; }},
        {"port", [](RefusalRecord& r) { r.port = 80; }},
        {"protocol", [](RefusalRecord& r) { r.protocol = 17; }},
        {"direction", [](RefusalRecord& r) { r.direction = RefusedDirection::Incoming; }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        StoreFixture f(10);
        f.store.record(refusal(1), true);
        RefusalRecord other = refusal(1);
        change(other);
        f.store.record(other, true);
        EXPECT_EQ(f.records.size(), 2u);
    }
    StoreFixture f(10);
    RefusalRecord stamped = refusal(1);
    stamped.time = "01-01-2000 00:00:00";
    stamped.times = 7;
    f.store.record(refusal(1), true);
    f.store.record(stamped, true);
    ASSERT_EQ(f.records.size(), 1u);
    EXPECT_EQ(f.records[0].times, 2u);
}

TEST(RefusalStore, TheHostHearsOfEachRecordAsItStandsThen) {
    StoreFixture f(10);
    f.store.record(refusal(1), true);
    f.store.record(refusal(1), false);
    ASSERT_EQ(f.host.refusals.size(), 2u);
    EXPECT_TRUE(f.host.refusals[0].reported);
    EXPECT_EQ(f.host.refusals[0].record.times, 1u);
    EXPECT_FALSE(f.host.refusals[1].reported);
    EXPECT_EQ(f.host.refusals[1].record.times, 2u);
    EXPECT_EQ(f.host.stateChanges, 2);
}

}  // namespace
}  // namespace bw
