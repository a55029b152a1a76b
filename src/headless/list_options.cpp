#include "headless/list_options.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "base/product.h"
#include "blocklist/public_space.h"
#include "guard/list_table.h"
#include "maintenance/list_keeper.h"
#include "platform/clock.h"
#include "platform/downloader.h"
#include "platform/folder_file.h"
#include "platform/lifelines.h"
#include "platform/program_folder.h"

namespace bw {

namespace {

bool isListOption(const std::string& arg) {
    return arg == "--add-list" || arg == "--remove-list" || arg == "--enable-list" ||
           arg == "--disable-list" || arg == "--lists" || arg == "--update-lists";
}

std::optional<int> hoursFrom(const std::string& text) {
    int hours = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), hours);
    if (error != std::errc() || end != text.data() + text.size() || hours < 1)
        return std::nullopt;
    return hours;
}

std::string listLine(const Subscription& list) {
    std::string line = list.name + ": " + (list.mode == ListMode::Allow ? "allow" : "block") +
                       ", " + (list.enabled ? "on" : "off") + (list.wide ? ", wide" : "") + ", " +
                       std::to_string(list.ranges) + " ranges, " + std::to_string(list.ranges6) +
                       " IPv6 ranges, " + publicPercentText(list.publicAddresses) +
                       " of the public IPv4 space, " + std::to_string(list.failedLines) +
                       " lines not understood, last update " + formatUtc(list.lastUpdate) + ", ";
    line += list.lastError.empty() ? "no error" : "last error: " + list.lastError;
    return line;
}

int failWith(std::ostream& err, const std::string& reason) {
    err << "bastionwatch-headless: " << reason << "\n";
    return 1;
}

int updateEveryList(ListKeeper& keeper, std::ostream& out, std::ostream& err,
                    const std::function<void()>& pause) {
    std::vector<std::string> attempted;
    for (const Subscription& list : keeper.subscriptions()) {
        if (!list.source.empty())
            attempted.push_back(list.name);
    }
    keeper.startUpdates(true);
    keeper.poll();
    while (keeper.updating()) {
        pause();
        keeper.poll();
    }
    // A failed save is an error: said once, on standard error.
    const std::vector<std::string> unsaved = keeper.takeSaveProblems();
    for (const std::string& report : keeper.takeReports()) out << report << "\n";
    int status = 0;
    for (const Subscription& list : keeper.subscriptions()) {
        // One left to another copy's update under way is not a failure of this run.
        bool tried = std::find(attempted.begin(), attempted.end(), list.name) != attempted.end() &&
                     !keeper.skipped(list.name);
        if (tried && !list.lastError.empty())
            status = failWith(err, "the list " + list.name + " was not updated: " + list.lastError);
    }
    for (const std::string& problem : unsaved) status = failWith(err, problem);
    return status;
}

}  // namespace

ListOptions parseListOptions(const std::vector<std::string>& args) {
    std::size_t at = 0;
    while (at < args.size() && !isListOption(args[at])) ++at;
    if (at == args.size())
        return NotAListCommand{};
    const std::string& option = args[at];
    ListCommand command;
    std::vector<std::string> operands;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i == at)
            continue;
        const std::string& arg = args[i];
        if (arg == "--allow") {
            command.allow = true;
        } else if (arg == "--wide") {
            command.wide = true;
        } else if (arg == "--every") {
            if (i + 1 >= args.size())
                return ListUsageError{"--every needs a number of hours"};
            std::optional<int> hours = hoursFrom(args[++i]);
            if (!hours)
                return ListUsageError{"--every needs a whole number of hours, at least 1"};
            command.everyHours = *hours;
        } else if (isListOption(arg)) {
            return ListUsageError{"one list command at a time: " + option + " and " + arg};
        } else {
            operands.push_back(arg);
        }
    }
    struct Shape {
        const char* option;
        ListCommand::Kind kind;
        std::size_t operands;
        const char* usage;
    };
    static const Shape kShapes[] = {
        {"--add-list", ListCommand::Kind::Add, 2, "--add-list NAME SOURCE"},
        {"--remove-list", ListCommand::Kind::Remove, 1, "--remove-list NAME"},
        {"--enable-list", ListCommand::Kind::Enable, 1, "--enable-list NAME"},
        {"--disable-list", ListCommand::Kind::Disable, 1, "--disable-list NAME"},
        {"--lists", ListCommand::Kind::Show, 0, "--lists"},
        {"--update-lists", ListCommand::Kind::Update, 0, "--update-lists"},
    };
    for (const Shape& shape : kShapes) {
        if (option != shape.option)
            continue;
        if (operands.size() != shape.operands)
            return ListUsageError{std::string("usage: ") + shape.usage};
        if ((command.allow || command.everyHours != kDefaultIntervalHours) &&
            shape.kind != ListCommand::Kind::Add) {
            return ListUsageError{"--allow and --every go with --add-list"};
        }
        if (command.wide && shape.kind != ListCommand::Kind::Add)
            return ListUsageError{"--wide goes with --add-list"};
        command.kind = shape.kind;
        if (!operands.empty())
            command.name = operands[0];
        if (operands.size() > 1)
            command.source = operands[1];
        break;
    }
    return command;
}

