#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "platform/lifelines.h"

namespace bw {

class ListKeeper;

// The console guard's list commands: each does its work and ends the program.
struct ListCommand {
    enum class Kind { Add, Remove, Enable, Disable, Show, Update };
    Kind kind = Kind::Show;
    std::string name;
    std::string source;
    bool allow = false;
    int everyHours = 24;
    bool wide = false;  // may ban more than half of the public IPv4 space
    friend bool operator==(const ListCommand&, const ListCommand&) = default;
};

struct NotAListCommand {};
struct ListUsageError {
    std::string reason;
};
using ListOptions = std::variant<NotAListCommand, ListCommand, ListUsageError>;

// The arguments after the program's name. Without a list option they are the
// guard's own (NotAListCommand).
ListOptions parseListOptions(const std::vector<std::string>& args);

// What --help shows for the list commands, one line each.
const char* listOptionsHelp();

// Carries the command out on the keeper, which has loaded the lists. Returns the
// exit status: 0 when it did its work, 1 (with the reason on err) when not.
// pause() lets a download run on while --update-lists waits for it.
// --lists shows the lifelines after the lists.
int runListCommand(const ListCommand& command, ListKeeper& keeper, std::ostream& out,
                   std::ostream& err, const std::function<void()>& pause,
                   const std::vector<Lifeline>& lifelines = {});

// One line of --lists for a lifeline.
std::string lifelineLine(const Lifeline& lifeline);

// The whole of it for main(): with list options in argv, sets up the real
// services, runs the command and gives the exit status (2 for a command line
// that makes no sense); otherwise nothing.
std::optional<int> runListOptions(int argc, char** argv);

}  // namespace bw
