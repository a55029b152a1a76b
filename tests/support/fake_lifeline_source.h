#pragma once

#include "platform/lifelines.h"

namespace bw::test {

// Lifelines as the test sets them; counts how often they were read.
class FakeLifelineSource : public LifelineSource {
public:
    std::vector<Lifeline> read() override {
        ++reads;
        return lifelines;
    }

    std::vector<Lifeline> lifelines;
    int reads = 0;
};

}  // namespace bw::test
