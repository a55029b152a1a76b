#include "guard/refusal_store.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace bw {

namespace {

// 12-05-2026 21:41:15, the log lines' date and time.
std::string timeStamp(const LocalTime& t) {
    char text[48];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d:%02d:%02d", t.month, t.day, t.year,
                  t.hour, t.minute, t.second);
    return text;
}

auto identity(const RefusalRecord& r) {
    return std::tie(r.address, r.entry, r.pid, r.command, r.programUnknown, r.port, r.protocol,
                    r.direction);
}

}  // namespace

bool sameRefusal(const RefusalRecord& a, const RefusalRecord& b) {
    return identity(a) == identity(b);
}

RefusalStore::RefusalStore(RecentRefusals& records, Host& host, const Clock& clock,
                           std::size_t bound)
    : records_(records), host_(host), clock_(clock), bound_(std::max<std::size_t>(bound, 1)) {}

void RefusalStore::record(RefusalRecord refusal, bool reported) {
    refusal.time = timeStamp(clock_.now());
    if (!records_.empty() && sameRefusal(records_.back(), refusal)) {
        RefusalRecord& last = records_.back();
        ++last.times;
        last.time = std::move(refusal.time);
    } else {
        refusal.serial = ++lastSerial_;
        refusal.times = 1;
        records_.push_back(std::move(refusal));
        while (records_.size() > bound_) records_.pop_front();
    }
    host_.refusalRecorded(records_.back(), reported);
    host_.stateChanged();
}

}  // namespace bw
