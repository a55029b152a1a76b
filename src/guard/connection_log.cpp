#include "guard/connection_log.h"

#include <cstdio>

#include "base/product.h"
#include "guard/time_zone.h"
#include "platform/append_file.h"

namespace bw {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// 12-05-2026
std::string dateText(const LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d", t.month, t.day, t.year);
    return text;
}

// 21:41:15
std::string timeText(const LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return text;
}

std::string joined(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (std::string_view p : pieces) text += p;
    return text;
}

}  // namespace

ConnectionLog::ConnectionLog(Host& host, const Clock& clock, std::filesystem::path logFile)
    : host_(host), clock_(clock), logFile_(std::move(logFile)) {}

void ConnectionLog::logFullStep(std::string_view address) {
    if (!recent_.remember(address))
        return;
    LocalTime t = clock_.now();
    appendToFile(joined({dateText(t), ", ", timeText(t), ", ", address}));
}

void ConnectionLog::logRejectFile(std::string_view address, std::string_view name) {
    appendToFile(joined({"Rejected: ", rejection(address, name)}));
}

void ConnectionLog::logRejectView(std::string_view address, std::string_view name) {
    host_.appendLog(joined({"Connection Rejected: ", rejection(address, name), kLineEnd}));
}

void ConnectionLog::logTeardownRefused(std::string_view address, std::string_view name,
                                       std::string_view reason) {
    host_.appendLog(
        joined({"Could not close connection: ", rejection(address, name), ": ", reason, kLineEnd}));
}

void ConnectionLog::logTeardownRefusedFile(std::string_view address, std::string_view name,
                                           std::string_view reason) {
    appendToFile(joined({"Could not close connection: ", rejection(address, name), ": ", reason}));
}

void ConnectionLog::writeLogHeader() {
    host_.clearLog();
    host_.appendLog(joined({kLogHeaderTitle, kLineEnd}));
    host_.appendLog(joined({kHomePageAddress, " --- ", kForumAddress, kLineEnd, kLineEnd}));
    host_.appendLog(
        joined({"System Timezone: GMT ", offsetText(timeZoneMinutes(clock_)), kLineEnd, kLineEnd}));
}

std::string ConnectionLog::rejection(std::string_view address, std::string_view name) const {
    LocalTime t = clock_.now();
    return joined({address, " - ", name, " (", dateText(t), " @ ", timeText(t), ")"});
}

void ConnectionLog::appendToFile(std::string_view line) {
    WriteResult written = appendWholeRecord(logFile_, joined({line, kLineEnd}));
    if (written || fileFailureReported_)
        return;
    fileFailureReported_ = true;
    host_.appendLog(joined({"Could not write to ", kConnectionLogFileName, ": ", written.error,
                            ". Records that cannot be written are left out of it; this is said "
                            "only once.",
                            kLineEnd}));
}

}  // namespace bw
