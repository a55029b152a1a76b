#pragma once

#include <cstdint>
#include <string>

#include "base/refusal_record.h"

namespace bw {

// The options as the window's widgets show them.
struct Options {
    bool startHidden = false;            // Check1 "Lanch Minimzed"
    bool blocking = true;                // Check2 "Block banned IPs."
    bool fullLog = true;                 // Check3 "Full Conn. Log"
    int aggression = 90;                 // Slider1, 0..100
    std::string aggressionText = "90%";  // Label2
};

// The values beside "Ranges:", "Addresses:" and "Blocked:".
struct Counters {
    std::string ranges = "0";
    std::string addresses = "0";
    std::uint64_t blocked = 0;
    // IPv6 ranges, counted apart: a single one can hold more addresses than
    // the addresses counter could ever show.
    std::string ranges6 = "0";
};

struct GuardTimer {
    bool enabled = false;
    int intervalMs = 100;
};

// Which guard keeps banned connections away.
enum class GuardMode {
    Kernel,      // refused in the kernel before they are made
    Polling,     // found in the connection table and closed
    ReportOnly,  // neither possible here: banned connections are only reported
};

// Everything the main window shows that the core decides.
struct ProgramState {
    Options options;
    Counters counters;
    GuardTimer timer;
    bool guardOnBanner = false;  // Picture9 shows the guard-on image (else the guard-off one)
    bool bannerShown = false;    // Picture9 is empty until the start-up fills it
    // The banner must not look guarded when nothing can be refused or closed.
    GuardMode guardMode = GuardMode::Polling;
    bool windowVisible = true;
    // Bumped each time the program asks for windowVisible to be applied (the settings at
    // every start-up load, the end of a link start). In between, the user's own hiding and
    // restoring stands.
    unsigned visibilityRequests = 0;
    bool trayVisible = true;
    std::string trayToolTip;
    std::string lastUpdateVersion;  // bwuv
    // The latest refusals and closes with their program, port and direction, a
    // bounded number of them.
    RecentRefusals recentRefusals;
};

}  // namespace bw
