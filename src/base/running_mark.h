#pragma once

namespace bw {

// Marks a command as running for as long as it lives, however the command
// ends, so that a second one asked for from a yield point can be refused.
class RunningMark {
public:
    explicit RunningMark(bool& mark) : mark_(mark) { mark_ = true; }
    ~RunningMark() { mark_ = false; }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    bool& mark_;
};

}  // namespace bw
