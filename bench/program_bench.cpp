// The program's own edits on a real-world list: one add and one remove (each
// with the atomic rewrite of the blocklist file) and a drop import of 100 000
// entries, with the 385 602 ranges of Debian's tor-geoipdb loaded. The guard
// sees an empty TCP table, so nothing outside is touched.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

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

class NoConnections : public bw::TcpTable {
public:
    std::vector<bw::TcpRow> readConnections(bool) override { return {}; }
    bw::TeardownResult teardown(const bw::TcpRow&) override { return {}; }
};

class SamePriority : public bw::Priority {
public:
    void raise() override {}
};

// Counts the list refreshes; a window would redraw its list at each.
class CountingHost : public bw::Host {
public:
    void letPendingEventsRun() override {}
    void showMessage(const bw::Message&) override {}
    void clearLog() override {}
    void appendLog(std::string_view) override {}
    void banListReset() override { ++listResets; }
    void stateChanged() override {}
    void waitWithProgress(std::string_view, const std::function<bool()>&) override {}
    void exitNow(int) override {}
    long listResets = 0;
};

fs::path gFolder;

struct World {
    CountingHost host;
    NoConnections tcp;
    SamePriority priority;
    std::unique_ptr<bw::Clock> clock = bw::makeSystemClock();
    std::unique_ptr<bw::Downloader> downloader = bw::makeCurlDownloader();
    std::unique_ptr<bw::Registry> registry = bw::makeDesktopRegistry();
    std::unique_ptr<bw::Launcher> launcher = bw::makeDesktopLauncher();
    bw::Program program{host, bw::ProgramServices{
                                  .tcpTable = tcp,
                                  .clock = *clock,
                                  .downloader = *downloader,
                                  .registry = *registry,
                                  .launcher = *launcher,
                                  .priority = priority,
                                  .folder = gFolder,
                                  .executable = gFolder / "bastionwatch",
                                  .updateServer = "http://127.0.0.1:9/",
                                  .registerLinkScheme = false,
                              }};
    World() { program.load(""); }
};

// One add of a new range, then the removal of that range, each rewriting the file.
void BM_AddThenRemove(benchmark::State& state) {
    World world;
    const std::size_t before = world.program.table().size();
    double addMs = 0, removeMs = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        world.program.addRange("bench", "200.1.2.3", "200.1.2.9");
        auto t1 = std::chrono::steady_clock::now();
        // The new entry is the last of bucket 200.
        const bw::BanTable& table = world.program.table();
        world.program.removeEntry({200, table.bucket(200).size() - 1});
        auto t2 = std::chrono::steady_clock::now();
        addMs += std::chrono::duration<double, std::milli>(t1 - t0).count();
        removeMs += std::chrono::duration<double, std::milli>(t2 - t1).count();
    }
    if (world.program.table().size() != before)
        state.SkipWithError("the add or the remove did not happen");
    state.counters["add_ms"] = addMs / static_cast<double>(state.iterations());
    state.counters["remove_ms"] = removeMs / static_cast<double>(state.iterations());
}

void BM_DropImport(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    fs::path file = gFolder / "import.p2p";
    if (!bw::writeFileAtomically(file, bw::bench::importFile(entries)))
        state.SkipWithError("cannot write the import file");
    long resets = 0;
    std::size_t added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto world = std::make_unique<World>();
        const std::size_t before = world->program.table().size();
        world->host.listResets = 0;
        state.ResumeTiming();
        world->program.filesDropped({file.string()});
        state.PauseTiming();
        resets = world->host.listResets;
        added = world->program.table().size() - before;
        world.reset();
        state.ResumeTiming();
    }
    state.counters["entries_added"] = static_cast<double>(added);
    state.counters["list_refreshes"] = static_cast<double>(resets);
}

BENCHMARK(BM_AddThenRemove)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_DropImport)->Arg(50'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> list = bw::bench::geoipAsBlocklist();
    if (!list)
        return 2;
    char folder[] = "/tmp/bw-program-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    gFolder = folder;
    if (!bw::writeFileAtomically(gFolder / "Moatlist.P2P", *list)) {
        std::fprintf(stderr, "cannot write the bench list\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(gFolder);
    return 0;
}
