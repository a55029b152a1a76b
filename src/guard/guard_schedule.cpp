#include "guard/guard_schedule.h"

#include <string>

#include "base/running_mark.h"
#include "blocklist/number_text.h"
#include "guard/net_stat.h"

namespace bw {

int guardIntervalFor(double aggression) {
    return roundHalfToEven(105.0 - aggression);
}

GuardSchedule::GuardSchedule(TcpTable& tcp, GuardPass& pass, ProgramState& state, Host& host)
    : tcp_(tcp), pass_(pass), state_(state), host_(host) {}

void GuardSchedule::guardTick() {
    if (ticking_)
        return;
    RunningMark inProgress(ticking_);
    // Content, not the row count: a connection that replaced another between
    // two ticks must be examined too. One pass sees every row.
    std::vector<TcpRow> rows = readConnections(tcp_, true);
    if (rows != lastRows_ && !rows.empty())
        pass_.RefreshNS();
    lastRows_ = std::move(rows);
}

void GuardSchedule::sliderClicked(int position) {
    state_.options.aggression = position;
    state_.options.aggressionText = std::to_string(position) + "%";
    state_.timer.intervalMs = guardIntervalFor(position);
    host_.stateChanged();
}

void GuardSchedule::blockingClicked(bool ticked) {
    state_.options.blocking = ticked;
    state_.guardOnBanner = ticked;
    host_.stateChanged();
}

}  // namespace bw
