#pragma once

#include "platform/clock.h"

namespace bw::test {

// A clock that shows what the test set.
class FakeClock : public Clock {
public:
    LocalTime now() const override { return time; }
    int utcOffsetMinutes() const override { return offsetMinutes; }
    std::chrono::steady_clock::time_point steadyNow() const override { return steady; }

    // Moves the steady clock on; the calendar time stays as the test set it.
    void advance(std::chrono::steady_clock::duration by) { steady += by; }

    LocalTime time{2026, 12, 5, 21, 41, 15};
    int offsetMinutes = 0;
    std::chrono::steady_clock::time_point steady{};
};

}  // namespace bw::test
