// bastionwatch-headless: the guard without a window, for servers and machines
// without a desktop. What the window would show goes to standard output.

#include <cstdio>
#include <optional>
#include <string>

#include "console_host.h"
#include "console_options.h"
#include "headless/check_option.h"
#include "headless/list_options.h"
#include "platform/capability_probe.h"
#include "platform/clock.h"
#include "platform/downloader.h"
#include "platform/instance_channel.h"
#include "platform/kernel_guard.h"
#include "platform/launcher.h"
#include "platform/lifelines.h"
#include "platform/priority.h"
#include "platform/program_folder.h"
#include "platform/registry.h"
#include "platform/socket_owners.h"
#include "platform/tcp_table.h"
#include "program/later_start.h"
#include "program/program.h"

int main(int argc, char** argv) {
    using namespace bw;
    if (std::optional<int> status = runCheckOption(argc, argv))
        return *status;
    if (std::optional<int> status = runListOptions(argc, argv))
        return *status;
    const ConsoleOptions options = parseConsoleOptions(argc, argv);
    if (options.action != ConsoleOptions::Action::Guard)
        return reportWithoutGuarding(options, stdout, stderr);
    ConsoleHost::installStopSignals();
    const std::filesystem::path folder = programFolder();
    // A link start only adds its link and ends: it takes no later start's link.
    InstanceClaim claim = claimProgramFolder(
        folder, options.link.empty() ? ClaimPurpose::Guard : ClaimPurpose::OneLink);
    if (claim.otherCopyRuns)
        return deferToRunningCopy(folder, options.link, false, stdout, stderr);
    if (!claim.channel)
        std::fprintf(stderr, "Links cannot be handed to this copy: %s\n", claim.error.c_str());

    auto tcpTable = makeSystemTcpTable();
    // No Qt here, so the console guard may hold CAP_BPF and CAP_NET_ADMIN itself.
    auto kernelGuard = makeInProcessKernelGuard();
    auto clock = makeSystemClock();
    auto downloader = makeCurlDownloader();
    auto registry = makeDesktopRegistry();
    auto launcher = makeDesktopLauncher();
    auto priority = makeSystemPriority();
    auto lifelines = makeLinuxLifelineSource();
    auto socketOwners = makeLinuxSocketOwners();

    ConsoleHost host(stdout, stderr);
    host.showRefusalDetails(options.refusalDetails);
    Program program(host, ProgramServices{
                              .tcpTable = *tcpTable,
                              .clock = *clock,
                              .downloader = *downloader,
                              .registry = *registry,
                              .launcher = *launcher,
                              .priority = *priority,
                              .folder = folder,
                              .executable = executablePath(),
                              .updateServer = BW_UPDATE_SERVER,
                              .registerLinkScheme = false,
                              .kernelGuard = kernelGuard.get(),
                              .canCloseConnections = canCloseConnections(),
                              .instanceChannel = claim.channel.get(),
                              .lifelineSource = lifelines.get(),
                              .socketOwners = socketOwners.get(),
                          });
    host.attach(program);
    program.load(options.link);
    host.run();
}
