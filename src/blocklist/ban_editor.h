#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string_view>

#include "base/host.h"
#include "blocklist/ban_table.h"
#include "blocklist/range_field.h"

namespace bw {

// What became of one line handed to ADDBANRANGE.
enum class AddOutcome {
    Added,       // stored in the table
    Duplicate,   // its bucket already holds the same bounds
    Localhost,   // refused: it touches the loopback net
    NotAnEntry,  // not a valid address or range
};

// The range ADDBANRANGE would store for the line, whether or not the table
// holds it already; none for a line it refuses.
std::optional<ListedRange> rangeAnAddWouldBan(std::string_view line);
// The same for an IPv6 line; none for an IPv4 line, a refused one or none.
std::optional<ListedRange6> ipv6RangeAnAddWouldBan(std::string_view line);

// Adds entries to the ban table from blocklist text and tells the host when
// the list must be shown afresh. The table is the list's data.
class BanEditor {
public:
    static constexpr std::string_view kDefaultName = "(User Specified IP/Range)";
    static constexpr std::string_view kLocalhostRefusal =
        "Attempted to add localhost (127.0.0.1) - Not allowed!";

    using TimeSource = std::function<std::chrono::steady_clock::time_point()>;
    // While refreshes are throttled, adds show the list afresh at most this often,
    // and let pending events run at most this often: enough for the window to
    // answer and the guard to tick, without a trip through the event loop per entry.
    static constexpr std::chrono::milliseconds kThrottledRefresh{100};
    static constexpr std::chrono::milliseconds kThrottledYield{10};

    BanEditor(BanTable& table, Host& host, TimeSource now = std::chrono::steady_clock::now)
        : table_(table), host_(host), now_(std::move(now)) {}

    // Parses one blocklist line (name:start-end or name:address) as the file
    // load reads it (readRangeField) and stores it when it is acceptable; drops
    // it silently otherwise (a range must also start above 0.1.0.0), except for
    // an entry that bans any address of 127.0.0.0/8, which is refused with a
    // message. Text holding a line break or NUL is dropped too: it would turn
    // into several lines on disk. An IPv6 line (readRangeField6) is stored as an
    // IPv6 entry unless the same bounds are listed or it holds ::1, which is
    // refused as localhost is.
    AddOutcome ADDBANRANGE(std::string_view originalData);

    // Stores one entry at the end of its bucket unless the bucket already holds
    // the same bounds. The bucket is the first part of the text's start
    // address; returns false when the text has no ":" or its range field does
    // not read as a range.
    bool ADDBAN(std::string_view listDat, double startrange, double endrange,
                std::string_view profilename);

    // Shows the list afresh, always at once.
    void UPDATELIST();

    // A long run of adds (an import) refreshes the list every kThrottledRefresh
    // instead of after every entry, whose cost grows with the list, and yields
    // every kThrottledYield; switching the throttle off shows whatever is still
    // waiting. Other refreshes
    // (UPDATELIST itself, for a removal or a load) are never held back.
    void throttleListRefresh(bool on);

private:
    AddOutcome addParsed(std::string_view line);
    AddOutcome store(std::string_view line, double start, double end, std::string_view name);
    AddOutcome store6(std::string_view line, const ListedRange6& range, std::string_view name);
    void refuseLocalhost();
    void refreshAfterAdd();

    BanTable& table_;
    Host& host_;
    TimeSource now_;
    bool throttled_ = false;
    bool refreshWaiting_ = false;
    std::chrono::steady_clock::time_point lastRefresh_{};
    std::chrono::steady_clock::time_point lastYield_{};
};

}  // namespace bw
