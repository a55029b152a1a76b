// Bastionwatch with its window: the platform backends, the program, and the
// window that shows it.

#include <QApplication>
#include <QSystemTrayIcon>

#include "app/main_window.h"
#include "app/stop_signals.h"
#include "app/window_commands.h"
#include "maintenance/link_intake.h"
#include "platform/capability_probe.h"
#include "platform/clock.h"
#include "platform/downloader.h"
#include "platform/instance_channel.h"
#include "platform/kernel_guard.h"
#include "platform/kernel_tcp_table.h"
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
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    // The window hides to the tray; only closing it ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    const std::filesystem::path folder = bw::programFolder();
    const std::string_view argument = argc > 1 ? argv[1] : "";
    // A link start only adds its link and ends: it takes no later start's link.
    bw::InstanceClaim claim = bw::claimProgramFolder(
        folder, bw::isLink(argument) ? bw::ClaimPurpose::OneLink : bw::ClaimPurpose::Guard);
    if (claim.otherCopyRuns)
        return bw::deferToRunningCopy(folder, argument, true, stdout, stderr);

    // The window holds no capabilities (Qt takes plugin paths from the
    // environment): the bastionwatch-kernel helper blocks and closes for it.
    auto kernelGuard = bw::makeHelperKernelGuard(bw::executablePath());
    auto tcpTable = bw::makeTcpTableClosingThrough(*kernelGuard);
    auto clock = bw::makeSystemClock();
    auto downloader = bw::makeCurlDownloader();
    auto registry = bw::makeDesktopRegistry();
    auto launcher = bw::makeDesktopLauncher();
    auto priority = bw::makeSystemPriority();
    auto lifelines = bw::makeLinuxLifelineSource();
    auto socketOwners = bw::makeLinuxSocketOwners();

    bw::MainWindow window(QSystemTrayIcon::isSystemTrayAvailable());
    bw::ProgramServices services{*tcpTable,       *clock,    *downloader, *registry,
                                 *launcher,       *priority, folder,      bw::executablePath(),
                                 BW_UPDATE_SERVER};
    services.instanceChannel = claim.channel.get();
    services.kernelGuard = kernelGuard.get();
    services.canCloseConnections = bw::canCloseConnections();
    services.lifelineSource = lifelines.get();
    services.socketOwners = socketOwners.get();
    bw::Program program(window, services);
    bw::ProgramCommands commands(program);
    window.attach(commands);

    program.load(argument);
    window.showAtStart();
    bw::closeOnStopSignals(&window, [&commands] { commands.unload(); });
    return app.exec();
}
