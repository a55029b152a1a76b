// The kernel guard's figures, in a private network namespace and a child
// cgroup made for the run (never the machine's root cgroup): loading the
// bench list into the kernel table, the hook's cost on an allowed loopback
// connect(), the time of a refused connect(), and the idle CPU of the whole
// console guard over 60 s with 1 000 open connections, kernel guard against
// polling guard.
//
// Run as root: build/bench/kernel_guard_bench  (scripts/bench.sh runs it too)

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <errno.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "blocklist/ban_table.h"
#include "blocklist/blocklist_reader.h"
#include "blocklist/kernel_table.h"
#include "geoip_list.h"
#include "platform/kernel_guard.h"
#include "private_cgroup.h"

namespace {

namespace fs = std::filesystem;

constexpr int kConnections = 1000;
constexpr std::uint16_t kPort = 9000;
constexpr const char* kAllowed = "127.0.0.1";
constexpr const char* kBanned = "127.0.0.9";

constexpr const char* kBench = "kernel_guard_bench";

bool fail(const char* what) {
    return bw::bench::fail(kBench, what);
}

using bw::bench::BenchCgroup;
using bw::bench::readText;

sockaddr_in inet(const char* text, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, text, &a.sin_addr);
    return a;
}

struct World {
    bw::BanTable table;
    std::vector<bw::AddressInterval> intervals;
    std::unique_ptr<bw::KernelGuard> guard = bw::makeInProcessKernelGuard();
    bool started = false;
};
World* gWorld = nullptr;

void BM_MergeBenchList(benchmark::State& state) {
    std::size_t count = 0;
    for (auto _ : state) count = bw::kernelIntervals(gWorld->table).size();
    state.counters["intervals"] = static_cast<double>(count);
}

// Map creation, one batch update and the swap: what every table change costs.
void BM_LoadBenchListIntoKernel(benchmark::State& state) {
    for (auto _ : state) {
        if (!gWorld->guard->replaceTable(gWorld->intervals))
            state.SkipWithError("the kernel did not take the table");
    }
    state.counters["intervals"] = static_cast<double>(gWorld->intervals.size());
}

// connect() on a UDP socket runs the connect hook like a TCP connect, without
// leaving a connection behind per iteration. Argument 0: no guard attached yet.
void BM_AllowedLoopbackConnect(benchmark::State& state) {
    if (state.range(0) == 1 && !gWorld->started) {
        std::string whyNot;
        gWorld->started =
            gWorld->guard->start(whyNot) && gWorld->guard->replaceTable(gWorld->intervals);
        if (!gWorld->started)
            state.SkipWithError(("the kernel guard did not start: " + whyNot).c_str());
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = inet(kAllowed, 53);
    for (auto _ : state) {
        if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
            state.SkipWithError("an allowed connect failed");
    }
    close(fd);
}

// Every outgoing packet passes the egress check: a bulk TCP transfer on
// loopback measures its cost per byte. Argument 0: no guard attached; 1: the
// guard with the bench list.
void BM_BulkLoopbackTransfer(benchmark::State& state) {
    const bool guarded = state.range(0) == 1;
    if (guarded != gWorld->started) {
        std::string whyNot;
        if (guarded) {
            gWorld->started =
                gWorld->guard->start(whyNot) && gWorld->guard->replaceTable(gWorld->intervals);
            if (!gWorld->started)
                state.SkipWithError(("the kernel guard did not start: " + whyNot).c_str());
        } else {
            gWorld->guard->stop();
            gWorld->started = false;
        }
    }
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in at = inet(kAllowed, kPort + 1);
    bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at);
    listen(listener, 1);
    int sender = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(sender, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        state.SkipWithError("cannot connect on loopback");
        return;
    }
    int receiver = accept(listener, nullptr, nullptr);
    std::thread drain([receiver] {
        std::vector<char> sink(1 << 20);
        while (read(receiver, sink.data(), sink.size()) > 0) {
        }
    });
    const std::vector<char> chunk(1 << 20, 'x');
    for (auto _ : state) {
        std::size_t sent = 0;
        while (sent < chunk.size()) {
            ssize_t n = write(sender, chunk.data() + sent, chunk.size() - sent);
            if (n <= 0) {
                state.SkipWithError("the transfer broke off");
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (1 << 20));
    shutdown(sender, SHUT_WR);
    drain.join();
    close(sender);
    close(receiver);
    close(listener);
}

void BM_RefusedConnect(benchmark::State& state) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = inet(kBanned, 53);
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

BENCHMARK(BM_MergeBenchList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BulkLoopbackTransfer)->Arg(0)->Arg(1)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllowedLoopbackConnect)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadBenchListIntoKernel)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_RefusedConnect)->Unit(benchmark::kMicrosecond);

