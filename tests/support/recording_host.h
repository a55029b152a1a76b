#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/host.h"

namespace bw::test {

// A Host that records what the core asked of it.
class RecordingHost : public Host {
public:
    void letPendingEventsRun() override {
        ++yields;
        if (onYield)
            onYield();
    }
    void showMessage(const Message& message) override {
        messages.push_back(message);
        if (onMessage)
            onMessage(message);
    }
    void clearLog() override { log.clear(); }
    void appendLog(std::string_view text) override { log.append(text); }
    void banListReset() override { ++listResets; }
    void stateChanged() override { ++stateChanges; }
    void waitWithProgress(std::string_view caption,
                          const std::function<bool()>& finished) override {
        progressCaptions.emplace_back(caption);
        while (!cancelProgress && !finished()) letPendingEventsRun();
    }
    void exitNow(int status) override { exitStatus = status; }
    void refusalRecorded(const RefusalRecord& refusal, bool reported) override {
        refusals.push_back({refusal, reported});
    }

    struct RecordedRefusal {
        RefusalRecord record;
        bool reported = false;
    };

    int yields = 0;
    int listResets = 0;
    int stateChanges = 0;
    int exitStatus = -1;
    std::string log;
    std::vector<Message> messages;
    std::vector<std::string> progressCaptions;
    std::vector<RecordedRefusal> refusals;          // every refusal recorded, as it stood then
    bool cancelProgress = false;                    // the user cancels every progress box at once
    std::function<void()> onYield;                  // runs at each yield point
    std::function<void(const Message&)> onMessage;  // runs while a box is "shown"
};

}  // namespace bw::test
