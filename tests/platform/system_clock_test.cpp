#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/clock.h"

namespace bw {
namespace {

// Sets TZ for one test and puts the old value back.
class ZoneOverride {
public:
    explicit ZoneOverride(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneOverride() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> old_;
};

// Zones without daylight saving, spelled out so no zone database is needed.
TEST(SystemClock, OffsetFollowsTheLocalZoneEastPositive) {
    const std::pair<const char*, int> cases[] = {
        {"UTC0", 0}, {"IST-5:30", 330}, {"NST+3:30", -210}, {"EST+5", -300}, {"LINT-14", 840},
    };
    auto clock = makeSystemClock();
    for (auto [zone, minutes] : cases) {
        ZoneOverride tz(zone);
        EXPECT_EQ(clock->utcOffsetMinutes(), minutes) << zone;
    }
}

bool sameMoment(const LocalTime& t, std::time_t moment) {
    std::tm m{};
    localtime_r(&moment, &m);
    return t.year == m.tm_year + 1900 && t.month == m.tm_mon + 1 && t.day == m.tm_mday &&
           t.hour == m.tm_hour && t.minute == m.tm_min && t.second == m.tm_sec;
}

TEST(SystemClock, NowIsLocalCalendarTime) {
    ZoneOverride tz("IST-5:30");
    auto clock = makeSystemClock();
    std::time_t before = std::time(nullptr);
    LocalTime t = clock->now();
    std::time_t after = std::time(nullptr);
    bool matched = false;
    for (std::time_t moment = before; moment <= after; ++moment) matched |= sameMoment(t, moment);
    EXPECT_TRUE(matched) << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":"
                         << t.minute << ":" << t.second;
}

// Whatever the zone, UTC is the system's time.
TEST(SystemClock, UtcNowIsTheSystemTimeInAnyZone) {
    ZoneOverride tz("LINT-14");
    auto clock = makeSystemClock();
    const auto before = std::chrono::system_clock::now();
    const auto now = clock->utcNow();
    const auto after = std::chrono::system_clock::now();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

}  // namespace
}  // namespace bw
