// Subscribed lists: loading a 400 000-line P2P list from its cached copy, gzip
// against plain, and rebuilding the guard's list table after one small list
// changed while the bench list (Debian's tor-geoipdb, 385 602 ranges) is another
// list; loading and looking up the IPv6 part of the same package (276 626
// ranges) as P2P and as CIDR beside the IPv4 list. All figures come from one
// run, so they compare on one machine.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "blocklist/text_lines.h"
#include "geoip_list.h"
#include "guard/list_table.h"
#include "maintenance/gzip_data.h"
#include "maintenance/list_format.h"
#include "platform/atomic_file.h"
#include "platform/whole_file.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLoadLines = 400'000;

fs::path gPlainCopy;
fs::path gGzipCopy;
std::shared_ptr<const bw::ListRanges> gBenchList;
std::string gBenchText;  // the IPv4 bench list as P2P lines
bw::bench::Geoip6Lists gBench6;

std::string gzip(const std::string& plain) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(plain.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    stream.avail_in = static_cast<uInt>(plain.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// The bench list's lines, repeated as needed, up to the line count.
std::string firstLines(const std::string& list, std::size_t count) {
    std::string out;
    while (count > 0) {
        bw::forEachLine(list, [&](std::string_view line) {
            if (count == 0)
                return;
            out.append(line);
            out += "\r\n";
            --count;
        });
    }
    return out;
}

// What loading a cached copy does: read, decompress when gzip, parse.
void loadCachedCopy(benchmark::State& state, const fs::path& copy) {
    for (auto _ : state) {
        bw::FileBytes bytes = bw::readWholeFile(copy);
        bw::Gunzipped text = bw::listText(std::move(bytes.bytes), 1u << 30);
        bw::ParsedList list = bw::parseList(text.bytes);
        if (list.ranges.size() != kLoadLines)
            state.SkipWithError("the copy did not load whole");
        benchmark::DoNotOptimize(list.ranges.data());
    }
    state.counters["lines"] = kLoadLines;
}

void BM_LoadCachedPlainP2p(benchmark::State& state) {
    loadCachedCopy(state, gPlainCopy);
}
BENCHMARK(BM_LoadCachedPlainP2p)->Unit(benchmark::kMillisecond);

void BM_LoadCachedGzipP2p(benchmark::State& state) {
    loadCachedCopy(state, gGzipCopy);
}
BENCHMARK(BM_LoadCachedGzipP2p)->Unit(benchmark::kMillisecond);

// The decompression alone, to tell it from the parsing.
void BM_GunzipOnly(benchmark::State& state) {
    const bw::FileBytes bytes = bw::readWholeFile(gGzipCopy);
    for (auto _ : state) {
        bw::Gunzipped text = bw::gunzip(bytes.bytes, 1u << 30);
        benchmark::DoNotOptimize(text.bytes.data());
    }
}
BENCHMARK(BM_GunzipOnly)->Unit(benchmark::kMillisecond);

// One small list changed: the table is cut again over every enabled list.
void BM_RebuildAfterOneListChanged(benchmark::State& state) {
    std::vector<bw::ListRange> small;
    for (std::uint32_t i = 0; i < 1000; ++i)
        small.push_back({0x01000000u + i * 4096, 0x01000000u + i * 4096 + 100, "small"});
    auto changed = std::make_shared<bw::ListRanges>(bw::ListRanges{"small", false, small});
    auto allow = std::make_shared<bw::ListRanges>(bw::ListRanges{
        "Private networks", true, bw::parseList("10.0.0.0/8\n172.16.0.0/12\n").ranges});
    for (auto _ : state) {
        bw::ListTable table({gBenchList, changed, allow});
        benchmark::DoNotOptimize(table.pieceCount());
    }
    state.counters["ranges"] = static_cast<double>(gBenchList->ranges.size() + small.size());
}
BENCHMARK(BM_RebuildAfterOneListChanged)->Unit(benchmark::kMillisecond);

// Parsing a list and cutting it into the guard's table, per family and format:
// the time per range of IPv6 against IPv4.
void loadIntoListTable(benchmark::State& state, const std::string& text) {
    std::size_t ranges = 0;
    for (auto _ : state) {
        bw::ParsedList parsed = bw::parseList(text);
        auto list = std::make_shared<bw::ListRanges>();
        list->ranges = std::move(parsed.ranges);
        list->ranges6 = std::move(parsed.ranges6);
        ranges = list->ranges.size() + list->ranges6.size();
        bw::ListTable table({std::shared_ptr<const bw::ListRanges>(std::move(list))});
        benchmark::DoNotOptimize(table.pieceCount() + table.pieceCount6());
    }
    state.counters["ranges"] = static_cast<double>(ranges);
    state.counters["per_range"] = benchmark::Counter(
        static_cast<double>(ranges),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LoadIpv4P2pIntoListTable(benchmark::State& state) {
    loadIntoListTable(state, gBenchText);
}
BENCHMARK(BM_LoadIpv4P2pIntoListTable)->Unit(benchmark::kMillisecond);

void BM_LoadIpv6P2pIntoListTable(benchmark::State& state) {
    loadIntoListTable(state, gBench6.p2p);
}
BENCHMARK(BM_LoadIpv6P2pIntoListTable)->Unit(benchmark::kMillisecond);

void BM_LoadIpv6CidrIntoListTable(benchmark::State& state) {
    loadIntoListTable(state, gBench6.cidr);
}
BENCHMARK(BM_LoadIpv6CidrIntoListTable)->Unit(benchmark::kMillisecond);

// One lookup of the guard pass in the lists: random addresses, about half held.
template <class Make>
void lookup(benchmark::State& state, const bw::ListTable& table, Make make) {
    std::mt19937_64 random(42);
    std::vector<bw::IpAddress> probes;
    for (int i = 0; i < 4096; ++i) probes.push_back(make(random));
    std::size_t i = 0;
    std::size_t hits = 0;
    for (auto _ : state) {
        hits += table.findBlock(probes[i++ & 4095]).has_value();
    }
    state.counters["hit_share"] =
        static_cast<double>(hits) / static_cast<double>(state.iterations());
}

void BM_LookupIpv4InListTable(benchmark::State& state) {
    const bw::ListTable table({gBenchList});
    lookup(state, table, [](std::mt19937_64& r) {
        return bw::IpAddress::fromV4(static_cast<std::uint32_t>(r()));
    });
}
BENCHMARK(BM_LookupIpv4InListTable);

void BM_LookupIpv6InListTable(benchmark::State& state) {
    auto list = std::make_shared<bw::ListRanges>();
    list->ranges6 = bw::parseList(gBench6.p2p).ranges6;
    const std::vector<bw::ListRange6> ranges = list->ranges6;
    const bw::ListTable table({std::shared_ptr<const bw::ListRanges>(std::move(list))});
    // Half inside a listed range, half anywhere in 2000::/3.
    lookup(state, table, [&](std::mt19937_64& r) {
        if (r() & 1) {
            const bw::ListRange6& in = ranges[r() % ranges.size()];
            return bw::IpAddress::fromV6({in.first.high, in.first.low + (r() & 0xFF)});
        }
        return bw::IpAddress::fromV6({0x2000000000000000u | (r() >> 3), r()});
    });
}
BENCHMARK(BM_LookupIpv6InListTable);

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> list = bw::bench::geoipAsBlocklist();
    if (!list)
        return 1;
    const fs::path folder = fs::temp_directory_path() / "bastionwatch-lists-bench";
    fs::create_directories(folder);
    gPlainCopy = folder / "plain.list";
    gGzipCopy = folder / "gzip.list";
    const std::string plain = firstLines(*list, kLoadLines);
    bw::writeFileAtomically(gPlainCopy, plain);
    bw::writeFileAtomically(gGzipCopy, gzip(plain));
    std::optional<bw::bench::Geoip6Lists> lists6 = bw::bench::geoip6AsLists();
    if (!lists6)
        return 1;
    gBench6 = std::move(*lists6);
    gBenchText = *list;
    std::printf("IPv6 bench list: %zu ranges, %zu CIDR prefixes\n", gBench6.ranges,
                gBench6.prefixes);
    auto bench = std::make_shared<bw::ListRanges>();
    bench->listName = "geoip";
    bench->ranges = bw::parseList(*list).ranges;
    gBenchList = bench;
    std::printf("bench list: %zu ranges; load copies: %zu bytes plain, %ju bytes gzip\n",
                gBenchList->ranges.size(), plain.size(),
                static_cast<std::uintmax_t>(fs::file_size(gGzipCopy)));

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(folder);
}
