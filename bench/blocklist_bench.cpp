// Blocklist load, rewrite and lookup on a real-world list: the IPv4 ranges of
// Debian's tor-geoipdb, turned into P2P lines at start-up. All figures come
// from one run, so they compare on one machine.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "blocklist/ban_table.h"
#include "blocklist/blocklist_reader.h"
#include "blocklist/blocklist_writer.h"
#include "blocklist/text_lines.h"
#include "geoip_list.h"
#include "platform/atomic_file.h"

namespace {

namespace fs = std::filesystem;

fs::path gListFile;  // the converted list, on disk
bw::BanTable gTable;

std::string readWhole(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string bytes(static_cast<std::size_t>(fs::file_size(path)), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

void BM_ReadAndSplitBaseline(benchmark::State& state) {
    for (auto _ : state) {
        std::string bytes = readWhole(gListFile);
        std::size_t lines = 0;
        bw::forEachLine(bytes, [&](std::string_view line) {
            benchmark::DoNotOptimize(line.data());
            ++lines;
        });
        benchmark::DoNotOptimize(lines);
    }
}

void BM_LoadIntoBanTable(benchmark::State& state) {
    bw::BanTable table;
    bw::LoadTotals totals;
    for (auto _ : state) {
        state.PauseTiming();
        table.clear();
        state.ResumeTiming();
        totals = bw::loadBlocklist(readWhole(gListFile), table);
        benchmark::DoNotOptimize(totals);
    }
    state.counters["ranges"] = static_cast<double>(totals.ranges);
}

void BM_RewriteEverySlot(benchmark::State& state) {
    for (auto _ : state) {
        std::string bytes = bw::formatEverySlot(gTable);
        benchmark::DoNotOptimize(bytes.data());
    }
}

// The same with the file replaced on disk (flushed and renamed).
void BM_RewriteEverySlotToDisk(benchmark::State& state) {
    fs::path target = gListFile.parent_path() / "rewritten.p2p";
    for (auto _ : state) {
        if (!bw::writeFileAtomically(target, bw::formatEverySlot(gTable))) {
            state.SkipWithError("rewrite failed");
        }
    }
}

std::vector<double> randomAddresses(double first, double last) {
    std::mt19937_64 random(2024);
    std::uniform_int_distribution<std::uint64_t> pick(static_cast<std::uint64_t>(first),
                                                      static_cast<std::uint64_t>(last));
    std::vector<double> addresses(1'000'000);
    for (double& a : addresses) a = static_cast<double>(pick(random));
    return addresses;
}

// One iteration is one lookup; the addresses cycle through a million.
void runLookups(benchmark::State& state, const std::vector<double>& addresses) {
    std::vector<bw::EntryRef> matches;
    std::size_t i = 0;
    std::size_t found = 0;
    for (auto _ : state) {
        gTable.findMatches(addresses[i], matches);
        found += matches.size();
        if (++i == addresses.size())
            i = 0;
    }
    state.counters["matches/lookup"] =
        static_cast<double>(found) / static_cast<double>(state.iterations());
}

void BM_LookupRandom(benchmark::State& state) {
    static const std::vector<double> addresses = randomAddresses(1, 4294967295.0);
    runLookups(state, addresses);
}

void BM_LookupLargestBucket(benchmark::State& state) {
    static const std::vector<double> addresses =
        randomAddresses(185.0 * 16777216, 186.0 * 16777216 - 1);
    runLookups(state, addresses);
}

// For comparison: testing every entry of the address's own bucket in turn.
void BM_LinearScanLargestBucket(benchmark::State& state) {
    static const std::vector<double> addresses =
        randomAddresses(185.0 * 16777216, 186.0 * 16777216 - 1);
    const bw::BanTable::Bucket bucket = gTable.bucket(185);
    std::size_t i = 0;
    for (auto _ : state) {
        double a = addresses[i];
        std::size_t found = 0;
        for (bw::BanEntry e : bucket) found += a > e.start - 1 && a < e.end + 1 && a > 0;
        benchmark::DoNotOptimize(found);
        if (++i == addresses.size())
            i = 0;
    }
}

BENCHMARK(BM_ReadAndSplitBaseline)->Unit(benchmark::kMillisecond);
// The IPv6 part of the package as own-list lines: loaded, then looked up.
std::string gIpv6Lines;
bw::BanTable gTable6;

void BM_LoadIpv6IntoBanTable(benchmark::State& state) {
    bw::BanTable table;
    bw::LoadTotals totals;
    for (auto _ : state) {
        totals = bw::loadBlocklist(gIpv6Lines, table);
        table.buildIndex();
        std::vector<bw::EntryRef> hits;
        table.findMatches6({}, hits);  // builds the IPv6 index, as the first lookup would
        benchmark::DoNotOptimize(hits);
    }
    state.counters["ranges"] = static_cast<double>(totals.ranges6);
}

void BM_LookupIpv6Random(benchmark::State& state) {
    std::mt19937_64 random(7);
    std::vector<bw::Ipv6Number> probes;
    for (int i = 0; i < 4096; ++i) {
        if (random() & 1) {
            const bw::BanEntry6 e = gTable6.at6(random() % gTable6.size6());
            probes.push_back({e.first.high, e.first.low + (random() & 0xFF)});
        } else {
            probes.push_back({0x2000000000000000u | (random() >> 3), random()});
        }
    }
    std::vector<bw::EntryRef> hits;
    std::size_t i = 0;
    std::size_t found = 0;
    for (auto _ : state) {
        gTable6.findMatches6(probes[i++ & 4095], hits);
        found += hits.size();
    }
    state.counters["matches/lookup"] =
        static_cast<double>(found) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_LoadIntoBanTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadIpv6IntoBanTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupIpv6Random);
BENCHMARK(BM_RewriteEverySlot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RewriteEverySlotToDisk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupRandom);
BENCHMARK(BM_LookupLargestBucket);
BENCHMARK(BM_LinearScanLargestBucket)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> geoipList = bw::bench::geoipAsBlocklist();
    if (!geoipList)
        return 2;
    const std::string& list = *geoipList;
    char folder[] = "/tmp/bw-blocklist-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    gListFile = fs::path(folder) / "Moatlist.P2P";
    if (!bw::writeFileAtomically(gListFile, list)) {
        std::fprintf(stderr, "cannot write %s\n", gListFile.c_str());
        return 1;
    }
    bw::loadBlocklist(list, gTable);
    std::optional<bw::bench::Geoip6Lists> lists6 = bw::bench::geoip6AsLists();
    if (!lists6)
        return 2;
    gIpv6Lines = std::move(lists6->p2p);
    bw::loadBlocklist(gIpv6Lines, gTable6);
    std::printf("list: %zu ranges, %zu bytes; bucket 185 holds %zu ranges\n", gTable.size(),
                list.size(), gTable.bucket(185).size());

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(folder);
    return 0;
}
