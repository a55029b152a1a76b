// The guard's poll against its floor: in a private network namespace with
// 1 000 open loopback connections and the 385 602 ranges of Debian's
// tor-geoipdb in the ban table, one run measures the raw netlink dump of every
// TCP socket and one whole guard pass (dump, address text, lookup of every
// row, nothing banned), and reports how many dumps a pass costs.
//
// Run as root (or where user namespaces are allowed): build/bench/guard_bench

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <errno.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "blocklist/ban_table.h"
#include "blocklist/blocklist_reader.h"
#include "geoip_list.h"
#include "guard/guard_pass.h"
#include "guard/guard_schedule.h"
#include "platform/clock.h"
#include "platform/tcp_table.h"

namespace {

namespace fs = std::filesystem;

constexpr int kConnections = 1000;
constexpr std::uint16_t kPort = 9000;

class QuietHost : public bw::Host {
public:
    void letPendingEventsRun() override {}
    void showMessage(const bw::Message&) override {}
    void clearLog() override {}
    void appendLog(std::string_view) override {}
    void banListReset() override {}
    void stateChanged() override {}
    void waitWithProgress(std::string_view, const std::function<bool()>&) override {}
    void exitNow(int) override {}
};

struct World {
    bw::BanTable table;
    bw::ProgramState state;
    QuietHost host;
    std::unique_ptr<bw::Clock> clock = bw::makeSystemClock();
    std::unique_ptr<bw::TcpTable> tcp = bw::makeSystemTcpTable();
    fs::path logFile = fs::temp_directory_path() / ("bw-guard-bench-" + std::to_string(getpid()));
    bw::ConnectionLog log{host, *clock, logFile};
    bw::GuardPass pass{table, *tcp, log, state, host};
    bw::GuardSchedule schedule{*tcp, pass, state, host};
};

World* gWorld = nullptr;

bool fail(const char* what) {
    std::fprintf(stderr, "guard_bench: %s: %s\n", what, std::strerror(errno));
    return false;
}

bool enterPrivateNetwork() {
    if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        return fail("cannot create a private network namespace");
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return up || fail("cannot bring loopback up");
}

bool openConnections() {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto* a = reinterpret_cast<sockaddr*>(&address);
    if (bind(listener, a, sizeof address) != 0 || listen(listener, SOMAXCONN) != 0) {
        return fail("listen");
    }
    for (int i = 0; i < kConnections; ++i) {
        int client = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(client, a, sizeof address) != 0)
            return fail("connect");
        if (accept(listener, nullptr, nullptr) < 0)
            return fail("accept");
    }
    return true;
}

// The kernel's part alone: both dumps on an open socket, replies drained.
void BM_RawNetlinkDump(benchmark::State& state) {
    int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    alignas(nlmsghdr) static char buffer[32768];
    std::uint32_t sequence = 0;
    std::size_t sockets = 0;
    for (auto _ : state) {
        sockets = 0;
        for (std::uint8_t family : {AF_INET, AF_INET6}) {
            struct {
                nlmsghdr header;
                inet_diag_req_v2 body;
            } request{};
            request.header = {sizeof request, SOCK_DIAG_BY_FAMILY, NLM_F_REQUEST | NLM_F_DUMP,
                              ++sequence, 0};
            request.body.sdiag_family = family;
            request.body.sdiag_protocol = IPPROTO_TCP;
            request.body.idiag_states = 0x1FFE;
            sockaddr_nl kernel{};
            kernel.nl_family = AF_NETLINK;
            sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                   sizeof kernel);
            for (bool done = false; !done;) {
                ssize_t got = recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                int left = static_cast<int>(got);
                for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left);
                     h = NLMSG_NEXT(h, left)) {
                    if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR)
                        done = true;
                    if (h->nlmsg_type == SOCK_DIAG_BY_FAMILY)
                        ++sockets;
                }
            }
        }
        benchmark::DoNotOptimize(sockets);
    }
    state.counters["sockets"] = static_cast<double>(sockets);
    close(fd);
}

void BM_GuardPass(benchmark::State& state) {
    for (auto _ : state) gWorld->pass.RefreshNS();
    state.counters["rows"] = static_cast<double>(gWorld->tcp->readConnections(false).size());
    state.counters["blocked"] = static_cast<double>(gWorld->state.counters.blocked);
}

// A tick that finds the table as it left it: the cost of every idle poll.
void BM_GuardTickUnchanged(benchmark::State& state) {
    gWorld->schedule.guardTick();
    for (auto _ : state) gWorld->schedule.guardTick();
}

BENCHMARK(BM_RawNetlinkDump)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GuardPass)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GuardTickUnchanged)->Unit(benchmark::kMicrosecond);

// Remembers each benchmark's time per iteration to put the pass beside the dump.
// With repetitions, the median stands for the benchmark; other aggregates are skipped.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            realTimes[run.run_name.function_name] = run.GetAdjustedRealTime();
            cpuTimes[run.run_name.function_name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> realTimes;
    std::map<std::string, double> cpuTimes;
};

}  // namespace

int main(int argc, char** argv) {
    if (!enterPrivateNetwork() || !openConnections())
        return 1;
    World world;
    gWorld = &world;
    std::optional<std::string> list = bw::bench::geoipAsBlocklist();
    if (!list)
        return 2;
    bw::LoadTotals totals = bw::loadBlocklist(*list, world.table);
    world.table.buildIndex();
    std::printf("ban table: %llu ranges from %s; %d loopback connections\n",
                static_cast<unsigned long long>(totals.ranges), bw::bench::kGeoipFile,
                kConnections);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    fs::remove(world.logFile);

    auto ratio = [](std::map<std::string, double>& times) {
        double dump = times["BM_RawNetlinkDump"];
        return dump > 0 ? times["BM_GuardPass"] / dump : 0.0;
    };
    std::printf("guard pass / raw dump: %.2f real time, %.2f CPU time (goal: at most 1.5)\n",
                ratio(reporter.realTimes), ratio(reporter.cpuTimes));
    return 0;
}
