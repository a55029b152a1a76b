#pragma once

#include <chrono>
#include <memory>

namespace bw {

// A moment in local time, as a calendar shows it.
struct LocalTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;
    int hour = 0;  // 0..23
    int minute = 0;
    int second = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalTime now() const = 0;
    // The current offset of local time from GMT in minutes, east positive.
    virtual int utcOffsetMinutes() const = 0;
    // The moment in UTC: what stored times and list intervals are counted in.
    virtual std::chrono::system_clock::time_point utcNow() const = 0;
    // For pauses and deadlines: never jumps with the calendar.
    virtual std::chrono::steady_clock::time_point steadyNow() const = 0;
};

std::unique_ptr<Clock> makeSystemClock();

}  // namespace bw
