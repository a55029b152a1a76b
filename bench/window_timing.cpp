// The window with the bench list loaded (the 385 602 ranges of Debian's
// tor-geoipdb): a drop import of 100 000 entries, then one add and one remove
// through the window's commands, each timed as the user waits for it. The
// guard runs on the system's TCP table: run it in a private network namespace
// and offscreen (scripts/bench-process.sh does).

#include <QApplication>
#include <QListView>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/main_window.h"
#include "app/window_commands.h"
#include "geoip_list.h"
#include "import_file.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/downloader.h"
#include "platform/launcher.h"
#include "platform/priority.h"
#include "platform/registry.h"
#include "platform/tcp_table.h"
#include "program/program.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Counts the guard's ticks, which must keep coming during the import.
class CountingCommands : public bw::ProgramCommands {
public:
    using ProgramCommands::ProgramCommands;
    void guardTimerFired() override {
        ++ticks;
        ProgramCommands::guardTimerFired();
    }
    long ticks = 0;
};

class SamePriority : public bw::Priority {
public:
    void raise() override {}
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100'000;
    std::optional<std::string> list = bw::bench::geoipAsBlocklist();
    if (!list)
        return 2;
    char folderName[] = "/tmp/bw-window-bench-XXXXXX";
    if (!::mkdtemp(folderName))
        return 1;
    const fs::path folder = folderName;
    const fs::path importPath = folder / "import.p2p";
    if (!bw::writeFileAtomically(folder / "Moatlist.P2P", *list) ||
        !bw::writeFileAtomically(importPath, bw::bench::importFile(entries))) {
        return 1;
    }

    auto tcpTable = bw::makeSystemTcpTable();
    auto clock = bw::makeSystemClock();
    auto downloader = bw::makeCurlDownloader();
    auto registry = bw::makeDesktopRegistry();
    auto launcher = bw::makeDesktopLauncher();
    SamePriority priority;
    bw::MainWindow window(false);
    bw::Program program(window, bw::ProgramServices{.tcpTable = *tcpTable,
                                                    .clock = *clock,
                                                    .downloader = *downloader,
                                                    .registry = *registry,
                                                    .launcher = *launcher,
                                                    .priority = priority,
                                                    .folder = folder,
                                                    .executable = folder / "bastionwatch",
                                                    .updateServer = "http://127.0.0.1:9/",
                                                    .registerLinkScheme = false});
    CountingCommands commands(program);
    window.attach(commands);
    Clock::time_point start = Clock::now();
    program.load("");
    window.showAtStart();
    window.showRangesView();
    QCoreApplication::processEvents();
    std::printf("load and show: %.0f ms, %zu ranges\n", msSince(start), program.table().size());

    const std::size_t before = program.table().size();
    const long ticksBefore = commands.ticks;
    start = Clock::now();
    commands.filesDropped({importPath.string()});
    const double importMs = msSince(start);
    auto* list1 = window.findChild<QListView*>(QStringLiteral("List1"));
    std::printf(
        "drop import of %d entries: %.0f ms; %zu stored, %ld guard ticks meanwhile, "
        "list rows %d of %zu\n",
        entries, importMs, program.table().size() - before, commands.ticks - ticksBefore,
        list1->model()->rowCount(), program.table().size());

    for (int i = 0; i < 3; ++i) {
        start = Clock::now();
        commands.addRange("bench", "200.1.2.3", "200.1.2.9");
        const double addMs = msSince(start);
        start = Clock::now();
        commands.removeEntry({200, program.table().bucket(200).size() - 1});
        const double removeMs = msSince(start);
        std::printf("add: %.1f ms, remove: %.1f ms (atomic rewrite included)\n", addMs, removeMs);
    }
    fs::remove_all(folder);
    return 0;
}
