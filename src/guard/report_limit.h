#pragma once

#include <cstddef>
#include <map>
#include <tuple>

#include "platform/clock.h"
#include "platform/ip_address.h"

namespace bw {

// Lets each address be reported at most once a second: a program that retries
// in a loop is counted, not written out line after line. Addresses of either
// family are told apart whole, never by a part of their bits.
class ReportLimit {
public:
    using Second = std::tuple<int, int, int, int, int, int>;
    static Second secondOf(const LocalTime& t);

    // Whether the address was already reported within this second; it counts
    // as reported now either way.
    bool quiet(const IpAddress& address, const Second& now);

private:
    std::map<IpAddress, Second> lastReported_;
};

}  // namespace bw
