#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// What the console guard's command line asks for.
struct ConsoleOptions {
    enum class Action {
        Guard,        // start guarding; `link` is the bwdat:// link, or empty
        ShowHelp,     // print `out` to standard output, end with `status`
        ShowVersion,  // the same
        UsageError,   // print `err` to standard error, end with `status`
    };
    Action action = Action::Guard;
    std::string link;
    // --details: each rejection printed is followed by its program, port,
    // protocol and direction.
    bool refusalDetails = false;
    std::string out;
    std::string err;
    int status = 0;
};

// The usage text --help prints and a wrong command line repeats on standard error.
std::string consoleUsage(std::string_view programName);

// Reads the arguments after the program name. A bwdat:// link is the one
// argument the guard takes; anything else that is not --help or --version is
// refused instead of being ignored, so a mistyped option never starts a guard
// the user did not mean to start.
ConsoleOptions parseConsoleOptions(std::string_view programName,
                                   const std::vector<std::string_view>& arguments);
// The same over main()'s arguments; the program name is argv[0]'s last part.
ConsoleOptions parseConsoleOptions(int argc, char** argv);

// Prints what a command line that starts no guard asks for; returns its exit status.
int reportWithoutGuarding(const ConsoleOptions& options, std::FILE* out, std::FILE* err);

}  // namespace bw
