#pragma once

#include <memory>

namespace bw {

// Scheduling priority of the program, so the guard keeps its pace on a busy machine.
class Priority {
public:
    virtual ~Priority() = default;
    // Best effort: nothing is reported when the system refuses.
    virtual void raise() = 0;
};

std::unique_ptr<Priority> makeSystemPriority();

}  // namespace bw
