#pragma once

#include <string>
#include <vector>

#include "platform/instance_channel.h"

namespace bw::test {

// Later starts' requests, handed to the program at its next serve().
class FakeInstanceChannel : public InstanceChannel {
public:
    void serve(const std::function<std::string(std::string_view)>& answer) override {
        std::vector<std::string> now;
        now.swap(waiting);
        for (const std::string& request : now) answers.push_back(answer(request));
    }
    void release() override { ++releases; }

    std::vector<std::string> waiting;
    std::vector<std::string> answers;
    int releases = 0;
};

}  // namespace bw::test
