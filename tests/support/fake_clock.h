#pragma once

#include <chrono>

#include "platform/clock.h"

namespace bw::test {

// A clock that shows what the test set: the calendar time at an offset, from
// which UTC follows, and a steady clock of its own.
class FakeClock : public Clock {
public:
    LocalTime now() const override { return time; }
    int utcOffsetMinutes() const override { return offsetMinutes; }
    std::chrono::system_clock::time_point utcNow() const override {
        return utcSeconds() + fraction_;
    }
    std::chrono::steady_clock::time_point steadyNow() const override { return steady; }

    // Moves the calendar, UTC and the steady clock on together, as time passes.
    void advance(std::chrono::nanoseconds by) {
        using namespace std::chrono;
        steady += by;
        const nanoseconds moved = fraction_ + by;
        const sys_seconds utc = utcSeconds() + floor<seconds>(moved);
        fraction_ = moved - floor<seconds>(moved);
        const sys_seconds local = utc + minutes{offsetMinutes};
        const sys_days day = floor<days>(local);
        const year_month_day date{day};
        const hh_mm_ss<seconds> clock{local - day};
        time = {static_cast<int>(date.year()),
                static_cast<int>(unsigned{date.month()}),
                static_cast<int>(unsigned{date.day()}),
                static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count())};
    }

    LocalTime time{2026, 12, 5, 21, 41, 15};
    int offsetMinutes = 0;
    std::chrono::steady_clock::time_point steady{};

private:
    // In whole seconds, so that any year the calendar shows is in range.
    std::chrono::sys_seconds utcSeconds() const {
        using namespace std::chrono;
        const sys_days day{year{time.year} / time.month / time.day};
        return day + hours{time.hour} + minutes{time.minute} + seconds{time.second} -
               minutes{offsetMinutes};
    }

    std::chrono::nanoseconds fraction_{};  // of a second, passed but not yet shown
};

}  // namespace bw::test
