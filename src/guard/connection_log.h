#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/host.h"
#include "guard/recent_addresses.h"
#include "platform/clock.h"

namespace bw {

inline constexpr std::string_view kLogHeaderTitle = "Bastionwatch v1.99b (2.0 pre-release)";

// The guard's two sinks: the log view (through the host) and the append-only
// log file, with every line format the guard writes to them.
class ConnectionLog {
public:
    ConnectionLog(Host& host, const Clock& clock, std::filesystem::path logFile);

    // Records the address in the log file unless it was recorded recently.
    void logFullStep(std::string_view address);
    void logRejectFile(std::string_view address, std::string_view name);
    void logRejectView(std::string_view address, std::string_view name);
    // A banned connection the system would not close: a log view line of its own.
    void logTeardownRefused(std::string_view address, std::string_view name,
                            std::string_view reason);
    // The same, in the log file, where the rejections are recorded.
    void logTeardownRefusedFile(std::string_view address, std::string_view name,
                                std::string_view reason);
    // Empties the log view and writes the start-up header into it.
    void writeLogHeader();

    const RecentAddresses& recentAddresses() const { return recent_; }

private:
    // " - name (date @ time)" after an address.
    std::string rejection(std::string_view address, std::string_view name) const;
    // One whole line at the end of the file, or nothing; the first line that
    // cannot be written is reported in the log view.
    void appendToFile(std::string_view line);

    Host& host_;
    const Clock& clock_;
    std::filesystem::path logFile_;
    RecentAddresses recent_;
    bool fileFailureReported_ = false;
};

}  // namespace bw
