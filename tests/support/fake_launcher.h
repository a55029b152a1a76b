#pragma once

#include <string>
#include <vector>

#include "platform/launcher.h"

namespace bw::test {

// A Launcher that answers with a set outcome and records every call.
class FakeLauncher : public Launcher {
public:
    LaunchOutcome open(const std::string& target) override {
        calls.push_back("open " + target);
        return outcome;
    }
    void openWith(const std::string& target) override { calls.push_back("openWith " + target); }

    LaunchOutcome outcome = LaunchOutcome::Opened;
    std::vector<std::string> calls;
};

}  // namespace bw::test