const char* listOptionsHelp() {
    return "  --add-list NAME SOURCE  subscribe to a list (an http/https address or a file)\n"
           "      --allow             ...as an allow list: its addresses are never refused\n"
           "      --every HOURS       ...updated every HOURS hours (default 24)\n"
           "      --wide              ...which may ban more than half of the public IPv4 space\n"
           "  --remove-list NAME      remove a list and its cached copy\n"
           "  --enable-list NAME      switch a list on\n"
           "  --disable-list NAME     switch a list off\n"
           "  --lists                 show every list with its state\n"
           "  --update-lists          update every list now; fails if any update failed\n";
}

std::string lifelineLine(const Lifeline& lifeline) {
    return "lifeline " + ipAddressText(lifeline.address) + ": " + lifeline.what + ", never banned";
}

int runListCommand(const ListCommand& command, ListKeeper& keeper, std::ostream& out,
                   std::ostream& err, const std::function<void()>& pause,
                   const std::vector<Lifeline>& lifelines) {
    std::string problem;
    switch (command.kind) {
        case ListCommand::Kind::Add: {
            Subscription list;
            list.name = command.name;
            list.source = command.source;
            list.mode = command.allow ? ListMode::Allow : ListMode::Block;
            list.intervalHours = command.everyHours;
            list.wide = command.wide;
            problem = keeper.add(list);
            std::error_code ec;
            if (problem.empty() && !isWebSource(list.source) &&
                !std::filesystem::exists(localSourcePath(list.source), ec)) {
                err << "bastionwatch-headless: warning: " << localSourcePath(list.source).string()
                    << " does not exist; the list " << list.name
                    << " holds nothing until it does and the list is updated\n";
            }
            break;
        }
        case ListCommand::Kind::Remove:
            problem = keeper.remove(command.name);
            break;
        case ListCommand::Kind::Enable:
            problem = keeper.setEnabled(command.name, true);
            break;
        case ListCommand::Kind::Disable:
            problem = keeper.setEnabled(command.name, false);
            break;
        case ListCommand::Kind::Show:
            for (const Subscription& list : keeper.subscriptions()) out << listLine(list) << "\n";
            for (const Lifeline& lifeline : lifelines) out << lifelineLine(lifeline) << "\n";
            break;
        case ListCommand::Kind::Update:
            return updateEveryList(keeper, out, err, pause);
    }
    return problem.empty() ? 0 : failWith(err, problem);
}

std::optional<int> runListOptions(int argc, char** argv) {
    ListOptions options = parseListOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (std::holds_alternative<NotAListCommand>(options))
        return std::nullopt;
    // A command line that makes no sense ends as the console options' do.
    if (const auto* usage = std::get_if<ListUsageError>(&options)) {
        failWith(std::cerr, usage->reason);
        return 2;
    }
    auto clock = makeSystemClock();
    auto downloader = makeCurlDownloader();
    const std::filesystem::path folder = programFolder();
    ListKeeper keeper(*downloader, *clock, folder);
    const bool firstStart = !std::filesystem::exists(fileInFolder(folder, kBlocklistFileName));
    // No command enforces the lists: the figures the cached copies gave are kept
    // in the subscriptions file, and an update reads only what it fetches.
    if (std::string problem = keeper.load(firstStart, ListKeeper::CachedCopies::Skip);
        !problem.empty())
        return failWith(std::cerr, problem);
    // The servers a running guard reached live in its memory only; the machine's own are here.
    ListTable lifelines;
    lifelines.setLifelines(makeLinuxLifelineSource()->read());
    return runListCommand(
        std::get<ListCommand>(options), keeper, std::cout, std::cerr,
        [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }, lifelines.lifelines());
}

}  // namespace bw