bool openConnections() {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = inet(kAllowed, kPort);
    auto* a = reinterpret_cast<sockaddr*>(&address);
    if (bind(listener, a, sizeof address) != 0 || listen(listener, SOMAXCONN) != 0)
        return fail("listen");
    for (int i = 0; i < kConnections; ++i) {
        int client = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(client, a, sizeof address) != 0 || accept(listener, nullptr, nullptr) < 0)
            return fail("connect");
    }
    return true;
}

double cpuSeconds(pid_t pid) {
    std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14 || number == 15)
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The console guard with the bench list in a folder of its own; its share of
// one core over the window, after it has read the list and settled.
double idleShare(const std::string& list, const char* cgroup, int seconds, std::string& said) {
    fs::path folder = fs::temp_directory_path() / ("bw-idle-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::copy_file(BW_HEADLESS_EXECUTABLE, folder / "bastionwatch-headless",
                  fs::copy_options::overwrite_existing);
    std::ofstream(folder / "Moatlist.P2P", std::ios::binary) << list;
    // The default aggression of 90 applied, as after any saved start: a 15 ms timer.
    std::ofstream(folder / "BW2Config.p2p", std::ios::binary) << "0\r\n90%\r\n\r\n";
    int out[2];
    if (pipe(out) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        setenv("BASTIONWATCH_CGROUP", cgroup, 1);
        dup2(out[1], 1);
        dup2(out[1], 2);
        execl((folder / "bastionwatch-headless").c_str(), "bastionwatch-headless", nullptr);
        _exit(127);
    }
    close(out[1]);
    // Settled once the load report is out; the guard line comes before it.
    said.clear();
    while (said.find("Successfully loaded") == std::string::npos) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 120000) != 1)
            break;
        char buffer[4096];
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        said.append(buffer, static_cast<std::size_t>(n));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    double before = cpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double share = (cpuSeconds(pid) - before) / seconds;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(out[0]);
    fs::remove_all(folder);
    return share;
}

std::string firstLineWith(const std::string& text, const std::string& start) {
    std::size_t at = text.find(start);
    return at == std::string::npos ? "(no such line)" : text.substr(at, text.find('\n', at) - at);
}

}  // namespace

int main(int argc, char** argv) {
    if (!bw::bench::enterPrivateNetwork(kBench))
        return 1;
    BenchCgroup cgroup;
    if (!cgroup.make(kBench))
        return 1;
    std::optional<std::string> list = bw::bench::geoipAsBlocklist();
    if (!list)
        return 2;
    World world;
    gWorld = &world;
    bw::LoadTotals totals = bw::loadBlocklist(*list, world.table);
    world.table.append(127, {"bench:127.0.0.9", "bench", 2130706441.0, 2130706441.0});
    for (const bw::AddressSpan& s : bw::kernelIntervals(world.table))
        world.intervals.push_back({s.first, s.last});
    std::printf("ban table: %llu ranges from %s (+ %s), %zu kernel intervals\n",
                static_cast<unsigned long long>(totals.ranges), bw::bench::kGeoipFile, kBanned,
                world.intervals.size());

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    world.guard.reset();  // the console guard attaches its own

    if (!openConnections())
        return 1;
    const int seconds = 60;
    std::string said;
    double kernel = idleShare(*list, cgroup.path.c_str(), seconds, said);
    std::printf("idle console guard, kernel guard, %d connections, %d s: %.2f %% of a core\n  %s\n",
                kConnections, seconds, 100 * kernel, firstLineWith(said, "Guard:").c_str());
    double polling = idleShare(*list, "/nonexistent/bastionwatch-bench", seconds, said);
    std::printf(
        "idle console guard, polling guard, %d connections, %d s: %.2f %% of a core\n  %s\n",
        kConnections, seconds, 100 * polling, firstLineWith(said, "Guard:").c_str());
    return 0;
}
