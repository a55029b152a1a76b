#include "guard/time_zone.h"

#include <gtest/gtest.h>

#include "support/fake_clock.h"

namespace bw {
namespace {

TEST(OffsetText, SignWholeHoursAndTwoDigitMinutes) {
    const std::pair<int, const char*> cases[] = {
        {0, "+0:00"},   {60, "+1:00"}, {-300, "-5:00"}, {330, "+5:30"},  {-210, "-3:30"},
        {-30, "-0:30"}, {59, "+0:59"}, {61, "+1:01"},   {840, "+14:00"}, {-720, "-12:00"},
    };
    for (auto [minutes, text] : cases) EXPECT_EQ(offsetText(minutes), text) << minutes;
}

TEST(TimeZoneMinutes, IsTheClocksCurrentOffset) {
    test::FakeClock clock;
    for (int offset : {0, 330, -210, 840, -720}) {
        clock.offsetMinutes = offset;
        EXPECT_EQ(timeZoneMinutes(clock), offset);
    }
}

}  // namespace
}  // namespace bw
