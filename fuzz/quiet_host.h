#pragma once

#include <functional>
#include <string_view>

#include "base/host.h"

namespace bw::fuzz {

// The core's host with nobody watching: messages and refreshes go nowhere.
class QuietHost : public Host {
public:
    void letPendingEventsRun() override {}
    void showMessage(const Message&) override {}
    void clearLog() override {}
    void appendLog(std::string_view) override {}
    void banListReset() override {}
    void stateChanged() override {}
    void waitWithProgress(std::string_view, const std::function<bool()>&) override {}
    void exitNow(int) override {}
};

}  // namespace bw::fuzz
