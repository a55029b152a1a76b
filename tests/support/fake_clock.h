#pragma once

#include "platform/clock.h"

namespace bw::test {

// A clock that shows what the test set.
class FakeClock : public Clock {
public:
    LocalTime now() const override { return time; }
    int utcOffsetMinutes() const override { return offsetMinutes; }

    LocalTime time{2026, 12, 5, 21, 41, 15};
    int offsetMinutes = 0;
};

}  // namespace bw::test
