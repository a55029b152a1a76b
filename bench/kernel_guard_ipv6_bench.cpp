// The kernel guard's IPv6 figures, in a private network namespace and a child
// cgroup made for the run (never the machine's root cgroup): building and
// loading the IPv6 table of the bench list (as it comes, merged, and with the
// IPv4 bench list beside it), the hook's cost on an allowed IPv6 loopback
// connect(), and the time of a refused one.
//
// Run as root: build/bench/kernel_guard_ipv6_bench

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "blocklist/ban_table.h"
#include "blocklist/blocklist_reader.h"
#include "blocklist/kernel_table.h"
#include "geoip_list.h"
#include "platform/address_interval.h"
#include "platform/ip_address.h"
#include "platform/kernel_guard.h"
#include "private_cgroup.h"

namespace {

constexpr const char* kBench = "kernel_guard_ipv6_bench";
constexpr const char* kGeoip6File = "/usr/share/tor/geoip6";
// Documentation addresses, outside every range of the bench list.
constexpr const char* kAllowed = "2001:db8::1";
constexpr const char* kBanned = "2001:db8::9";

bw::Ipv6Number number(const std::string& text) {
    return bw::parseIpAddress(text)->v6();
}

// "first,last,CC" lines with IPv6 bounds, sorted as the file keeps them, and
// the banned address in its place.
std::optional<std::vector<bw::Address6Interval>> readBenchList() {
    std::ifstream geoip(kGeoip6File);
    if (!geoip) {
        std::fprintf(stderr,
                     "%s is missing: install the tor-geoipdb package "
                     "(apt-get install tor-geoipdb) to run this benchmark.\n",
                     kGeoip6File);
        return std::nullopt;
    }
    std::vector<bw::Address6Interval> ranges;
    std::string line;
    while (std::getline(geoip, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::size_t first = line.find(',');
        std::size_t last = line.find(',', first + 1);
        if (first == std::string::npos || last == std::string::npos)
            continue;
        ranges.push_back(
            {number(line.substr(0, first)), number(line.substr(first + 1, last - first - 1))});
    }
    ranges.push_back({number(kBanned), number(kBanned)});
    std::sort(ranges.begin(), ranges.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return ranges;
}

// Adjacent and overlapping ranges joined, as the lists hand them over.
std::vector<bw::Address6Interval> merged(const std::vector<bw::Address6Interval>& ranges) {
    std::vector<bw::Address6Interval> out;
    for (const auto& r : ranges) {
        if (!out.empty() && out.back().last != bw::Ipv6Number::max() &&
            r.first <= out.back().last.next())
            out.back().last = std::max(out.back().last, r.last);
        else
            out.push_back(r);
    }
    return out;
}

sockaddr_in6 inet6(const char* text, std::uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    inet_pton(AF_INET6, text, &a.sin6_addr);
    return a;
}

struct World {
    std::vector<bw::AddressInterval> v4;  // the IPv4 bench list, merged
    std::vector<bw::Address6Interval> asListed;
    std::vector<bw::Address6Interval> joined;
    std::unique_ptr<bw::KernelGuard> guard = bw::makeInProcessKernelGuard();
    bool started = false;
};
World* gWorld = nullptr;

bool startGuard(benchmark::State& state) {
    if (gWorld->started)
        return true;
    std::string whyNot;
    gWorld->started =
        gWorld->guard->start(whyNot) && gWorld->guard->replaceTables({}, gWorld->asListed);
    if (!gWorld->started)
        state.SkipWithError(("the kernel guard did not start: " + whyNot).c_str());
    return gWorld->started;
}

// Map creation, one batch update and the switch of both tables: what every
// change of the IPv6 table costs. Argument 0: the ranges as listed; 1: merged;
// 2: as listed, with the IPv4 bench list beside them (two tables placed).
void BM_LoadIpv6BenchListIntoKernel(benchmark::State& state) {
    if (!startGuard(state))
        return;
    const auto& table = state.range(0) == 1 ? gWorld->joined : gWorld->asListed;
    const std::vector<bw::AddressInterval> none;
    const auto& v4 = state.range(0) == 2 ? gWorld->v4 : none;
    for (auto _ : state) {
        if (!gWorld->guard->replaceTables(v4, table))
            state.SkipWithError("the kernel did not take the table");
    }
    state.counters["intervals"] = static_cast<double>(table.size());
    gWorld->guard->replaceTables({}, gWorld->asListed);
}

// connect() on a UDP socket runs the connect6 hook without leaving a
// connection behind. Argument 0: no guard attached yet; 1: the guard with the
// bench list as listed.
void BM_AllowedIpv6LoopbackConnect(benchmark::State& state) {
    if (state.range(0) == 1 && !startGuard(state))
        return;
    int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 to = inet6(kAllowed, 53);
    for (auto _ : state) {
        if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
            state.SkipWithError("an allowed connect failed");
    }
    close(fd);
}

void BM_RefusedIpv6Connect(benchmark::State& state) {
    if (!startGuard(state))
        return;
    int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 to = inet6(kBanned, 53);
    std::vector<bw::KernelRefusal> drained;
    long iteration = 0;
    for (auto _ : state) {
        if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 || errno != EPERM)
            state.SkipWithError("a banned connect was not refused");
        // Reports are read as the program reads them, between connects.
        if (++iteration % 1024 == 0) {
            state.PauseTiming();
            drained.clear();
            gWorld->guard->takeRefusals(drained);
            state.ResumeTiming();
        }
    }
    close(fd);
}

BENCHMARK(BM_AllowedIpv6LoopbackConnect)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadIpv6BenchListIntoKernel)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
BENCHMARK(BM_RefusedIpv6Connect)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!bw::bench::enterPrivateNetwork(kBench))
        return 1;
    // The addresses connected to are on loopback, as a routed peer would be.
    const std::string add = std::string("ip -6 addr add ") + kAllowed +
                            "/128 dev lo nodad && ip -6 addr add " + kBanned + "/128 dev lo nodad";
    if (std::system(add.c_str()) != 0) {
        bw::bench::fail(kBench, "cannot add the IPv6 addresses to loopback");
        return 1;
    }
    bw::bench::BenchCgroup cgroup;
    if (!cgroup.make(kBench))
        return 1;
    std::optional<std::vector<bw::Address6Interval>> list = readBenchList();
    if (!list)
        return 2;
    World world;
    gWorld = &world;
    world.asListed = std::move(*list);
    world.joined = merged(world.asListed);
    if (!bw::isKernelTable(world.asListed)) {
        std::fprintf(stderr, "%s: the bench list overlaps itself\n", kBench);
        return 2;
    }
    if (std::optional<std::string> v4List = bw::bench::geoipAsBlocklist()) {
        bw::BanTable v4Table;
        bw::loadBlocklist(*v4List, v4Table);
        for (const bw::AddressSpan& s : bw::kernelIntervals(v4Table))
            world.v4.push_back({s.first, s.last});
    }
    std::printf(
        "IPv6 table: %zu ranges from %s (+ %s), %zu merged; IPv4 beside it: %zu intervals\n",
        world.asListed.size(), kGeoip6File, kBanned, world.joined.size(), world.v4.size());

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
