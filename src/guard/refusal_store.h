#pragma once

#include <cstddef>
#include <cstdint>

#include "base/host.h"
#include "base/refusal_record.h"
#include "platform/clock.h"

namespace bw {

// How many records the window's list of recent refusals keeps.
inline constexpr std::size_t kRecentRefusalRecords = 1000;

// The recent refusals that both guards feed: the kernel guard's refusals and
// the polling guard's closes. A repeat of the latest record counts it up, so a
// program that retries does not push everything else out; beyond the bound the
// oldest record goes.
class RefusalStore {
public:
    RefusalStore(RecentRefusals& records, Host& host, const Clock& clock,
                 std::size_t bound = kRecentRefusalRecords);

    // Stamps the refusal with the time and keeps it. reported: its rejection
    // lines were just written to the log view.
    void record(RefusalRecord refusal, bool reported);

private:
    RecentRefusals& records_;
    Host& host_;
    const Clock& clock_;
    std::size_t bound_;
    std::uint64_t lastSerial_ = 0;
};

// Whether two refusals are one repeated: everything but the time and the count agrees.
bool sameRefusal(const RefusalRecord& a, const RefusalRecord& b);

}  // namespace bw
