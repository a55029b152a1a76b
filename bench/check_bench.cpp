// --check on a real-world list, against the console guard's own load of it: the
// IPv4 ranges of Debian's tor-geoipdb as the folder's Moatlist.P2P. The goal is
// an answer within twice the load, so checking an address never costs much
// more than starting a guard.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "blocklist/ban_table.h"
#include "blocklist/blocklist_reader.h"
#include "geoip_list.h"
#include "headless/check_option.h"
#include "maintenance/list_keeper.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/downloader.h"
#include "platform/whole_file.h"

namespace {

namespace fs = std::filesystem;

fs::path gFolder;

// What the guard's start-up does with the files before its first pass: the
// blocklist read and loaded with its lookup index, the lists' cached copies.
void BM_GuardLoad(benchmark::State& state) {
    auto clock = bw::makeSystemClock();
    auto downloader = bw::makeCurlDownloader();
    for (auto _ : state) {
        bw::BanTable table;
        bw::FileBytes bytes = bw::readWholeFile(gFolder / "Moatlist.P2P");
        bw::loadBlocklist(std::move(bytes.bytes), table);
        bw::ListKeeper keeper(*downloader, *clock, gFolder);
        keeper.loadToRead();
        benchmark::DoNotOptimize(keeper.table().pieceCount());
        benchmark::DoNotOptimize(table.size());
    }
}
BENCHMARK(BM_GuardLoad)->Unit(benchmark::kMillisecond);

// The whole of --check but the process: reading, loading, checking, the answer.
void BM_Check(benchmark::State& state, std::string asked) {
    bw::CheckSetting setting;
    setting.folder = gFolder;
    for (auto _ : state) {
        std::ostringstream out, err;
        benchmark::DoNotOptimize(bw::runCheck(asked, setting, out, err));
    }
}
BENCHMARK_CAPTURE(BM_Check, oneAddress, std::string("185.220.101.1"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Check, wholeSpace, std::string("0.0.0.0/0"))->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> geoipList = bw::bench::geoipAsBlocklist();
    if (!geoipList)
        return 2;
    char folder[] = "/tmp/bw-check-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    gFolder = folder;
    if (!bw::writeFileAtomically(gFolder / "Moatlist.P2P", *geoipList)) {
        std::fprintf(stderr, "cannot write the list into %s\n", folder);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(folder);
    return 0;
}
