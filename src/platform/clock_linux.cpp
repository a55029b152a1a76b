#include <time.h>

#include <ctime>

#include "platform/clock.h"

namespace bw {

namespace {

std::tm localNow() {
    tzset();  // follow a change of the zone while the program runs
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

class SystemClock : public Clock {
public:
    LocalTime now() const override {
        std::tm t = localNow();
        return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
    }
    int utcOffsetMinutes() const override { return static_cast<int>(localNow().tm_gmtoff / 60); }
    std::chrono::system_clock::time_point utcNow() const override {
        return std::chrono::system_clock::now();
    }
    std::chrono::steady_clock::time_point steadyNow() const override {
        return std::chrono::steady_clock::now();
    }
};

}  // namespace

std::unique_ptr<Clock> makeSystemClock() {
    return std::make_unique<SystemClock>();
}

}  // namespace bw
