#include "guard/report_limit.h"

namespace bw {

namespace {

constexpr std::size_t kRememberedAddresses = 4096;

}  // namespace

ReportLimit::Second ReportLimit::secondOf(const LocalTime& t) {
    return {t.year, t.month, t.day, t.hour, t.minute, t.second};
}

bool ReportLimit::quiet(const IpAddress& address, const Second& now) {
    // Addresses quiet for a second need no memory: a scan of many stays small.
    if (lastReported_.size() > kRememberedAddresses)
        std::erase_if(lastReported_, [&](const auto& kept) { return kept.second != now; });
    auto [last, first] = lastReported_.try_emplace(address, now);
    const bool repeated = !first && last->second == now;
    last->second = now;
    return repeated;
}

}  // namespace bw
