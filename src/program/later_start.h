#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace bw {

// What a later start without a link asks of the window that runs.
inline constexpr std::string_view kShowWindowRequest = "show the window";

// The running copy's answer to a later start: the status that start ends
// with (0: done, 1: not done) and the text it shows.
struct LaterStartAnswer {
    int status = 1;
    std::string text;
};

// On the channel: the status digit, a newline, then the text.
std::string encodeLaterStartAnswer(const LaterStartAnswer& answer);
// An answer that carries no status is a failure, its text shown as it came.
LaterStartAnswer decodeLaterStartAnswer(std::string_view answer);

// A start that finds another copy holding the program folder: hands its
// bwdat:// link to that copy (or, for the window, asks it to come to the
// front), says on the streams what came of it, and returns the exit status.
// The console guard started without a link only says that one already runs.
int deferToRunningCopy(const std::filesystem::path& folder, std::string_view argument, bool window,
                       std::FILE* out, std::FILE* err);

}  // namespace bw
