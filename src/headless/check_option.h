#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/instance_channel.h"
#include "platform/lifelines.h"

namespace bw {

// What --check looks at besides its question: the files a guard of the folder
// reads, the machine's lifelines, and the guard that runs for the folder.
struct CheckSetting {
    std::filesystem::path folder;
    std::vector<Lifeline> lifelines;
    std::optional<RunningGuard> guard;
};

// The exit statuses of --check, for scripts.
inline constexpr int kCheckAllowed = 0;
inline constexpr int kCheckBanned = 1;
inline constexpr int kCheckUnreadable = 2;  // also a command line that makes no sense

// Answers --check for an address, a range (a.b.c.d-e.f.g.h or a.b.c.d/n), or
// a file of them, one a line: whether a guard of the folder refuses them and
// why. Reads and never writes: no file is made, no lock taken, no network asked.
int runCheck(const std::string& asked, const CheckSetting& setting, std::ostream& out,
             std::ostream& err);

// What --help shows for --check.
const char* checkOptionHelp();

// The whole of it for main(): with --check in argv, runs it and gives the exit
// status; otherwise nothing.
std::optional<int> runCheckOption(int argc, char** argv);

}  // namespace bw
