#include "console_options.h"

#include "base/product.h"
#include "headless/check_option.h"
#include "headless/list_options.h"
#include "maintenance/link_intake.h"

namespace bw {

namespace {

constexpr int kUsageStatus = 2;  // the usual status of a command line that makes no sense
constexpr std::string_view kDetailsOption = "--details";

ConsoleOptions refused(std::string_view programName, const std::string& why) {
    ConsoleOptions options;
    options.action = ConsoleOptions::Action::UsageError;
    options.err = std::string(programName) + ": " + why + "\n" + consoleUsage(programName);
    options.status = kUsageStatus;
    return options;
}

}  // namespace

std::string consoleUsage(std::string_view programName) {
    const std::string name(programName);
    return "Usage: " + name + " [bwdat://LINK]\n" + "       " + name + " --details\n" + "       " +
           name + " --help | --version\n" + "       " + name +
           " LIST COMMAND (below)\n"
           "\n"
           "Guards this machine's connections against the ranges in Moatlist.P2P, without a\n"
           "window. What the window's log view would show goes to standard output.\n"
           "\n"
           "  bwdat://LINK  add the link's ranges to the blocklist file and end\n"
           "  --details     follow each rejection with a line naming its program, port,\n"
           "                protocol and direction:\n"
           "                    Details: program \"NAME\" (pid N), port N, TCP, outgoing\n"
           "  --help        show this text and end\n"
           "  --version     show the version and end\n"
           "\n"
           "List commands: each does its work and ends, with the reason on standard error\n"
           "and status 1 when it cannot.\n" +
           std::string(listOptionsHelp()) + checkOptionHelp() +
           "\n"
           "Files live in $BASTIONWATCH_HOME when it is set, otherwise (installed)\n"
           "in $XDG_DATA_HOME/bastionwatch, or beside the executable in a build folder.\n"
           "SIGTERM and SIGINT save the settings and end the guard; SIGHUP reloads the\n"
           "blocklist and the settings.\n";
}

ConsoleOptions parseConsoleOptions(std::string_view programName,
                                   const std::vector<std::string_view>& given) {
    ConsoleOptions options;
    // --details goes with whatever else the command line asks for.
    std::vector<std::string_view> arguments;
    for (std::string_view argument : given) {
        if (argument == kDetailsOption)
            options.refusalDetails = true;
        else
            arguments.push_back(argument);
    }
    if (arguments.empty())
        return options;
    if (arguments.size() > 1)
        return refused(programName, "takes at most one argument");
    const std::string_view argument = arguments.front();
    if (argument == "--help" || argument == "-h") {
        options.action = ConsoleOptions::Action::ShowHelp;
        options.out = consoleUsage(programName);
    } else if (argument == "--version") {
        options.action = ConsoleOptions::Action::ShowVersion;
        options.out = std::string(kWindowCaption) + " (console guard)\n";
    } else if (isLink(argument)) {
        // A link that names nothing would otherwise start a guard that never ends.
        if (linkPayload(argument).empty())
            return refused(programName, "the link '" + std::string(argument) +
                                            "' holds no entries; nothing was added");
        options.link = std::string(argument);
    } else if (argument.starts_with("-")) {
        return refused(programName, "unknown option '" + std::string(argument) + "'");
    } else {
        return refused(programName,
                       "unexpected argument '" + std::string(argument) + "' (not a bwdat:// link)");
    }
    return options;
}

ConsoleOptions parseConsoleOptions(int argc, char** argv) {
    std::string_view programName = argc > 0 && argv[0] ? argv[0] : "bastionwatch-headless";
    if (std::size_t slash = programName.rfind('/'); slash != std::string_view::npos)
        programName.remove_prefix(slash + 1);
    return parseConsoleOptions(programName, std::vector<std::string_view>(argv + 1, argv + argc));
}

int reportWithoutGuarding(const ConsoleOptions& options, std::FILE* out, std::FILE* err) {
    std::fputs(options.out.c_str(), out);
    std::fputs(options.err.c_str(), err);
    std::fflush(out);
    std::fflush(err);
    return options.status;
}

}  // namespace bw
