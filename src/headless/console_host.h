#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>

#include "base/host.h"

namespace bw {

class Program;

// Runs the program without a window: the log view goes to standard output,
// message boxes to standard error, and the guard timer is a sleep loop.
class ConsoleHost : public Host {
public:
    ConsoleHost(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

    void attach(Program& program) { program_ = &program; }
    // With details, each refusal's rejection lines are followed by a line
    // naming its program, port, protocol and direction.
    void showRefusalDetails(bool on) { refusalDetails_ = on; }
    // Ticks the guard until SIGINT or SIGTERM, then saves the settings and ends;
    // SIGHUP reloads the blocklist and the settings. A stop signal that came
    // during the program's load is acted on here.
    [[noreturn]] void run();
    // The stop signals, and SIGHUP for a reload.
    static void installStopSignals();

    void letPendingEventsRun() override;
    void showMessage(const Message& message) override;
    void clearLog() override {}
    void appendLog(std::string_view text) override;
    void banListReset() override {}
    void stateChanged() override {}
    void waitWithProgress(std::string_view caption, const std::function<bool()>& finished) override;
    void refusalRecorded(const RefusalRecord& refusal, bool reported) override;
    [[noreturn]] void exitNow(int status) override;

private:
    void tickIfDue();
    void stopIfAsked();
    void reloadIfAsked();

    std::FILE* out_;
    std::FILE* err_;
    Program* program_ = nullptr;
    bool refusalDetails_ = false;
    bool startedUp_ = false;  // the program's load has finished and run() ticks the guard
    std::chrono::steady_clock::time_point nextTick_ = std::chrono::steady_clock::now();
};

}  // namespace bw
