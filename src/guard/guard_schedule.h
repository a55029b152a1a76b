#pragma once

#include <vector>

#include "base/host.h"
#include "base/program_state.h"
#include "guard/guard_pass.h"
#include "platform/tcp_table.h"

namespace bw {

// The guard timer's interval for an aggression: 105 - aggression milliseconds,
// rounded to the nearest whole number, a half to the even one.
int guardIntervalFor(double aggression);

// What the guard timer does at each tick, and the two widgets that set its
// pace and switch blocking.
class GuardSchedule {
public:
    GuardSchedule(TcpTable& tcp, GuardPass& pass, ProgramState& state, Host& host);

    // Runs one guard pass when the TCP table's content changed since the
    // previous tick. A tick that arrives while one runs is skipped.
    void guardTick();
    void sliderClicked(int position);
    void blockingClicked(bool ticked);

private:
    TcpTable& tcp_;
    GuardPass& pass_;
    ProgramState& state_;
    Host& host_;
    std::vector<TcpRow> lastRows_;
    bool ticking_ = false;
};

}  // namespace bw
